#include "web/library_host.hpp"

#include <fcntl.h>
#include <hiredis/hiredis.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/paths.hpp"
#include "dcu/reqhandlers.h"

// The host's side of the library's interface.
redisContext *p_redis_handler = nullptr;
redisReply *p_redis_reply = nullptr;
// Left zero: the communication-status answer takes the meter type and the
// meter counts from the store, where the loader publishes them.
dcu_config_record dlms_dcu_config;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];

namespace {

std::string &captured_answer() {
    static std::string answer;
    return answer;
}

}  // namespace

// The library logs its progress (each connection, each meter found) at the
// level of its failures: in the web server's error log, where a CGI
// program's standard error goes, that would be a dozen lines a page view.
// dcuweb keeps no debug log; a store it can't reach shows in its answers.
extern "C" void dbg_log(int, const char *, ...) {}

extern "C" int send_msg(const char *text) {
    if (text == nullptr) return -1;
    captured_answer().assign(text);
    return 0;
}

namespace dcu::web {

UniqueFd reply_descriptor() {
    std::fflush(stdout);
    UniqueFd reply(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
    const UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (null) ::dup2(null.get(), STDOUT_FILENO);
    return reply;
}

namespace {
enum class StoreState { untried, connected, unreachable };
StoreState g_store = StoreState::untried;
}  // namespace

bool store_connected() {
    if (g_store == StoreState::untried) {
        const std::string address(paths::kStoreAddress);
        g_store = redis_init(address.c_str(), paths::store_port()) == 0 ? StoreState::connected
                                                                        : StoreState::unreachable;
    }
    return g_store == StoreState::connected;
}

void close_store() {
    if (p_redis_handler != nullptr) redisFree(p_redis_handler);
    p_redis_handler = nullptr;
    g_store = StoreState::untried;
}

std::string answer_of(const std::function<void()> &call) {
    captured_answer().clear();
    call();
    std::string answer;
    answer.swap(captured_answer());
    return answer;
}

}  // namespace dcu::web
