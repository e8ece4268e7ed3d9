#include "reqhandlers/profile_answer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"

namespace dcu::profile {

namespace {

constexpr std::string_view kNumParam = "NUM_PARAM";
constexpr std::string_view kNumEntries = "NUM_ENTRIES";

// "V<index>", the key of a record's index-th value.
class ValueKey {
public:
    explicit ValueKey(std::size_t index) noexcept {
        text_[0] = 'V';
        auto result = std::to_chars(text_ + 1, text_ + sizeof text_, index);
        size_ = static_cast<std::size_t>(result.ptr - text_);
    }
    std::string_view view() const noexcept { return {text_, size_}; }

private:
    char text_[24];
    std::size_t size_;
};

void echo_names(std::span<const columns::SelectedColumn> named, std::span<const selection::Entry> entries) {
    if (named.empty()) return;
    for (const auto &column : named.first(named.size() - 1)) {
        const std::string &name = entries[column.entry].assign;
        std::fwrite(name.data(), 1, name.size(), stdout);
        std::fputc(',', stdout);
    }
}

// The most bytes of values a record may keep: no answer holds more than
// json_text, less what the answer holds already.
std::size_t room_for_values(const answer::TextBuilder &body) noexcept {
    return sizeof json_text > body.size() ? sizeof json_text - body.size() : 0;
}

// How many records the list is likely to hold, from the first one: as many
// as lines of its length fill the rest of the file, unless fewer of its
// size fit what is left of json_text. Only a guess for the count's digits.
std::size_t likely_records(std::uint64_t line_bytes, std::uint64_t bytes_left, std::size_t answer_bytes,
                           std::size_t room) noexcept {
    const std::uint64_t by_file = line_bytes != 0 ? bytes_left / line_bytes : 0;
    const std::uint64_t by_room = answer_bytes != 0 ? room / answer_bytes : 0;
    return 1 + static_cast<std::size_t>(std::min(by_file, by_room));
}

// The text of a record whose line holds nothing that needs escaping, put
// together in a scratch buffer from the line and the places of its tabs:
// the shape's joints and the values, each copied in moves of a whole slot,
// which may reach up to a slot past what they copy (the line can be read
// kLineSlack bytes past its end; the scratch has a slot of room more).
class RecordText {
public:
    static constexpr std::size_t kLongest = 4096;  // longer records are split the general way

    RecordText(const answer::ObjectShape &shape, std::span<const std::size_t> columns)
        : first_joint_(shape.joint_slot(0)), first_size_(shape.joint(0).size()), fixed_(shape.fixed_size()) {
        static_assert(data_file::kLineSlack >= answer::ObjectShape::kSlot);
        if (first_joint_ == nullptr || columns.empty()) return;
        for (std::size_t j = 0; j < columns.size(); ++j)
            steps_.push_back({columns[j], shape.joint(j + 1).size(), shape.joint_slot(j + 1)});
        edges_.make_room(columns.back() + 1);
        scratch_.resize(kLongest + answer::ObjectShape::kSlot);
    }

    // Whether records can be put together this way at all.
    bool usable() const noexcept { return !steps_.empty(); }
    data_file::ValueEdges &edges() noexcept { return edges_; }

    // The most bytes a record's text can take: its joints and its whole line.
    std::size_t longest(const data_file::PlainLine &found) const noexcept { return fixed_ + found.line.size(); }

    // Writes the record's text at out, which has room for longest() bytes
    // and a slot more; returns its end.
    char *write(const data_file::PlainLine &found, char *out) const noexcept {
        constexpr std::size_t kSlot = answer::ObjectShape::kSlot;
        const char *const line = found.line.data();
        const std::uint32_t *const edge = edges_.data();
        std::memcpy(out, first_joint_, kSlot);
        out += first_size_;
        for (const Step &step : steps_) {
            // Columns the line is too short to hold are empty.
            if (step.column <= found.tabs) {
                const std::uint32_t from = edge[step.column];
                const std::uint32_t length = edge[step.column + 1] - 1 - from;
                const char *value = line + from;
                std::memcpy(out, value, kSlot);
                for (std::size_t at = kSlot; at < length; at += kSlot) std::memcpy(out + at, value + at, kSlot);
                out += length;
            }
            std::memcpy(out, step.joint, kSlot);
            out += step.joint_size;
        }
        return out;
    }

