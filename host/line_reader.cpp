#include "host/line_reader.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dcu::host {

LineReader::LineReader(int fd, std::size_t max_line, std::size_t piece_bytes)
    : fd_(fd), max_line_(max_line), piece_(std::max<std::size_t>(piece_bytes, 1)) {}

bool LineReader::fill() {
    for (;;) {
        const ssize_t got = ::read(fd_, piece_.data(), piece_.size());
        if (got < 0 && errno == EINTR) continue;
        begin_ = 0;
        end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        return got > 0;
    }
}

LineReader::Line LineReader::next(std::string *line) {
    // Kept of a line: the bound, one byte more to tell a longer line, and the
    // '\r' of a "\r\n" after a line of just the bound.
    const std::size_t keep = max_line_ + 2;
    line->clear();
    bool started = false, passed_over = false;
    for (;;) {
        if (begin_ == end_ && !fill()) return started ? finish(line, passed_over, false) : Line::end;
        started = true;
        const char *start = piece_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const auto *line_end = static_cast<const char *>(std::memchr(start, '\n', available));
        const std::size_t length = line_end != nullptr ? static_cast<std::size_t>(line_end - start) : available;
        const std::size_t taken = std::min(length, keep - line->size());
        line->append(start, taken);
        passed_over = passed_over || taken < length;
        begin_ += length;
        if (line_end != nullptr) {
            ++begin_;
            return finish(line, passed_over, true);
        }
    }
}

LineReader::Line LineReader::finish(std::string *line, bool passed_over, bool at_line_end) const {
    if (at_line_end && !passed_over && !line->empty() && line->back() == '\r') line->pop_back();
    if (!passed_over && line->size() <= max_line_) return Line::whole;
    line->resize(max_line_ + 1);
    return Line::too_long;
}

}  // namespace dcu::host
