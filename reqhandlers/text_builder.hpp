// The bounded builder of one answer text.
//
// An answer is nested containers (objects and lists) written element by
// element. Each container has a Layout: the texts written when it opens,
// between two elements, after its last element and when it closes. With
// these, every answer of the library comes out byte for byte in its own
// shape, and the text is well-formed at any element boundary.
//
// The builder never writes past its buffer: it keeps room for closing every
// open container (and for everything else it has promised to write later,
// see "Writing later"), so an element that would not fit is refused whole
// (the write returns false and the builder counts the overflow) and the text
// can always be finished. Lengths are tracked, never rescanned, and the text
// written is moved at most once, when the deferred members are put in place
// (not at all when they were expected right, see expect).
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reqhandlers/json_escape.hpp"

namespace dcu::answer {

struct Layout {
    std::string_view open;
    std::string_view separator;
    std::string_view after_last;  // written after the last element, if there is one
    std::string_view close;
};

namespace layout {
inline constexpr Layout kObject{"{\n", ",\n", "\n", "}"};        // members one per line
inline constexpr Layout kRowList{"[\n", ",\n", "\n", "]"};       // data records, parameter objects
inline constexpr Layout kNameLine{"[\n", ",", "\n", "]"};        // display names on one line
inline constexpr Layout kEntryLine{"[\n", ",", "", "]"};         // serial numbers, file and directory names
inline constexpr Layout kInlineList{"[", ",", "", "]"};          // on-demand files, status values
inline constexpr Layout kInlineObject{"{", ",", "", "}"};        // the values of one record
}  // namespace layout

// The fixed texts of an object element whose members are always the same
// keys with string values (the records of a data list), put together once:
// the joints, joint i written before value i and the last one after the
// last value. An element of this shape is then its values and these texts,
// with one room check.
class ObjectShape {
public:
    // The bytes a joint can be copied in at once (see joint_slot).
    static constexpr std::size_t kSlot = 16;

    ObjectShape(const Layout &layout, std::span<const std::string_view> keys);

    std::size_t members() const noexcept { return members_; }
    std::string_view joint(std::size_t i) const noexcept { return joints_[i]; }
    // The joints together: an element's bytes beside its values.
    std::size_t fixed_size() const noexcept { return fixed_size_; }
    // Joint i at the start of kSlot bytes that can be read; null when a
    // joint is longer than that.
    const char *joint_slot(std::size_t i) const noexcept { return slots_.empty() ? nullptr : slots_.data() + i * kSlot; }

private:
    std::size_t members_;
    std::vector<std::string> joints_;
    std::size_t fixed_size_ = 0;
    std::string slots_;
};

class TextBuilder {
public:
    // Starts a text in buffer (which must hold at least 8 bytes) by opening
    // the outer object. Bytes of the buffer beyond the text are left as they
    // are (but for the slot after an element written in place, zeroed); the
    // text is always NUL-terminated.
    explicit TextBuilder(std::span<char> buffer);
    TextBuilder(const TextBuilder &) = delete;
    TextBuilder &operator=(const TextBuilder &) = delete;

    // Members of the object being written: "KEY":"value", every value quoted.
    bool member(std::string_view key, std::string_view value);
    bool member(std::string_view key, long long number);
    // A container as member: "KEY":, a line break, then the container's opening.
    bool open_member(std::string_view key, const Layout &layout);

    // Elements of the list being written.
    bool element(std::string_view value);
    bool element(long long number);
    bool open_element(const Layout &layout);
    // An element that is an object of string members ("KEY":"value", keys[i]
    // with values[i]), in the given object layout, written whole or not at all.
    // The same text as open_element, member by member and close, in one go.
    bool object_element(const Layout &layout, std::span<const std::string_view> keys,
                        std::span<const std::string_view> values);
    // The same for an object of a shape made once (one value per key).
    bool object_element(const ObjectShape &shape, std::span<const std::string_view> values);
    // An element whose text is ready, well-formed (a record rendered with
    // an ObjectShape's joints), written after its separator, whole or not
    // at all.
    bool element_text(std::string_view text);
    // An element the caller writes in place, such a record, whose moves of
    // a whole slot may reach ObjectShape::kSlot bytes past its end: where
    // its text starts (after its separator, written here) when `most` bytes
    // of it fit, null when they might not (write it another way). The
    // caller must then end it with end_in_place at the end of its text,
    // which zeroes the bytes the moves reached past it.
    char *element_in_place(std::size_t most) noexcept;
    void end_in_place(char *end) noexcept;

    // Closes the innermost open container.
    void close();
    // Closes every open container, puts the deferred members in place, adds
    // the final line break; returns the length.
    std::size_t finish();

    // Checkpoints, to keep an element whole or not at all.
    struct Mark {
        std::size_t length;
        std::size_t depth;
        std::size_t count;
        std::size_t reserved;
        std::size_t failures;
        std::size_t deferred;
    };
    Mark mark() const noexcept;
    bool failed_since(const Mark &mark) const noexcept { return failures_ != mark.failures; }
    void rewind(const Mark &mark) noexcept;

