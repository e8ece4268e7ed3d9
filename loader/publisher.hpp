// Publishing dlms_dcu_config into the store: fourteen steps, one hash field per
// record field, one "hmset KEY FIELD VALUE" command (one round trip) each.
// Every step needs an open p_redis_handler; no reply is inspected, and a
// failed command is skipped.
#pragma once

#include <array>
#include <string_view>

extern "C" {

void gen_dcu_info_redis(void);
void gen_ser_meter_info_redis(void);
void gen_eth_meter_info_redis(void);
void gen_iec104_info_redis(void);
void gen_modtcp_info_redis(void);
void gen_dcu_poll_info_redis(void);
void gen_mqtt_info_redis(void);
void gen_tev_ems_info_redis(void);
void gen_ntp_info_redis(void);
void gen_dcu_eth_info_redis(void);
void gen_dcu_serial_info_redis(void);
void gen_gprs_info_redis(void);
void gen_ftp_server_info_redis(void);
void gen_vpn_info_redis(void);

// The whole 4716-byte record as one binary value: hash DLMS_DCU_CONFIG, field
// "stat". Not part of the loader's sequence.
void gen_all_config(void);

}

namespace dcu::loader {

struct PublishingStep {
    std::string_view name;
    void (*run)();
};

// The loader's publishing sequence, in its order.
inline constexpr std::array<PublishingStep, 14> kPublishingSequence{{
    {"gen_dcu_info_redis", gen_dcu_info_redis},
    {"gen_ser_meter_info_redis", gen_ser_meter_info_redis},
    {"gen_eth_meter_info_redis", gen_eth_meter_info_redis},
    {"gen_iec104_info_redis", gen_iec104_info_redis},
    {"gen_modtcp_info_redis", gen_modtcp_info_redis},
    {"gen_dcu_poll_info_redis", gen_dcu_poll_info_redis},
    {"gen_mqtt_info_redis", gen_mqtt_info_redis},
    {"gen_tev_ems_info_redis", gen_tev_ems_info_redis},
    {"gen_ntp_info_redis", gen_ntp_info_redis},
    {"gen_dcu_eth_info_redis", gen_dcu_eth_info_redis},
    {"gen_dcu_serial_info_redis", gen_dcu_serial_info_redis},
    {"gen_gprs_info_redis", gen_gprs_info_redis},
    {"gen_ftp_server_info_redis", gen_ftp_server_info_redis},
    {"gen_vpn_info_redis", gen_vpn_info_redis},
}};

}  // namespace dcu::loader
