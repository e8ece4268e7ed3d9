#include "loader/config_record.hpp"

#include <cstring>
#include <type_traits>

namespace dcu::loader {

// ---------------------------------------------------------------------------
// The C structure must be the file's layout byte for byte: every member at
// its tabled offset, every element of its tabled size.

static_assert(std::is_trivially_copyable_v<dcu_config_record> && std::is_standard_layout_v<dcu_config_record>);
static_assert(sizeof(dcu_config_record) == 4716);
static_assert(kCrcSpan == 4710);

// Section map
static_assert(offsetof(dcu_config_record, StartFlag) == 0);
static_assert(offsetof(dcu_config_record, GenInfo) == 4 && sizeof(dcu_gen_info_cfg) == 260);
static_assert(offsetof(dcu_config_record, SerialInfo) == 264 && sizeof(dcu_serial_info_cfg) == 164);
static_assert(offsetof(dcu_config_record, SerMeterPort) == 428 && sizeof(dcu_config_record::SerMeterPort) == 1456);
static_assert(offsetof(dcu_config_record, EthMeterInfo) == 1884 && sizeof(eth_meter_info_cfg) == 1084);
static_assert(offsetof(dcu_config_record, EthInfo) == 2968 && sizeof(dcu_eth_info_cfg) == 196);
static_assert(offsetof(dcu_config_record, PollInfo) == 3164 && sizeof(dcu_poll_info_cfg) == 40);
static_assert(offsetof(dcu_config_record, FtpSerInfo) == 3204 && sizeof(ftp_ser_info_cfg) == 136);
static_assert(offsetof(dcu_config_record, Iec104Info) == 3340 && sizeof(iec104_info_cfg) == 24);
static_assert(offsetof(dcu_config_record, ModTcpInfo) == 3364 && sizeof(modtcp_info_cfg) == 16);
static_assert(offsetof(dcu_config_record, NtpInfo) == 3380 && sizeof(ntp_info_cfg) == 56);
static_assert(offsetof(dcu_config_record, GprsInfo) == 3436 && sizeof(gprs_info_cfg) == 200);
static_assert(offsetof(dcu_config_record, VpnInfo) == 3636 && sizeof(vpn_info_cfg) == 608);
static_assert(offsetof(dcu_config_record, MqttInfo) == 4244 && sizeof(mqtt_info_cfg) == 440);
static_assert(offsetof(dcu_config_record, TevEmsInfo) == 4684 && sizeof(tev_ems_info_cfg) == 26);
static_assert(offsetof(dcu_config_record, Crc) == 4710 && sizeof(dcu_config_record::Crc) == 2);
static_assert(offsetof(dcu_config_record, EndFlag) == 4712);

// Unit general settings, offsets from the record's start
#define DCU_GEN_AT(member, offset) static_assert(4 + offsetof(dcu_gen_info_cfg, member) == (offset))
DCU_GEN_AT(reserved_4, 4);
DCU_GEN_AT(NumEthPort, 5);
DCU_GEN_AT(MeterType, 6);
DCU_GEN_AT(DataFormatType, 7);
DCU_GEN_AT(DataTrfType, 8);
DCU_GEN_AT(MasterProtoType, 9);
DCU_GEN_AT(DcuDevId, 10);
DCU_GEN_AT(DbgLogEnable, 11);
DCU_GEN_AT(DbgLogLevel, 12);
DCU_GEN_AT(MasterIpEnable, 13);
DCU_GEN_AT(EnableAllowedMaster, 17);
DCU_GEN_AT(ReadPrevLsData, 18);
DCU_GEN_AT(FaultTolSupp, 19);
DCU_GEN_AT(reserved_20, 20);
DCU_GEN_AT(MasterIp, 23);
DCU_GEN_AT(DcuDevLoc, 87);
DCU_GEN_AT(DcuGpsLoc, 151);
DCU_GEN_AT(DbgLogIp, 215);
DCU_GEN_AT(SerNum, 231);
#undef DCU_GEN_AT
static_assert(sizeof(dcu_gen_info_cfg::MasterIpEnable) == 4 && sizeof(dcu_gen_info_cfg::MasterIp) == 4 * 16);
static_assert(sizeof(dcu_gen_info_cfg::SerNum) == 33);

// Serial ports of the unit
static_assert(offsetof(dcu_serial_info_cfg, NumDcuSer) == 0 && offsetof(dcu_serial_info_cfg, Port) == 4);
static_assert(sizeof(dcu_ser_port_cfg) == 40);
static_assert(offsetof(dcu_ser_port_cfg, Port) == 0 && sizeof(dcu_ser_port_cfg::Port) == 32);
static_assert(offsetof(dcu_ser_port_cfg, Baudrate) == 32);
static_assert(offsetof(dcu_ser_port_cfg, DataBits) == 33);
static_assert(offsetof(dcu_ser_port_cfg, StopBits) == 34);
static_assert(offsetof(dcu_ser_port_cfg, Parity) == 35);
static_assert(offsetof(dcu_ser_port_cfg, reserved_36) == 36);
static_assert(offsetof(dcu_ser_port_cfg, InfMode) == 37);
static_assert(offsetof(dcu_ser_port_cfg, reserved_38) == 38);

// Serial meter ports
static_assert(sizeof(ser_meter_port_cfg) == 364);
static_assert(offsetof(ser_meter_port_cfg, NumMeters) == 0 && offsetof(ser_meter_port_cfg, Meter) == 4);
static_assert(sizeof(ser_meter_cfg) == 72);
static_assert(offsetof(ser_meter_cfg, Enable) == 0);
static_assert(offsetof(ser_meter_cfg, MeterId) == 1);
static_assert(offsetof(ser_meter_cfg, MeterAddrSize) == 2);
static_assert(offsetof(ser_meter_cfg, reserved_3) == 3);
static_assert(offsetof(ser_meter_cfg, MeterAddr) == 4);
static_assert(offsetof(ser_meter_cfg, MeterPass) == 8 && sizeof(ser_meter_cfg::MeterPass) == 32);
static_assert(offsetof(ser_meter_cfg, MeterLoc) == 40 && sizeof(ser_meter_cfg::MeterLoc) == 32);

// Ethernet meters
static_assert(offsetof(eth_meter_info_cfg, NumMeters) == 0 && offsetof(eth_meter_info_cfg, Meter) == 4);
static_assert(sizeof(eth_meter_cfg) == 108);
static_assert(offsetof(eth_meter_cfg, Enable) == 0);
static_assert(offsetof(eth_meter_cfg, MeterId) == 1);
static_assert(offsetof(eth_meter_cfg, MeterAddrSize) == 2);
static_assert(offsetof(eth_meter_cfg, reserved_3) == 3 && sizeof(eth_meter_cfg::reserved_3) == 3);
static_assert(offsetof(eth_meter_cfg, Port) == 6);
static_assert(offsetof(eth_meter_cfg, MeterAddr) == 8);
static_assert(offsetof(eth_meter_cfg, MeterPass) == 12);
static_assert(offsetof(eth_meter_cfg, MeterIp) == 44);
static_assert(offsetof(eth_meter_cfg, MeterLoc) == 76 && sizeof(eth_meter_cfg::MeterLoc) == 32);
static_assert(1888 + 9 * sizeof(eth_meter_cfg) == 2860);

// Ethernet ports of the unit
static_assert(offsetof(dcu_eth_info_cfg, NumDcuEth) == 0 && offsetof(dcu_eth_info_cfg, Port) == 4);
static_assert(sizeof(dcu_eth_port_cfg) == 96);
static_assert(offsetof(dcu_eth_port_cfg, Ip) == 0);
static_assert(offsetof(dcu_eth_port_cfg, NetMask) == 32);
static_assert(offsetof(dcu_eth_port_cfg, Gw) == 64);

// Polling schedules, in record order
static_assert(sizeof(poll_cfg) == 8);
static_assert(offsetof(dcu_poll_info_cfg, Inst) == 0);
static_assert(offsetof(dcu_poll_info_cfg, Ls) == 8);
static_assert(offsetof(dcu_poll_info_cfg, Event) == 16);
static_assert(offsetof(dcu_poll_info_cfg, Bill) == 24);
static_assert(offsetof(dcu_poll_info_cfg, Dp) == 32);
static_assert(offsetof(poll_cfg, Enable) == 0);
static_assert(offsetof(poll_cfg, PollType) == 1);
static_assert(offsetof(poll_cfg, Periodicity) == 2);
static_assert(offsetof(poll_cfg, PollSec) == 3);
static_assert(offsetof(poll_cfg, PollMint) == 4);
static_assert(offsetof(poll_cfg, PollHr) == 5);
static_assert(offsetof(poll_cfg, reserved_6) == 6);

// File upload servers
#define DCU_FTP_AT(member, offset) static_assert(3204 + offsetof(ftp_ser_info_cfg, member) == (offset))
DCU_FTP_AT(Enable, 3204);
DCU_FTP_AT(DiffLogSer, 3205);
DCU_FTP_AT(LogUploadPeriod, 3206);
DCU_FTP_AT(UploadPeriod, 3207);
DCU_FTP_AT(SerPort, 3208);
DCU_FTP_AT(LogSerPort, 3210);
DCU_FTP_AT(SerIp, 3212);
DCU_FTP_AT(UserName, 3228);
DCU_FTP_AT(Password, 3244);
DCU_FTP_AT(LocDir, 3260);
DCU_FTP_AT(LogSerIp, 3276);
DCU_FTP_AT(LogUserName, 3292);
DCU_FTP_AT(LogPassword, 3308);
DCU_FTP_AT(LogLocDir, 3324);
#undef DCU_FTP_AT

// IEC 60870-5-104 settings
#define DCU_IEC_AT(member, offset) static_assert(3340 + offsetof(iec104_info_cfg, member) == (offset))
DCU_IEC_AT(Enable, 3340);
DCU_IEC_AT(Time1, 3341);
DCU_IEC_AT(Time2, 3342);
DCU_IEC_AT(Time3, 3343);
DCU_IEC_AT(SentAck, 3344);
DCU_IEC_AT(RecvAck, 3345);
DCU_IEC_AT(CotSize, 3346);
DCU_IEC_AT(IoaSize, 3347);
DCU_IEC_AT(CycInterval, 3348);
DCU_IEC_AT(reserved_3349, 3349);
DCU_IEC_AT(IecPort, 3350);
DCU_IEC_AT(StDataIoa, 3352);
DCU_IEC_AT(StDevStatusIoa, 3356);
DCU_IEC_AT(AsduAddr, 3360);
#undef DCU_IEC_AT

// Modbus TCP settings
#define DCU_MODTCP_AT(member, offset) static_assert(3364 + offsetof(modtcp_info_cfg, member) == (offset))
DCU_MODTCP_AT(Enable, 3364);
DCU_MODTCP_AT(RespAllId, 3365);
DCU_MODTCP_AT(SlaveId, 3366);
DCU_MODTCP_AT(reserved_3367, 3367);
DCU_MODTCP_AT(HoldRegStAddr, 3370);
DCU_MODTCP_AT(InputRegStAddr, 3372);
DCU_MODTCP_AT(ReadCoilStAddr, 3374);
DCU_MODTCP_AT(Port, 3376);
DCU_MODTCP_AT(ReadDiscStAddr, 3378);
#undef DCU_MODTCP_AT

// Time servers
#define DCU_NTP_AT(member, offset) static_assert(3380 + offsetof(ntp_info_cfg, member) == (offset))
DCU_NTP_AT(Ntp1Enable, 3380);
DCU_NTP_AT(Ntp2Enable, 3381);
DCU_NTP_AT(reserved_3382, 3382);
DCU_NTP_AT(Ntp1Port, 3384);
DCU_NTP_AT(Ntp2Port, 3388);
DCU_NTP_AT(Interval, 3392);
DCU_NTP_AT(reserved_3396, 3396);
DCU_NTP_AT(Ntp1IpAddr, 3404);
DCU_NTP_AT(Ntp2IpAddr, 3420);
#undef DCU_NTP_AT

// Cellular data connection
#define DCU_GPRS_AT(member, offset) static_assert(3436 + offsetof(gprs_info_cfg, member) == (offset))
DCU_GPRS_AT(GprsEnable, 3436);
DCU_GPRS_AT(UserName, 3440);
DCU_GPRS_AT(Password, 3472);
DCU_GPRS_AT(PhoneNum, 3504);
DCU_GPRS_AT(AccPtName, 3536);
DCU_GPRS_AT(Ping1IpAddr, 3568);
DCU_GPRS_AT(Ping2IpAddr, 3600);
DCU_GPRS_AT(ConnType, 3632);
DCU_GPRS_AT(PingEnable, 3633);
DCU_GPRS_AT(NumPing, 3634);
DCU_GPRS_AT(PingInterval, 3635);
#undef DCU_GPRS_AT

// VPN
#define DCU_VPN_AT(member, offset) static_assert(3636 + offsetof(vpn_info_cfg, member) == (offset))
DCU_VPN_AT(VpnEnable, 3636);
DCU_VPN_AT(reserved_3640, 3640);
DCU_VPN_AT(LocUserName, 3672);
DCU_VPN_AT(LocPassword, 3704);
DCU_VPN_AT(RemUserName, 3736);
DCU_VPN_AT(RemPassword, 3768);
DCU_VPN_AT(ReqMemoryMap, 3800);
DCU_VPN_AT(KeyLifeTime, 3804);
DCU_VPN_AT(AggrMode, 3805);
DCU_VPN_AT(NatTrav, 3806);
DCU_VPN_AT(reserved_3807, 3807);
DCU_VPN_AT(Pfs, 3808);
DCU_VPN_AT(TunnelName, 3812);
DCU_VPN_AT(PreSharedKey, 3876);
DCU_VPN_AT(RightIp, 4004);
DCU_VPN_AT(RightSubnet, 4036);
DCU_VPN_AT(RightId, 4068);
DCU_VPN_AT(Left, 4100);
DCU_VPN_AT(LeftSubnet, 4132);
DCU_VPN_AT(LeftId, 4164);
DCU_VPN_AT(LeftSrcIp, 4196);
DCU_VPN_AT(KeyingMode, 4228);
DCU_VPN_AT(Phase1, 4236);
DCU_VPN_AT(Phase2, 4240);
#undef DCU_VPN_AT
static_assert(sizeof(vpn_info_cfg::KeyingMode) == 8 && sizeof(vpn_info_cfg::PreSharedKey) == 128);
static_assert(sizeof(ipsec_phase_cfg) == 4);
static_assert(offsetof(ipsec_phase_cfg, DhGrp) == 0);
static_assert(offsetof(ipsec_phase_cfg, Encrpt) == 1);
static_assert(offsetof(ipsec_phase_cfg, Authen) == 2);
static_assert(offsetof(ipsec_phase_cfg, reserved_3) == 3);

// MQTT
#define DCU_MQTT_AT(member, offset) static_assert(4244 + offsetof(mqtt_info_cfg, member) == (offset))
DCU_MQTT_AT(Enable, 4244);
DCU_MQTT_AT(EventTopicEnable, 4245);
DCU_MQTT_AT(DiagTopicEnable, 4246);
DCU_MQTT_AT(PubHr, 4247);
DCU_MQTT_AT(PubMint, 4248);
DCU_MQTT_AT(PubSec, 4249);
DCU_MQTT_AT(BrokerPort, 4250);
DCU_MQTT_AT(EventPubTopic, 4252);
DCU_MQTT_AT(PerDataTopic, 4316);
DCU_MQTT_AT(CmdSubTopic, 4380);
DCU_MQTT_AT(DiagPubTopic, 4444);
DCU_MQTT_AT(BrokerUname, 4508);
DCU_MQTT_AT(BrokerPass, 4540);
DCU_MQTT_AT(PubTopic, 4572);
DCU_MQTT_AT(SubTopic, 4636);
DCU_MQTT_AT(BrokerIp, 4668);
#undef DCU_MQTT_AT
static_assert(std::is_same_v<decltype(mqtt_info_cfg::BrokerPort), std::int16_t>);

// Head-end messaging
#define DCU_EMS_AT(member, offset) static_assert(4684 + offsetof(tev_ems_info_cfg, member) == (offset))
DCU_EMS_AT(Enable, 4684);
DCU_EMS_AT(EventSendEnable, 4685);
DCU_EMS_AT(DiagSendEnable, 4686);
DCU_EMS_AT(PubHr, 4687);
DCU_EMS_AT(PubMint, 4688);
DCU_EMS_AT(PubSec, 4689);
DCU_EMS_AT(BrokerPort, 4690);
DCU_EMS_AT(BrokerIp, 4692);
#undef DCU_EMS_AT
static_assert(sizeof(tev_ems_info_cfg::BrokerIp) == 18);
static_assert(std::is_same_v<decltype(tev_ems_info_cfg::BrokerPort), std::int16_t>);

// The flags read little-endian spell "ZQPA".
static_assert(kFlag == (std::uint32_t{'Z'} | std::uint32_t{'Q'} << 8 | std::uint32_t{'P'} << 16 |
                        std::uint32_t{'A'} << 24));

static_assert(kPublishTable.size() == 393, "a run of the fourteen steps sends 393 commands");

// The publisher prints a serial meter slot's line from the five entries that
// follow the slot's Enable entry.
constexpr bool meter_slots_in_print_order() {
    constexpr std::string_view order[] = {"Enable", "MeterId", "MeterAddrSize", "MeterAddr", "MeterPass", "MeterLoc"};
    for (std::size_t i = 0; i < kPublishTable.size(); ++i) {
        if (kPublishTable[i].line != StdoutLine::meter_slot_before) continue;
        if (i + std::size(order) > kPublishTable.size()) return false;
        for (std::size_t k = 0; k < std::size(order); ++k) {
            const PublishEntry &entry = kPublishTable[i + k];
            if (entry.field.view() != order[k] || entry.key.view() != kPublishTable[i].key.view()) return false;
        }
    }
    return true;
}
static_assert(meter_slots_in_print_order());

// ---------------------------------------------------------------------------

namespace {

// The CRC one byte at a time, from a table made by the bit-by-bit rule:
// for each of the eight bits, shift right, and xor 0xA001 when the bit
// shifted out was 1.
constexpr std::array<std::uint16_t, 256> make_crc_table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1;
        table[byte] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = make_crc_table();

std::uint32_t read_u32(RecordBytes record, std::size_t offset) noexcept {
    std::uint32_t value = 0;
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

}  // namespace

std::uint16_t crc16_modbus(std::span<const std::uint8_t> bytes) noexcept {
    unsigned crc = 0xFFFF;
    for (std::uint8_t byte : bytes) crc = (crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFFU];
    return static_cast<std::uint16_t>(crc);
}

FrameVerdict check_frame(RecordBytes record) noexcept {
    FrameVerdict verdict;
    verdict.start_flag = read_u32(record, kStartFlagOffset);
    verdict.end_flag = read_u32(record, kEndFlagOffset);
    if (verdict.start_flag != kFlag) {
        verdict.failed = FrameCheck::start_flag;
        return verdict;
    }
    if (verdict.end_flag != kFlag) {
        verdict.failed = FrameCheck::end_flag;
        return verdict;
    }
    verdict.computed_crc = crc16_modbus(record.first<kCrcSpan>());
    verdict.stored_crc = static_cast<std::uint16_t>(record[kCrcOffset] << 8 | record[kCrcOffset + 1]);
    if (verdict.computed_crc != verdict.stored_crc) verdict.failed = FrameCheck::crc;
    return verdict;
}

void seal_record(MutableRecordBytes record) noexcept {
    const std::uint32_t flag = kFlag;
    std::memcpy(record.data() + kStartFlagOffset, &flag, sizeof flag);
    std::memcpy(record.data() + kEndFlagOffset, &flag, sizeof flag);
    const std::uint16_t crc = crc16_modbus(std::span<const std::uint8_t>(record.data(), kCrcSpan));
    record[kCrcOffset] = static_cast<std::uint8_t>(crc >> 8);
    record[kCrcOffset + 1] = static_cast<std::uint8_t>(crc & 0xFFU);
}

int integer_value(RecordBytes record, const PublishEntry &entry) noexcept {
    const std::uint8_t *at = record.data() + entry.offset;
    switch (entry.type) {
    case ValueType::u8: return *at;
    case ValueType::u16: {
        std::uint16_t value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    case ValueType::s16: {
        std::int16_t value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    case ValueType::u32: {
        std::int32_t value = 0;  // the same four bytes read as signed
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    case ValueType::text: break;
    }
    return 0;
}

std::string_view text_value(RecordBytes record, const PublishEntry &entry) noexcept {
    const char *slot = reinterpret_cast<const char *>(record.data() + entry.offset);
    return std::string_view(slot, strnlen(slot, entry.size));
}

}  // namespace dcu::loader