    // ---- Writing later ----------------------------------------------------
    //
    // Whatever the builder has promised to write later keeps its room, and
    // no other write may use it: the closing texts of the open containers
    // and the final line break, a deferred member until it is in place, a
    // held member until its room is released. Room is kept whole or not at
    // all, like any write (when it is not there the promise is refused and
    // counted as overflow), and given back as the text it was kept for is
    // written, or given up. A patch keeps none: it writes over text of the
    // same length.

    // A member whose value is known only after what follows it is written
    // (a count before the list it counts). `room` (at most kMaxDeferredRoom)
    // bounds the member's length. fill gives back what the member does not
    // need; finish puts the filled members in place, moving the text after
    // them once for all of them. Until then, text() and size() leave them
    // out. At most kMaxDeferred members wait at a time.
    //
    // expect puts a member in place before its value is known, with the
    // value it is likely to get, while little text follows it: fill then
    // writes the value over it when it has as many digits, and only
    // otherwise moves the text after it (once). Either way the room kept and
    // the text are what they would have been without expect, so the same
    // elements fit. (A mark taken before an expect or a fill of an expected
    // member can't be rewound to.)
    static constexpr std::size_t kMaxDeferred = 4;
    static constexpr std::size_t kMaxDeferredRoom = 64;
    struct Slot {
        std::size_t index = kMaxDeferred;  // kMaxDeferred: the slot could not be kept
    };
    Slot defer_member(std::size_t room);
    void expect(const Slot &slot, std::string_view key, long long likely_number);
    void fill(const Slot &slot, std::string_view key, long long number);

    // Room kept aside for a container member that must still follow what is
    // written next (the data list after the names), so that a list that
    // fills the text cannot leave the answer without it. Released just
    // before the member is opened, which then takes it.
    struct Hold {
        std::size_t room = 0;  // 0: the room was not there (counted as overflow)
    };
    Hold hold_member_room(std::string_view key, const Layout &layout);
    void release(const Hold &hold) noexcept { give_back(hold.room); }

    // Writes a member and returns where its value starts (npos when refused),
    // so that the value can be replaced, before finish, by a text of the same
    // length.
    std::size_t member_at(std::string_view key, std::string_view value);
    void patch(std::size_t offset, std::string_view same_length_text) noexcept;

    bool overflowed() const noexcept { return failures_ != 0; }
    std::size_t size() const noexcept { return length_; }
    std::string_view text() const noexcept { return {buffer_.data(), length_}; }

private:
    struct Frame {
        const Layout *layout;
        std::size_t count;
    };

    bool fits(std::size_t bytes) const noexcept { return length_ + bytes + reserved_ <= capacity_; }
    bool refuse() noexcept;
    // Room for text written later: kept only when `now` bytes written first
    // leave it (else refused), given back when that text is written.
    bool keep(std::size_t later, std::size_t now = 0) noexcept;
    void give_back(std::size_t later) noexcept { reserved_ -= later; }
    std::string_view separator() const noexcept {
        const Frame &top = frames_[depth_ - 1];
        return top.count > 0 ? top.layout->separator : std::string_view{};
    }
    // The pieces put are a few bytes long: a plain loop beats a call to memcpy.
    void put(std::string_view bytes) noexcept {
        char *out = buffer_.data() + length_;
        for (char c : bytes) *out++ = c;
        length_ += bytes.size();
    }
    // Most values fit even at their worst: one pass then; near the end, measure.
    bool fits_escaped(std::size_t fixed, std::string_view value) const noexcept {
        return fits(fixed + max_escaped_length(value.size())) || fits(fixed + escaped_length(value));
    }
    bool push(const Layout &layout, std::size_t lead_bytes, std::string_view key);
    // Ends an element written up to end: NUL, length, the container's count.
    void end_element(char *end) noexcept;
    static std::size_t closing_room(const Layout &layout) noexcept {
        return layout.after_last.size() + layout.close.size();
    }
    // The filled deferred members into the text, in one move of what follows.
    void insert_deferred() noexcept;
    // A deferred member's text, "KEY":"<number>" after its separator; its size.
    std::size_t compose(std::size_t index, std::string_view key, long long number,
                        std::array<char, kMaxDeferredRoom> &text) const noexcept;
    // Replaces the `placed` bytes of deferred member index in the text with
    // `bytes`, moving what follows when the sizes differ.
    void replace_in_text(std::size_t index, std::string_view bytes) noexcept;

    // A deferred member: where it goes in the text as written so far, its
    // room, and once filled its text.
    struct Deferred {
        std::size_t offset;
        std::size_t room;
        std::string_view separator;
        std::array<char, kMaxDeferredRoom> text;
        std::size_t size;    // 0 until filled
        std::size_t placed;  // its bytes in the text now (expected or filled in place)
        bool done;           // filled, or refused
    };

    std::span<char> buffer_;
    std::size_t capacity_;  // bytes usable for text, leaving one for the NUL
    std::size_t length_ = 0;
    std::size_t reserved_ = 0;
    std::size_t failures_ = 0;
    std::array<Frame, 8> frames_{};
    std::size_t depth_ = 0;
    std::array<Deferred, kMaxDeferred> deferred_{};
    std::size_t deferred_count_ = 0;
};

}  // namespace dcu::answer
