// The library's build of redis_init: a (re)connection also releases a reply
// the host may still hold in p_redis_reply.
#include "common/store.hpp"
#include "dcu/host_services.h"

extern "C" int redis_init(const char *server, uint16_t port) {
    return dcu::store::connect(server, port, dcu::store::PendingReply::release);
}
