#include "tests/loader/fixtures.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace dcu::test::loader {
namespace {

std::vector<Field> make_published_fields() {
    std::vector<Field> f;
    auto u8 = [&](std::string key, std::string field, std::size_t offset) {
        f.push_back({std::move(key), std::move(field), offset, Kind::u8, 1});
    };
    auto u16 = [&](std::string key, std::string field, std::size_t offset) {
        f.push_back({std::move(key), std::move(field), offset, Kind::u16, 2});
    };
    auto s16 = [&](std::string key, std::string field, std::size_t offset) {
        f.push_back({std::move(key), std::move(field), offset, Kind::s16, 2});
    };
    auto u32 = [&](std::string key, std::string field, std::size_t offset) {
        f.push_back({std::move(key), std::move(field), offset, Kind::u32, 4});
    };
    auto text = [&](std::string key, std::string field, std::size_t offset, std::size_t slot) {
        f.push_back({std::move(key), std::move(field), offset, Kind::text, slot});
    };
    auto n = [](std::string_view format, int number) {
        std::string name(format);
        name.replace(name.find("%d"), 2, std::to_string(number));
        return name;
    };

    // 1. unit general settings
    u8("DCU_GEN_INFO", "DcuDevId", 10);
    u8("DCU_GEN_INFO", "ReadPrevLsData", 18);
    u8("DCU_GEN_INFO", "FaultTolSupp", 19);
    u8("DCU_GEN_INFO", "NumEthPort", 5);
    u8("DCU_GEN_INFO", "MeterType", 6);
    u8("DCU_GEN_INFO", "DataFormatType", 7);
    u8("DCU_GEN_INFO", "DataTrfType", 8);
    u8("DCU_GEN_INFO", "MasterProtoType", 9);
    u8("DCU_GEN_INFO", "DbgLogEnable", 11);
    text("DCU_GEN_INFO", "DcuDevLoc", 87, 64);
    text("DCU_GEN_INFO", "DcuGpsLoc", 151, 64);
    text("DCU_GEN_INFO", "DbgLogIp", 215, 16);
    u8("DCU_GEN_INFO", "DbgLogLevel", 12);
    text("DCU_GEN_INFO", "SerNum", 231, 33);
    u8("DCU_GEN_INFO", "EnableAllowedMaster", 17);
    for (int i = 1; i <= 4; ++i) {
        u8("DCU_GEN_INFO", n("MasterIp_%dEnable", i), 12 + static_cast<std::size_t>(i));
        text("DCU_GEN_INFO", n("Master_%dIp", i), 23 + 16 * static_cast<std::size_t>(i - 1), 16);
    }
    // 2. serial meter ports from 0, meters from 1
    for (int p = 0; p < 4; ++p) {
        const std::size_t port = 428 + 364 * static_cast<std::size_t>(p);
        u32(n("P_%dSER_MET_INFO", p), "NumMeters", port);
        for (int m = 0; m < 5; ++m) {
            const std::size_t b = port + 4 + 72 * static_cast<std::size_t>(m);
            const std::string key = n(n("P_%dSerMeter_%dConfig", p), m + 1);
            u8(key, "Enable", b);
            u8(key, "MeterId", b + 1);
            u8(key, "MeterAddrSize", b + 2);
            u32(key, "MeterAddr", b + 4);
            text(key, "MeterPass", b + 8, 32);
            text(key, "MeterLoc", b + 40, 32);
        }
    }
    // 3. Ethernet meters
    u32("ETH_MET_INFO", "NumMeters", 1884);
    for (int m = 1; m <= 10; ++m) {
        const std::size_t b = 1888 + 108 * static_cast<std::size_t>(m - 1);
        const std::string key = n("EthMeter_%dConfig", m);
        u8(key, "Enable", b);
        u8(key, "MeterId", b + 1);
        u8(key, "MeterAddrSize", b + 2);
        u32(key, "MeterAddr", b + 8);
        text(key, "MeterPass", b + 12, 32);
        text(key, "MeterIp", b + 44, 32);
        text(key, "MeterLoc", b + 76, 32);
        u16(key, "Port", b + 6);
    }
    // 4. IEC 60870-5-104
    u8("IEC104_INFO", "Enable", 3340);
    u32("IEC104_INFO", "AsduAddr", 3360);
    u8("IEC104_INFO", "Time1", 3341);
    u8("IEC104_INFO", "Time2", 3342);
    u8("IEC104_INFO", "Time3", 3343);
    u8("IEC104_INFO", "SentAck", 3344);
    u8("IEC104_INFO", "RecvAck", 3345);
    u8("IEC104_INFO", "CotSize", 3346);
    u8("IEC104_INFO", "IoaSize", 3347);
    u8("IEC104_INFO", "CycInterval", 3348);
    u16("IEC104_INFO", "IecPort", 3350);
    u32("IEC104_INFO", "StDataIoa", 3352);
    u32("IEC104_INFO", "StDevStatusIoa", 3356);
    // 5. Modbus TCP
    u8("MODTCP_INFO", "Enable", 3364);
    u8("MODTCP_INFO", "RespAllId", 3365);
    u8("MODTCP_INFO", "SlaveId", 3366);
    u16("MODTCP_INFO", "HoldRegStAddr", 3370);
    u16("MODTCP_INFO", "InputRegStAddr", 3372);
    u16("MODTCP_INFO", "ReadCoilStAddr", 3374);
    u16("MODTCP_INFO", "Port", 3376);
    u16("MODTCP_INFO", "ReadDiscStAddr", 3378);
    // 6. polling schedules, published INST, DP, BILL, EVENT, LS
    const std::pair<const char *, std::size_t> polls[] = {{"INST_POLL_INFO", 3164},
                                                          {"DP_POLL_INFO", 3196},
                                                          {"BILL_POLL_INFO", 3188},
                                                          {"EVENT_POLL_INFO", 3180},
                                                          {"LS_POLL_INFO", 3172}};
    for (const auto &[key, b] : polls) {
        u8(key, "Enable", b);
        u8(key, "PollType", b + 1);
        u8(key, "Periodicity", b + 2);
        u8(key, "PollSec", b + 3);
        u8(key, "PollMint", b + 4);
        u8(key, "PollHr", b + 5);
    }
    // 7. MQTT
    u8("MQTT_INFO", "Enable", 4244);
    text("MQTT_INFO", "BrokerIp", 4668, 16);
    text("MQTT_INFO", "SubTopic", 4636, 32);
    text("MQTT_INFO", "PubTopic", 4572, 64);
    text("MQTT_INFO", "BrokerPass", 4540, 32);
    text("MQTT_INFO", "BrokerUname", 4508, 32);
    s16("MQTT_INFO", "BrokerPort", 4250);
    u8("MQTT_INFO", "PubSec", 4249);
    u8("MQTT_INFO", "PubMint", 4248);
    u8("MQTT_INFO", "PubHr", 4247);
    text("MQTT_INFO", "DiagPubTopic", 4444, 64);
    u8("MQTT_INFO", "DiagTopicEnable", 4246);
    text("MQTT_INFO", "CmdSubTopic", 4380, 64);
    text("MQTT_INFO", "PerDataTopic", 4316, 64);
    text("MQTT_INFO", "EventPubTopic", 4252, 64);
    u8("MQTT_INFO", "EventTopicEnable", 4245);
    // 8. head-end messaging
    u8("TEV_EMS_INFO", "Enable", 4684);
    text("TEV_EMS_INFO", "BrokerIp", 4692, 18);
    u8("TEV_EMS_INFO", "EventSendEnable", 4685);
    u8("TEV_EMS_INFO", "DiagSendEnable", 4686);
    u8("TEV_EMS_INFO", "PubSec", 4689);
    u8("TEV_EMS_INFO", "PubMint", 4688);
    u8("TEV_EMS_INFO", "PubHr", 4687);
    s16("TEV_EMS_INFO", "BrokerPort", 4690);
    // 9. time servers
    u8("NTP_INFO", "Ntp1Enable", 3380);
    u8("NTP_INFO", "Ntp2Enable", 3381);
    u32("NTP_INFO", "Ntp1Port", 3384);
    u32("NTP_INFO", "Ntp2Port", 3388);
    u32("NTP_INFO", "Interval", 3392);
    text("NTP_INFO", "Ntp1IpAddr", 3404, 16);
    text("NTP_INFO", "Ntp2IpAddr", 3420, 16);
    // 10. Ethernet ports of the unit: gateway before net mask
    u32("DCU_ETH_INFO", "NumDcuEth", 2968);
    for (int i = 1; i <= 2; ++i) {
        const std::size_t b = 2972 + 96 * static_cast<std::size_t>(i - 1);
        text("DCU_ETH_INFO", n("DcuEth%dIp", i), b, 32);
        text("DCU_ETH_INFO", n("DcuEth%dGw", i), b + 64, 32);
        text("DCU_ETH_INFO", n("DcuEth%dNetMask", i), b + 32, 32);
    }
    // 11. serial ports of the unit
    u32("DCU_SERIAL_INFO", "NumDcuSer", 264);
    for (int i = 1; i <= 4; ++i) {
        const std::size_t b = 268 + 40 * static_cast<std::size_t>(i - 1);
        text("DCU_SERIAL_INFO", n("DcuSer%dPort", i), b, 32);
        u8("DCU_SERIAL_INFO", n("DcuSer%dBaudrate", i), b + 32);
        u8("DCU_SERIAL_INFO", n("DcuSer%dDataBits", i), b + 33);
        u8("DCU_SERIAL_INFO", n("DcuSer%dStopBits", i), b + 34);
        u8("DCU_SERIAL_INFO", n("DcuSer%dParity", i), b + 35);
        u8("DCU_SERIAL_INFO", n("DcuSer%dInfMode", i), b + 37);
    }
    // 12. cellular data connection
    u32("GPRS_INFO", "GprsEnable", 3436);
    u8("GPRS_INFO", "PingInterval", 3635);
    u8("GPRS_INFO", "NumPing", 3634);
    u8("GPRS_INFO", "ConnType", 3632);
    u8("GPRS_INFO", "PingEnable", 3633);
    text("GPRS_INFO", "Ping1IpAddr", 3568, 32);
    text("GPRS_INFO", "Ping2IpAddr", 3600, 32);
    text("GPRS_INFO", "AccPtName", 3536, 32);
    text("GPRS_INFO", "PhoneNum", 3504, 32);
    text("GPRS_INFO", "Password", 3472, 32);
    text("GPRS_INFO", "UserName", 3440, 32);
    // 13. file upload servers
    u8("FTP_SER_INFO", "Enable", 3204);
    u8("FTP_SER_INFO", "DiffLogSer", 3205);
    u16("FTP_SER_INFO", "SerPort", 3208);
    u8("FTP_SER_INFO", "UploadPeriod", 3207);
    text("FTP_SER_INFO", "LocDir", 3260, 16);
    text("FTP_SER_INFO", "Password", 3244, 16);
    text("FTP_SER_INFO", "UserName", 3228, 16);
    text("FTP_SER_INFO", "SerIp", 3212, 16);
    u16("FTP_SER_INFO", "LogSerPort", 3210);
    u8("FTP_SER_INFO", "LogUploadPeriod", 3206);
    text("FTP_SER_INFO", "LogLocDir", 3324, 16);
    text("FTP_SER_INFO", "LogPassword", 3308, 16);
    text("FTP_SER_INFO", "LogUserName", 3292, 16);
    text("FTP_SER_INFO", "LogSerIp", 3276, 16);
    // 14. VPN
    u32("VPN_INFO", "VpnEnable", 3636);
    text("PPTPCFG", "LocUserName", 3672, 32);
    text("PPTPCFG", "LocPassword", 3704, 32);
    text("PPTPCFG", "RemUserName", 3736, 32);
    text("PPTPCFG", "RemPassword", 3768, 32);
    u32("PPTPCFG", "ReqMemoryMap", 3800);
    u8("IPSECCFG", "KeyLifeTime", 3804);
    u8("IPSECCFG", "AggrMode", 3805);
    u8("IPSECCFG", "NatTrav", 3806);
    u32("IPSECCFG", "Pfs", 3808);
    text("IPSECCFG", "TunnelName", 3812, 64);
    text("IPSECCFG", "PreSharedKey", 3876, 128);
    text("IPSECCFG", "RightIp", 4004, 32);
    text("IPSECCFG", "RightId", 4068, 32);
    text("IPSECCFG", "RightSubnet", 4036, 32);
    text("IPSECCFG", "Left", 4100, 32);
    text("IPSECCFG", "LeftSubnet", 4132, 32);
    text("IPSECCFG", "LeftId", 4164, 32);
    text("IPSECCFG", "LeftSrcIp", 4196, 32);
    text("IPSECCFG", "KeyingMode", 4228, 8);
    u8("Phase1", "DhGrp", 4236);
    u8("Phase2", "DhGrp", 4240);
    u8("Phase1", "Encrpt", 4237);
    u8("Phase2", "Encrpt", 4241);
    u8("Phase1", "Authen", 4238);
    u8("Phase2", "Authen", 4242);
    return f;
}

std::vector<ByteRange> make_unpublished_ranges() {
    std::vector<ByteRange> r = {{0, 4}, {4, 1}, {20, 3}};
    for (std::size_t i = 0; i < 4; ++i) {
        r.push_back({268 + 40 * i + 36, 1});
        r.push_back({268 + 40 * i + 38, 2});
    }
    for (std::size_t p = 0; p < 4; ++p)
        for (std::size_t m = 0; m < 5; ++m) r.push_back({428 + 364 * p + 4 + 72 * m + 3, 1});
    for (std::size_t m = 0; m < 10; ++m) r.push_back({1888 + 108 * m + 3, 3});
    for (std::size_t s = 0; s < 5; ++s) r.push_back({3164 + 8 * s + 6, 2});
    const ByteRange rest[] = {{3349, 1}, {3367, 3}, {3382, 2}, {3396, 8}, {3640, 32}, {3807, 1},
                              {4239, 1}, {4243, 1}, {4710, 2}, {4712, 4}};
    r.insert(r.end(), std::begin(rest), std::end(rest));
    return r;
}

}  // namespace

