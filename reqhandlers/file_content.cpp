// Contents of one named data file of the data tree, reduced to the columns
// of the user's selection for its kind: GET_EVENT_FILE_CONTENT,
// GET_BILL_FILE_CONTENT (billing and daily-profile files alike) and
// GET_LS_FILE_CONTENT.
//
// The file is addressed by the directory and file names of the request
// alone; the serial number is only echoed. Names that would leave the data
// tree (empty, absolute, or with a ".." component) are refused, and so is a
// path that a symbolic link leads out of the tree.
#include <cstdio>

#include "common/paths.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/data_tree.hpp"
#include "reqhandlers/entry_guard.hpp"
#include "reqhandlers/ondemand_rel.hpp"
#include "reqhandlers/profile_answer.hpp"

namespace dcu::profiles {

namespace {

constexpr std::string_view kFileDataKey = "FILE_DATA";

struct ContentKind {
    std::string_view selection_path;
    std::string_view section;
    std::string_view type;
};

constexpr ContentKind kEventContent{paths::kEventSelection, "EventParams", "GET_EVENT_FILE_CONTENT"};
constexpr ContentKind kBillContent{paths::kBillSelection, "BillParams", "GET_BILL_FILE_CONTENT"};
constexpr ContentKind kDpContent{paths::kDpSelection, "MNParams", "GET_BILL_FILE_CONTENT"};
constexpr ContentKind kLsContent{paths::kLsSelection, "LSParams", "GET_LS_FILE_CONTENT"};

// A relative name that stays below the directory it is joined to.
bool stays_inside(std::string_view name) {
    if (name.empty() || name.front() == '/') return false;
    while (!name.empty()) {
        const std::size_t slash = name.find('/');
        if (name.substr(0, slash) == "..") return false;
        if (slash == std::string_view::npos) break;
        name.remove_prefix(slash + 1);
    }
    return true;
}

struct ContentRequest {
    int seq_num;
    std::string_view ser_num;
    profile::ContentEcho echo;
};

void print_refusal(const ContentRequest &request) {
    std::printf("Refused data file path : %.*s/%.*s\n", static_cast<int>(request.echo.dir_name.size()),
                request.echo.dir_name.data(), static_cast<int>(request.echo.file_name.size()),
                request.echo.file_name.data());
}

int answer_content(const ContentKind &kind, const ContentRequest &request) {
    const profile::BodyShape shape{request.ser_num, &request.echo, kFileDataKey};
    return entry::guarded(
        [&] {
            const auto refuse = [&] {
                print_refusal(request);
                profile::send_without_data(kind.type, request.seq_num, shape);
                return 0;
            };
            if (!stays_inside(request.echo.dir_name) || !stays_inside(request.echo.file_name)) return refuse();
            const std::string tree_path = std::string(request.echo.dir_name) + "/" + std::string(request.echo.file_name);
            // Names that stay inside may still lead out through a link.
            if (data_tree::resolve(tree_path).place == data_tree::Place::outside) return refuse();
            send_file_content_det(request.seq_num, request.ser_num, paths::on_unit(kind.selection_path), kind.section,
                                  tree_path, request.echo, kind.type);
            return 0;
        },
        [&] {
            profile::send_without_data(kind.type, request.seq_num, shape);
            return 0;
        });
}

std::string_view text_of(const char *text) { return text != nullptr ? text : ""; }

}  // namespace

void send_file_content_det(int seq_num, std::string_view ser_num, const std::string &selection_path,
                           std::string_view section, std::string_view data_tree_path,
                           const profile::ContentEcho &echo, std::string_view type) {
    const selection::Selection selection = selection::load(selection_path, section, selection::messages::kFileContent);
    std::printf("Opening Data file : %s\n", data_tree::named_path(data_tree_path).c_str());
    data_file::DataFile file;
    const bool opened = file.open(data_tree_path);
    const data_file::Header header = file.read_header(selection.entries);
    // The count comes before the records: one pass that only counts line ends.
    std::printf("total number of line in  org file : %d\n", static_cast<int>(file.count_records()));

    answer::Answer answer(type, seq_num);
    profile::write_body(answer.body(), {ser_num, &echo, kFileDataKey}, {&file, header.selected, selection.entries});
    if (selection.failed() || !opened || file.read_error() != 0) answer.fail();
    answer.send();
}

}  // namespace dcu::profiles

namespace {

int content(const dcu::profiles::ContentKind &kind, int seq_num, const char *ser_num, const char *dir_name,
            const char *file_name, const char *view_type) {
    using dcu::profiles::text_of;
    return dcu::profiles::answer_content(
        kind, {seq_num, text_of(ser_num), {text_of(dir_name), text_of(file_name), text_of(view_type)}});
}

}  // namespace

extern "C" int send_event_file_content(int seq_num, const char *ser_num, const char *dir_name, const char *file_name,
                                       const char *view_type) {
    return content(dcu::profiles::kEventContent, seq_num, ser_num, dir_name, file_name, view_type);
}

extern "C" int send_bill_file_content(int seq_num, const char *ser_num, const char *dir_name, const char *file_name,
                                      const char *view_type) {
    return content(dcu::profiles::kBillContent, seq_num, ser_num, dir_name, file_name, view_type);
}

extern "C" int send_dp_file_content(int seq_num, const char *ser_num, const char *dir_name, const char *file_name,
                                    const char *view_type) {
    return content(dcu::profiles::kDpContent, seq_num, ser_num, dir_name, file_name, view_type);
}

extern "C" int send_ls_file_content(int seq_num, const char *ser_num, const char *dir_name, const char *file_name,
                                    const char *view_type) {
    return content(dcu::profiles::kLsContent, seq_num, ser_num, dir_name, file_name, view_type);
}
