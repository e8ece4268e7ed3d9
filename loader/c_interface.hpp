// cfgload's C side, as the loader's contract names it: the globals it
// defines (p_redis_handler, p_redis_reply, dlms_dcu_config, debug_file_name,
// RET_SUCCESS), its dbg_log writing to the log file, its build of redis_init,
// read_bin_cfg, and the exported publishing steps. Each works on those
// globals through the loader's own pieces, which take the record and the
// connection as arguments.
#pragma once

#include "common/store.hpp"
#include "dcu/config_record.h"
#include "dcu/host_services.h"

extern "C" {

extern const int RET_SUCCESS;

// Reads the file at `path` into dlms_dcu_config and checks it (see
// dcu::loader::read_config_file).
int read_bin_cfg(const char *path);

// The publishing steps of dlms_dcu_config, in the loader's order, each
// through all its commands.
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

// cfgload's store connection: the context and last reply in its globals, its
// lines through its dbg_log.
store::Connection &loader_store() noexcept;

}  // namespace dcu::loader
