#include "reqhandlers/text_builder.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "reqhandlers/json_escape.hpp"

using namespace std::string_view_literals;

namespace dcu::answer {

namespace {
constexpr std::string_view kFinalLineBreak = "\n";
constexpr std::size_t kNumberDigits = 24;
}  // namespace

TextBuilder::TextBuilder(std::span<char> buffer) : buffer_(buffer), capacity_(buffer.size() - 1) {
    // The buffer holds at least the opening and what it keeps for later.
    reserved_ = kFinalLineBreak.size() + closing_room(layout::kObject);
    put(layout::kObject.open);
    frames_[0] = {&layout::kObject, 0};
    depth_ = 1;
    buffer_[length_] = '\0';
}

bool TextBuilder::refuse() noexcept {
    ++failures_;
    return false;
}

bool TextBuilder::keep(std::size_t later, std::size_t now) noexcept {
    if (!fits(now + later)) return refuse();
    reserved_ += later;
    return true;
}

namespace {
// Writes through a local pointer: the compiler then need not assume that each
// byte written may change the builder's own fields.
char *copy_to(char *out, std::string_view bytes) noexcept {
    for (char c : bytes) *out++ = c;
    return out;
}

// "value", escaped.
char *write_quoted(char *out, std::string_view value) noexcept {
    *out++ = '"';
    out = escape_into(out, value);
    *out++ = '"';
    return out;
}

// "KEY":"value", the value escaped.
char *write_member(char *out, std::string_view key, std::string_view value) noexcept {
    *out++ = '"';
    out = copy_to(out, key);
    *out++ = '"';
    *out++ = ':';
    return write_quoted(out, value);
}

// Copies bytes whose length varies from call to call (values, joints) in a
// few word moves rather than byte by byte: two moves that overlap cover any
// length from one word to two. Neither side is touched beyond the bytes.
[[gnu::always_inline]] inline char *copy_short(char *out, std::string_view bytes) noexcept {
    const char *from = bytes.data();
    const std::size_t n = bytes.size();
    if (n > 16) {
        std::memcpy(out, from, n);
    } else if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
    } else if (n > 0) {
        out[0] = from[0];
        out[n / 2] = from[n / 2];
        out[n - 1] = from[n - 1];
    }
    return out + n;
}
}  // namespace

ObjectShape::ObjectShape(const Layout &layout, std::span<const std::string_view> keys) : members_(keys.size()) {
    // "K0":"v0","K1":"v1" in the layout: the joints are what lies around the values.
    std::string joint(layout.open);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) {
            joint += '"';
            joint += layout.separator;
        }
        joint += '"';
        joint += keys[i];
        joint += "\":\"";
        joints_.push_back(std::move(joint));
        joint.clear();
    }
    if (!keys.empty()) {
        joint += '"';
        joint += layout.after_last;
    }
    joint += layout.close;
    joints_.push_back(std::move(joint));
    bool all_fit = true;
    for (const auto &text : joints_) {
        fixed_size_ += text.size();
        all_fit = all_fit && text.size() <= kSlot;
    }
    if (all_fit) {
        slots_.assign(joints_.size() * kSlot, '\0');
        for (std::size_t i = 0; i < joints_.size(); ++i) joints_[i].copy(slots_.data() + i * kSlot, kSlot);
    }
}

void TextBuilder::end_element(char *end) noexcept {
    *end = '\0';
    length_ = static_cast<std::size_t>(end - buffer_.data());
    ++frames_[depth_ - 1].count;
}

bool TextBuilder::member(std::string_view key, std::string_view value) {
    const std::string_view sep = separator();
    // sep "KEY":"value"
    if (!fits_escaped(sep.size() + key.size() + 5, value)) return refuse();
    end_element(write_member(copy_to(buffer_.data() + length_, sep), key, value));
    return true;
}

