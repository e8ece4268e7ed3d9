// OD_INST: the last instantaneous readings of one meter, reduced to the
// parameters the user selected ("InstParams" of the instantaneous selection
// file) and named by the user's display names, with the meter's
// communication status.
//
// The unit's meter-reading process keeps the readings in "Port<p>Met<m>inst_info":
// NUM_PARAM, then Obis_k and Value_k for k from 1. The join is by OBIS code, in
// selection order; a selected code the meter did not give answers "NA".
#include <algorithm>
#include <charconv>
#include <cstdint>
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

// Texts of the store's replies, which the answer keeps while it is written.
struct Reading {
    std::string_view code;  // empty when the store gave none
    std::string_view value;
};

struct Readings {
    std::vector<store::Reply> replies;  // what the texts below point into
    std::vector<Reading> rows;          // one per reading asked for, in order
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

// A field of a reading, "Obis_<k>" or "Value_<k>" by the key header's
// formats, with its number written in place of the format's "%d" without
// a printf per field (there are two per reading).
class NumberedField {
public:
    NumberedField(std::string_view format, int number) noexcept {
        const std::size_t conversion = format.find("%d");
        if (conversion == std::string_view::npos) {
            put(format);
            return;
        }
        put(format.substr(0, conversion));
        const auto result = std::to_chars(at_, end(), number);
        at_ = result.ec == std::errc{} ? result.ptr : at_;
        put(format.substr(conversion + 2));
    }
    const char *c_str() noexcept {
        *at_ = '\0';
        return text_;
    }

private:
    void put(std::string_view bytes) noexcept {
        const std::size_t size = std::min(bytes.size(), static_cast<std::size_t>(end() - at_));
        std::memcpy(at_, bytes.data(), size);
        at_ += size;
    }
    char *end() noexcept { return text_ + sizeof text_ - 1; }

    char text_[32];
    char *at_ = text_;
};

// The meter's readings and its status word, in one round trip. The texts
// stay in the replies they came in.
Readings read_readings_and_status(const keys::Key &key, int count, const meters::Position &at,
                                  std::string_view *status) {
    store::Pipeline pipeline;
    for (int k = 1; k <= count; ++k)
        pipeline.append("HMGET %s %s %s", key.c_str(), NumberedField(keys::kReadingObisField, k).c_str(),
                        NumberedField(keys::kReadingValueField, k).c_str());
    pipeline.append("HMGET %s %s", keys::Key(keys::kSerialStatus, at.port, at.meter).c_str(), keys::kStatusField);

    Readings readings;
    readings.replies.reserve(static_cast<std::size_t>(count));
    readings.rows.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        store::Reply reply = pipeline.next();
        if (!reply.arrived()) continue;  // no reply: the row stays empty, silently
        Reading &row = readings.rows[static_cast<std::size_t>(i)];
        if (auto code = reply.element_text(0)) row.code = *code;
        else std::printf("HMGET Failed to get param obis for idx : %d\n", i);
        if (auto value = reply.element_text(1)) row.value = *value;
        else std::printf("HMGET Failed to get param value for idx : %d\n", i);
        readings.replies.push_back(std::move(reply));
    }
    *status = status_word(pipeline.next());
    return readings;
}

// The first reading of each code, found in one pass over the readings and
// looked up in one step on average: the selection and the readings are
// joined in time proportional to their sum. An open table of row indexes,
// at most half full, by a hash of the code.
class FirstReadingByCode {
public:
    explicit FirstReadingByCode(const std::vector<Reading> &rows) : rows_(rows) {
        std::size_t size = 1;
        while (size < 2 * rows.size() + 1) size <<= 1;
        slots_.assign(size, kEmpty);
        mask_ = size - 1;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].code.empty()) continue;  // an empty code matches nothing
            std::uint32_t &slot = slots_[place(rows[i].code)];
            if (slot == kEmpty) slot = static_cast<std::uint32_t>(i);  // a later reading of a code loses
        }
    }

    // The value the meter gave for a code, "NA" when it gave none.
    std::string_view value_for(std::string_view obis) const {
        if (obis.empty()) return kNotAvailable;
        const std::uint32_t slot = slots_[place(obis)];
        return slot == kEmpty ? kNotAvailable : rows_[slot].value;
    }

private:
    static constexpr std::uint32_t kEmpty = UINT32_MAX;

    // FNV-1a: codes are a few bytes of digits and dots.
    static std::size_t hash(std::string_view code) noexcept {
        std::uint32_t h = 2166136261U;
        for (const char c : code) h = (h ^ static_cast<unsigned char>(c)) * 16777619U;
        return h;
    }
    // The slot of code: its row's, or the empty one where it would go.
    std::size_t place(std::string_view code) const noexcept {
        std::size_t at = hash(code) & mask_;
        while (slots_[at] != kEmpty && rows_[slots_[at]].code != code) at = (at + 1) & mask_;
        return at;
    }

    const std::vector<Reading> &rows_;
    std::vector<std::uint32_t> slots_;
    std::size_t mask_ = 0;
};

// The INST_PARAM list and the NUM_PARAM count before it. An element is listed
// whole or not at all, and the count is what was listed.
void write_parameters(answer::TextBuilder &body, const selection::Selection &selected,
                      const std::vector<Reading> &readings) {
    const FirstReadingByCode by_code(readings);
    const auto count_slot = body.defer_member(answer::kCountMemberRoom);
    body.open_member("INST_PARAM", answer::layout::kRowList);
    long long listed = 0;
    for (const selection::Entry &entry : selected.entries) {
        const auto mark = body.mark();
        body.open_element(answer::layout::kObject);
        body.member("param", entry.assign);
        body.member("val", by_code.value_for(entry.obis));
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
    write_parameters(body, selected, readings.rows);
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
