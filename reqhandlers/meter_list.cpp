// GET_METER_SER_LIST: the serial numbers stored for the 20 meter positions.
#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "reqhandlers/entry_guard.hpp"
#include "reqhandlers/meter_lookup.hpp"

namespace {

void send_meter_list(int seq_num) {
    using namespace dcu;
    answer::Answer answer("GET_METER_SER_LIST", seq_num);
    auto &body = answer.body();
    // One read of the positions feeds both the count and the list.
    const auto serials = meters::read_serial_numbers();
    const auto count_slot = body.defer_member(answer::kCountMemberRoom);
    body.open_member("MET_LIST", answer::layout::kEntryLine);
    long long listed = 0;
    // A lost connection is no empty unit: the answer says it failed.
    if (!serials.all_replied) answer.fail();
    for (const auto &serial : serials.texts) {
        if (!serial) continue;
        if (!body.element(*serial)) break;
        ++listed;
    }
    body.close();
    body.fill(count_slot, "NUM_MET", listed);
    answer.send();
}

}  // namespace

extern "C" int send_met_ser_num_det(int seq_num) {
    // Out of memory part way: still exactly one answer, which says so.
    dcu::entry::guarded(
        [&] {
            send_meter_list(seq_num);
            return 0;
        },
        [&] {
            dcu::answer::Answer answer("GET_METER_SER_LIST", seq_num);
            answer.fail();
            return answer.send();
        });
    return 0;
}
