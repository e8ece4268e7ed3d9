/* A host written in C, as a unit's host communication process is: it
 * defines the host side of the library's interface, connects the store and
 * asks for the meter list. Usage: c_host PORT */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dcu/reqhandlers.h"

struct redisContext *p_redis_handler;
struct redisReply *p_redis_reply;
dcu_config_record dlms_dcu_config;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];

static int g_answers;

void dbg_log(int level, const char *format, ...) {
    va_list args;
    fprintf(stderr, "L%d ", level);
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}

int send_msg(const char *text) {
    ++g_answers;
    fprintf(stderr, "answer %d of %u bytes\n", g_answers, (unsigned)strlen(text));
    fputs(text, stderr);
    return 7;
}

int main(int argc, char **argv) {
    int16_t packed;
    if (argc != 2) return 2;
    if (redis_init("127.0.0.1", (uint16_t)atoi(argv[1])) != 0) return 1;
    if (send_met_ser_num_det(42) != 0) return 3;
    packed = find_ser_num("SN");
    fprintf(stderr, "packed %d, table[0][1] %s, words %s/%s/%s\n", packed, g_meter_ser_num_info[0][1],
            g_comm_status_buff[0], g_comm_status_buff[1], g_comm_status_buff[2]);
    return g_answers == 1 && sizeof json_text == 204800 ? 0 : 4;
}
