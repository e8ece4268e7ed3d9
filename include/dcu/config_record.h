/*
 * The unit's binary configuration record: one 4716-byte image of
 * /usr/tev/config/dlms_api_config.cfg. Multi-byte integers are little-endian;
 * every 16-bit field sits at an even offset and every 32-bit field at a
 * multiple of four, so the natural layout of this structure is the file's
 * layout byte for byte. Reserved bytes are named reserved_<offset>.
 */
#ifndef DCU_CONFIG_RECORD_H
#define DCU_CONFIG_RECORD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DCU_CONFIG_RECORD_SIZE 4716
#define DCU_CONFIG_CRC_SPAN 4710
#define DCU_CONFIG_FLAG 0x4150515AUL /* "ZQPA" read little-endian */

#define DCU_NUM_MASTERS 4
#define DCU_NUM_DCU_SER_PORTS 4
#define DCU_NUM_SER_METER_PORTS 4
#define DCU_METERS_PER_SER_PORT 5
#define DCU_NUM_ETH_METERS 10
#define DCU_NUM_DCU_ETH_PORTS 2

typedef struct dcu_ser_port_cfg {
    char Port[32];
    uint8_t Baudrate;
    uint8_t DataBits;
    uint8_t StopBits;
    uint8_t Parity;
    uint8_t reserved_36;
    uint8_t InfMode;
    uint8_t reserved_38[2];
} dcu_ser_port_cfg; /* 40 bytes */

typedef struct ser_meter_cfg {
    uint8_t Enable;
    uint8_t MeterId;
    uint8_t MeterAddrSize;
    uint8_t reserved_3;
    uint32_t MeterAddr;
    char MeterPass[32];
    char MeterLoc[32];
} ser_meter_cfg; /* 72 bytes */

typedef struct ser_meter_port_cfg {
    uint32_t NumMeters;
    ser_meter_cfg Meter[DCU_METERS_PER_SER_PORT];
} ser_meter_port_cfg; /* 364 bytes */

typedef struct eth_meter_cfg {
    uint8_t Enable;
    uint8_t MeterId;
    uint8_t MeterAddrSize;
    uint8_t reserved_3[3];
    uint16_t Port;
    uint32_t MeterAddr;
    char MeterPass[32];
    char MeterIp[32];
    char MeterLoc[32];
} eth_meter_cfg; /* 108 bytes */

typedef struct dcu_eth_port_cfg {
    char Ip[32];
    char NetMask[32];
    char Gw[32];
} dcu_eth_port_cfg; /* 96 bytes */

typedef struct poll_cfg {
    uint8_t Enable;
    uint8_t PollType;
    uint8_t Periodicity;
    uint8_t PollSec;
    uint8_t PollMint;
    uint8_t PollHr;
    uint8_t reserved_6[2];
} poll_cfg; /* 8 bytes */

typedef struct ipsec_phase_cfg {
    uint8_t DhGrp;
    uint8_t Encrpt;
    uint8_t Authen;
    uint8_t reserved_3;
} ipsec_phase_cfg; /* 4 bytes */

/* Unit general settings, offsets 4 to 263. */
typedef struct dcu_gen_info_cfg {
    uint8_t reserved_4;
    uint8_t NumEthPort;
    uint8_t MeterType; /* 1: meters on the serial ports, any other value: Ethernet meters */
    uint8_t DataFormatType;
    uint8_t DataTrfType;
    uint8_t MasterProtoType;
    uint8_t DcuDevId;
    uint8_t DbgLogEnable;
    uint8_t DbgLogLevel;
    uint8_t MasterIpEnable[DCU_NUM_MASTERS]; /* 13 to 16 */
    uint8_t EnableAllowedMaster;
    uint8_t ReadPrevLsData;
    uint8_t FaultTolSupp;
    uint8_t reserved_20[3];
    char MasterIp[DCU_NUM_MASTERS][16]; /* 23, 39, 55, 71 */
    char DcuDevLoc[64];
    char DcuGpsLoc[64];
    char DbgLogIp[16];
    char SerNum[33];
} dcu_gen_info_cfg; /* 260 bytes */

