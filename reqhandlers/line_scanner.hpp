// The lines of a data file, read in bounded pieces and handed out value by
// value, so that no line is ever held whole, whatever its length: the unit
// shares its little memory with the meter-reading process, and a file may
// hold anything (a line of megabytes, a file of nothing but line ends).
//
// A line ends at "\n"; a "\r" just before it belongs to the line end. A last
// line without "\n" is still a line, and keeps everything it holds (a final
// "\r" included). Values are separated by tabs; an empty line is one empty
// value.
//
// A hole of a sparse file reads as zeros, which hold no tab and no line end:
// where its bytes are not wanted it is stepped over instead of read, so a
// file of 2 GB that is all hole costs next to no reading.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/unique_fd.hpp"

namespace dcu::data_file {

// The first tab of line, or npos. Values are a few bytes long: eight bytes at
// a time rather than a call to memchr per value. (x - 1) & ~x flags every
// zero byte of x and may flag bytes above one, never below: the lowest flag
// is a tab for sure.
inline std::size_t find_tab(std::string_view line) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    std::size_t at = 0;
    for (; at + 8 <= line.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, line.data() + at, sizeof word);
        const std::uint64_t tabs = word ^ (kOnes * '\t');
        const std::uint64_t found = (tabs - kOnes) & ~tabs & kHighs;
        if (found != 0) return at + static_cast<std::size_t>(std::countr_zero(found)) / 8;
    }
    for (; at < line.size(); ++at)
        if (line[at] == '\t') return at;
    return std::string_view::npos;
}

// What a visitor of a line wants of the value that starts at a column.
enum class Want {
    value,         // its bytes
    skip,          // nothing of it
    nothing_more,  // nothing of it or of the rest of the line
};

class LineScanner {
public:
    static constexpr std::size_t kPieceSize = 64 * 1024;

    LineScanner() = default;
    LineScanner(const LineScanner &) = delete;
    LineScanner &operator=(const LineScanner &) = delete;

    // Reads the regular file open at fd, from its start, piece_size bytes at a time.
    void read_from(UniqueFd fd, std::size_t piece_size = kPieceSize);
    // Reads text as if it were a file's content (tests and fuzzing choose
    // small pieces, so that values and line ends fall across them).
    void read_text(std::string text, std::size_t piece_size = kPieceSize);

    // Scans the next line and tells the visitor of it:
    //   Want want(std::size_t column)    as each value starts (columns count from 0)
    //   void value(std::string_view)     a wanted value of a line that lies whole in
    //                                    what was read (most lines): the value at
    //                                    once, valid until the next scan_line
    // or, for a line that runs across pieces:
    //   void piece(std::string_view)     the bytes of a wanted value, in order, in
    //                                    one or more pieces (none for an empty value)
    //   void value_end()                 after the last piece of a wanted value
    //   bool enough() const              whether it wants no more bytes of the
    //                                    current value (they may be left unread)
    // A value never holds a byte of the line end. False when no line is
    // left, or when reading failed (see error()).
    template <typename Visitor>
    bool scan_line(Visitor &visitor);

    // Counts the lines from here to the end of the file, then comes back
    // here: the next scan_line reads the line it would have read before.
    std::size_t count_lines();

    // errno of a read that failed (0: none). Every line before it was handed out whole.
    int error() const noexcept { return error_; }

private:
    // Reads the next piece; false at the end of the file or on an error.
    // With skip_hole, a hole where the piece would start is stepped over.
    bool refill(bool skip_hole = false);
    // Steps over a hole where the next piece starts; whether there was one.
    bool skip_hole();
    // The first tab or line end in [from, to), or null.
    static const char *find_separator(const char *from, const char *to) noexcept;

    template <typename Visitor>
    static void scan_whole_line(std::string_view line, Visitor &visitor);
    template <typename Visitor>
    bool scan_line_in_pieces(Visitor &visitor);

    UniqueFd fd_;
    std::string text_;
    bool from_text_ = false;
    std::size_t piece_size_ = kPieceSize;
    std::unique_ptr<char[]> buffer_;
    const char *at_ = nullptr;   // the next byte to scan
    const char *end_ = nullptr;  // the end of what the buffer holds
    // Where the next piece is read from: 64 bits also on the 32-bit board,
    // whose files may be larger than its address space.
    std::uint64_t next_offset_ = 0;
    int error_ = 0;
};

template <typename Visitor>
bool LineScanner::scan_line(Visitor &visitor) {
    if (at_ == end_ && !refill()) return false;
    if (const void *found = std::memchr(at_, '\n', static_cast<std::size_t>(end_ - at_))) {
        const auto *line_end = static_cast<const char *>(found);
        std::string_view line(at_, static_cast<std::size_t>(line_end - at_));
        at_ = line_end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        scan_whole_line(line, visitor);
        return true;
    }
    return scan_line_in_pieces(visitor);
}

template <typename Visitor>
void LineScanner::scan_whole_line(std::string_view line, Visitor &visitor) {
    for (std::size_t column = 0;; ++column) {
        const Want want = visitor.want(column);
        if (want == Want::nothing_more) return;
        const std::size_t tab = find_tab(line);
        if (want == Want::value) visitor.value(line.substr(0, tab));
        if (tab == std::string_view::npos) return;
        line.remove_prefix(tab + 1);
    }
}

template <typename Visitor>
bool LineScanner::scan_line_in_pieces(Visitor &visitor) {
    std::size_t column = 0;
    Want want = visitor.want(column);
    // A "\r" that ended a piece: whether it is the line end shows only in the next piece.
    bool held_return = false;
    for (;;) {
        if (at_ == end_ && !refill(want != Want::value || visitor.enough())) {
            // The last line, without a line end: a held "\r" is the value's.
            if (want == Want::value) {
                if (held_return) visitor.piece("\r");
                visitor.value_end();
            }
            return true;
        }
        if (want == Want::nothing_more) {
            const void *line_end = std::memchr(at_, '\n', static_cast<std::size_t>(end_ - at_));
            if (line_end == nullptr) {
                at_ = end_;
                continue;
            }
            at_ = static_cast<const char *>(line_end) + 1;
            return true;
        }
        const char *separator = find_separator(at_, end_);
        if (want == Want::value) {
            const char *stop = separator != nullptr ? separator : end_;
            if (held_return && !(separator == at_ && *separator == '\n')) visitor.piece("\r");
            held_return = false;
            std::string_view bytes(at_, static_cast<std::size_t>(stop - at_));
            if (bytes.ends_with('\r') && (separator == nullptr || *separator == '\n')) {
                bytes.remove_suffix(1);
                held_return = separator == nullptr;
            }
            if (!bytes.empty()) visitor.piece(bytes);
        }
        if (separator == nullptr) {
            at_ = end_;
            continue;
        }
        at_ = separator + 1;
        if (want == Want::value) visitor.value_end();
        if (*separator == '\n') return true;
        want = visitor.want(++column);
    }
}

}  // namespace dcu::data_file
