// The head-end's request to read a meter's load-survey profile over a time
// range becomes a command hash for the unit's meter-reading process,
// "Port<p>Met<m>OdLsCmd". Nothing is answered: the meter-reading process acts
// on the hash, and its files are listed later by the on-demand file list.
//
// The pending flag and the range are written in one transaction, so the
// meter-reading process never sees NeedToRead 1 beside the range of an
// earlier request, and a connection lost part-way writes nothing at all.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "common/civil_time.hpp"
#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/entry_guard.hpp"
#include "reqhandlers/meter_lookup.hpp"

namespace dcu::ls_range {

namespace {

using RangeEnd = civil::Minute;

// A time stamp as the command fields take it. Bytes 4 and 5 of the record
// carry nothing for this command.
RangeEnd range_end_of(const ls_time_stamp &stamp) noexcept {
    // The year is little-endian in the record whatever the host's byte order.
    unsigned char bytes[sizeof stamp];
    std::memcpy(bytes, &stamp, sizeof stamp);
    const int year = bytes[6] | (bytes[7] << 8);
    return {year, bytes[1], bytes[0], bytes[2], bytes[3]};
}

// The meter-reading process would read a range from a time that no clock
// shows (31 February, 24:00, month 13): such a command is never stored.
bool refuse_impossible(const char *which, const RangeEnd &t) {
    if (civil::exists(t)) return false;
    std::printf("Od ls range %s time %04d-%02d-%02d %02d:%02d does not exist, command not written\n", which, t.year,
                t.month, t.day, t.hour, t.minute);
    return true;
}

constexpr std::size_t kWrites = 3;

// What became of the command, as EXEC tells it: one reply per write, a null
// when the store discarded the transaction, nothing when the connection
// failed (the store may or may not have run it then).
struct Outcome {
    std::string_view verdict;  // empty: stored
    std::string reason;
};

Outcome outcome_of(const store::Reply &exec) {
    if (!exec.arrived()) return {"not confirmed", store::bound_connection().error_text()};
    if (exec.is_error()) return {"not stored", exec.get()->str};
    if (exec.element_count() != kWrites) return {"not stored", "transaction discarded"};
    for (std::size_t i = 0; i < kWrites; ++i) {
        const redisReply *write = exec.get()->element[i];
        if (write->type == REDIS_REPLY_ERROR) return {"not stored", write->str};
    }
    return {};
}

void append_range_end(store::Pipeline &pipeline, const unit_keys::Key &key, const unit_keys::TimeFields &fields,
                      const RangeEnd &t) {
    pipeline.append("hmset %s %s %d %s %d %s %d %s %d %s %d", key.c_str(), fields.day, t.day, fields.month, t.month,
                    fields.year, t.year, fields.hour, t.hour, fields.minute, t.minute);
}

// One round trip; the pending flag goes first, before the range fields.
Outcome write_command(const unit_keys::Key &key, const RangeEnd &start, const RangeEnd &end) {
    store::Pipeline pipeline;
    pipeline.append("MULTI");
    pipeline.append("hmset %s %s %d", key.c_str(), unit_keys::kNeedToReadField, 1);
    append_range_end(pipeline, key, unit_keys::kRangeStartFields, start);
    append_range_end(pipeline, key, unit_keys::kRangeEndFields, end);
    pipeline.append("EXEC");
    // MULTI's OK and the writes' QUEUED say nothing: EXEC tells the outcome.
    for (std::size_t i = 0; i < 1 + kWrites; ++i) pipeline.next();
    return outcome_of(pipeline.next());
}

}  // namespace

}  // namespace dcu::ls_range

extern "C" void send_od_ls_range_det(int seq_num, const char *ser_num, ls_time_stamp start, ls_time_stamp end) {
    using namespace dcu;
    // Nothing may cross into the C host; out of memory, the request is
    // simply not handed on.
    entry::guarded(
        [&] {
            // A serial number no meter has gets no command: the hash would belong to no meter.
            const auto at = meters::resolve(ser_num);
            if (!at) return 0;
            const auto from = ls_range::range_end_of(start), to = ls_range::range_end_of(end);
            if (ls_range::refuse_impossible("start", from) || ls_range::refuse_impossible("end", to)) return 0;
            const unit_keys::Key key(unit_keys::kOdLsCommand, at->port, at->meter);
            const auto outcome = ls_range::write_command(key, from, to);
            // Nothing answers this request: the host's log is the one place
            // where a command the head-end believes handed on can show as lost.
            if (!outcome.verdict.empty())
                dbg_log(0, "%-20s : Range command of SEQ_NUM %d for %s %.*s: %s\n", "send_od_ls_range_det()", seq_num,
                        key.c_str(), static_cast<int>(outcome.verdict.size()), outcome.verdict.data(),
                        outcome.reason.c_str());
            return 0;
        },
        [] { return 0; });
}
