// The globals that cfgload's main defines, for suites that run the loader's
// pieces in-process (dbg_log itself comes from the loader library).
#include <hiredis/hiredis.h>

#include "dcu/config_record.h"
#include "dcu/host_services.h"

redisContext *p_redis_handler = nullptr;
redisReply *p_redis_reply = nullptr;
dcu_config_record dlms_dcu_config;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];
