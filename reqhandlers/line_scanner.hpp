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
#include <span>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// ---- Lines looked at a block of bytes at a time -------------------------
//
// A record's values are a few bytes long: instead of a search per value, a
// line is looked at a block at a time, and each block gives flags, one bit
// per byte: its tabs and, where that is wanted, its odd bytes, those that
// are neither a tab nor a byte that goes into an answer as it is (control
// characters, line ends included, the quote, the backslash, every byte from
// 0x80). The tabs are then taken lowest first. A block may reach past the
// line's end: the bytes kLineSlack past what was read can always be read,
// and are zeros (odd bytes) past the end of the file's last piece.
inline constexpr std::size_t kLineSlack = 64;

namespace blocks {

// Eight bytes in a 64-bit word: the flag of byte i is bit 8i + 7.
struct Words {
    using Mask = std::uint64_t;
    static constexpr std::size_t kSize = 8;
    static constexpr int kShift = 3;  // flag bit to byte index

    static Mask tabs(const char *at) noexcept { return equal(load(at), '\t'); }
    static Mask scan(const char *at, Mask &odd) noexcept {
        const Mask word = load(at);
        const Mask tab = equal(word, '\t');
        // Bytes below 0x20: adding 0x60 to the low seven bits leaves the high bit clear.
        const Mask below_space = ~((word & kLows) + kOnes * 0x60) & kHighs;
        odd = ((word & kHighs) | below_space | equal(word, '"') | equal(word, '\\')) & ~tab;
        return tab;
    }
    // The flags of the first `bytes` bytes of a block (fewer than kSize).
    static Mask first(std::size_t bytes) noexcept { return (Mask{1} << (8 * bytes)) - 1; }

    static Mask load(const char *at) noexcept {
        Mask word;
        std::memcpy(&word, at, sizeof word);
        return word;
    }
    // Exact: no borrow reaches from one byte into the next.
    static Mask equal(Mask word, unsigned char c) noexcept {
        const Mask zeroed = word ^ (kOnes * c);
        return ~(((zeroed & kLows) + kLows) | zeroed | kLows);
    }
    static constexpr Mask kOnes = 0x0101010101010101ULL;
    static constexpr Mask kLows = 0x7F7F7F7F7F7F7F7FULL;
    static constexpr Mask kHighs = 0x8080808080808080ULL;
};

#if defined(__SSE2__)
// Sixteen bytes in an SSE2 register: the flag of byte i is bit i.
struct Vectors {
    using Mask = std::uint32_t;
    static constexpr std::size_t kSize = 16;
    static constexpr int kShift = 0;

    static Mask tabs(const char *at) noexcept {
        return static_cast<Mask>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(at), _mm_set1_epi8('\t'))));
    }
    static Mask scan(const char *at, Mask &odd) noexcept {
        const __m128i bytes = load(at);
        const __m128i tab = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t'));
        // As signed bytes, only 0x20 to 0x7F are more than 0x1F.
        const __m128i printable = _mm_cmpgt_epi8(bytes, _mm_set1_epi8(0x1F));
        const __m128i quote_or_backslash =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
        const __m128i as_it_is = _mm_or_si128(_mm_andnot_si128(quote_or_backslash, printable), tab);
        odd = static_cast<Mask>(_mm_movemask_epi8(as_it_is)) ^ 0xFFFF;
        return static_cast<Mask>(_mm_movemask_epi8(tab));
    }
    static Mask first(std::size_t bytes) noexcept { return (Mask{1} << bytes) - 1; }

    static __m128i load(const char *at) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at)); }
};
using Best = Vectors;

// Four vectors, 64 bytes, their flags in one word: the loop over a line
// turns once for a few values rather than once or twice per value.
struct Chunks {
    using Mask = std::uint64_t;
    static constexpr std::size_t kSize = 64;
    static constexpr int kShift = 0;

    static Mask tabs(const char *at) noexcept {
        return join(tab_flags(at), tab_flags(at + 16), tab_flags(at + 32), tab_flags(at + 48));
    }
    static Mask scan(const char *at, Mask &odd) noexcept {
        std::uint32_t special0, special1, special2, special3;
        const Mask tabs = join(scan16(at, special0), scan16(at + 16, special1), scan16(at + 32, special2),
                               scan16(at + 48, special3));
        odd = join(special0, special1, special2, special3) & ~tabs;
        return tabs;
    }
    static Mask first(std::size_t bytes) noexcept { return (Mask{1} << bytes) - 1; }  // bytes < kSize

private:
    static Mask tab_flags(const char *at) noexcept { return Vectors::tabs(at); }
    // The tabs of 16 bytes; in special, the bytes that are not as they go
    // into an answer (the tabs among them).
    [[gnu::always_inline]] static std::uint32_t scan16(const char *at, std::uint32_t &special) noexcept {
        const __m128i bytes = Vectors::load(at);
        // As signed bytes, those below 0x20 are the control characters
        // (the tab among them) and every byte from 0x80.
        const __m128i below = _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20));
        const __m128i quote_or_backslash =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
        special = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(below, quote_or_backslash)));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t'))));
    }
    static Mask join(Mask a, Mask b, Mask c, Mask d) noexcept { return a | (b << 16) | (c << 32) | (d << 48); }
};
using Widest = Chunks;
#else
using Best = Words;
using Widest = Words;
#endif
// A block that starts inside what was read ends inside its slack.
static_assert(kLineSlack >= Widest::kSize && kLineSlack >= Best::kSize);

