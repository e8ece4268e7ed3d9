// Listings of the data tree, so that the head-end can browse it before it
// asks for a file's content: the files of one kind in a meter's directory
// (GET_BILL_FILE_LIST, GET_DP_FILE_LIST, GET_EVENT_FILE_LIST,
// GET_LS_FILE_LIST), the on-demand load-survey files that the meter-reading
// process has recorded in the store (GET_OD_LS_FILE_LIST), and the meter
// directories (GET_DIR_LIST).
//
// Kinds are told apart by what the names hold: "bill", "dp", "event"; a
// load-survey file is any entry that holds none of the three. Lists follow
// the directory's own order and hold every entry that fits the answer.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/paths.hpp"
#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/data_tree.hpp"
#include "reqhandlers/dir_walker.hpp"
#include "reqhandlers/entry_guard.hpp"
#include "reqhandlers/meter_lookup.hpp"

namespace dcu::listings {

namespace {

// A meter's directory, named like the answer's DIR_NAME, opened only inside the data tree.
struct MeterDirectory {
    std::string name;
};

struct FileKind {
    std::string_view type;
    std::string_view filter;  // a listed name holds it; empty admits every name
    bool load_survey;         // also leave out every billing, daily-profile and event file
};

constexpr FileKind kLsFiles{"GET_LS_FILE_LIST", "", true};
constexpr FileKind kEventFiles{"GET_EVENT_FILE_LIST", "event", false};
constexpr FileKind kDpFiles{"GET_DP_FILE_LIST", "dp", false};
constexpr FileKind kBillFiles{"GET_BILL_FILE_LIST", "bill", false};

bool holds(std::string_view name, std::string_view part) { return name.find(part) != std::string_view::npos; }

bool admitted(std::string_view name, const FileKind &kind) {
    if (!holds(name, kind.filter)) return false;
    return !kind.load_survey || !(holds(name, "bill") || holds(name, "dp") || holds(name, "event"));
}

// Writes the count member and the list of every name that fits; the count
// is what was listed.
void write_names(answer::TextBuilder &body, std::string_view count_key, std::string_view list_key,
                 const answer::Layout &layout, std::span<const std::string> names) {
    const auto count_slot = body.defer_member(answer::kCountMemberRoom);
    long long listed = 0;
    if (body.open_member(list_key, layout)) {
        for (const auto &name : names) {
            if (!body.element(name)) break;
            ++listed;
        }
        body.close();
    }
    body.fill(count_slot, count_key, listed);
}

// A per-kind or on-demand list; CMD_STATUS "FAILURE" when failed.
void send_file_list(std::string_view type, int seq_num, std::string_view dir_name, const answer::Layout &layout,
                    std::span<const std::string> names, bool failed) {
    answer::Answer answer(type, seq_num);
    if (failed) answer.fail();
    answer.body().member("DIR_NAME", dir_name);
    write_names(answer.body(), "NUM_FILES", "FILE_LIST", layout, names);
    answer.send();
}

void print_opendir_failure(int error) { std::printf("Failed to opendir %s\n", std::strerror(error)); }

// The common worker of the per-kind lists. Without a directory (no meter
// has the serial number) nothing is read. A directory that can't be read is
// answered with "FAILURE" and -1 is returned; else 0.
int send_file_list_det(int seq_num, const FileKind &kind, const std::optional<MeterDirectory> &directory) {
    if (kind.load_survey) std::puts("This time need to send ls files only");
    if (!directory) {
        send_file_list(kind.type, seq_num, "", answer::layout::kEntryLine, {}, true);
        return 0;
    }
    // A directory that a link leads out of the data tree can't be opened either.
    const auto entries = dir_walker::entry_names(data_tree::open_directory(directory->name));
    if (!entries) {
        print_opendir_failure(errno);
        send_file_list(kind.type, seq_num, directory->name, answer::layout::kEntryLine, {}, true);
        return -1;
    }
    std::vector<std::string> names;
    for (const auto &name : *entries)
        if (admitted(name, kind)) names.push_back(name);
    send_file_list(kind.type, seq_num, directory->name, answer::layout::kEntryLine, names, false);
    return 0;
}

int list_files(int seq_num, const char *ser_num, const FileKind &kind) {
    return entry::guarded(
        [&] {
            std::optional<MeterDirectory> directory;
            if (const auto meter = meters::resolve(ser_num))
                directory = MeterDirectory{data_file::meter_directory_name(meter->number())};
            send_file_list_det(seq_num, kind, directory);
            return 0;
        },
        [&] {
            send_file_list(kind.type, seq_num, "", answer::layout::kEntryLine, {}, true);
            return 0;
        });
}

constexpr std::string_view kOdLsType = "GET_OD_LS_FILE_LIST";

int list_od_ls_files(int seq_num, const char *ser_num) {
    const auto meter = meters::resolve(ser_num);
    if (!meter) {
        send_file_list(kOdLsType, seq_num, "", answer::layout::kInlineList, {}, true);
        return 0;
    }
    // The hash's field names are free; each value names one file, in the
    // store's order of the fields.
    std::vector<std::string> names;
    bool failed = false;
    {
        const store::Reply reply =
            store::command("hgetall %s", unit_keys::Key(unit_keys::kOdLsFiles, meter->port, meter->meter).c_str());
        // No reply at all is a failure; an error reply (a key of another type)
        // is a hash without fields, like a missing one.
        failed = !reply.arrived();
        const std::size_t elements = reply.element_count();
        std::printf("Total num of od files : %d\n", static_cast<int>(elements));
        for (std::size_t i = 1; i < elements; i += 2) {
            const auto value = reply.element_text(i);
            if (!value) continue;
            std::fwrite(value->data(), 1, value->size(), stdout);
            std::fputc('\n', stdout);
            names.emplace_back(*value);
        }
    }
    send_file_list(kOdLsType, seq_num, data_file::meter_directory_name(meter->number()), answer::layout::kInlineList,
                   names, failed);
    return 0;
}

int list_meter_directories(int seq_num) {
    // The header comes first: a data root that can't be read leaves it in
    // json_text, unsent, rather than the previous answer.
    answer::Answer answer("GET_DIR_LIST", seq_num);
    const auto entries = dir_walker::entry_names(paths::on_unit(paths::kDataRoot));
    if (!entries) {
        print_opendir_failure(errno);
        return -1;
    }
    std::vector<std::string> names;
    for (const auto &name : *entries)
        if (holds(name, "meter_id")) names.push_back(name);
    write_names(answer.body(), "NUM_DIRS", "DIR_LIST", answer::layout::kEntryLine, names);
    answer.send();
    return 0;
}

}  // namespace

}  // namespace dcu::listings

