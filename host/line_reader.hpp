// Lines of a descriptor (dcuhost --stdin), read in pieces and kept up to a
// bound: a line of any length costs no more memory than the bound, and the
// lines after it are read as usual.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace dcu::host {

class LineReader {
public:
    enum class Line {
        whole,     // the line
        too_long,  // longer than the bound: its first max_line + 1 bytes; the rest was passed over
        end,       // no more input (or it could not be read)
    };

    // Reads fd (not owned) in pieces of piece_bytes; lines of more than
    // max_line bytes are too long.
    LineReader(int fd, std::size_t max_line, std::size_t piece_bytes = 65536);

    // The next line in *line, without its line end ("\n" or "\r\n"). A last
    // line without one is a line too.
    Line next(std::string *line);

private:
    bool fill();
    Line finish(std::string *line, bool passed_over, bool at_line_end) const;

    int fd_;
    std::size_t max_line_;
    std::vector<char> piece_;
    std::size_t begin_ = 0;  // of what is left to take in piece_
    std::size_t end_ = 0;
};

}  // namespace dcu::host