// One past each tab flagged in a block that starts at `at`, appended to out.
template <typename Blocks>
std::uint32_t *put_tabs(typename Blocks::Mask tabs, std::uint32_t at, std::uint32_t *out) noexcept {
    const std::uint32_t past = at + 1;
    for (; tabs != 0; tabs &= tabs - 1)
        *out++ = past + (static_cast<std::uint32_t>(std::countr_zero(tabs)) >> Blocks::kShift);
    return out;
}

}  // namespace blocks

// Where the values of a line start: edges[0] = 0, edges[k + 1] = one past
// tab k, so that value k spans edges[k] to edges[k + 1] - 1 (the line's end
// counting as the tab after its last value). Kept from line to line, sized
// for the tabs that end every wanted value and a block more.
class ValueEdges {
public:
    // Room for lines whose wanted values end at tab `needed - 1` or before.
    void make_room(std::size_t needed) {
        needed_ = needed;
        if (edges_.size() < needed + kMostPerBlock + 2) edges_.resize(needed + kMostPerBlock + 2);
    }
    std::size_t needed() const noexcept { return needed_; }
    std::uint32_t *data() noexcept { return edges_.data(); }
    const std::uint32_t *data() const noexcept { return edges_.data(); }

private:
    static constexpr std::size_t kMostPerBlock = 64;  // tabs in the widest block
    std::vector<std::uint32_t> edges_;
    std::size_t needed_ = 0;
};

// What split_wanted found in a line.
struct Split {
    std::size_t found = 0;  // values found: the line holds columns wanted[0 .. found)
    std::size_t bytes = 0;  // of the values found, together
};

// Puts the value of column wanted[i] (header indexes, ascending) into
// values[i], as a view into line, for as many as the line holds. The line,
// without its line end, must be readable kLineSlack bytes past its end.
template <typename Blocks = blocks::Best>
Split split_wanted(std::string_view line, std::span<const std::size_t> wanted, std::string_view *values,
                   ValueEdges &edges) {
    Split split;
    if (wanted.empty()) return split;
    const std::size_t needed = wanted.back() + 1;
    edges.make_room(needed);
    std::uint32_t *const edge = edges.data();
    const char *const start = line.data();
    const auto size = static_cast<std::uint32_t>(line.size());

    edge[0] = 0;
    std::uint32_t *out = edge + 1;
    std::uint32_t at = 0;
    for (; at + Blocks::kSize <= size && static_cast<std::size_t>(out - edge - 1) < needed; at += Blocks::kSize)
        out = blocks::put_tabs<Blocks>(Blocks::tabs(start + at), at, out);
    if (at < size && static_cast<std::size_t>(out - edge - 1) < needed)
        out = blocks::put_tabs<Blocks>(Blocks::tabs(start + at) & Blocks::first(size - at), at, out);
    const auto tabs_seen = static_cast<std::size_t>(out - edge - 1);
    // Short of the tabs needed, the line's end ends its last value.
    if (tabs_seen < needed) *out = size + 1;
    std::size_t i = 0, bytes = 0;
    for (; i < wanted.size() && wanted[i] <= tabs_seen; ++i) {
        const std::uint32_t from = edge[wanted[i]];
        const std::uint32_t length = edge[wanted[i] + 1] - 1 - from;
        values[i] = {start + from, length};
        bytes += length;
    }
    split.found = i;
    split.bytes = bytes;
    return split;
}