/* Serial ports of the unit, offsets 264 to 427. */
typedef struct dcu_serial_info_cfg {
    uint32_t NumDcuSer;
    dcu_ser_port_cfg Port[DCU_NUM_DCU_SER_PORTS];
} dcu_serial_info_cfg; /* 164 bytes */

/* Ethernet meters, offsets 1884 to 2967. */
typedef struct eth_meter_info_cfg {
    uint32_t NumMeters;
    eth_meter_cfg Meter[DCU_NUM_ETH_METERS];
} eth_meter_info_cfg; /* 1084 bytes */

/* Ethernet ports of the unit, offsets 2968 to 3163. */
typedef struct dcu_eth_info_cfg {
    uint32_t NumDcuEth;
    dcu_eth_port_cfg Port[DCU_NUM_DCU_ETH_PORTS];
} dcu_eth_info_cfg; /* 196 bytes */

/* Polling schedules, offsets 3164 to 3203, in record order. */
typedef struct dcu_poll_info_cfg {
    poll_cfg Inst;
    poll_cfg Ls;
    poll_cfg Event;
    poll_cfg Bill;
    poll_cfg Dp;
} dcu_poll_info_cfg; /* 40 bytes */

/* File upload servers, offsets 3204 to 3339. */
typedef struct ftp_ser_info_cfg {
    uint8_t Enable;
    uint8_t DiffLogSer;
    uint8_t LogUploadPeriod;
    uint8_t UploadPeriod;
    uint16_t SerPort;
    uint16_t LogSerPort;
    char SerIp[16];
    char UserName[16];
    char Password[16];
    char LocDir[16];
    char LogSerIp[16];
    char LogUserName[16];
    char LogPassword[16];
    char LogLocDir[16];
} ftp_ser_info_cfg; /* 136 bytes */

/* IEC 60870-5-104 settings, offsets 3340 to 3363. */
typedef struct iec104_info_cfg {
    uint8_t Enable;
    uint8_t Time1;
    uint8_t Time2;
    uint8_t Time3;
    uint8_t SentAck;
    uint8_t RecvAck;
    uint8_t CotSize;
    uint8_t IoaSize;
    uint8_t CycInterval;
    uint8_t reserved_3349;
    uint16_t IecPort;
    uint32_t StDataIoa;
    uint32_t StDevStatusIoa;
    uint32_t AsduAddr;
} iec104_info_cfg; /* 24 bytes */

/* Modbus TCP settings, offsets 3364 to 3379. */
typedef struct modtcp_info_cfg {
    uint8_t Enable;
    uint8_t RespAllId;
    uint8_t SlaveId;
    uint8_t reserved_3367[3];
    uint16_t HoldRegStAddr;
    uint16_t InputRegStAddr;
    uint16_t ReadCoilStAddr;
    uint16_t Port;
    uint16_t ReadDiscStAddr;
} modtcp_info_cfg; /* 16 bytes */

/* Time servers, offsets 3380 to 3435. */
typedef struct ntp_info_cfg {
    uint8_t Ntp1Enable;
    uint8_t Ntp2Enable;
    uint8_t reserved_3382[2];
    uint32_t Ntp1Port;
    uint32_t Ntp2Port;
    uint32_t Interval;
    uint8_t reserved_3396[8];
    char Ntp1IpAddr[16];
    char Ntp2IpAddr[16];
} ntp_info_cfg; /* 56 bytes */

/* Cellular data connection, offsets 3436 to 3635. */
typedef struct gprs_info_cfg {
    uint32_t GprsEnable;
    char UserName[32];
    char Password[32];
    char PhoneNum[32];
    char AccPtName[32];
    char Ping1IpAddr[32];
    char Ping2IpAddr[32];
    uint8_t ConnType;
    uint8_t PingEnable;
    uint8_t NumPing;
    uint8_t PingInterval;
} gprs_info_cfg; /* 200 bytes */

