// The unit's record keys: the store hashes that the meter-reading and modem
// processes keep and the handlers read, the command hash that the handlers
// write for the meter-reading process, and the configuration fields
// published by cfgload that the diagnostics and the host read. The
// handlers, the host, cfgload's publish table and metersim all take the
// names from here, so that what metersim writes is what the handlers read.
//
// Formats with %d take a port p (0 to 3) and a meter m (0 to 4), in that
// order, or an element number k; Key fills them in. Commands name a key
// with %s ("HMGET %s %s"), which puts the same bytes on the wire as the key
// spelled in the command text.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace dcu::unit_keys {

// ---- kept by the meter-reading process, per meter ---------------------------

// The serial number of meter m on port p.
inline constexpr char kSerialNumber[] = "Port%dMet%dSerNum";
inline constexpr char kSerialNumberField[] = "SER_NUM";

// Its last instantaneous readings: the count, then the OBIS code and the
// value of reading k, for k from 1.
inline constexpr char kInstantReadings[] = "Port%dMet%dinst_info";
inline constexpr char kReadingCountField[] = "NUM_PARAM";
inline constexpr char kReadingObisField[] = "Obis_%d";
inline constexpr char kReadingValueField[] = "Value_%d";

// Its communication status: 0 no, 1 yes, 2 not configured. The Ethernet
// meters' statuses all sit on port 0.
inline constexpr char kSerialStatus[] = "SerPort%dMet%dStatus";
inline constexpr char kEthernetStatus[] = "EthPort%dMet%dStatus";
inline constexpr char kStatusField[] = "VALUE";

// The names of its on-demand load-survey files, one file name a field value
// (the field names are free).
inline constexpr char kOdLsFiles[] = "Port%dMet%dOdLsFile";

// ---- written by the handlers for the meter-reading process ------------------

// A load-survey range to read: the pending flag, then the range's start and
// end, each as day, month, year, hour and minute.
inline constexpr char kOdLsCommand[] = "Port%dMet%dOdLsCmd";
inline constexpr char kNeedToReadField[] = "NeedToRead";

struct TimeFields {
    const char *day;
    const char *month;
    const char *year;
    const char *hour;
    const char *minute;
};
inline constexpr TimeFields kRangeStartFields{"Day", "Mon", "Year", "Hour", "Min"};
inline constexpr TimeFields kRangeEndFields{"Day2", "Mon2", "Year2", "Hour2", "Min2"};

// ---- kept by the modem process ----------------------------------------------

inline constexpr char kModemDiag[] = "MODEM_DIAG_INFO";
inline constexpr char kModemStatusField[] = "Status";
inline constexpr char kModemSignalStrengthField[] = "SignalStrength";
inline constexpr char kModemNetworkTypeField[] = "NwType";
inline constexpr char kModemRegistrationField[] = "RegStatus";
inline constexpr char kModemOperatorField[] = "Operator";
inline constexpr char kModemImeiField[] = "IMEI";

// ---- published by cfgload, read by the diagnostics and the host -------------

inline constexpr char kGeneralInfo[] = "DCU_GEN_INFO";
inline constexpr char kMeterTypeField[] = "MeterType";
// The unit's own serial number, which its presence on the broker names.
inline constexpr char kUnitSerialNumberField[] = "SerNum";
// The meter count of serial meter port p, and of the Ethernet meters.
inline constexpr char kSerialMeterInfo[] = "P_%dSER_MET_INFO";
inline constexpr char kEthernetMeterInfo[] = "ETH_MET_INFO";
inline constexpr char kNumMetersField[] = "NumMeters";

// The head-end link's broker and topics.
inline constexpr char kMqttInfo[] = "MQTT_INFO";
inline constexpr char kBrokerIpField[] = "BrokerIp";
inline constexpr char kBrokerPortField[] = "BrokerPort";
inline constexpr char kBrokerUserField[] = "BrokerUname";
inline constexpr char kBrokerPasswordField[] = "BrokerPass";
inline constexpr char kCommandTopicField[] = "CmdSubTopic";
inline constexpr char kAnswerTopicField[] = "PubTopic";

// A key or field with its numbers filled in, on the stack: the longest the
// unit has is a few dozen bytes.
class Key {
public:
    [[gnu::format(printf, 2, 3)]] explicit Key(const char *format, ...) noexcept {
        va_list args;
        va_start(args, format);
        const int length = std::vsnprintf(text_, sizeof text_, format, args);
        va_end(args);
        size_ = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof text_ - 1);
    }
    const char *c_str() const noexcept { return text_; }
    std::string_view view() const noexcept { return {text_, size_}; }
    std::string str() const { return std::string(view()); }

private:
    char text_[48];
    std::size_t size_;
};

}  // namespace dcu::unit_keys
