/* The smallest host communication process for libreqhandlers: what a host
 * defines for the library, and one request answered.
 *
 * Build against the installed library:
 *     cc -o host host.c $(pkg-config --cflags --libs reqhandlers)
 * Run beside the unit's store (port 6379 unless given):
 *     ./host [PORT]
 * It asks for the list of meter serial numbers (GET_METER_SER_LIST) and
 * prints the answer the library hands to send_msg on standard output; the
 * library's own progress lines are printed on standard output too, the debug
 * log goes to standard error. Exit 0 when exactly one answer came. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "dcu/reqhandlers.h"

/* The host owns the store connection, the reply of the last command and the
 * configuration record; the library uses them. */
struct redisContext *p_redis_handler;
struct redisReply *p_redis_reply;
dcu_config_record dlms_dcu_config;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];

static int answers;

void dbg_log(int level, const char *format, ...) {
    va_list args;
    fprintf(stderr, "[%d] ", level);
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}

/* A real host carries the text to the head-end here. */
int send_msg(const char *text) {
    ++answers;
    printf("%s\n", text);
    return 0;
}

int main(int argc, char **argv) {
    long port = argc > 1 ? strtol(argv[1], NULL, 10) : 6379;
    if (argc > 2 || port <= 0 || port > 65535) {
        fputs("usage: host [PORT]\n", stderr);
        return 2;
    }
    if (redis_init("127.0.0.1", (uint16_t)port) != 0) {
        fputs("host: the store does not answer\n", stderr);
        return 1;
    }
    send_met_ser_num_det(1);
    return answers == 1 ? 0 : 1;
}
