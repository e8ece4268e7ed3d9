/*
 * The request-handler library, linked into the host communication process.
 *
 * Every handler that answers builds one JSON text in json_text and hands it
 * to the host's send_msg as its last action. Handlers use the shared buffers
 * below and the store connection without locks: call one at a time, from one
 * thread, after redis_init.
 */
#ifndef DCU_REQHANDLERS_H
#define DCU_REQHANDLERS_H

#include <stdint.h>

#include "dcu/config_record.h"
#include "dcu/host_services.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DCU_JSON_TEXT_SIZE 204800
#define DCU_TEMP_STR_SIZE 256
#define DCU_LINE_SIZE 512
#define DCU_SER_NUM_SIZE 32
#define DCU_COMM_STATUS_WORDS 4
#define DCU_COMM_STATUS_WORD_SIZE 16

/* Shared buffers, defined by the library. */
extern char json_text[DCU_JSON_TEXT_SIZE];  /* the answer being built or last sent */
extern char g_temp_str[DCU_TEMP_STR_SIZE];   /* scratch of one fragment */
extern char g_line[DCU_LINE_SIZE];           /* line buffers of the data-file readers */
extern char g_line_bkp[DCU_LINE_SIZE];
/* Serial numbers known per port and meter, NUL-terminated, refreshed from the
 * store by find_ser_num and never cleared. */
extern char g_meter_ser_num_info[DCU_NUM_SER_METER_PORTS][DCU_METERS_PER_SER_PORT][DCU_SER_NUM_SIZE];
/* Words for communication-status codes 0 to 3: "No", "Yes", "Not Configured", "". */
extern char g_comm_status_buff[DCU_COMM_STATUS_WORDS][DCU_COMM_STATUS_WORD_SIZE];

/* A date and time as the head-end sends it, passed by value. */
typedef struct ls_time_stamp {
    uint8_t day;
    uint8_t month;
    uint8_t hour;
    uint8_t minute;
    uint8_t unused[2];
    uint16_t year; /* little-endian in the record */
} ls_time_stamp;

typedef char dcu_ls_time_stamp_size_check[(sizeof(ls_time_stamp) == 8) ? 1 : -1];

/* Meter addressing. Both return the packed meter address (port index in the
 * high byte, meter index in the low byte) or -1. */
int16_t find_ser_num(const char *ser_num);    /* refreshes g_meter_ser_num_info; 20 store reads */
int16_t get_port_met_det(const char *dir_name); /* parses meter_id_N, counting N from 1 */

/* Appends the named section of a selection file (or an empty section when
 * the file is missing) to json_text at its current end; sends nothing. */
void fill_user_obis_det(const char *file_path, const char *section);

/* On-demand profiles of one meter: OD_BILLING, OD_MID_NIGHT, OD_EVENT.
 * Each sends one answer and returns 0. */
int send_od_billing_det(int seq_num, const char *ser_num);
int send_od_midnight_det(int seq_num, const char *ser_num, uint8_t month, uint16_t year);
int send_od_event_det(int seq_num, const char *ser_num, uint8_t event_type);
/* The same OD_EVENT answer with detailed progress on standard output. */
int send_od_event_det11(int seq_num, const char *ser_num, uint8_t event_type);
/* Prints the selected event columns on standard output; sends nothing. */
int send_od_event_det1(int seq_num, const char *ser_num, uint8_t event_type);

/* Writes a load-survey range command for the meter into the store, in one
   transaction; sends nothing. A time that does not exist (31 February, 24:00,
   month 13) writes nothing and says so on standard output; a command that
   could not be stored is logged through dbg_log with seq_num. */
void send_od_ls_range_det(int seq_num, const char *ser_num, ls_time_stamp start, ls_time_stamp end);

/* OD_INST: the meter's last readings joined with the user's selection. Returns 0. */
int send_od_inst_det(int seq_num, const char *ser_num);

/* GET_METER_SER_LIST: the serial numbers of all meter positions. Returns 0. */
int send_met_ser_num_det(int seq_num);

/* Contents of one named data file, reduced to the selected columns. Return 0. */
int send_event_file_content(int seq_num, const char *ser_num, const char *dir_name, const char *file_name,
                            const char *view_type);
int send_bill_file_content(int seq_num, const char *ser_num, const char *dir_name, const char *file_name,
                           const char *view_type);
int send_dp_file_content(int seq_num, const char *ser_num, const char *dir_name, const char *file_name,
                         const char *view_type);
int send_ls_file_content(int seq_num, const char *ser_num, const char *dir_name, const char *file_name,
                         const char *view_type);

/* Listings of the data tree. The per-kind and on-demand lists return 0;
 * send_dir_list_det returns -1 and sends nothing when the data root can't be
 * opened, else 0. */
int send_ls_file_list_det(int seq_num, const char *ser_num);
int send_event_file_list_det(int seq_num, const char *ser_num);
int send_dp_file_list_det(int seq_num, const char *ser_num);
int send_bill_file_list_det(int seq_num, const char *ser_num);
int send_od_ls_file_list_det(int seq_num, const char *ser_num);
int send_dir_list_det(int seq_num);

/* Diagnostics: both return what send_msg returned. send_commn_status_det
 * refreshes MeterType and the meter counts of dlms_dcu_config from the store. */
int send_modem_status_det(int seq_num);
int send_commn_status_det(int seq_num);

#ifdef __cplusplus
}
#endif

#endif /* DCU_REQHANDLERS_H */
