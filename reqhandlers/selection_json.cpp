#include "reqhandlers/selection_json.hpp"

#include <clocale>
#include <cstdlib>
#include <cstring>

#include "common/hex_digit.hpp"

namespace dcu::selection::json {

namespace {

constexpr int kMaxDepth = 1000;

std::string_view until_nul(std::string_view text) {
    const void *nul = std::memchr(text.data(), '\0', text.size());
    return nul == nullptr ? text : text.substr(0, static_cast<std::size_t>(static_cast<const char *>(nul) - text.data()));
}

// What a value is read for. Most of a file only has to be valid JSON; a
// container read for a role is searched for the members of that role.
enum class Role {
    kSkip,
    kRoot,     // the whole text: its member named as the section
    kSection,  // that member: "NumParams" and "ObisCodeList"
    kList,     // "ObisCodeList": its first items
    kItem,     // one of them: "obis" and "assign"
};

void append_utf8(std::string &out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class Reader {
public:
    Reader(std::string_view text, std::string_view section_name, std::size_t max_items)
        : text_(text), section_name_(until_nul(section_name)), max_items_(max_items) {}

    std::optional<Section> read() {
        // A byte order mark is passed over, when something follows it.
        if (text_.size() >= 4 && text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
        skip_whitespace();
        if (!value(Role::kRoot, nullptr)) return std::nullopt;
        skip_whitespace();
        if (pos_ != text_.size()) return std::nullopt;
        return std::move(section_);
    }

private:
    // The text is read as if a NUL followed it.
    char peek() const noexcept { return pos_ < text_.size() ? text_[pos_] : '\0'; }

    // Every byte up to 32 (control characters, NUL among them) is whitespace.
    void skip_whitespace() noexcept {
        while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) <= 32) ++pos_;
    }

    bool value(Role role, Text *capture) {
        const std::string_view rest = text_.substr(pos_);
        if (rest.substr(0, 4) == "null" || rest.substr(0, 4) == "true") {
            pos_ += 4;
            return true;
        }
        if (rest.substr(0, 5) == "false") {
            pos_ += 5;
            return true;
        }
        const char first = peek();
        if (first == '"') {
            std::string_view text;
            if (!string(&text)) return false;
            if (capture != nullptr) capture->emplace(until_nul(text));
            return true;
        }
        if (first == '-' || (first >= '0' && first <= '9')) return number();
        if (first == '[') return array(role);
        if (first == '{') return object(role);
        return false;
    }

    // A number is the part of the run of its characters that strtod reads a
    // number from, with '.' read as the locale's decimal point.
    bool number() {
        const char decimal_point = *std::localeconv()->decimal_point;
        number_scratch_.clear();
        for (std::size_t at = pos_; at < text_.size(); ++at) {
            const char c = text_[at];
            if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'e' || c == 'E') number_scratch_ += c;
            else if (c == '.') number_scratch_ += decimal_point;
            else break;
        }
        const char *digits = number_scratch_.c_str();
        char *after = nullptr;
        (void)std::strtod(digits, &after);
        if (after == digits) return false;
        pos_ += static_cast<std::size_t>(after - digits);
        return true;
    }

    // A string at pos_; its text (decoded, NULs kept) in *out, which stays
    // valid until the next string is read.
    bool string(std::string_view *out) {
        if (peek() != '"') return false;
        const std::size_t start = pos_ + 1;
        const char *begin = text_.data() + start;
        const auto *quote = static_cast<const char *>(std::memchr(begin, '"', text_.size() - start));
        if (quote == nullptr) return false;
        if (std::memchr(begin, '\\', static_cast<std::size_t>(quote - begin)) == nullptr) {
            // Nothing escaped: the text as it stands.
            *out = std::string_view(begin, static_cast<std::size_t>(quote - begin));
            pos_ = static_cast<std::size_t>(quote - text_.data()) + 1;
            return true;
        }
        // The closing quote is the first that no backslash takes.
        std::size_t end = start;
        while (end < text_.size() && text_[end] != '"') {
            if (text_[end] == '\\') ++end;
            ++end;
        }
        if (end >= text_.size()) return false;
        if (!decode(start, end)) return false;
        *out = scratch_;
        pos_ = end + 1;
        return true;
    }

