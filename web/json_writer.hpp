// The JSON texts dcuweb answers the page with: members and elements written
// in order, commas put in by the writer, every text escaped as the
// library's answers escape theirs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dcu::web {

class JsonWriter {
public:
    JsonWriter &begin_object();
    JsonWriter &end_object();
    JsonWriter &begin_array();
    JsonWriter &end_array();
    // The name of the next member of the object being written.
    JsonWriter &key(std::string_view name);
    JsonWriter &value(std::string_view text);
    JsonWriter &value(const char *text) { return value(std::string_view(text)); }
    JsonWriter &value(long long number);
    JsonWriter &value(int number) { return value(static_cast<long long>(number)); }
    JsonWriter &value(bool flag);
    JsonWriter &null();

    // key(name) and value(v) together.
    template <typename T>
    JsonWriter &member(std::string_view name, const T &v) {
        key(name);
        return value(v);
    }

    const std::string &text() const noexcept { return text_; }

private:
    void before_value();

    std::string text_;
    std::vector<bool> first_;  // per open object or array: nothing written in it yet
    bool after_key_ = false;
};

}  // namespace dcu::web
