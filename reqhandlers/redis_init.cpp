// The library's store connection is the host's: the context and the last
// reply in the globals the host defines, the log through its dbg_log. Every
// command of the handlers goes over it.
#include "common/store.hpp"
#include "dcu/host_services.h"
#include "reqhandlers/entry_guard.hpp"

namespace {
constinit dcu::store::Connection g_host_store(p_redis_handler, p_redis_reply, dbg_log);
}  // namespace

dcu::store::Connection &dcu::store::bound_connection() noexcept { return g_host_store; }

// The library's build of redis_init: a (re)connection also releases a reply
// the host may still hold in p_redis_reply.
extern "C" int redis_init(const char *server, uint16_t port) {
    return dcu::entry::guarded([&] { return g_host_store.connect(server, port, dcu::store::PendingReply::release); },
                               [] { return -1; });
}
