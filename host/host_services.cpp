#include "host/host_services.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/store.hpp"
#include "dcu/reqhandlers.h"

// The host's side of the library's interface.
redisContext *p_redis_handler = nullptr;
redisReply *p_redis_reply = nullptr;
// Left zero: the communication-status answer fills MeterType and the meter
// counts from the store, where the loader publishes them.
dcu_config_record dlms_dcu_config;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];

// The host's own store commands (the broker settings, the presence, the
// connection check) go over the connection it shares with the library.
dcu::store::Connection &dcu::store::bound_connection() noexcept {
    static constinit Connection host_store(p_redis_handler, p_redis_reply, dbg_log);
    return host_store;
}

namespace dcu::host {

namespace {
AnswerSink &answer_sink() {
    static AnswerSink sink;
    return sink;
}
}  // namespace

void set_answer_sink(AnswerSink sink) { answer_sink() = std::move(sink); }

}  // namespace dcu::host

// The log goes to standard error, beside the library's progress lines.
extern "C" void dbg_log(int level, const char *format, ...) {
    std::fprintf(stderr, "L%d ", level);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

extern "C" int send_msg(const char *text) {
    auto &sink = dcu::host::answer_sink();
    if (!sink || text == nullptr) return -1;
    return sink(std::string_view(text, std::strlen(text)));
}