/* VPN, offsets 3636 to 4243. */
typedef struct vpn_info_cfg {
    uint32_t VpnEnable;
    uint8_t reserved_3640[32];
    char LocUserName[32];
    char LocPassword[32];
    char RemUserName[32];
    char RemPassword[32];
    uint32_t ReqMemoryMap;
    uint8_t KeyLifeTime;
    uint8_t AggrMode;
    uint8_t NatTrav;
    uint8_t reserved_3807;
    uint32_t Pfs;
    char TunnelName[64];
    char PreSharedKey[128];
    char RightIp[32];
    char RightSubnet[32];
    char RightId[32];
    char Left[32];
    char LeftSubnet[32];
    char LeftId[32];
    char LeftSrcIp[32];
    char KeyingMode[8];
    ipsec_phase_cfg Phase1;
    ipsec_phase_cfg Phase2;
} vpn_info_cfg; /* 608 bytes */

/* MQTT, offsets 4244 to 4683. */
typedef struct mqtt_info_cfg {
    uint8_t Enable;
    uint8_t EventTopicEnable;
    uint8_t DiagTopicEnable;
    uint8_t PubHr;
    uint8_t PubMint;
    uint8_t PubSec;
    int16_t BrokerPort;
    char EventPubTopic[64];
    char PerDataTopic[64];
    char CmdSubTopic[64];
    char DiagPubTopic[64];
    char BrokerUname[32];
    char BrokerPass[32];
    char PubTopic[64];
    char SubTopic[32];
    char BrokerIp[16];
} mqtt_info_cfg; /* 440 bytes */

/* Head-end messaging, offsets 4684 to 4709. */
typedef struct tev_ems_info_cfg {
    uint8_t Enable;
    uint8_t EventSendEnable;
    uint8_t DiagSendEnable;
    uint8_t PubHr;
    uint8_t PubMint;
    uint8_t PubSec;
    int16_t BrokerPort;
    char BrokerIp[18];
} tev_ems_info_cfg; /* 26 bytes */

typedef struct dcu_config_record {
    uint32_t StartFlag;                                     /* 0 */
    dcu_gen_info_cfg GenInfo;                               /* 4 */
    dcu_serial_info_cfg SerialInfo;                         /* 264 */
    ser_meter_port_cfg SerMeterPort[DCU_NUM_SER_METER_PORTS]; /* 428 */
    eth_meter_info_cfg EthMeterInfo;                        /* 1884 */
    dcu_eth_info_cfg EthInfo;                               /* 2968 */
    dcu_poll_info_cfg PollInfo;                             /* 3164 */
    ftp_ser_info_cfg FtpSerInfo;                            /* 3204 */
    iec104_info_cfg Iec104Info;                             /* 3340 */
    modtcp_info_cfg ModTcpInfo;                             /* 3364 */
    ntp_info_cfg NtpInfo;                                   /* 3380 */
    gprs_info_cfg GprsInfo;                                 /* 3436 */
    vpn_info_cfg VpnInfo;                                   /* 3636 */
    mqtt_info_cfg MqttInfo;                                 /* 4244 */
    tev_ems_info_cfg TevEmsInfo;                            /* 4684 */
    uint8_t Crc[2];   /* 4710: CRC-16/MODBUS of bytes 0 to 4709, high byte first */
    uint32_t EndFlag; /* 4712 */
} dcu_config_record;

/* C99 has no static assertion; a negative array size stops the build instead. */
typedef char dcu_config_record_size_check[(sizeof(dcu_config_record) == DCU_CONFIG_RECORD_SIZE) ? 1 : -1];

/* The process's one configuration record. cfgload defines it; in the host
 * communication process the host defines it and the diagnostics handlers
 * refresh its MeterType and meter counts from the store. */
extern dcu_config_record dlms_dcu_config;

#ifdef __cplusplus
}
#endif

#endif /* DCU_CONFIG_RECORD_H */
