// Publishing a configuration record into the store: fourteen steps, one
// hash field per record field, one "hmset KEY FIELD VALUE" command (one round
// trip) each, over a connection that stands. A command the store refuses (a
// key of another type) is skipped; one that gets no reply at all (the store
// went away or hangs) leaves the configuration incomplete, which cfgload
// reports (see publish_step). cfgload's exported gen_*_redis steps publish
// dlms_dcu_config through these.
#pragma once

#include <array>
#include <string_view>

#include "common/store.hpp"
#include "loader/config_record.hpp"

namespace dcu::loader {

struct PublishingStep {
    std::string_view name;  // its exported function's
    Step step;
};

// What a step does after a command that got no reply: the exported steps
// go on through all their commands (each then fails at once, sending
// nothing); cfgload stops there.
enum class OnNoReply { go_on, stop };

// Runs one step for `record`; returns the first entry whose command got no
// reply, or null when every command got one.
const PublishEntry *publish_step(store::Connection &store, const dcu_config_record &record, Step step,
                                 OnNoReply on_no_reply);

// The whole 4716-byte record as one binary value: hash DLMS_DCU_CONFIG, field
// "stat" (gen_all_config). Not part of the loader's sequence.
void publish_whole_record(store::Connection &store, const dcu_config_record &record);

// The loader's publishing sequence, in its order.
inline constexpr std::array<PublishingStep, 14> kPublishingSequence{{
    {"gen_dcu_info_redis", Step::dcu_info},
    {"gen_ser_meter_info_redis", Step::ser_meter_info},
    {"gen_eth_meter_info_redis", Step::eth_meter_info},
    {"gen_iec104_info_redis", Step::iec104_info},
    {"gen_modtcp_info_redis", Step::modtcp_info},
    {"gen_dcu_poll_info_redis", Step::dcu_poll_info},
    {"gen_mqtt_info_redis", Step::mqtt_info},
    {"gen_tev_ems_info_redis", Step::tev_ems_info},
    {"gen_ntp_info_redis", Step::ntp_info},
    {"gen_dcu_eth_info_redis", Step::dcu_eth_info},
    {"gen_dcu_serial_info_redis", Step::dcu_serial_info},
    {"gen_gprs_info_redis", Step::gprs_info},
    {"gen_ftp_server_info_redis", Step::ftp_server_info},
    {"gen_vpn_info_redis", Step::vpn_info},
}};

}  // namespace dcu::loader
