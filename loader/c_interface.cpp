#include "loader/c_interface.hpp"

#include <cstdarg>
#include <cstring>
#include <string_view>

#include "loader/config_file.hpp"
#include "loader/log_file.hpp"
#include "loader/publisher.hpp"

redisContext *p_redis_handler = nullptr;
redisReply *p_redis_reply = nullptr;
dcu_config_record dlms_dcu_config;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];
extern "C" const int RET_SUCCESS = 0;

extern "C" void dbg_log(int level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    dcu::loader::write_log_line(std::string_view(debug_file_name, ::strnlen(debug_file_name, sizeof debug_file_name)),
                                level, format, args);
    va_end(args);
}

namespace {
constinit dcu::store::Connection g_loader_store(p_redis_handler, p_redis_reply, dbg_log);
}  // namespace

dcu::store::Connection &dcu::loader::loader_store() noexcept { return g_loader_store; }

// The loader's build keeps a pending reply: it has none when it connects.
extern "C" int redis_init(const char *server, std::uint16_t port) {
    return g_loader_store.connect(server, port, dcu::store::PendingReply::keep);
}

extern "C" int read_bin_cfg(const char *path) { return dcu::loader::read_config_file(path, dlms_dcu_config); }

namespace {
void run_step(dcu::loader::Step step) {
    (void)dcu::loader::publish_step(g_loader_store, dlms_dcu_config, step, dcu::loader::OnNoReply::go_on);
}
}  // namespace

using dcu::loader::Step;

extern "C" void gen_dcu_info_redis(void) { run_step(Step::dcu_info); }
extern "C" void gen_ser_meter_info_redis(void) { run_step(Step::ser_meter_info); }
extern "C" void gen_eth_meter_info_redis(void) { run_step(Step::eth_meter_info); }
extern "C" void gen_iec104_info_redis(void) { run_step(Step::iec104_info); }
extern "C" void gen_modtcp_info_redis(void) { run_step(Step::modtcp_info); }
extern "C" void gen_dcu_poll_info_redis(void) { run_step(Step::dcu_poll_info); }
extern "C" void gen_mqtt_info_redis(void) { run_step(Step::mqtt_info); }
extern "C" void gen_tev_ems_info_redis(void) { run_step(Step::tev_ems_info); }
extern "C" void gen_ntp_info_redis(void) { run_step(Step::ntp_info); }
extern "C" void gen_dcu_eth_info_redis(void) { run_step(Step::dcu_eth_info); }
extern "C" void gen_dcu_serial_info_redis(void) { run_step(Step::dcu_serial_info); }
extern "C" void gen_gprs_info_redis(void) { run_step(Step::gprs_info); }
extern "C" void gen_ftp_server_info_redis(void) { run_step(Step::ftp_server_info); }
extern "C" void gen_vpn_info_redis(void) { run_step(Step::vpn_info); }

extern "C" void gen_all_config(void) { dcu::loader::publish_whole_record(g_loader_store, dlms_dcu_config); }
