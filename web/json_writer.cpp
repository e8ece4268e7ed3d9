#include "web/json_writer.hpp"

#include "reqhandlers/json_escape.hpp"

namespace dcu::web {

void JsonWriter::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) text_.push_back(',');
        first_.back() = false;
    }
}

JsonWriter &JsonWriter::begin_object() {
    before_value();
    text_.push_back('{');
    first_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::end_object() {
    text_.push_back('}');
    first_.pop_back();
    return *this;
}

JsonWriter &JsonWriter::begin_array() {
    before_value();
    text_.push_back('[');
    first_.push_back(true);
    return *this;
}

JsonWriter &JsonWriter::end_array() {
    text_.push_back(']');
    first_.pop_back();
    return *this;
}

JsonWriter &JsonWriter::key(std::string_view name) {
    before_value();
    text_ += '"' + answer::escaped(name) + "\":";
    after_key_ = true;
    return *this;
}

JsonWriter &JsonWriter::value(std::string_view text) {
    before_value();
    text_ += '"' + answer::escaped(text) + '"';
    return *this;
}

JsonWriter &JsonWriter::value(long long number) {
    before_value();
    text_ += std::to_string(number);
    return *this;
}

JsonWriter &JsonWriter::value(bool flag) {
    before_value();
    text_ += flag ? "true" : "false";
    return *this;
}

JsonWriter &JsonWriter::null() {
    before_value();
    text_ += "null";
    return *this;
}

}  // namespace dcu::web
