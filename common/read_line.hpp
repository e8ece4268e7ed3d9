// Whole lines of a text, of any length, for the tools that rewrite or scan
// one line by line.
#pragma once

#include <istream>
#include <string>

namespace dcu {

// Reads one whole line with its '\n' when it has one (the last line of a
// text may have none). False once the input is exhausted.
inline bool read_line(std::istream &input, std::string &line) {
    if (!std::getline(input, line)) return false;
    if (!input.eof()) line.push_back('\n');
    return true;
}

}  // namespace dcu
