#include "reqhandlers/line_scanner.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>

namespace dcu::data_file {

static_assert(sizeof(off_t) == 8, "files beyond 2 GB need a 64-bit off_t (_FILE_OFFSET_BITS=64)");

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7FULL;

std::uint64_t word_at(const char *at) noexcept {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// The high bit of every byte of word that equals c, and of no other byte.
std::uint64_t bytes_equal(std::uint64_t word, char c) noexcept {
    const std::uint64_t zeroed = word ^ (kOnes * static_cast<unsigned char>(c));
    return ~(((zeroed & kLows) + kLows) | zeroed | kLows);
}

// Line ends in [from, to), eight bytes at a time: a file of nothing but
// line ends is counted as fast as any other.
std::size_t count_line_ends(const char *from, const char *to) noexcept {
    std::size_t count = 0;
    for (; to - from >= 8; from += 8) count += static_cast<std::size_t>(std::popcount(bytes_equal(word_at(from), '\n')));
    for (; from < to; ++from) count += *from == '\n';
    return count;
}

}  // namespace

namespace {

// A piece buffer: the piece, then kLineSlack bytes that a split may read
// past a line at the piece's end (refill sets them).
std::unique_ptr<char[]> piece_buffer(std::size_t piece_size) {
    return std::make_unique_for_overwrite<char[]>(piece_size + kLineSlack);
}

}  // namespace

void LineScanner::read_from(UniqueFd fd, std::size_t piece_size) {
    fd_ = std::move(fd);
    text_.clear();
    from_text_ = false;
    piece_size_ = std::max<std::size_t>(piece_size, 1);
    buffer_ = piece_buffer(piece_size_);
    at_ = end_ = buffer_.get();
    next_offset_ = 0;
    struct stat info {};
    size_ = ::fstat(fd_.get(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    error_ = 0;
}

void LineScanner::read_text(std::string text, std::size_t piece_size) {
    fd_.reset();
    text_ = std::move(text);
    from_text_ = true;
    piece_size_ = std::max<std::size_t>(piece_size, 1);
    buffer_ = piece_buffer(piece_size_);
    at_ = end_ = buffer_.get();
    next_offset_ = 0;
    size_ = text_.size();
    error_ = 0;
}

bool LineScanner::skip_hole() {
    if (from_text_ || !fd_) return false;
    off_t to = ::lseek(fd_.get(), static_cast<off_t>(next_offset_), SEEK_DATA);
    if (to < 0) {
        // ENXIO: no data from here on, a hole to the end (or the end itself).
        // Any other error (no hole support): the bytes are read as they are.
        if (errno != ENXIO) return false;
        to = ::lseek(fd_.get(), 0, SEEK_END);
        if (to < 0) return false;
    }
    if (static_cast<std::uint64_t>(to) <= next_offset_) return false;
    next_offset_ = static_cast<std::uint64_t>(to);
    return true;
}

bool LineScanner::refill(bool skip) {
    if (buffer_ == nullptr || error_ != 0) return false;
    if (skip) skip_hole();
    std::size_t got = 0;
    if (from_text_) {
        const std::size_t at = static_cast<std::size_t>(std::min<std::uint64_t>(next_offset_, text_.size()));
        got = std::min(piece_size_, text_.size() - at);
        std::memcpy(buffer_.get(), text_.data() + at, got);
    } else {
        ssize_t n;
        // pread: the scanner keeps its own place in the file, so that coming
        // back after a count is only a matter of where the next piece starts.
        do {
            n = ::pread(fd_.get(), buffer_.get(), piece_size_, static_cast<off_t>(next_offset_));
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            error_ = errno;
            return false;
        }
        got = static_cast<std::size_t>(n);
    }
    if (got == 0) return false;
    at_ = buffer_.get();
    end_ = at_ + got;
    // A short piece leaves bytes of an earlier one (or none yet) after it:
    // what a split may read past the last line is zeros.
    std::memset(buffer_.get() + got, 0, kLineSlack);
    next_offset_ += got;
    return true;
}

std::size_t LineScanner::count_lines() {
    const std::uint64_t here = next_offset_ - static_cast<std::uint64_t>(end_ - at_);
    std::size_t lines = 0;
    bool open_line = false;  // bytes after the last line end: one line more
    do {
        if (at_ != end_) {
            lines += count_line_ends(at_, end_);
            open_line = end_[-1] != '\n';
            at_ = end_;
        }
        // A hole holds no line end, only bytes of a line.
        if (skip_hole()) open_line = true;
    } while (refill());
    if (open_line) ++lines;
    next_offset_ = here;
    at_ = end_ = buffer_.get();
    return lines;
}

const char *LineScanner::find_separator(const char *from, const char *to) noexcept {
    // Values are a few bytes long: eight bytes at a time rather than a call
    // to memchr per value. (x - 1) & ~x flags every zero byte of x and may
    // flag bytes above one, never below: the lowest flag of either pattern
    // is a separator for sure.
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    for (; to - from >= 8; from += 8) {
        const std::uint64_t word = word_at(from);
        const std::uint64_t tabs = word ^ (kOnes * '\t');
        const std::uint64_t ends = word ^ (kOnes * '\n');
        const std::uint64_t found = (((tabs - kOnes) & ~tabs) | ((ends - kOnes) & ~ends)) & kHighs;
        if (found != 0) return from + std::countr_zero(found) / 8;
    }
    for (; from < to; ++from)
        if (*from == '\t' || *from == '\n') return from;
    return nullptr;
}

}  // namespace dcu::data_file
