// A file written front to back through a buffer, with every failure
// (open, write, close) reported once on standard error with the path.
#pragma once

#include <string>
#include <string_view>

#include "common/unique_fd.hpp"

namespace dcu::sim {

class OutputFile {
public:
    // Creates or truncates path.
    explicit OutputFile(std::string path);
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Text collects here; flush_if_full() writes it out once it is big.
    std::string &buffer() { return buffer_; }
    void flush_if_full();
    // Writes what is left and closes the file; false (after a message) when
    // anything went wrong since the file was opened.
    bool finish();

private:
    void write_out();
    void fail(const char *what);

    std::string path_;
    std::string buffer_;
    UniqueFd fd_;
    bool failed_ = false;
};

// The whole of content into path.
bool write_whole_file(const std::string &path, std::string_view content);

}  // namespace dcu::sim