    // The record's text in the scratch buffer; nothing when it could be
    // longer than kLongest.
    std::optional<std::string_view> render(const data_file::PlainLine &found) {
        if (longest(found) > kLongest) return std::nullopt;
        char *const end = write(found, scratch_.data());
        return std::string_view(scratch_.data(), static_cast<std::size_t>(end - scratch_.data()));
    }

private:
    struct Step {
        std::size_t column;      // in the header
        std::size_t joint_size;  // of the joint after its value
        const char *joint;
    };
    const char *first_joint_;
    std::size_t first_size_;
    std::size_t fixed_;
    std::vector<Step> steps_;
    data_file::ValueEdges edges_;
    std::vector<char> scratch_;
};

// Writes every record that fits whole; returns how many were written. The
// count goes in place (expected) once the first record shows how long they
// are, so that filling it in later moves none of them.
std::size_t write_records(answer::TextBuilder &body, data_file::DataFile &file,
                          std::span<const columns::SelectedColumn> columns, const answer::TextBuilder::Slot &count_slot) {
    std::vector<ValueKey> key_texts;
    std::vector<std::string_view> keys;
    std::vector<std::size_t> wanted;  // header order, so ascending
    key_texts.reserve(columns.size());
    for (std::size_t j = 0; j < columns.size(); ++j) {
        key_texts.emplace_back(j);
        wanted.push_back(columns[j].column);
    }
    for (const auto &key : key_texts) keys.push_back(key.view());
    const answer::ObjectShape shape(answer::layout::kInlineObject, keys);
    RecordText text(shape, wanted);

    data_file::LineScanner &lines = file.scanner();
    std::vector<std::string_view> values;
    std::size_t listed = 0;
    const std::uint64_t first_line_at = lines.position();
    for (;;) {
        const std::size_t before = body.size();
        bool written;
        data_file::PlainLine plain;
        const auto whole = text.usable() ? lines.plain_line(text.edges(), plain) : data_file::LineScanner::Whole::pieces;
        if (whole == data_file::LineScanner::Whole::none) break;
        if (whole == data_file::LineScanner::Whole::line) {
            // Straight into the answer when it fits even at its longest;
            // otherwise put together aside and written if it fits as it is.
            char *const in_place = body.element_in_place(text.longest(plain));
            const auto rendered = in_place == nullptr ? text.render(plain) : std::nullopt;
            if (in_place != nullptr) {
                body.end_in_place(text.write(plain, in_place));
                written = true;
            } else if (rendered) {
                written = body.element_text(*rendered);
            } else {
                file.split_line(plain.line, wanted, room_for_values(body), values);
                written = body.object_element(shape, values);
            }
        } else {
            // A record that needs escaping, or runs across pieces. One
            // reported too large keeps more bytes than the answer has room
            // for, so the builder refuses it like any record that does not fit.
            if (file.next_record(wanted, room_for_values(body), values) == data_file::DataFile::Record::none) break;
            written = body.object_element(shape, values);
        }
        if (!written) break;
        if (listed++ == 0)
            body.expect(count_slot, kNumEntries,
                        static_cast<long long>(likely_records(lines.position() - first_line_at, lines.bytes_left(),
                                                              body.size() - before, room_for_values(body))));
    }
    return listed;
}

}  // namespace

void write_body(answer::TextBuilder &body, const BodyShape &shape, const ProfileData &data) {
    body.member("MET_SERNUM", shape.ser_num);
    const auto num_param_slot = body.defer_member(answer::kCountMemberRoom);
    if (shape.echo != nullptr) {
        body.member("DIR_NAME", shape.echo->dir_name);
        body.member("FILE_NAME", shape.echo->file_name);
        body.member("VIEW_TYPE", shape.echo->view_type);
    }
    const auto num_entries_slot = body.defer_member(answer::kCountMemberRoom);

    // Names that fill the text must still leave room for the data list
    // (empty then), so the answer keeps every member.
    const auto data_list_room = body.hold_member_room(shape.data_key, answer::layout::kRowList);
    std::size_t named = 0;
    if (body.open_member("PARAM_LIST", answer::layout::kNameLine)) {
        for (const auto &column : data.selected) {
            if (!body.element(data.entries[column.entry].assign)) break;
            ++named;
        }
        body.close();
    }
    body.release(data_list_room);
    // The names are known: their count goes in place now, before the records.
    body.expect(num_param_slot, kNumParam, static_cast<long long>(named));
    // Records carry the named columns only, so that NUM_PARAM, PARAM_LIST
    // and every record agree even when the names did not all fit.
    const auto named_columns = data.selected.first(named);
    echo_names(named_columns, data.entries);

    std::size_t listed = 0;
    if (body.open_member(shape.data_key, answer::layout::kRowList)) {
        if (data.file != nullptr) listed = write_records(body, *data.file, named_columns, num_entries_slot);
        body.close();
    }
    // Both counts stand in place already, unless the records were none or
    // fewer (or more) digits than expected.
    body.fill(num_param_slot, kNumParam, static_cast<long long>(named));
    body.fill(num_entries_slot, kNumEntries, static_cast<long long>(listed));
}

int send_without_data(std::string_view type, int seq_num, const BodyShape &shape) {
    answer::Answer answer(type, seq_num);
    answer.fail();
    write_body(answer.body(), shape, {nullptr, {}, {}});
    return answer.send();
}

}  // namespace dcu::profile
