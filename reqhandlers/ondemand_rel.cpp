// On-demand profiles of one meter: OD_BILLING, OD_MID_NIGHT and OD_EVENT.
//
// The handler finds the meter by its serial number, names the profile's file
// in the meter's directory and hands over to send_od_det, which answers with
// the file's records reduced to the columns of the user's selection (the
// "BillParams", "MNParams" or "EventParams" section of the event selection
// file).
#include "reqhandlers/ondemand_rel.hpp"

#include <cstdio>

#include "common/paths.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/entry_guard.hpp"
#include "reqhandlers/meter_lookup.hpp"
#include "reqhandlers/profile_answer.hpp"

namespace dcu::profiles {

namespace {

// Answers for the meter whose serial number is ser_num, from the file named
// file_name in its directory. A serial number that no meter has is answered
// with "FAILURE" and nothing is read.
int answer_profile(int seq_num, const char *ser_num_or_null, const Profile &profile, const std::string &file_name) {
    const std::string_view ser_num = ser_num_or_null != nullptr ? ser_num_or_null : "";
    const profile::BodyShape shape{ser_num, nullptr, profile.data_key};
    return entry::guarded(
        [&] {
            const auto meter = meters::resolve(ser_num_or_null);
            if (!meter) {
                profile::send_without_data(profile.type, seq_num, shape);
                return 0;
            }
            const std::string data_path = data_file::meter_directory_name(meter->number()) + "/" + file_name;
            return send_od_det(seq_num, ser_num, paths::on_unit(paths::kEventSelection), profile.section, data_path,
                               profile.type, profile.data_key);
        },
        [&] {
            profile::send_without_data(profile.type, seq_num, shape);
            return 0;
        });
}

}  // namespace

int send_od_det(int seq_num, std::string_view ser_num, const std::string &selection_path, std::string_view section,
                std::string_view data_tree_path, std::string_view type, std::string_view data_key) {
    const selection::Selection selection = selection::load(selection_path, section, selection::messages::kProfile);
    data_file::DataFile file;
    const bool opened = file.open(data_tree_path);
    const data_file::Header header = file.read_header(selection.entries);

    answer::Answer answer(type, seq_num);
    profile::write_body(answer.body(), {ser_num, nullptr, data_key}, {&file, header.selected, selection.entries});
    if (selection.failed() || !opened || file.read_error() != 0) answer.fail();
    answer.send();
    return 0;
}

}  // namespace dcu::profiles

extern "C" int send_od_billing_det(int seq_num, const char *ser_num) {
    using namespace dcu::profiles;
    return answer_profile(seq_num, ser_num, kBilling, "billing");
}

extern "C" int send_od_midnight_det(int seq_num, const char *ser_num, uint8_t month, uint16_t year) {
    using namespace dcu::profiles;
    char name[16];
    std::snprintf(name, sizeof name, "dp_%02d_%04d", month, year);
    return answer_profile(seq_num, ser_num, kMidnight, name);
}

extern "C" int send_od_event_det(int seq_num, const char *ser_num, uint8_t event_type) {
    using namespace dcu::profiles;
    return answer_profile(seq_num, ser_num, kEvent, event_file_name(event_type));
}
