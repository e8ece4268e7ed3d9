// The library's shared buffers. The handlers use them one call at a time.
#include "dcu/reqhandlers.h"

char json_text[DCU_JSON_TEXT_SIZE];
char g_temp_str[DCU_TEMP_STR_SIZE];
char g_line[DCU_LINE_SIZE];
char g_line_bkp[DCU_LINE_SIZE];
char g_meter_ser_num_info[DCU_NUM_SER_METER_PORTS][DCU_METERS_PER_SER_PORT][DCU_SER_NUM_SIZE];
char g_comm_status_buff[DCU_COMM_STATUS_WORDS][DCU_COMM_STATUS_WORD_SIZE] = {"No", "Yes", "Not Configured", ""};
