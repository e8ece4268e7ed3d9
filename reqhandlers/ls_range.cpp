// The head-end's request to read a meter's load-survey profile over a time
// range becomes a command hash for the unit's meter-reading process,
// "Port<p>Met<m>OdLsCmd". Nothing is answered: the meter-reading process acts
// on the hash, and its files are listed later by the on-demand file list.
#include <cstdint>
#include <cstring>

#include "common/store.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/meter_lookup.hpp"

namespace dcu::ls_range {

namespace {

// A time stamp as the command fields take it. Bytes 4 and 5 of the record
// carry nothing for this command.
struct RangeEnd {
    int day;
    int month;
    int year;
    int hour;
    int minute;
};

RangeEnd range_end_of(const ls_time_stamp &stamp) noexcept {
    // The year is little-endian in the record whatever the host's byte order.
    unsigned char bytes[sizeof stamp];
    std::memcpy(bytes, &stamp, sizeof stamp);
    const int year = bytes[6] | (bytes[7] << 8);
    return {bytes[0], bytes[1], year, bytes[2], bytes[3]};
}

void write_command(const meters::Position &at, const RangeEnd &start, const RangeEnd &end) {
    // One round trip; the pending flag goes first, before the range fields.
    store::Pipeline pipeline;
    pipeline.append("hmset Port%dMet%dOdLsCmd NeedToRead %d", at.port, at.meter, 1);
    pipeline.append("hmset Port%dMet%dOdLsCmd Day %d Mon %d Year %d Hour %d Min %d", at.port, at.meter, start.day,
                    start.month, start.year, start.hour, start.minute);
    pipeline.append("hmset Port%dMet%dOdLsCmd Day2 %d Mon2 %d Year2 %d Hour2 %d Min2 %d", at.port, at.meter, end.day,
                    end.month, end.year, end.hour, end.minute);
    // The replies say nothing the handler acts on; each is released in turn.
    for (int i = 0; i < 3; ++i) pipeline.next();
}

}  // namespace

}  // namespace dcu::ls_range

extern "C" void send_od_ls_range_det(int /*seq_num*/, const char *ser_num, ls_time_stamp start, ls_time_stamp end) {
    using namespace dcu;
    try {
        // A serial number no meter has gets no command: the hash would belong to no meter.
        const auto at = meters::resolve(ser_num);
        if (!at) return;
        ls_range::write_command(*at, ls_range::range_end_of(start), ls_range::range_end_of(end));
    } catch (...) {
        // Nothing may cross into the C host; the request is simply not handed on.
    }
}
