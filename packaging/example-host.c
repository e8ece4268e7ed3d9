/* The smallest host communication process for libreqhandlers: what a host
 * defines for the library, one request answered, and the library's tables.
 *
 * Build against the installed library:
 *     cc -o host host.c $(pkg-config --cflags --libs reqhandlers)
 * Run beside the unit's store (port 6379 unless given):
 *     ./host [PORT [SER_NUM]]
 * It asks for the list of meter serial numbers (GET_METER_SER_LIST) and
 * prints the answer the library hands to send_msg on standard output; the
 * library's own progress lines are printed on standard output too, the debug
 * log goes to standard error. With SER_NUM it then looks that meter up as
 * the handlers do, and prints where it is and the words the answers give a
 * meter's communication status. Exit 0 when exactly one answer came (and
 * the meter was found). */
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

/* find_ser_num gives the meter's port in the high byte and its place on the
 * port in the low byte, and leaves the unit's serial numbers in
 * g_meter_ser_num_info. */
static int look_up(const char *ser_num) {
    int16_t packed = find_ser_num(ser_num);
    int port, meter;
    if (packed < 0) {
        fprintf(stderr, "host: no meter has the serial number %s\n", ser_num);
        return 1;
    }
    port = packed >> 8;
    meter = packed & 0xFF;
    printf("%s: port %d, meter %d, meter_id_%d, serial number %s\n", ser_num, port, meter,
           port * DCU_METERS_PER_SER_PORT + meter, g_meter_ser_num_info[port][meter]);
    printf("communication status 0, 1, 2: %s, %s, %s\n", g_comm_status_buff[0], g_comm_status_buff[1],
           g_comm_status_buff[2]);
    return 0;
}

int main(int argc, char **argv) {
    long port = argc > 1 ? strtol(argv[1], NULL, 10) : 6379;
    if (argc > 3 || port <= 0 || port > 65535) {
        fputs("usage: host [PORT [SER_NUM]]\n", stderr);
        return 2;
    }
    if (redis_init("127.0.0.1", (uint16_t)port) != 0) {
        fputs("host: the store does not answer\n", stderr);
        return 1;
    }
    send_met_ser_num_det(1);
    if (answers != 1) return 1;
    return argc > 2 ? look_up(argv[2]) : 0;
}
