// Two further handlers of the on-demand event request, which the host may
// call in place of send_od_event_det:
//
// - send_od_event_det11 sends the same OD_EVENT answer and reports each step
//   of its work on standard output;
// - send_od_event_det1 sends nothing: it prints the selected columns of the
//   event file on standard output, for inspection on the unit.
//
// Both read the "EventParams" section of the event selection file and the
// file event_<type> of the meter's directory.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/paths.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "reqhandlers/column_selection.hpp"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/data_tree.hpp"
#include "reqhandlers/entry_guard.hpp"
#include "reqhandlers/meter_lookup.hpp"
#include "reqhandlers/ondemand_rel.hpp"
#include "reqhandlers/profile_answer.hpp"

namespace dcu::profiles {

namespace {

void print_request(const char *ser_num, uint8_t event_type) {
    std::printf("Recv od event command for ser_num : %s, event_type : %d\n", ser_num, event_type);
}

// The event file, relative to the data root.
std::string event_file(const meters::Position &meter, uint8_t event_type) {
    return data_file::meter_directory_name(meter.number()) + "/" + event_file_name(event_type);
}

void print_text(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// The detailed report of the column selection. A selected column's name is
// its entry's obis.
void print_selection_steps(const selection::Selection &selection,
                           const std::vector<columns::SelectedColumn> &selected) {
    for (const auto &match : selected) {
        const selection::Entry &entry = selection.entries[match.entry];
        std::printf("Idx : %d, Obis found in org obis list at pos : %d\n", static_cast<int>(match.column),
                    static_cast<int>(match.entry));
        print_text(entry.obis);
        std::fputc('\t', stdout);
        print_text(entry.obis);
        std::fputc('\t', stdout);
        print_text(entry.assign);
        std::fputc('\n', stdout);
    }
    std::printf("total number of  obis match from org file : %d\n", static_cast<int>(selected.size()));
    for (const auto &match : selected) std::printf("%d\t", static_cast<int>(match.column));
    std::fputc('\n', stdout);
}

// ser_num may be null (no meter has it); the answer then echoes it as "".
int answer_detailed(int seq_num, const char *ser_num, uint8_t event_type) {
    const profile::BodyShape shape{ser_num != nullptr ? ser_num : "", nullptr, kEvent.data_key};
    const auto meter = meters::resolve(ser_num);
    if (!meter) {
        profile::send_without_data(kEvent.type, seq_num, shape);
        return 0;
    }
    const selection::Selection selection =
        selection::load(paths::on_unit(paths::kEventSelection), kEvent.section, selection::messages::kEventDetail);

    data_file::DataFile file;
    if (!file.open(event_file(*meter, event_type))) {
        profile::send_without_data(kEvent.type, seq_num, shape);
        return 0;
    }
    // The progress lines come in the order of a reading in three passes:
    // header, selection, line count, records.
    const data_file::Header header = file.read_header(selection.entries);
    std::printf("total avl obis is in org file : %d\n", static_cast<int>(header.columns));
    print_selection_steps(selection, header.selected);
    const std::size_t lines = (header.present ? 1 : 0) + file.count_records();
    std::printf("total number of  obis line in  org event file : %d\n", static_cast<int>(lines));
    std::puts("Getting line by line details from file");

    answer::Answer answer(kEvent.type, seq_num);
    profile::write_body(answer.body(), shape, {&file, header.selected, selection.entries});
    // Selection file problems leave this answer "SUCCESS"; a selection
    // refused for a count beyond 255 does not, nor does a read that failed.
    if (selection.refused || file.read_error() != 0) answer.fail();
    answer.send();
    return 0;
}

// Prints one line of the dump as it streams by: the selected columns'
// values, each but the last selected column's followed by a comma. A column
// the line is too short to hold prints nothing at all.
class DumpLine {
public:
    explicit DumpLine(std::span<const columns::SelectedColumn> selected) : selected_(selected) {}

    data_file::Want want(std::size_t column) const {
        if (next_ == selected_.size()) return data_file::Want::nothing_more;
        return selected_[next_].column == column ? data_file::Want::value : data_file::Want::skip;
    }
    void value(std::string_view bytes) {
        print_text(bytes);
        end_item();
    }
    void piece(std::string_view bytes) { print_text(bytes); }
    bool enough() const noexcept { return false; }  // every byte is printed
    void value_end() { end_item(); }
    // After the line: the columns it did not reach print nothing.
    void finish() { next_ = 0; }

private:
    void end_item() {
        if (next_ + 1 != selected_.size()) std::fputc(',', stdout);
        ++next_;
    }

    std::span<const columns::SelectedColumn> selected_;
    std::size_t next_ = 0;
};

// The dump: one item per selected column of every line, the header line's
// items being the display names; each item but a line's last is followed by
// a comma, and nothing separates the lines. Streamed to the end of the file.
void print_dump(data_file::DataFile &file, const data_file::Header &header, const selection::Selection &selection) {
    if (!header.present || header.selected.empty()) return;
    const std::size_t last = header.selected.size() - 1;
    for (std::size_t j = 0; j < header.selected.size(); ++j) {
        print_text(selection.entries[header.selected[j].entry].assign);
        if (j != last) std::fputc(',', stdout);
    }
    DumpLine line(header.selected);
    while (file.scanner().scan_line(line)) line.finish();
}

int dump(const char *ser_num, uint8_t event_type) {
    const auto meter = meters::resolve(ser_num);
    if (!meter) {
        std::printf("Recv MeterSerNum : %s Not Found\n", ser_num != nullptr ? ser_num : "");
        return 0;
    }
    const selection::Selection selection =
        selection::load(paths::on_unit(paths::kEventSelection), kEvent.section, selection::messages::kEventDetail);

    const std::string tree_path = event_file(*meter, event_type);
    data_file::DataFile file;
    if (!file.open(tree_path)) {
        const int error = errno;
        std::printf("Can't open event data file : %s, error : %s\n", data_tree::named_path(tree_path).c_str(),
                    std::strerror(error));
        return 0;
    }
    const data_file::Header header = file.read_header(selection.entries);
    std::printf("Total params avaible : %d, in event type %d file\n", static_cast<int>(header.columns), event_type);
    const std::size_t lines = (header.present ? 1 : 0) + file.count_records();
    std::printf("Total Line avaible : %d, in event type %d file\n", static_cast<int>(lines), event_type);
    for (const auto &match : header.selected) {
        const std::string &obis = selection.entries[match.entry].obis;
        print_text(obis);
        std::fputc('\t', stdout);
        print_text(obis);
        std::fputc('\n', stdout);
    }
    print_dump(file, header, selection);
    return 0;
}

}  // namespace

}  // namespace dcu::profiles

extern "C" int send_od_event_det11(int seq_num, const char *ser_num, uint8_t event_type) {
    using namespace dcu;
    const char *ser_num_text = ser_num != nullptr ? ser_num : "";
    profiles::print_request(ser_num_text, event_type);
    return entry::guarded([&] { return profiles::answer_detailed(seq_num, ser_num, event_type); },
                          [&] {
                              profile::send_without_data(profiles::kEvent.type, seq_num,
                                                         {ser_num_text, nullptr, profiles::kEvent.data_key});
                              return 0;
                          });
}

extern "C" int send_od_event_det1(int seq_num, const char *ser_num, uint8_t event_type) {
    using namespace dcu;
    (void)seq_num;  // the dump answers nobody
    const char *ser_num_text = ser_num != nullptr ? ser_num : "";
    profiles::print_request(ser_num_text, event_type);
    return entry::guarded([&] { return profiles::dump(ser_num, event_type); }, [] { return 0; });
}
