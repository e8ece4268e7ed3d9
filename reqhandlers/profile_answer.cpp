#include "reqhandlers/profile_answer.hpp"

#include <charconv>
#include <cstdio>
#include <vector>

#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"

namespace dcu::profile {

namespace {

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

// Writes every record that fits whole; returns how many were written.
std::size_t write_records(answer::TextBuilder &body, data_file::DataFile &file,
                          std::span<const columns::SelectedColumn> columns) {
    std::vector<ValueKey> key_texts;
    std::vector<std::string_view> keys;
    std::vector<std::size_t> wanted;  // header order, so ascending
    key_texts.reserve(columns.size());
    for (std::size_t j = 0; j < columns.size(); ++j) {
        key_texts.emplace_back(j);
        wanted.push_back(columns[j].column);
    }
    for (const auto &key : key_texts) keys.push_back(key.view());

    std::vector<std::string_view> values;
    std::size_t listed = 0;
    // A record reported too large keeps more bytes than the answer has room
    // for, so the builder refuses it like any record that does not fit.
    while (file.next_record(wanted, room_for_values(body), values) != data_file::DataFile::Record::none) {
        if (!body.object_element(answer::layout::kInlineObject, keys, values)) break;
        ++listed;
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
    // Records carry the named columns only, so that NUM_PARAM, PARAM_LIST
    // and every record agree even when the names did not all fit.
    const auto named_columns = data.selected.first(named);
    echo_names(named_columns, data.entries);

    std::size_t listed = 0;
    if (body.open_member(shape.data_key, answer::layout::kRowList)) {
        if (data.file != nullptr) listed = write_records(body, *data.file, named_columns);
        body.close();
    }
    // Both counts go in place when the answer is finished, in one move of
    // the records.
    body.fill(num_param_slot, "NUM_PARAM", static_cast<long long>(named));
    body.fill(num_entries_slot, "NUM_ENTRIES", static_cast<long long>(listed));
}

int send_without_data(std::string_view type, int seq_num, const BodyShape &shape) {
    answer::Answer answer(type, seq_num);
    answer.fail();
    write_body(answer.body(), shape, {nullptr, {}, {}});
    return answer.send();
}

}  // namespace dcu::profile
