#include "tests/support/strict_json.hpp"

#include <cstdint>

namespace dcu::test {

namespace {

class Checker {
public:
    explicit Checker(std::string_view text) : text_(text) {}

    std::string run() {
        skip_space();
        value(0);
        skip_space();
        if (error_.empty() && pos_ != text_.size()) fail("text after the value");
        return error_;
    }

private:
    void fail(const std::string &what) {
        if (error_.empty()) error_ = what + " at byte " + std::to_string(pos_);
    }
    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return at_end() ? '\0' : text_[pos_]; }
    void skip_space() {
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++pos_;
    }
    void expect(char c) {
        if (peek() != c) return fail(std::string("expected '") + c + "'");
        ++pos_;
    }

    void value(int depth) {
        if (!error_.empty()) return;
        if (depth > 256) return fail("nesting too deep");
        switch (peek()) {
        case '{': return object(depth);
        case '[': return array(depth);
        case '"': return string();
        case 't': return literal("true");
        case 'f': return literal("false");
        case 'n': return literal("null");
        default: return number();
        }
    }

    void literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return fail("bad literal");
        pos_ += word.size();
    }

    void object(int depth) {
        expect('{');
        skip_space();
        if (peek() == '}') {
            ++pos_;
            return;
        }
        while (error_.empty()) {
            skip_space();
            string();
            skip_space();
            expect(':');
            skip_space();
            value(depth + 1);
            skip_space();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            expect('}');
            return;
        }
    }

    void array(int depth) {
        expect('[');
        skip_space();
        if (peek() == ']') {
            ++pos_;
            return;
        }
        while (error_.empty()) {
            skip_space();
            value(depth + 1);
            skip_space();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            expect(']');
            return;
        }
    }

    void number() {
        const std::size_t start = pos_;
        if (peek() == '-') ++pos_;
        if (peek() == '0') {
            ++pos_;
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9') ++pos_;
        } else {
            return fail("bad value");
        }
        if (peek() == '.') {
            ++pos_;
            if (!(peek() >= '0' && peek() <= '9')) return fail("bad fraction");
            while (peek() >= '0' && peek() <= '9') ++pos_;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos_;
            if (peek() == '+' || peek() == '-') ++pos_;
            if (!(peek() >= '0' && peek() <= '9')) return fail("bad exponent");
            while (peek() >= '0' && peek() <= '9') ++pos_;
        }
        if (pos_ == start) fail("bad value");
    }

    static bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

    void string() {
        expect('"');
        while (error_.empty()) {
            if (at_end()) return fail("unterminated string");
            auto c = static_cast<unsigned char>(text_[pos_]);
            if (c == '"') {
                ++pos_;
                return;
            }
            if (c < 0x20) return fail("raw control character in string");
            if (c == '\\') {
                ++pos_;
                char e = peek();
                if (e == 'u') {
                    for (int i = 1; i <= 4; ++i)
                        if (!is_hex(pos_ + static_cast<std::size_t>(i) < text_.size() ? text_[pos_ + static_cast<std::size_t>(i)] : '\0'))
                            return fail("bad \\u escape");
                    pos_ += 5;
                } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' ||
                           e == 't') {
                    ++pos_;
                } else {
                    return fail("bad escape");
                }
                continue;
            }
            if (c < 0x80) {
                ++pos_;
                continue;
            }
            utf8_sequence();
        }
    }

    void utf8_sequence() {
        auto byte = [&](std::size_t offset) -> unsigned {
            return pos_ + offset < text_.size() ? static_cast<unsigned char>(text_[pos_ + offset]) : 0u;
        };
        unsigned lead = byte(0);
        std::size_t length = 0;
        unsigned low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return fail("invalid UTF-8");
        }
        if (byte(1) < low || byte(1) > high) return fail("invalid UTF-8");
        for (std::size_t i = 2; i < length; ++i)
            if (byte(i) < 0x80 || byte(i) > 0xBF) return fail("invalid UTF-8");
        pos_ += length;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;
};

}  // namespace

std::string strict_json_error(std::string_view text) { return Checker(text).run(); }

}  // namespace dcu::test
