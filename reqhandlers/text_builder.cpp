#include "reqhandlers/text_builder.hpp"

#include <algorithm>
#include <charconv>

using namespace std::string_view_literals;
#include <cstring>

#include "reqhandlers/json_escape.hpp"

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
}  // namespace

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
    deferred_[deferred_count_] = {length_, room, top.count > 0 ? top.layout->separator : std::string_view{}, {}, 0};
    ++top.count;  // what follows is written as if the member stood here already
    return {deferred_count_++};
}

void TextBuilder::fill(const Slot &slot, std::string_view key, long long number) {
    // A slot that could not be kept, or was filled already, takes nothing.
    if (slot.index >= deferred_count_ || deferred_[slot.index].size != 0) return;
    Deferred &member = deferred_[slot.index];
    char digits[kNumberDigits];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    const std::string_view value(digits, static_cast<std::size_t>(result.ptr - digits));
    const std::size_t size = member.separator.size() + key.size() + value.size() + 5;
    if (size > member.room) {
        give_back(member.room);
        refuse();
        return;
    }
    // digits need no escaping: exactly `size` bytes
    write_member(copy_to(member.text.data(), member.separator), key, value);
    member.size = size;
    // Its own bytes stay kept until finish puts them in the text.
    give_back(member.room - size);
}

void TextBuilder::insert_deferred() noexcept {
    // From the last member back: the text after each moves right by the
    // members at and before it, so that every byte moves once.
    std::size_t shift = 0;
    for (std::size_t i = 0; i < deferred_count_; ++i) shift += deferred_[i].size;
    if (shift == 0) return;
    std::size_t end = length_;
    for (std::size_t i = deferred_count_; i-- > 0;) {
        const Deferred &member = deferred_[i];
        if (member.size == 0) continue;  // never filled: nothing to put
        char *at = buffer_.data() + member.offset;
        std::memmove(at + shift, at, end - member.offset);
        shift -= member.size;
        std::memcpy(at + shift, member.text.data(), member.size);
        end = member.offset;
    }
    for (std::size_t i = 0; i < deferred_count_; ++i) {
        length_ += deferred_[i].size;
        give_back(deferred_[i].size);
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
