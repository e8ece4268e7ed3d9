// The publish table, built at compile time from the record's C declaration:
// each entry's offset, type and slot size are read off the member it names,
// so the table can't drift from the structure.
#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>
#include <utility>

#include "common/unit_keys.hpp"
#include "loader/config_record.hpp"

namespace dcu::loader {

namespace {

// Offset, type and size of one record member, read off its C declaration.
struct Slot {
    std::size_t offset;
    ValueType type;
    std::size_t size;
    // The same member in element `index` of an array of `stride`-byte elements.
    constexpr Slot at(std::size_t index, std::size_t stride) const { return {offset + index * stride, type, size}; }
};

template <class Member>
constexpr Slot slot_of(std::size_t offset) {
    using T = std::remove_cvref_t<Member>;
    if constexpr (std::is_same_v<T, std::uint8_t>) return {offset, ValueType::u8, 1};
    else if constexpr (std::is_same_v<T, std::uint16_t>) return {offset, ValueType::u16, 2};
    else if constexpr (std::is_same_v<T, std::int16_t>) return {offset, ValueType::s16, 2};
    else if constexpr (std::is_same_v<T, std::uint32_t>) return {offset, ValueType::u32, 4};
    else {
        static_assert(std::is_same_v<std::remove_extent_t<T>, char> && std::rank_v<T> == 1, "unpublishable member");
        return {offset, ValueType::text, std::extent_v<T>};
    }
}

// The member `member` of the record section at `section_offset`.
#define DCU_RECORD_SLOT(Section, section_offset, member) \
    slot_of<decltype(std::declval<Section &>().member)>((section_offset) + offsetof(Section, member))

class TableBuilder {
public:
    constexpr void add(Step step, std::string_view key_format, std::array<int, 2> key_numbers,
                       std::string_view field_format, int field_number, Slot slot,
                       StdoutLine line = StdoutLine::none) {
        if (count_ == entries_.size()) throw "publish table overflow";
        entries_[count_++] = PublishEntry{step,
                                          key_format,
                                          key_numbers,
                                          field_format,
                                          field_number,
                                          static_cast<std::uint16_t>(slot.offset),
                                          slot.type,
                                          static_cast<std::uint16_t>(slot.size),
                                          line,
                                          StoreName(key_format, key_numbers[0], key_numbers[1]),
                                          StoreName(field_format, field_number, 0)};
    }
    // A field of a key without element numbers, named like its member.
    constexpr void add(Step step, std::string_view key, std::string_view field, Slot slot) {
        add(step, key, {0, 0}, field, 0, slot);
    }
    constexpr std::array<PublishEntry, kPublishEntries> finish() const {
        if (count_ != entries_.size()) throw "publish table short of entries";
        return entries_;
    }

private:
    std::array<PublishEntry, kPublishEntries> entries_{};
    std::size_t count_ = 0;
};

constexpr std::array<PublishEntry, kPublishEntries> build_publish_table() {
    TableBuilder t;

    // 1. DCU_GEN_INFO
    {
        constexpr std::size_t base = offsetof(dcu_config_record, GenInfo);
        using S = dcu_gen_info_cfg;
        constexpr Step step = Step::dcu_info;
        constexpr std::string_view key = unit_keys::kGeneralInfo;
        t.add(step, key, "DcuDevId", DCU_RECORD_SLOT(S, base, DcuDevId));
        t.add(step, key, "ReadPrevLsData", DCU_RECORD_SLOT(S, base, ReadPrevLsData));
        t.add(step, key, "FaultTolSupp", DCU_RECORD_SLOT(S, base, FaultTolSupp));
        t.add(step, key, "NumEthPort", DCU_RECORD_SLOT(S, base, NumEthPort));
        t.add(step, key, unit_keys::kMeterTypeField, DCU_RECORD_SLOT(S, base, MeterType));
        t.add(step, key, "DataFormatType", DCU_RECORD_SLOT(S, base, DataFormatType));
        t.add(step, key, "DataTrfType", DCU_RECORD_SLOT(S, base, DataTrfType));
        t.add(step, key, "MasterProtoType", DCU_RECORD_SLOT(S, base, MasterProtoType));
        t.add(step, key, "DbgLogEnable", DCU_RECORD_SLOT(S, base, DbgLogEnable));
        t.add(step, key, "DcuDevLoc", DCU_RECORD_SLOT(S, base, DcuDevLoc));
        t.add(step, key, "DcuGpsLoc", DCU_RECORD_SLOT(S, base, DcuGpsLoc));
        t.add(step, key, "DbgLogIp", DCU_RECORD_SLOT(S, base, DbgLogIp));
        t.add(step, key, "DbgLogLevel", DCU_RECORD_SLOT(S, base, DbgLogLevel));
        t.add(step, key, unit_keys::kUnitSerialNumberField, DCU_RECORD_SLOT(S, base, SerNum));
        t.add(step, key, "EnableAllowedMaster", DCU_RECORD_SLOT(S, base, EnableAllowedMaster));
        for (int i = 0; i < DCU_NUM_MASTERS; ++i) {
            const auto n = static_cast<std::size_t>(i);
            t.add(step, key, {0, 0}, "MasterIp_%dEnable", i + 1,
                  DCU_RECORD_SLOT(S, base, MasterIpEnable[0]).at(n, 1));
            t.add(step, key, {0, 0}, "Master_%dIp", i + 1,
                  DCU_RECORD_SLOT(S, base, MasterIp[0]).at(n, sizeof(S{}.MasterIp[0])));
        }
    }

    // 2. Each serial meter port's count and P_%dSerMeter_%dConfig: ports from 0,
    // meters from 1, every slot whatever NumMeters says.
    for (int p = 0; p < DCU_NUM_SER_METER_PORTS; ++p) {
        const std::size_t port_base =
            offsetof(dcu_config_record, SerMeterPort) + static_cast<std::size_t>(p) * sizeof(ser_meter_port_cfg);
        constexpr Step step = Step::ser_meter_info;
        t.add(step, unit_keys::kSerialMeterInfo, {p, 0}, unit_keys::kNumMetersField, 0,
              DCU_RECORD_SLOT(ser_meter_port_cfg, port_base, NumMeters));
        for (int m = 0; m < DCU_METERS_PER_SER_PORT; ++m) {
            const std::size_t base = port_base + offsetof(ser_meter_port_cfg, Meter) +
                                     static_cast<std::size_t>(m) * sizeof(ser_meter_cfg);
            using S = ser_meter_cfg;
            constexpr std::string_view key = "P_%dSerMeter_%dConfig";
            const std::array<int, 2> numbers{p, m + 1};
            t.add(step, key, numbers, "Enable", 0, DCU_RECORD_SLOT(S, base, Enable), StdoutLine::meter_slot_before);
            t.add(step, key, numbers, "MeterId", 0, DCU_RECORD_SLOT(S, base, MeterId));
            t.add(step, key, numbers, "MeterAddrSize", 0, DCU_RECORD_SLOT(S, base, MeterAddrSize));
            t.add(step, key, numbers, "MeterAddr", 0, DCU_RECORD_SLOT(S, base, MeterAddr));
            t.add(step, key, numbers, "MeterPass", 0, DCU_RECORD_SLOT(S, base, MeterPass));
            t.add(step, key, numbers, "MeterLoc", 0, DCU_RECORD_SLOT(S, base, MeterLoc));
        }
    }

    // 3. The Ethernet meters' count and EthMeter_%dConfig, meters from 1, all ten.
    {
        constexpr std::size_t section = offsetof(dcu_config_record, EthMeterInfo);
        constexpr Step step = Step::eth_meter_info;
        t.add(step, unit_keys::kEthernetMeterInfo, unit_keys::kNumMetersField,
              DCU_RECORD_SLOT(eth_meter_info_cfg, section, NumMeters));
        for (int n = 1; n <= DCU_NUM_ETH_METERS; ++n) {
            const std::size_t base = section + offsetof(eth_meter_info_cfg, Meter) +
                                     static_cast<std::size_t>(n - 1) * sizeof(eth_meter_cfg);
            using S = eth_meter_cfg;
            constexpr std::string_view key = "EthMeter_%dConfig";
            const std::array<int, 2> numbers{n, 0};
            t.add(step, key, numbers, "Enable", 0, DCU_RECORD_SLOT(S, base, Enable));
            t.add(step, key, numbers, "MeterId", 0, DCU_RECORD_SLOT(S, base, MeterId));
            t.add(step, key, numbers, "MeterAddrSize", 0, DCU_RECORD_SLOT(S, base, MeterAddrSize));
            t.add(step, key, numbers, "MeterAddr", 0, DCU_RECORD_SLOT(S, base, MeterAddr));
            t.add(step, key, numbers, "MeterPass", 0, DCU_RECORD_SLOT(S, base, MeterPass));
            t.add(step, key, numbers, "MeterIp", 0, DCU_RECORD_SLOT(S, base, MeterIp));
            t.add(step, key, numbers, "MeterLoc", 0, DCU_RECORD_SLOT(S, base, MeterLoc));
            t.add(step, key, numbers, "Port", 0, DCU_RECORD_SLOT(S, base, Port));
        }
    }

    // 4. IEC104_INFO
    {
        constexpr std::size_t base = offsetof(dcu_config_record, Iec104Info);
        using S = iec104_info_cfg;
        constexpr Step step = Step::iec104_info;
        constexpr std::string_view key = "IEC104_INFO";
        t.add(step, key, "Enable", DCU_RECORD_SLOT(S, base, Enable));
        t.add(step, key, "AsduAddr", DCU_RECORD_SLOT(S, base, AsduAddr));
        t.add(step, key, "Time1", DCU_RECORD_SLOT(S, base, Time1));
        t.add(step, key, "Time2", DCU_RECORD_SLOT(S, base, Time2));
        t.add(step, key, "Time3", DCU_RECORD_SLOT(S, base, Time3));
        t.add(step, key, "SentAck", DCU_RECORD_SLOT(S, base, SentAck));
        t.add(step, key, "RecvAck", DCU_RECORD_SLOT(S, base, RecvAck));
        t.add(step, key, "CotSize", DCU_RECORD_SLOT(S, base, CotSize));
        t.add(step, key, "IoaSize", DCU_RECORD_SLOT(S, base, IoaSize));
        t.add(step, key, "CycInterval", DCU_RECORD_SLOT(S, base, CycInterval));
        t.add(step, key, "IecPort", DCU_RECORD_SLOT(S, base, IecPort));
        t.add(step, key, "StDataIoa", DCU_RECORD_SLOT(S, base, StDataIoa));
        t.add(step, key, "StDevStatusIoa", DCU_RECORD_SLOT(S, base, StDevStatusIoa));
    }

    // 5. MODTCP_INFO
    {
        constexpr std::size_t base = offsetof(dcu_config_record, ModTcpInfo);
        using S = modtcp_info_cfg;
        constexpr Step step = Step::modtcp_info;
        constexpr std::string_view key = "MODTCP_INFO";
        t.add(step, key, "Enable", DCU_RECORD_SLOT(S, base, Enable));
        t.add(step, key, "RespAllId", DCU_RECORD_SLOT(S, base, RespAllId));
        t.add(step, key, "SlaveId", DCU_RECORD_SLOT(S, base, SlaveId));
        t.add(step, key, "HoldRegStAddr", DCU_RECORD_SLOT(S, base, HoldRegStAddr));
        t.add(step, key, "InputRegStAddr", DCU_RECORD_SLOT(S, base, InputRegStAddr));
        t.add(step, key, "ReadCoilStAddr", DCU_RECORD_SLOT(S, base, ReadCoilStAddr));
        t.add(step, key, "Port", DCU_RECORD_SLOT(S, base, Port));
        t.add(step, key, "ReadDiscStAddr", DCU_RECORD_SLOT(S, base, ReadDiscStAddr));
    }

    // 6. The five polling schedules, published INST, DP, BILL, EVENT, LS while
    // the record holds them INST, LS, EVENT, BILL, DP.
    {
        constexpr std::size_t section = offsetof(dcu_config_record, PollInfo);
        struct Schedule {
            std::string_view key;
            std::size_t offset;
        };
        constexpr Schedule schedules[] = {
            {"INST_POLL_INFO", offsetof(dcu_poll_info_cfg, Inst)},
            {"DP_POLL_INFO", offsetof(dcu_poll_info_cfg, Dp)},
            {"BILL_POLL_INFO", offsetof(dcu_poll_info_cfg, Bill)},
            {"EVENT_POLL_INFO", offsetof(dcu_poll_info_cfg, Event)},
            {"LS_POLL_INFO", offsetof(dcu_poll_info_cfg, Ls)},
        };
        for (const Schedule &schedule : schedules) {
            const std::size_t base = section + schedule.offset;
            using S = poll_cfg;
            constexpr Step step = Step::dcu_poll_info;
            t.add(step, schedule.key, "Enable", DCU_RECORD_SLOT(S, base, Enable));
            t.add(step, schedule.key, "PollType", DCU_RECORD_SLOT(S, base, PollType));
            t.add(step, schedule.key, "Periodicity", DCU_RECORD_SLOT(S, base, Periodicity));
            t.add(step, schedule.key, "PollSec", DCU_RECORD_SLOT(S, base, PollSec));
            t.add(step, schedule.key, "PollMint", DCU_RECORD_SLOT(S, base, PollMint));
            t.add(step, schedule.key, "PollHr", DCU_RECORD_SLOT(S, base, PollHr));
        }
    }

    // 7. MQTT_INFO
    {
        constexpr std::size_t base = offsetof(dcu_config_record, MqttInfo);
        using S = mqtt_info_cfg;
        constexpr Step step = Step::mqtt_info;
        constexpr std::string_view key = unit_keys::kMqttInfo;
        t.add(step, key, "Enable", DCU_RECORD_SLOT(S, base, Enable));
        t.add(step, key, unit_keys::kBrokerIpField, DCU_RECORD_SLOT(S, base, BrokerIp));
        t.add(step, key, "SubTopic", DCU_RECORD_SLOT(S, base, SubTopic));
        t.add(step, key, unit_keys::kAnswerTopicField, DCU_RECORD_SLOT(S, base, PubTopic));
        t.add(step, key, unit_keys::kBrokerPasswordField, DCU_RECORD_SLOT(S, base, BrokerPass));
        t.add(step, key, unit_keys::kBrokerUserField, DCU_RECORD_SLOT(S, base, BrokerUname));
        t.add(step, key, unit_keys::kBrokerPortField, DCU_RECORD_SLOT(S, base, BrokerPort));
        t.add(step, key, "PubSec", DCU_RECORD_SLOT(S, base, PubSec));
        t.add(step, key, "PubMint", DCU_RECORD_SLOT(S, base, PubMint));
        t.add(step, key, "PubHr", DCU_RECORD_SLOT(S, base, PubHr));
        t.add(step, key, "DiagPubTopic", DCU_RECORD_SLOT(S, base, DiagPubTopic));
        t.add(step, key, "DiagTopicEnable", DCU_RECORD_SLOT(S, base, DiagTopicEnable));
        t.add(step, key, unit_keys::kCommandTopicField, DCU_RECORD_SLOT(S, base, CmdSubTopic));
        t.add(step, key, "PerDataTopic", DCU_RECORD_SLOT(S, base, PerDataTopic));
        t.add(step, key, "EventPubTopic", DCU_RECORD_SLOT(S, base, EventPubTopic));
        t.add(step, key, "EventTopicEnable", DCU_RECORD_SLOT(S, base, EventTopicEnable));
    }

    // 8. TEV_EMS_INFO
    {
        constexpr std::size_t base = offsetof(dcu_config_record, TevEmsInfo);
        using S = tev_ems_info_cfg;
        constexpr Step step = Step::tev_ems_info;
        constexpr std::string_view key = "TEV_EMS_INFO";
        t.add(step, key, "Enable", DCU_RECORD_SLOT(S, base, Enable));
        t.add(step, key, "BrokerIp", DCU_RECORD_SLOT(S, base, BrokerIp));
        t.add(step, key, "EventSendEnable", DCU_RECORD_SLOT(S, base, EventSendEnable));
        t.add(step, key, "DiagSendEnable", DCU_RECORD_SLOT(S, base, DiagSendEnable));
        t.add(step, key, "PubSec", DCU_RECORD_SLOT(S, base, PubSec));
        t.add(step, key, "PubMint", DCU_RECORD_SLOT(S, base, PubMint));
        t.add(step, key, "PubHr", DCU_RECORD_SLOT(S, base, PubHr));
        t.add(step, key, "BrokerPort", DCU_RECORD_SLOT(S, base, BrokerPort));
    }

    // 9. NTP_INFO
    {
        constexpr std::size_t base = offsetof(dcu_config_record, NtpInfo);
        using S = ntp_info_cfg;
        constexpr Step step = Step::ntp_info;
        constexpr std::string_view key = "NTP_INFO";
        t.add(step, key, "Ntp1Enable", DCU_RECORD_SLOT(S, base, Ntp1Enable));
        t.add(step, key, "Ntp2Enable", DCU_RECORD_SLOT(S, base, Ntp2Enable));
        t.add(step, key, "Ntp1Port", DCU_RECORD_SLOT(S, base, Ntp1Port));
        t.add(step, key, "Ntp2Port", DCU_RECORD_SLOT(S, base, Ntp2Port));
        t.add(step, key, "Interval", DCU_RECORD_SLOT(S, base, Interval));
        t.add(step, key, "Ntp1IpAddr", DCU_RECORD_SLOT(S, base, Ntp1IpAddr));
        t.add(step, key, "Ntp2IpAddr", DCU_RECORD_SLOT(S, base, Ntp2IpAddr));
    }

    // 10. DCU_ETH_INFO: gateway before net mask, both ports whatever NumDcuEth says.
    {
        constexpr std::size_t section = offsetof(dcu_config_record, EthInfo);
        constexpr Step step = Step::dcu_eth_info;
        constexpr std::string_view key = "DCU_ETH_INFO";
        t.add(step, key, "NumDcuEth", DCU_RECORD_SLOT(dcu_eth_info_cfg, section, NumDcuEth));
        for (int n = 1; n <= DCU_NUM_DCU_ETH_PORTS; ++n) {
            const std::size_t base = section + offsetof(dcu_eth_info_cfg, Port) +
                                     static_cast<std::size_t>(n - 1) * sizeof(dcu_eth_port_cfg);
            using S = dcu_eth_port_cfg;
            t.add(step, key, {0, 0}, "DcuEth%dIp", n, DCU_RECORD_SLOT(S, base, Ip));
            t.add(step, key, {0, 0}, "DcuEth%dGw", n, DCU_RECORD_SLOT(S, base, Gw));
            t.add(step, key, {0, 0}, "DcuEth%dNetMask", n, DCU_RECORD_SLOT(S, base, NetMask));
        }
    }

    // 11. DCU_SERIAL_INFO, all four ports whatever NumDcuSer says.
    {
        constexpr std::size_t section = offsetof(dcu_config_record, SerialInfo);
        constexpr Step step = Step::dcu_serial_info;
        constexpr std::string_view key = "DCU_SERIAL_INFO";
        t.add(step, key, "NumDcuSer", DCU_RECORD_SLOT(dcu_serial_info_cfg, section, NumDcuSer));
        for (int n = 1; n <= DCU_NUM_DCU_SER_PORTS; ++n) {
            const std::size_t base = section + offsetof(dcu_serial_info_cfg, Port) +
                                     static_cast<std::size_t>(n - 1) * sizeof(dcu_ser_port_cfg);
            using S = dcu_ser_port_cfg;
            t.add(step, key, {0, 0}, "DcuSer%dPort", n, DCU_RECORD_SLOT(S, base, Port),
                  StdoutLine::serial_port_before);
            t.add(step, key, {0, 0}, "DcuSer%dBaudrate", n, DCU_RECORD_SLOT(S, base, Baudrate));
            t.add(step, key, {0, 0}, "DcuSer%dDataBits", n, DCU_RECORD_SLOT(S, base, DataBits));
            t.add(step, key, {0, 0}, "DcuSer%dStopBits", n, DCU_RECORD_SLOT(S, base, StopBits));
            t.add(step, key, {0, 0}, "DcuSer%dParity", n, DCU_RECORD_SLOT(S, base, Parity));
            t.add(step, key, {0, 0}, "DcuSer%dInfMode", n, DCU_RECORD_SLOT(S, base, InfMode));
        }
    }

    // 12. GPRS_INFO
    {
        constexpr std::size_t base = offsetof(dcu_config_record, GprsInfo);
        using S = gprs_info_cfg;
        constexpr Step step = Step::gprs_info;
        constexpr std::string_view key = "GPRS_INFO";
        t.add(step, key, "GprsEnable", DCU_RECORD_SLOT(S, base, GprsEnable));
        t.add(step, key, "PingInterval", DCU_RECORD_SLOT(S, base, PingInterval));
        t.add(step, key, "NumPing", DCU_RECORD_SLOT(S, base, NumPing));
        t.add(step, key, "ConnType", DCU_RECORD_SLOT(S, base, ConnType));
        t.add(step, key, "PingEnable", DCU_RECORD_SLOT(S, base, PingEnable));
        t.add(step, key, "Ping1IpAddr", DCU_RECORD_SLOT(S, base, Ping1IpAddr));
        t.add(step, key, "Ping2IpAddr", DCU_RECORD_SLOT(S, base, Ping2IpAddr));
        t.add(step, key, "AccPtName", DCU_RECORD_SLOT(S, base, AccPtName));
        t.add(step, key, "PhoneNum", DCU_RECORD_SLOT(S, base, PhoneNum));
        t.add(step, key, "Password", DCU_RECORD_SLOT(S, base, Password));
        t.add(step, key, "UserName", DCU_RECORD_SLOT(S, base, UserName));
    }

    // 13. FTP_SER_INFO
    {
        constexpr std::size_t base = offsetof(dcu_config_record, FtpSerInfo);
        using S = ftp_ser_info_cfg;
        constexpr Step step = Step::ftp_server_info;
        constexpr std::string_view key = "FTP_SER_INFO";
        t.add(step, key, "Enable", DCU_RECORD_SLOT(S, base, Enable));
        t.add(step, key, "DiffLogSer", DCU_RECORD_SLOT(S, base, DiffLogSer));
        t.add(step, key, "SerPort", DCU_RECORD_SLOT(S, base, SerPort));
        t.add(step, key, "UploadPeriod", DCU_RECORD_SLOT(S, base, UploadPeriod));
        t.add(step, key, "LocDir", DCU_RECORD_SLOT(S, base, LocDir));
        t.add(step, key, "Password", DCU_RECORD_SLOT(S, base, Password));
        t.add(step, key, "UserName", DCU_RECORD_SLOT(S, base, UserName));
        t.add(step, key, "SerIp", DCU_RECORD_SLOT(S, base, SerIp));
        t.add(step, key, "LogSerPort", DCU_RECORD_SLOT(S, base, LogSerPort));
        t.add(step, key, "LogUploadPeriod", DCU_RECORD_SLOT(S, base, LogUploadPeriod));
        t.add(step, key, "LogLocDir", DCU_RECORD_SLOT(S, base, LogLocDir));
        t.add(step, key, "LogPassword", DCU_RECORD_SLOT(S, base, LogPassword));
        t.add(step, key, "LogUserName", DCU_RECORD_SLOT(S, base, LogUserName));
        t.add(step, key, {0, 0}, "LogSerIp", 0, DCU_RECORD_SLOT(S, base, LogSerIp), StdoutLine::log_ser_ip_after);
    }

    // 14. VPN_INFO, PPTPCFG, IPSECCFG, Phase1, Phase2
    {
        constexpr std::size_t base = offsetof(dcu_config_record, VpnInfo);
        using S = vpn_info_cfg;
        constexpr Step step = Step::vpn_info;
        t.add(step, "VPN_INFO", "VpnEnable", DCU_RECORD_SLOT(S, base, VpnEnable));
        t.add(step, "PPTPCFG", "LocUserName", DCU_RECORD_SLOT(S, base, LocUserName));
        t.add(step, "PPTPCFG", "LocPassword", DCU_RECORD_SLOT(S, base, LocPassword));
        t.add(step, "PPTPCFG", "RemUserName", DCU_RECORD_SLOT(S, base, RemUserName));
        t.add(step, "PPTPCFG", "RemPassword", DCU_RECORD_SLOT(S, base, RemPassword));
        t.add(step, "PPTPCFG", "ReqMemoryMap", DCU_RECORD_SLOT(S, base, ReqMemoryMap));
        t.add(step, "IPSECCFG", "KeyLifeTime", DCU_RECORD_SLOT(S, base, KeyLifeTime));
        t.add(step, "IPSECCFG", "AggrMode", DCU_RECORD_SLOT(S, base, AggrMode));
        t.add(step, "IPSECCFG", "NatTrav", DCU_RECORD_SLOT(S, base, NatTrav));
        t.add(step, "IPSECCFG", "Pfs", DCU_RECORD_SLOT(S, base, Pfs));
        t.add(step, "IPSECCFG", "TunnelName", DCU_RECORD_SLOT(S, base, TunnelName));
        t.add(step, "IPSECCFG", "PreSharedKey", DCU_RECORD_SLOT(S, base, PreSharedKey));
        t.add(step, "IPSECCFG", "RightIp", DCU_RECORD_SLOT(S, base, RightIp));
        t.add(step, "IPSECCFG", "RightId", DCU_RECORD_SLOT(S, base, RightId));
        t.add(step, "IPSECCFG", "RightSubnet", DCU_RECORD_SLOT(S, base, RightSubnet));
        t.add(step, "IPSECCFG", "Left", DCU_RECORD_SLOT(S, base, Left));
        t.add(step, "IPSECCFG", "LeftSubnet", DCU_RECORD_SLOT(S, base, LeftSubnet));
        t.add(step, "IPSECCFG", "LeftId", DCU_RECORD_SLOT(S, base, LeftId));
        t.add(step, "IPSECCFG", "LeftSrcIp", DCU_RECORD_SLOT(S, base, LeftSrcIp));
        t.add(step, "IPSECCFG", "KeyingMode", DCU_RECORD_SLOT(S, base, KeyingMode));
        // The two phases alternate field by field.
        constexpr std::size_t phase1 = base + offsetof(S, Phase1);
        constexpr std::size_t phase2 = base + offsetof(S, Phase2);
        t.add(step, "Phase1", "DhGrp", DCU_RECORD_SLOT(ipsec_phase_cfg, phase1, DhGrp));
        t.add(step, "Phase2", "DhGrp", DCU_RECORD_SLOT(ipsec_phase_cfg, phase2, DhGrp));
        t.add(step, "Phase1", "Encrpt", DCU_RECORD_SLOT(ipsec_phase_cfg, phase1, Encrpt));
        t.add(step, "Phase2", "Encrpt", DCU_RECORD_SLOT(ipsec_phase_cfg, phase2, Encrpt));
        t.add(step, "Phase1", "Authen", DCU_RECORD_SLOT(ipsec_phase_cfg, phase1, Authen));
        t.add(step, "Phase2", "Authen", DCU_RECORD_SLOT(ipsec_phase_cfg, phase2, Authen));
    }

    return t.finish();
}

#undef DCU_RECORD_SLOT

constexpr std::array<PublishEntry, kPublishEntries> kTable = build_publish_table();

// The publisher prints a serial meter slot's line from the five entries that
// follow the slot's Enable entry.
constexpr bool meter_slots_in_print_order() {
    constexpr std::string_view order[] = {"Enable", "MeterId", "MeterAddrSize", "MeterAddr", "MeterPass", "MeterLoc"};
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        if (kTable[i].line != StdoutLine::meter_slot_before) continue;
        if (i + std::size(order) > kTable.size()) return false;
        for (std::size_t k = 0; k < std::size(order); ++k) {
            const PublishEntry &entry = kTable[i + k];
            if (entry.field.view() != order[k] || entry.key.view() != kTable[i].key.view()) return false;
        }
    }
    return true;
}
static_assert(meter_slots_in_print_order());

}  // namespace

constinit const std::array<PublishEntry, kPublishEntries> kPublishTable = kTable;

std::span<const PublishEntry> entries_of(Step step) noexcept {
    std::size_t first = 0;
    while (first < kPublishTable.size() && kPublishTable[first].step != step) ++first;
    std::size_t last = first;
    while (last < kPublishTable.size() && kPublishTable[last].step == step) ++last;
    return std::span<const PublishEntry>(kPublishTable).subspan(first, last - first);
}

}  // namespace dcu::loader
