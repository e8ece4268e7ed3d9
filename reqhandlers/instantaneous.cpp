// OD_INST: the last instantaneous readings of one meter, reduced to the
// parameters the user selected ("InstParams" of the instantaneous selection
// file) and named by the user's display names, with the meter's
// communication status.
//
// The unit's meter-reading process keeps the readings in "Port<p>Met<m>inst_info":
// NUM_PARAM, then Obis_k and Value_k for k from 1. The join is by OBIS code, in
// selection order; a selected code the meter did not give answers "NA".
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/paths.hpp"
#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "reqhandlers/entry_guard.hpp"
#include "reqhandlers/decimal_text.hpp"
#include "reqhandlers/meter_lookup.hpp"
#include "reqhandlers/selection.hpp"

namespace dcu::instantaneous {

namespace {

constexpr std::string_view kType = "OD_INST";
constexpr std::string_view kNotAvailable = "NA";
constexpr int kMaxReadings = 255;

struct Reading {
    std::string code;   // empty when the store gave none
    std::string value;
};

// The readings the meter's hash announces, or why there are none.
struct ReadingCount {
    int count = 0;
    bool refused = false;  // NUM_PARAM beyond 0 to 255: nothing is read
};

std::string_view text_or_empty(const char *text) { return text != nullptr ? std::string_view(text) : std::string_view(); }

// The word of a communication-status code: "No", "Yes", "Not Configured" or
// the empty word. The code is the value's decimal number as atoi reads it
// (no leading digits: 0), as the communication-status answer reads it; a
// code the table has no row for reads as the empty word.
std::string_view status_word(const store::Reply &reply) {
    int code = 0;  // no reply or no value: "No"
    if (auto text = reply.element_text(0)) code = decimal::atoi_value(*text);
    if (code < 0 || code >= DCU_COMM_STATUS_WORDS) return {};
    const char *word = g_comm_status_buff[code];
    return {word, ::strnlen(word, DCU_COMM_STATUS_WORD_SIZE)};
}

namespace keys = unit_keys;

ReadingCount read_count(const keys::Key &key) {
    ReadingCount result;
    store::Reply reply = store::command("HMGET %s %s", key.c_str(), keys::kReadingCountField);
    if (reply.arrived()) {
        if (auto text = reply.element_text(0)) {
            const int value = decimal::atoi_value(*text);
            if (value < 0 || value > kMaxReadings) {
                // Never wrapped to 8 bits: a count the table can't hold is refused.
                std::printf("NUM_PARAM %.*s from meter out of range 0 to %d\n", static_cast<int>(text->size()),
                            text->data(), kMaxReadings);
                result.refused = true;
            } else {
                result.count = value;
            }
        } else {
            std::puts("HMGET Failed to get NUM_PARAM");
        }
    }
    std::printf("total NUM_PARAM from meter : %d\n", result.count);
    return result;
}

// The meter's readings and its status word, in one round trip.
std::vector<Reading> read_readings_and_status(const keys::Key &key, int count, const meters::Position &at,
                                              std::string_view *status) {
    store::Pipeline pipeline;
    for (int k = 1; k <= count; ++k)
        pipeline.append("HMGET %s %s %s", key.c_str(), keys::Key(keys::kReadingObisField, k).c_str(),
                        keys::Key(keys::kReadingValueField, k).c_str());
    pipeline.append("HMGET %s %s", keys::Key(keys::kSerialStatus, at.port, at.meter).c_str(), keys::kStatusField);

    std::vector<Reading> readings(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        store::Reply reply = pipeline.next();
        if (!reply.arrived()) continue;  // no reply: the row stays empty, silently
        Reading &row = readings[static_cast<std::size_t>(i)];
        if (auto code = reply.element_text(0)) row.code = *code;
        else std::printf("HMGET Failed to get param obis for idx : %d\n", i);
        if (auto value = reply.element_text(1)) row.value = *value;
        else std::printf("HMGET Failed to get param value for idx : %d\n", i);
    }
    *status = status_word(pipeline.next());
    return readings;
}

// The value the meter gave for a code: the first reading with that code.
std::string_view value_for(const std::vector<Reading> &readings, std::string_view obis) {
    if (obis.empty()) return kNotAvailable;  // an empty code matches nothing
    for (const Reading &reading : readings)
        if (reading.code == obis) return reading.value;
    return kNotAvailable;
}

// The INST_PARAM list and the NUM_PARAM count before it. An element is listed
// whole or not at all, and the count is what was listed.
void write_parameters(answer::TextBuilder &body, const selection::Selection &selected,
                      const std::vector<Reading> &readings) {
    const auto count_slot = body.defer_member(answer::kCountMemberRoom);
    body.open_member("INST_PARAM", answer::layout::kRowList);
    long long listed = 0;
    for (const selection::Entry &entry : selected.entries) {
        const auto mark = body.mark();
        body.open_element(answer::layout::kObject);
        body.member("param", entry.assign);
        body.member("val", value_for(readings, entry.obis));
        body.close();
        if (body.failed_since(mark)) {
            body.rewind(mark);
            break;
        }
        ++listed;
    }
    body.close();
    body.fill(count_slot, "NUM_PARAM", listed);
}

// The answer when there is nothing to report: the envelope with CMD_STATUS
// "FAILURE", no status word and no parameters.
int send_empty_failure(int seq_num, std::string_view ser_num) {
    answer::Answer answer(kType, seq_num);
    answer.fail();
    auto &body = answer.body();
    body.member("MET_SERNUM", ser_num);
    body.member("COMM_STATUS", "");
    body.member("NUM_PARAM", 0);
    body.open_member("INST_PARAM", answer::layout::kRowList);
    body.close();
    answer.send();
    return 0;
}

int send_instantaneous(int seq_num, const char *ser_num_text) {
    const std::string_view ser_num = text_or_empty(ser_num_text);
    const auto at = meters::resolve(ser_num_text);
    if (!at) return send_empty_failure(seq_num, ser_num);

    // The header comes first, so that whatever fails later still gives a whole answer.
    answer::Answer answer(kType, seq_num);
    const keys::Key key(keys::kInstantReadings, at->port, at->meter);
    const ReadingCount count = read_count(key);
    std::string_view status;
    const auto readings = read_readings_and_status(key, count.count, *at, &status);
    const auto selected =
        selection::load(paths::on_unit(paths::kInstSelection), "InstParams", selection::messages::kInstant);

    // A missing or unreadable selection file only leaves the selection empty;
    // a count out of range, the meter's or the selection's, is a failure.
    if (count.refused || selected.refused) answer.fail();
    auto &body = answer.body();
    body.member("MET_SERNUM", ser_num);
    body.member("COMM_STATUS", status);
    write_parameters(body, selected, readings);
    answer.send();
    return 0;
}

}  // namespace

}  // namespace dcu::instantaneous

extern "C" int send_od_inst_det(int seq_num, const char *ser_num) {
    using namespace dcu::instantaneous;
    // Out of memory part way: still exactly one answer, which says so.
    return dcu::entry::guarded([&] { return send_instantaneous(seq_num, ser_num); },
                               [&] { return send_empty_failure(seq_num, text_or_empty(ser_num)); });
}
