#include "host/escaped_nul.hpp"

namespace dcu::host {

std::vector<bool> strings_holding_nul(std::string_view json_text) {
    constexpr std::string_view kNul = "u0000";
    std::vector<bool> strings;
    bool in_string = false;
    for (std::size_t i = 0; i < json_text.size(); ++i) {
        const char c = json_text[i];
        if (!in_string) {
            if (c == '"') {
                in_string = true;
                strings.push_back(false);
            }
        } else if (c == '"') {
            in_string = false;
        } else if (c == '\\' && i + 1 < json_text.size()) {
            // The escaped character (u of \uXXXX included) is passed over
            // here; the four digits after it hold no quote or backslash.
            ++i;
            if (json_text.substr(i, kNul.size()) == kNul) strings.back() = true;
        }
    }
    return strings;
}

}  // namespace dcu::host