bool TextBuilder::member(std::string_view key, long long number) {
    char digits[kNumberDigits];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    return member(key, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

bool TextBuilder::push(const Layout &layout, std::size_t lead_bytes, std::string_view key) {
    if (depth_ == frames_.size()) return refuse();
    const std::string_view sep = separator();
    if (!keep(closing_room(layout), sep.size() + lead_bytes + layout.open.size())) return false;
    put(sep);
    if (lead_bytes != 0) {
        put("\""sv);
        put(key);
        put("\":\n"sv);
    }
    put(layout.open);
    ++frames_[depth_ - 1].count;
    frames_[depth_++] = {&layout, 0};
    buffer_[length_] = '\0';
    return true;
}

bool TextBuilder::open_member(std::string_view key, const Layout &layout) {
    return push(layout, key.size() + 4, key);  // "KEY":\n
}

bool TextBuilder::element(std::string_view value) {
    const std::string_view sep = separator();
    if (!fits_escaped(sep.size() + 2, value)) return refuse();
    end_element(write_quoted(copy_to(buffer_.data() + length_, sep), value));
    return true;
}

bool TextBuilder::element(long long number) {
    char digits[kNumberDigits];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    return element(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

bool TextBuilder::open_element(const Layout &layout) { return push(layout, 0, {}); }

bool TextBuilder::object_element(const Layout &layout, std::span<const std::string_view> keys,
                                 std::span<const std::string_view> values) {
    const std::string_view sep = separator();
    const std::size_t count = std::min(keys.size(), values.size());
    // Everything but the values, then the values at their worst and, if that
    // is too much, as they really escape.
    std::size_t fixed = sep.size() + layout.open.size() + layout.close.size();
    if (count > 0) fixed += layout.after_last.size() + (count - 1) * layout.separator.size();
    std::size_t worst = 0;
    for (std::size_t i = 0; i < count; ++i) {
        fixed += keys[i].size() + 5;  // "KEY":"..."
        worst += max_escaped_length(values[i].size());
    }
    if (!fits(fixed + worst)) {
        std::size_t exact = 0;
        for (std::size_t i = 0; i < count; ++i) exact += escaped_length(values[i]);
        if (!fits(fixed + exact)) return refuse();
    }
    char *out = copy_to(buffer_.data() + length_, sep);
    out = copy_to(out, layout.open);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) out = copy_to(out, layout.separator);
        out = write_member(out, keys[i], values[i]);
    }
    if (count > 0) out = copy_to(out, layout.after_last);
    end_element(copy_to(out, layout.close));
    return true;
}

bool TextBuilder::object_element(const ObjectShape &shape, std::span<const std::string_view> values) {
    const std::size_t count = shape.members();
    if (values.size() != count) return refuse();
    const std::string_view sep = separator();
    // Everything but the values, then the values at their worst and, if that
    // is too much, as they really escape: as for any object element.
    const std::size_t fixed = sep.size() + shape.fixed_size();
    std::size_t worst = 0;
    for (const auto value : values) worst += max_escaped_length(value.size());
    if (!fits(fixed + worst)) {
        std::size_t exact = 0;
        for (const auto value : values) exact += escaped_length(value);
        if (!fits(fixed + exact)) return refuse();
    }
    char *out = copy_to(buffer_.data() + length_, sep);
    for (std::size_t i = 0; i < count; ++i) out = escape_into(copy_short(out, shape.joint(i)), values[i]);
    end_element(copy_short(out, shape.joint(count)));
    return true;
}

bool TextBuilder::element_text(std::string_view text) {
    const std::string_view sep = separator();
    if (!fits(sep.size() + text.size())) return refuse();
    char *out = copy_to(buffer_.data() + length_, sep);
    std::memcpy(out, text.data(), text.size());
    end_element(out + text.size());
    return true;
}

char *TextBuilder::element_in_place(std::size_t most) noexcept {
    const std::string_view sep = separator();
    const std::size_t bytes = sep.size() + most;
    // The slot the caller's moves reach must lie in the buffer too.
    if (!fits(bytes) || length_ + bytes + ObjectShape::kSlot >= buffer_.size()) return nullptr;
    return copy_to(buffer_.data() + length_, sep);
}

void TextBuilder::end_in_place(char *end) noexcept {
    std::memset(end, 0, ObjectShape::kSlot);
    end_element(end);
}

void TextBuilder::close() {
    if (depth_ <= 1) return;  // the outer object closes in finish()
    const Frame &top = frames_[--depth_];
    give_back(closing_room(*top.layout));
    if (top.count > 0) put(top.layout->after_last);
    put(top.layout->close);
    buffer_[length_] = '\0';
}

std::size_t TextBuilder::finish() {
    while (depth_ > 1) close();
    insert_deferred();
    if (depth_ == 1) {
        const Frame &root = frames_[0];
        if (root.count > 0) put(root.layout->after_last);
        put(root.layout->close);
        put(kFinalLineBreak);
        depth_ = 0;
        reserved_ = 0;
    }
    buffer_[length_] = '\0';
    return length_;
}

TextBuilder::Mark TextBuilder::mark() const noexcept {
    return {length_, depth_, frames_[depth_ - 1].count, reserved_, failures_, deferred_count_};
}

void TextBuilder::rewind(const Mark &mark) noexcept {
    // Leave no trace of the abandoned bytes: beyond the text the buffer stays clear.
    std::memset(buffer_.data() + mark.length, 0, length_ - mark.length);
    length_ = mark.length;
    depth_ = mark.depth;
    frames_[depth_ - 1].count = mark.count;
    reserved_ = mark.reserved;
    deferred_count_ = mark.deferred;
}

TextBuilder::Slot TextBuilder::defer_member(std::size_t room) {
    if (deferred_count_ == kMaxDeferred || room > kMaxDeferredRoom) {
        refuse();
        return {};
    }
    if (!keep(room)) return {};
    Frame &top = frames_[depth_ - 1];
    deferred_[deferred_count_] = {
        length_, room, top.count > 0 ? top.layout->separator : std::string_view{}, {}, 0, 0, false};
    ++top.count;  // what follows is written as if the member stood here already
    return {deferred_count_++};
}

std::size_t TextBuilder::compose(std::size_t index, std::string_view key, long long number,
                                 std::array<char, kMaxDeferredRoom> &text) const noexcept {
    const Deferred &member = deferred_[index];
    char digits[kNumberDigits];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    const std::string_view value(digits, static_cast<std::size_t>(result.ptr - digits));
    const std::size_t size = member.separator.size() + key.size() + value.size() + 5;
    if (size > member.room) return size;
    // digits need no escaping: exactly `size` bytes
    write_member(copy_to(text.data(), member.separator), key, value);
    return size;
}

void TextBuilder::replace_in_text(std::size_t index, std::string_view bytes) noexcept {
    Deferred &member = deferred_[index];
    char *at = buffer_.data() + member.offset;
    if (bytes.size() != member.placed) {
        const std::size_t after = member.offset + member.placed;
        std::memmove(at + bytes.size(), buffer_.data() + after, length_ - after);
        length_ = length_ - member.placed + bytes.size();
        // Members deferred after this one stand after it in the text.
        for (std::size_t later = index + 1; later < deferred_count_; ++later)
            deferred_[later].offset = deferred_[later].offset - member.placed + bytes.size();
        buffer_[length_] = '\0';
    }
    // A member taken out again has no bytes (and no pointer to them).
    if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
    member.placed = bytes.size();
}

void TextBuilder::expect(const Slot &slot, std::string_view key, long long likely_number) {
    if (slot.index >= deferred_count_) return;
    Deferred &member = deferred_[slot.index];
    if (member.done || member.placed != 0) return;
    std::array<char, kMaxDeferredRoom> text;
    const std::size_t size = compose(slot.index, key, likely_number, text);
    if (size > member.room) return;  // fill will refuse it
    // Its bytes move from the room kept into the text.
    replace_in_text(slot.index, {text.data(), size});
    give_back(size);
}

void TextBuilder::fill(const Slot &slot, std::string_view key, long long number) {
    // A slot that could not be kept, or was filled already, takes nothing.
    if (slot.index >= deferred_count_ || deferred_[slot.index].done) return;
    Deferred &member = deferred_[slot.index];
    member.done = true;
    const std::size_t size = compose(slot.index, key, number, member.text);
    // What is still kept for it beside what stands in the text.
    const std::size_t kept = member.room - member.placed;
    if (size > member.room) {
        if (member.placed != 0) replace_in_text(slot.index, {});
        give_back(kept);
        refuse();
        return;
    }
    member.size = size;
    if (member.placed != 0) {
        // Expected: written over, and moving what follows only if it grew or shrank.
        replace_in_text(slot.index, {member.text.data(), size});
        give_back(kept);
        return;
    }
    // Its own bytes stay kept until finish puts them in the text.
    give_back(member.room - size);
}

void TextBuilder::insert_deferred() noexcept {
    // An expected member that was never filled leaves the text.
    for (std::size_t i = deferred_count_; i-- > 0;) {
        Deferred &member = deferred_[i];
        if (member.done || member.placed == 0) continue;
        const std::size_t placed = member.placed;
        replace_in_text(i, {});
        give_back(member.room - placed);
    }
    // The rest, from the last member back: the text after each moves right
    // by the members at and before it, so that every byte moves once.
    // Members in the text already (expected) are not moved again.
    const auto waiting = [](const Deferred &member) { return member.placed == 0; };
    std::size_t shift = 0;
    for (std::size_t i = 0; i < deferred_count_; ++i)
        if (waiting(deferred_[i])) shift += deferred_[i].size;
    if (shift != 0) {
        std::size_t end = length_;
        for (std::size_t i = deferred_count_; i-- > 0;) {
            const Deferred &member = deferred_[i];
            if (!waiting(member) || member.size == 0) continue;  // in the text, or never filled: nothing to put
            char *at = buffer_.data() + member.offset;
            std::memmove(at + shift, at, end - member.offset);
            shift -= member.size;
            std::memcpy(at + shift, member.text.data(), member.size);
            end = member.offset;
        }
        for (std::size_t i = 0; i < deferred_count_; ++i) {
            if (!waiting(deferred_[i])) continue;
            length_ += deferred_[i].size;
            give_back(deferred_[i].size);
        }
    }
    deferred_count_ = 0;
    buffer_[length_] = '\0';
}

TextBuilder::Hold TextBuilder::hold_member_room(std::string_view key, const Layout &layout) {
    // As open_member needs it for an empty container, with the separator it may take.
    const std::size_t room = frames_[depth_ - 1].layout->separator.size() + key.size() + 4 + layout.open.size() +
                             closing_room(layout);
    if (!keep(room)) return {};
    return {room};
}

std::size_t TextBuilder::member_at(std::string_view key, std::string_view value) {
    if (!member(key, value)) return std::string_view::npos;
    return length_ - 1 - escaped_length(value);
}

void TextBuilder::patch(std::size_t offset, std::string_view same_length_text) noexcept {
    if (offset == std::string_view::npos || offset + same_length_text.size() > length_) return;
    std::memcpy(buffer_.data() + offset, same_length_text.data(), same_length_text.size());
}

}  // namespace dcu::answer