// A line whose wanted values need no look (see LineScanner::plain_line).
struct PlainLine {
    std::string_view line;  // without its line end; readable kLineSlack bytes past it
    std::size_t tabs;       // tabs whose places edges holds: at least needed(), or every tab of the line
};

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

    // The next line when it lies whole in what was read (most lines), as
    // scan_line would hand out its bytes: without its line end, readable
    // kLineSlack bytes past its end, valid until the next line is read.
    enum class Whole {
        line,     // line holds it, and it is read
        pieces,   // it runs across pieces: nothing is read, scan_line reads it
        none,     // no line is left (or reading failed)
    };
    Whole whole_line(std::string_view &line);

    // The next line, when it lies whole in what was read and no byte of it
    // up to the end of the value that ends at tab edges.needed() - 1 (or
    // to its end) is odd: its tabs' places in edges, and the line is read
    // (Whole::line). A line with fewer tabs than needed has the place after
    // its end as the next edge. Otherwise nothing is read (Whole::pieces:
    // whole_line or scan_line read it) or no line is left (Whole::none).
    // One look at each byte finds the tabs, the line's end and the odd
    // bytes together.
    template <typename Blocks = blocks::Widest>
    Whole plain_line(ValueEdges &edges, PlainLine &found);

    // Counts the lines from here to the end of the file, then comes back
    // here: the next scan_line reads the line it would have read before.
    std::size_t count_lines();

    // errno of a read that failed (0: none). Every line before it was handed out whole.
    int error() const noexcept { return error_; }

    // Where the next line starts, and how many bytes the file holds from
    // there (as its size was when it was opened): enough to guess how many
    // lines are left from the length of one.
    std::uint64_t position() const noexcept { return next_offset_ - static_cast<std::uint64_t>(end_ - at_); }
    std::uint64_t bytes_left() const noexcept { return size_ > position() ? size_ - position() : 0; }

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
    std::unique_ptr<char[]> buffer_;  // piece_size_ bytes, then kLineSlack of zeros
    const char *at_ = nullptr;   // the next byte to scan
    const char *end_ = nullptr;  // the end of what the buffer holds
    // Where the next piece is read from: 64 bits also on the 32-bit board,
    // whose files may be larger than its address space.
    std::uint64_t next_offset_ = 0;
    std::uint64_t size_ = 0;  // the file's, when it was opened
    int error_ = 0;
};

inline LineScanner::Whole LineScanner::whole_line(std::string_view &line) {
    if (at_ == end_ && !refill()) return Whole::none;
    const void *found = std::memchr(at_, '\n', static_cast<std::size_t>(end_ - at_));
    if (found == nullptr) return Whole::pieces;
    const auto *line_end = static_cast<const char *>(found);
    line = {at_, static_cast<std::size_t>(line_end - at_)};
    at_ = line_end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    return Whole::line;
}

template <typename Blocks>
LineScanner::Whole LineScanner::plain_line(ValueEdges &edges, PlainLine &found) {
    if (at_ == end_ && !refill()) return Whole::none;
    const char *const start = at_;
    const auto available = static_cast<std::size_t>(end_ - at_);
    const std::size_t needed = edges.needed();
    std::uint32_t *const edge = edges.data();
    edge[0] = 0;
    std::uint32_t *out = edge + 1;
    std::size_t line_end = 0;  // where the line's end (or its "\r\n") starts
    for (std::uint32_t at = 0;; at += Blocks::kSize) {
        typename Blocks::Mask odd;
        const auto tabs = Blocks::scan(start + at, odd);
        if (odd == 0) {
            out = blocks::put_tabs<Blocks>(tabs, at, out);
            if (static_cast<std::size_t>(out - edge - 1) < needed) continue;
            // Every wanted value ends before here: what follows only has to end.
            const std::size_t from = at + Blocks::kSize;
            const void *nl = from < available ? std::memchr(start + from, '\n', available - from) : nullptr;
            if (nl == nullptr) return Whole::pieces;
            line_end = static_cast<std::size_t>(static_cast<const char *>(nl) - start);
            break;
        }
        const std::size_t first = static_cast<std::size_t>(std::countr_zero(odd)) >> Blocks::kShift;
        const std::size_t byte = at + first;
        if (byte >= available) return Whole::pieces;  // the line goes on past what was read
        out = blocks::put_tabs<Blocks>(tabs & Blocks::first(first), at, out);
        const bool ends_here = start[byte] == '\n' || (start[byte] == '\r' && byte + 1 < available && start[byte + 1] == '\n');
        if (ends_here) {
            line_end = byte;
            break;
        }
        // An odd byte: harmless only past every wanted value.
        if (static_cast<std::size_t>(out - edge - 1) < needed) return Whole::pieces;
        const void *nl = std::memchr(start + byte, '\n', available - byte);
        if (nl == nullptr) return Whole::pieces;
        line_end = static_cast<std::size_t>(static_cast<const char *>(nl) - start);
        break;
    }
    std::size_t size = line_end;
    if (start[line_end] == '\r') ++line_end;  // "\r\n": line_end at the "\n"
    else if (size > 0 && start[size - 1] == '\r') --size;
    const auto tabs_seen = static_cast<std::size_t>(out - edge - 1);
    if (tabs_seen < needed) *out = static_cast<std::uint32_t>(size + 1);
    found = {{start, size}, tabs_seen};
    at_ = start + line_end + 1;
    return Whole::line;
}

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