    bool decode(std::size_t from, std::size_t end) {
        scratch_.clear();
        std::size_t at = from;
        while (at < end) {
            if (text_[at] != '\\') {
                scratch_ += text_[at++];
                continue;
            }
            std::size_t length = 2;
            switch (const char kind = text_[at + 1]) {
                case 'b': scratch_ += '\b'; break;
                case 'f': scratch_ += '\f'; break;
                case 'n': scratch_ += '\n'; break;
                case 'r': scratch_ += '\r'; break;
                case 't': scratch_ += '\t'; break;
                case '"':
                case '\\':
                case '/': scratch_ += kind; break;
                case 'u':
                    length = utf16_escape(at, end);
                    if (length == 0) return false;
                    break;
                default: return false;
            }
            at += length;
        }
        return true;
    }

    // A \uXXXX escape at `at`, or a surrogate pair of two; its length, or 0
    // when it is not whole before end or the pair is broken.
    std::size_t utf16_escape(std::size_t at, std::size_t end) {
        if (end - at < 6) return 0;
        const unsigned first = json_escape_code(text_.substr(at + 2, 4));
        if (first >= 0xDC00 && first <= 0xDFFF) return 0;
        if (first < 0xD800 || first > 0xDBFF) {
            append_utf8(scratch_, first);
            return 6;
        }
        const std::size_t second = at + 6;
        if (end - second < 6 || text_[second] != '\\' || text_[second + 1] != 'u') return 0;
        const unsigned low = json_escape_code(text_.substr(second + 2, 4));
        if (low < 0xDC00 || low > 0xDFFF) return 0;
        append_utf8(scratch_, 0x10000 + ((static_cast<unsigned long>(first & 0x3FF) << 10) | (low & 0x3FF)));
        return 12;
    }

    // An array or object at pos_: its elements, separated by commas, each
    // read by read_element(index) up to the close character.
    template <typename ReadElement>
    bool container(char close, ReadElement &&read_element) {
        if (depth_ >= kMaxDepth) return false;
        ++depth_;
        ++pos_;
        skip_whitespace();
        if (peek() != close) {
            for (std::size_t index = 0;; ++index) {
                if (!read_element(index)) return false;
                skip_whitespace();
                if (peek() != ',') break;
                ++pos_;
                skip_whitespace();
            }
            if (peek() != close) return false;
        }
        ++pos_;
        --depth_;
        return true;
    }

    bool array(Role role) {
        return container(']', [&](std::size_t index) {
            Role element_role = Role::kSkip;
            if (role == Role::kList && index < max_items_) {
                section_.items.emplace_back();
                element_role = Role::kItem;
            }
            return value(element_role, nullptr);
        });
    }

    bool object(Role role) {
        // A lookup by name finds a name's first member only.
        bool first_seen = false;
        bool second_seen = false;
        return container('}', [&](std::size_t) {
            std::string_view name;
            if (!string(&name)) return false;
            name = until_nul(name);
            Role member_role = Role::kSkip;
            Text *capture = nullptr;
            // A name wanted here, met for the first time.
            const auto first = [&](std::string_view wanted, bool &seen) {
                if (seen || name != wanted) return false;
                seen = true;
                return true;
            };
            switch (role) {
                case Role::kRoot:
                    if (first(section_name_, first_seen)) member_role = Role::kSection;
                    break;
                case Role::kSection:
                    if (first("NumParams", first_seen)) capture = &section_.num_params;
                    else if (first("ObisCodeList", second_seen)) member_role = Role::kList;
                    break;
                case Role::kItem:
                    if (first("obis", first_seen)) capture = &section_.items.back().obis;
                    else if (first("assign", second_seen)) capture = &section_.items.back().assign;
                    break;
                case Role::kSkip:
                case Role::kList: break;
            }
            skip_whitespace();
            if (peek() != ':') return false;
            ++pos_;
            skip_whitespace();
            return value(member_role, capture);
        });
    }

    const std::string_view text_;
    const std::string_view section_name_;
    const std::size_t max_items_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    std::string scratch_;         // the decoded text of the last escaped string
    std::string number_scratch_;  // the last number, for strtod
    Section section_;
};

}  // namespace

std::optional<Section> read_section(std::string_view text, std::string_view section_name, std::size_t max_items) {
    return Reader(text, section_name, max_items).read();
}

}  // namespace dcu::selection::json
