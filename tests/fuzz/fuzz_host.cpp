// What a host process provides, for the fuzz targets: the store handles, the
// configuration record, a silent log and a message outlet that keeps the
// last answer.
#include <string>

#include "dcu/reqhandlers.h"
#include "tests/fuzz/fuzz_host.hpp"

redisContext *p_redis_handler = nullptr;
redisReply *p_redis_reply = nullptr;
dcu_config_record dlms_dcu_config;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];

extern "C" void dbg_log(int, const char *, ...) {}

extern "C" int send_msg(const char *text) {
    dcu::fuzz::sent_answers().emplace_back(text);
    return 0;
}

namespace dcu::fuzz {

std::vector<std::string> &sent_answers() {
    static std::vector<std::string> answers;
    return answers;
}

}  // namespace dcu::fuzz
