#include "reqhandlers/text_builder.hpp"

#include <charconv>
#include <cstring>

#include "reqhandlers/json_escape.hpp"

namespace dcu::answer {

namespace {
constexpr std::string_view kFinalLineBreak = "\n";
constexpr std::size_t kNumberDigits = 24;
}  // namespace

TextBuilder::TextBuilder(std::span<char> buffer) : buffer_(buffer), capacity_(buffer.size() - 1) {
    reserved_ = kFinalLineBreak.size();
    put(layout::kObject.open);
    frames_[0] = {&layout::kObject, 0};
    depth_ = 1;
    reserved_ += closing_room(layout::kObject);
    buffer_[length_] = '\0';
}

bool TextBuilder::refuse() noexcept {
    ++failures_;
    return false;
}

std::string_view TextBuilder::separator() const noexcept {
    const Frame &top = frames_[depth_ - 1];
    return top.count > 0 ? top.layout->separator : std::string_view{};
}

void TextBuilder::put(std::string_view bytes) noexcept {
    if (bytes.empty()) return;
    std::memcpy(buffer_.data() + length_, bytes.data(), bytes.size());
    length_ += bytes.size();
}

void TextBuilder::put_quoted_escaped(std::string_view value, std::size_t escaped_size) noexcept {
    buffer_[length_++] = '"';
    escape_into(buffer_.data() + length_, value);
    length_ += escaped_size;
    buffer_[length_++] = '"';
}

bool TextBuilder::member(std::string_view key, std::string_view value) {
    const std::string_view sep = separator();
    const std::size_t escaped_size = escaped_length(value);
    // sep "KEY":"value"
    if (!fits(sep.size() + key.size() + escaped_size + 5)) return refuse();
    put(sep);
    put("\"");
    put(key);
    put("\":");
    put_quoted_escaped(value, escaped_size);
    ++frames_[depth_ - 1].count;
    buffer_[length_] = '\0';
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
    if (!fits(sep.size() + lead_bytes + layout.open.size() + closing_room(layout))) return refuse();
    put(sep);
    if (lead_bytes != 0) {
        put("\"");
        put(key);
        put("\":\n");
    }
    put(layout.open);
    ++frames_[depth_ - 1].count;
    frames_[depth_++] = {&layout, 0};
    reserved_ += closing_room(layout);
    buffer_[length_] = '\0';
    return true;
}

bool TextBuilder::open_member(std::string_view key, const Layout &layout) {
    return push(layout, key.size() + 4, key);  // "KEY":\n
}

bool TextBuilder::element(std::string_view value) {
    const std::string_view sep = separator();
    const std::size_t escaped_size = escaped_length(value);
    if (!fits(sep.size() + escaped_size + 2)) return refuse();
    put(sep);
    put_quoted_escaped(value, escaped_size);
    ++frames_[depth_ - 1].count;
    buffer_[length_] = '\0';
    return true;
}

bool TextBuilder::element(long long number) {
    char digits[kNumberDigits];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    return element(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

bool TextBuilder::open_element(const Layout &layout) { return push(layout, 0, {}); }

void TextBuilder::close() {
    if (depth_ <= 1) return;  // the outer object closes in finish()
    const Frame &top = frames_[--depth_];
    reserved_ -= closing_room(*top.layout);
    if (top.count > 0) put(top.layout->after_last);
    put(top.layout->close);
    buffer_[length_] = '\0';
}

std::size_t TextBuilder::finish() {
    while (depth_ > 1) close();
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
    return {length_, depth_, frames_[depth_ - 1].count, reserved_, failures_};
}

void TextBuilder::rewind(const Mark &mark) noexcept {
    // Leave no trace of the abandoned bytes: beyond the text the buffer stays clear.
    std::memset(buffer_.data() + mark.length, 0, length_ - mark.length);
    length_ = mark.length;
    depth_ = mark.depth;
    frames_[depth_ - 1].count = mark.count;
    reserved_ = mark.reserved;
}

TextBuilder::Slot TextBuilder::defer_member(std::size_t room) {
    Slot slot;
    if (!fits(room)) {
        refuse();
        return slot;
    }
    Frame &top = frames_[depth_ - 1];
    slot.offset = length_;
    slot.room = room;
    slot.separated = top.count > 0;
    slot.layout = top.layout;
    ++top.count;  // what follows is written as if the member stood here already
    reserved_ += room;
    return slot;
}

void TextBuilder::fill(const Slot &slot, std::string_view key, long long number) {
    if (slot.layout == nullptr) return;
    char digits[kNumberDigits];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    const std::string_view value(digits, static_cast<std::size_t>(result.ptr - digits));
    const std::string_view sep = slot.separated ? slot.layout->separator : std::string_view{};
    const std::size_t size = sep.size() + key.size() + value.size() + 5;
    reserved_ -= slot.room;
    if (size > slot.room) {
        refuse();
        return;
    }
    char *at = buffer_.data() + slot.offset;
    std::memmove(at + size, at, length_ - slot.offset);
    std::size_t end = length_ + size;
    length_ = slot.offset;
    put(sep);
    put("\"");
    put(key);
    put("\":\"");
    put(value);
    put("\"");
    length_ = end;
    buffer_[length_] = '\0';
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
