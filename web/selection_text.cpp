#include "web/selection_text.hpp"

#include <cjson/cJSON.h>

#include <cstring>
#include <memory>

#include "reqhandlers/json_escape.hpp"

namespace dcu::web::selection_text {

namespace {

struct JsonDelete {
    void operator()(cJSON *tree) const noexcept { cJSON_Delete(tree); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDelete>;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string quoted(std::string_view text) { return '"' + answer::escaped(text) + '"'; }

bool valid_utf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length =
            static_cast<unsigned char>(text.front()) < 0x80 ? 1 : answer::utf8_sequence_length(text);
        if (length == 0) return false;
        text.remove_prefix(length);
    }
    return true;
}

// Walks the wrapped text of a file that cJSON has accepted: only where the
// members begin and end is wanted, so values are stepped over by their
// brackets and strings.
class MemberScanner {
public:
    explicit MemberScanner(std::string_view text) : text_(text) {}

    std::optional<std::vector<Member>> scan() {
        std::vector<Member> members;
        skip_blanks();
        if (!take('{')) return std::nullopt;
        skip_blanks();
        if (take('}')) return members;
        for (;;) {
            Member member;
            member.begin = at_;
            const std::size_t name_end = string_end(at_);
            if (name_end == 0) return std::nullopt;
            if (!decode_name(text_.substr(at_, name_end - at_), member.name)) return std::nullopt;
            at_ = name_end;
            skip_blanks();
            if (!take(':')) return std::nullopt;
            skip_blanks();
            if (!skip_value()) return std::nullopt;
            member.end = at_;
            members.push_back(std::move(member));
            skip_blanks();
            if (take('}')) return members;
            if (!take(',')) return std::nullopt;
            skip_blanks();
        }
    }

private:
    void skip_blanks() {
        while (at_ < text_.size() && is_blank(text_[at_])) ++at_;
    }
    bool take(char c) {
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    // One past the closing quote of the string that starts at from; 0 when
    // there is none.
    std::size_t string_end(std::size_t from) const {
        if (from >= text_.size() || text_[from] != '"') return 0;
        for (std::size_t i = from + 1; i < text_.size(); ++i) {
            if (text_[i] == '\\') ++i;
            else if (text_[i] == '"') return i + 1;
        }
        return 0;
    }
    static bool decode_name(std::string_view token, std::string &name) {
        const JsonTree node(cJSON_ParseWithLength(token.data(), token.size()));
        if (!cJSON_IsString(node.get())) return false;
        name = node->valuestring;
        return true;
    }
    // Steps over one value (valid: cJSON has read it), to just after its last byte.
    bool skip_value() {
        if (at_ >= text_.size()) return false;
        const char first = text_[at_];
        if (first == '"') {
            at_ = string_end(at_);
            return at_ != 0;
        }
        if (first != '{' && first != '[') {
            // A number or a literal: up to the next separator.
            while (at_ < text_.size() && !is_blank(text_[at_]) && text_[at_] != ',' && text_[at_] != '}' &&
                   text_[at_] != ']')
                ++at_;
            return true;
        }
        int depth = 0;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                at_ = string_end(at_);
                if (at_ == 0) return false;
                continue;
            }
            ++at_;
            if (c == '{' || c == '[') ++depth;
            else if ((c == '}' || c == ']') && --depth == 0) return true;
        }
        return false;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

std::string entry_problem(const selection::Entry &entry) {
    struct Text {
        const char *what;
        const std::string &text;
        std::size_t longest;
    };
    for (const Text &t : {Text{"code", entry.obis, kLongestObis}, Text{"display name", entry.assign, kLongestAssign}}) {
        const std::string what(t.what);
        if (t.text.empty()) return "a " + what + " is empty";
        if (t.text.size() > t.longest)
            return "the " + what + " \"" + t.text.substr(0, t.longest) + "...\" is longer than " +
                   std::to_string(t.longest) + " bytes";
        for (const char c : t.text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "a " + what + " holds a control character";
        if (!valid_utf8(t.text)) return "a " + what + " is not UTF-8 text";
    }
    return {};
}

std::string section_text(std::string_view section, std::span<const selection::Entry> entries) {
    std::string text = quoted(section) + ":\n{\n";
    text += "\"NumParams\":" + quoted(std::to_string(entries.size())) + ",\n";
    text += "\"ObisCodeList\":\n[\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        text += "{\"obis\":" + quoted(entries[i].obis) + ",\"assign\":" + quoted(entries[i].assign) + "}";
        text += i + 1 < entries.size() ? ",\n" : "\n";
    }
    text += "]\n}";
    return text;
}

std::optional<std::vector<Member>> members_of(std::string_view file_text) {
    if (std::memchr(file_text.data(), '\0', file_text.size()) != nullptr) return std::nullopt;
    const std::string wrapped = "{" + std::string(file_text) + "}";
    // As the loader parses it: one object, and nothing after it.
    const JsonTree tree(cJSON_ParseWithLengthOpts(wrapped.c_str(), wrapped.size() + 1, nullptr, 1));
    if (!cJSON_IsObject(tree.get())) return std::nullopt;
    auto members = MemberScanner(wrapped).scan();
    if (!members) return std::nullopt;
    // Offsets in the file, without the opening brace the reader adds.
    for (Member &member : *members) {
        --member.begin;
        --member.end;
    }
    return members;
}

std::optional<std::string> with_section(std::string_view file_text, std::string_view section,
                                        std::span<const selection::Entry> entries) {
    const auto members = members_of(file_text);
    if (!members) return std::nullopt;
    const std::string replacement = section_text(section, entries);
    for (const Member &member : *members) {
        if (member.name != section) continue;
        return std::string(file_text.substr(0, member.begin)) + replacement + std::string(file_text.substr(member.end));
    }
    if (members->empty()) return replacement + "\n";
    const std::size_t last_end = members->back().end;
    return std::string(file_text.substr(0, last_end)) + ",\n" + replacement + std::string(file_text.substr(last_end));
}

}  // namespace dcu::web::selection_text
