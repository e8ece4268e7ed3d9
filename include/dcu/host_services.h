/*
 * What the process that links the unit's code provides to it, and the store
 * connection they share.
 *
 * cfgload defines all of these itself. In the host communication process the
 * host defines p_redis_handler, p_redis_reply, dbg_log and send_msg, calls
 * redis_init before the first handler, and calls one handler at a time from
 * one thread.
 */
#ifndef DCU_HOST_SERVICES_H
#define DCU_HOST_SERVICES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DCU_DEBUG_FILE_NAME_SIZE 64

struct redisContext;
struct redisReply;

/* The store connection of the process; null until redis_init succeeds. */
extern struct redisContext *p_redis_handler;
/* The reply of the store command issued last; null when no reply is held. */
extern struct redisReply *p_redis_reply;

/* Connects p_redis_handler to the store at server:port with a 1.5 s
 * connection time-out, logging through dbg_log. Returns 0 when the connection
 * stands, -1 when it does not (p_redis_handler is then null). An earlier
 * connection of the process is closed first. The library's build also
 * releases a reply still held in p_redis_reply. */
int redis_init(const char *server, uint16_t port);

#if defined(__GNUC__)
#define DCU_PRINTF_LIKE(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define DCU_PRINTF_LIKE(fmt_index, first_arg)
#endif

/* Levelled debug log (0: progress and failures, 4: serial number not found).
 * By convention the first value after the format is the caller's own name
 * followed by "()". Callers carry on whatever happens inside. */
void dbg_log(int level, const char *format, ...) DCU_PRINTF_LIKE(2, 3);

/* Names the file that dbg_log writes to, where the process keeps one. */
extern char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];

/* The message outlet: receives one whole NUL-terminated answer per handled
 * request and has consumed it when it returns. */
int send_msg(const char *text);

#ifdef __cplusplus
}
#endif

#endif /* DCU_HOST_SERVICES_H */