extern "C" int send_ls_file_list_det(int seq_num, const char *ser_num) {
    return dcu::listings::list_files(seq_num, ser_num, dcu::listings::kLsFiles);
}

extern "C" int send_event_file_list_det(int seq_num, const char *ser_num) {
    return dcu::listings::list_files(seq_num, ser_num, dcu::listings::kEventFiles);
}

extern "C" int send_dp_file_list_det(int seq_num, const char *ser_num) {
    return dcu::listings::list_files(seq_num, ser_num, dcu::listings::kDpFiles);
}

extern "C" int send_bill_file_list_det(int seq_num, const char *ser_num) {
    return dcu::listings::list_files(seq_num, ser_num, dcu::listings::kBillFiles);
}

extern "C" int send_od_ls_file_list_det(int seq_num, const char *ser_num) {
    using namespace dcu::listings;
    return dcu::entry::guarded([&] { return list_od_ls_files(seq_num, ser_num); },
                               [&] {
                                   send_file_list(kOdLsType, seq_num, "", dcu::answer::layout::kInlineList, {}, true);
                                   return 0;
                               });
}

extern "C" int send_dir_list_det(int seq_num) {
    using namespace dcu;
    return entry::guarded([&] { return listings::list_meter_directories(seq_num); },
                          [&] {
                              answer::Answer answer("GET_DIR_LIST", seq_num);
                              answer.fail();
                              listings::write_names(answer.body(), "NUM_DIRS", "DIR_LIST", answer::layout::kEntryLine,
                                                    {});
                              answer.send();
                              return 0;
                          });
}