const std::vector<Field> &published_fields() {
    static const std::vector<Field> fields = make_published_fields();
    return fields;
}

const std::vector<ByteRange> &unpublished_ranges() {
    static const std::vector<ByteRange> ranges = make_unpublished_ranges();
    return ranges;
}

const Field &field_of(std::string_view key, std::string_view field) {
    for (const Field &f : published_fields())
        if (f.key == key && f.field == field) return f;
    throw std::invalid_argument("no published field " + std::string(key) + " " + std::string(field));
}

std::uint16_t reference_crc(const std::uint8_t *bytes, std::size_t length) {
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
}

void put_int(Record &record, const Field &field, std::uint32_t value) {
    for (std::size_t i = 0; i < field.size; ++i) record[field.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put_text(Record &record, const Field &field, std::string_view text) {
    if (text.size() > field.size) throw std::invalid_argument("text longer than its slot");
    std::memset(record.data() + field.offset, 0, field.size);
    std::memcpy(record.data() + field.offset, text.data(), text.size());
}

void seal(Record &record) {
    const std::uint8_t flag[4] = {'Z', 'Q', 'P', 'A'};
    std::memcpy(record.data(), flag, 4);
    std::memcpy(record.data() + 4712, flag, 4);
    const std::uint16_t crc = reference_crc(record.data(), 4710);
    record[4710] = static_cast<std::uint8_t>(crc >> 8);
    record[4711] = static_cast<std::uint8_t>(crc & 0xFF);
}

std::string published_value(const Record &record, const Field &field) {
    const std::uint8_t *at = record.data() + field.offset;
    switch (field.kind) {
    case Kind::u8: return std::to_string(at[0]);
    case Kind::u16: return std::to_string(at[0] | at[1] << 8);
    case Kind::s16: return std::to_string(static_cast<std::int16_t>(at[0] | at[1] << 8));
    case Kind::u32:
        return std::to_string(static_cast<std::int32_t>(std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 |
                                                        std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24));
    case Kind::text: {
        const char *slot = reinterpret_cast<const char *>(at);
        return std::string(slot, strnlen(slot, field.size));
    }
    }
    return {};
}

Record distinct_record() {
    Record record{};
    for (const Field &f : published_fields()) {
        const auto offset = static_cast<std::uint32_t>(f.offset);
        switch (f.kind) {
        case Kind::u8: put_int(record, f, (offset * 7U + 3U) & 0xFFU); break;
        case Kind::u16:
        case Kind::s16: put_int(record, f, 0x8000U | offset); break;
        case Kind::u32: put_int(record, f, 0x80000000U | offset); break;
        case Kind::text: {
            std::string text = "v" + std::to_string(offset) + " x";
            text.resize(std::min(text.size(), f.size));
            put_text(record, f, text);
            break;
        }
        }
    }
    seal(record);
    return record;
}

void write_record(const std::filesystem::path &path, const Record &record) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(record.data()), static_cast<std::streamsize>(record.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

CapturedOutput::CapturedOutput(int fd) : fd_(fd) {
    std::fflush(stdout);
    file_ = std::tmpfile();
    saved_fd_ = ::dup(fd_);
    if (file_ == nullptr || saved_fd_ < 0 || ::dup2(::fileno(file_), fd_) < 0)
        throw std::runtime_error("cannot capture an output");
}

CapturedOutput::~CapturedOutput() {
    finish();
    if (file_ != nullptr) std::fclose(file_);
}

std::string CapturedOutput::finish() {
    if (saved_fd_ < 0) return {};
    std::fflush(stdout);
    ::dup2(saved_fd_, fd_);
    ::close(saved_fd_);
    saved_fd_ = -1;
    std::string text;
    std::rewind(file_);
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, n);
    return text;
}

}  // namespace dcu::test::loader
