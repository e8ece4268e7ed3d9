// The modem and communication-status answers: whole texts, the record they
// refresh, the commands the store sees.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/reqhandlers/support/round_trips.hpp"

namespace {

using dcu::test::host;
using Commands = std::vector<std::vector<std::string>>;

std::string header(std::string_view type, std::string_view seq, std::string_view data_type) {
    return "{\n\"TYPE\":\"" + std::string(type) + "\",\n\"SEQ_NUM\":\"" + std::string(seq) + "\",\n\"DATATYPE\":\"" +
           std::string(data_type) + "\",\n\"CMD_STATUS\":\"SUCCESS\",\n\"DATA\":\n{\n";
}

class Diagnostics : public dcu::test::HandlerTest {
protected:
    // Runs a handler; checks its return value, its one line and that it sent strict JSON; returns the text.
    std::string answer_of(int (*handler)(int), int seq_num) {
        host().sent.clear();
        int result = 0;
        const std::string out = stdout_of([&] { result = handler(seq_num); });
        const std::string text = sent_text();
        EXPECT_EQ(result, host().send_result);
        EXPECT_EQ(out, "Sending Json text Len : " + std::to_string(text.size()) + "\n");
        EXPECT_STRICT_JSON(text);
        return text;
    }
};

// ---- modem ----------------------------------------------------------------

class ModemStatus : public Diagnostics {};

std::string modem_answer(std::string_view members) {
    return header("GET_MODEM_DIAG_MESSAGE", "7", "MODEM_MESSAGE") + std::string(members) + "}\n}\n";
}

TEST_F(ModemStatus, MembersPresentInOrderWithoutATrailingComma) {
    using Fields = std::map<std::string, std::string>;
    const Fields all{{"Status", "Connected"}, {"SignalStrength", "-67"}, {"NwType", "4"},
                     {"RegStatus", "1"},      {"Operator", "Op One"},    {"IMEI", "356938035643809"}};
    auto all_but = [&](const std::string &field) {
        Fields fields = all;
        fields.erase(field);
        return fields;
    };
    auto all_with = [&](const std::string &field, const std::string &value) {
        Fields fields = all;
        fields[field] = value;
        return fields;
    };
    struct Case {
        const char *name;
        std::optional<Fields> stored;  // nothing: no MODEM_DIAG_INFO hash
        std::string members;
    };
    const std::string seven_head = "\"Status\":\"7\",\n\"Status\":\"Connected\",\n";
    const Case cases[] = {
        {"no hash", std::nullopt, "\"Status\":\"7\"\n"},
        {"all six", all,
         seven_head + "\"SignalStrength\":\"-67\",\n\"NwType\":\"4\",\n\"RegStatus\":\"1\",\n"
                      "\"Operator\":\"Op One\",\n\"IMEI\":\"356938035643809\"\n"},
        {"IMEI missing", all_but("IMEI"),
         seven_head + "\"SignalStrength\":\"-67\",\n\"NwType\":\"4\",\n\"RegStatus\":\"1\",\n\"Operator\":\"Op One\"\n"},
        {"empty NwType left out", all_with("NwType", ""),
         seven_head + "\"SignalStrength\":\"-67\",\n\"RegStatus\":\"1\",\n"
                      "\"Operator\":\"Op One\",\n\"IMEI\":\"356938035643809\"\n"},
        {"IMEI only", Fields{{"IMEI", "35"}}, "\"Status\":\"7\",\n\"IMEI\":\"35\"\n"},
        {"text escaped", Fields{{"Operator", "My \"Net\"\\"}}, "\"Status\":\"7\",\n\"Operator\":\"My \\\"Net\\\"\\\\\"\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        client().del("MODEM_DIAG_INFO");
        if (c.stored)
            for (const auto &[field, value] : *c.stored) client().hset("MODEM_DIAG_INFO", field, value);
        EXPECT_EQ(answer_of(send_modem_status_det, 7), modem_answer(c.members));
    }
}

TEST_F(ModemStatus, IntegersReadAsAtoiWithoutOverflow) {
    struct Case {
        const char *stored;
        const char *answered;
    };
    const Case cases[] = {
        {"-67", "-67"},         {"abc", "0"},           {" +12dBm", "12"},      {"-", "0"},
        {"99999999999", "2147483647"}, {"-99999999999", "-2147483648"}, {"-2147483648", "-2147483648"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        client().hset("MODEM_DIAG_INFO", "SignalStrength", c.stored);
        EXPECT_EQ(answer_of(send_modem_status_det, 7),
                  modem_answer("\"Status\":\"7\",\n\"SignalStrength\":\"" + std::string(c.answered) + "\"\n"));
    }
}

TEST_F(ModemStatus, OneCommandAndTheResultOfSendMsg) {
    host().send_result = 42;
    dcu::test::Monitor monitor(store().port());
    answer_of(send_modem_status_det, 7);
    EXPECT_EQ(monitor.take(), (Commands{{"hmget", "MODEM_DIAG_INFO", "Status", "SignalStrength", "NwType",
                                         "RegStatus", "Operator", "IMEI"}}));
}

// ---- communication status ---------------------------------------------------

class CommnStatus : public Diagnostics {
protected:
    void meter_type(const std::string &value) { client().hset("DCU_GEN_INFO", "MeterType", value); }
    void serial_count(int port, const std::string &value) {
        client().hset("P_" + std::to_string(port) + "SER_MET_INFO", "NumMeters", value);
    }
    void serial_status(int port, int meter, const std::string &value) {
        client().hset("SerPort" + std::to_string(port) + "Met" + std::to_string(meter) + "Status", "VALUE", value);
    }
    void eth_status(int meter, const std::string &value) {
        client().hset("EthPort0Met" + std::to_string(meter) + "Status", "VALUE", value);
    }
};

// One port object: NUM_METERS and the STATUS values as they stand in the text ("\"1\",\"0\"").
std::string port_text(std::string_view name, int meters, std::string_view statuses) {
    return "\"" + std::string(name) + "\":\n{\n\"NUM_METERS\":\"" + std::to_string(meters) + "\",\n\"STATUS\":\n[" +
           std::string(statuses) + "]\n}";
}

std::string commn_answer(std::string_view seq, const std::vector<std::string> &ports) {
    std::string text = header("GET_COMMN_STATUS_MESSAGE", seq, "DLMS_DIAG_MESSAGE") + "\"NUM_PORTS\":\"" +
                       std::to_string(ports.size()) + "\"";
    for (const auto &port : ports) text += ",\n" + port;
    return text + "\n}\n}\n";
}

std::string serial_answer(std::string_view seq, const std::vector<std::pair<int, std::string>> &ports) {
    std::vector<std::string> texts;
    for (std::size_t p = 0; p < ports.size(); ++p)
        texts.push_back(port_text("PORT" + std::to_string(p + 1), ports[p].first, ports[p].second));
    return commn_answer(seq, texts);
}

std::string ethernet_answer(std::string_view seq, int meters, std::string_view statuses) {
    return commn_answer(seq, {port_text("ETH_PORT", meters, statuses)});
}

TEST_F(CommnStatus, SerialPortsInTwoRoundTripsAfterTheMeterType) {
    meter_type("1");
    for (auto [port, count] : {std::pair{0, "2"}, {1, "0"}, {2, "1"}, {3, "5"}}) serial_count(port, count);
    serial_status(0, 0, "1");
    serial_status(0, 1, "0");
    serial_status(2, 0, "2");
    for (int m = 0; m < 5; ++m) serial_status(3, m, std::to_string(m % 3));
    serial_status(1, 0, "1");  // port 2 has no meters: not asked for

    dcu::test::Monitor monitor(store().port());
    const std::string text = answer_of(send_commn_status_det, 3);
    EXPECT_EQ(text,
              "{\n"
              "\"TYPE\":\"GET_COMMN_STATUS_MESSAGE\",\n"
              "\"SEQ_NUM\":\"3\",\n"
              "\"DATATYPE\":\"DLMS_DIAG_MESSAGE\",\n"
              "\"CMD_STATUS\":\"SUCCESS\",\n"
              "\"DATA\":\n"
              "{\n"
              "\"NUM_PORTS\":\"4\",\n"
              "\"PORT1\":\n{\n\"NUM_METERS\":\"2\",\n\"STATUS\":\n[\"1\",\"0\"]\n},\n"
              "\"PORT2\":\n{\n\"NUM_METERS\":\"0\",\n\"STATUS\":\n[]\n},\n"
              "\"PORT3\":\n{\n\"NUM_METERS\":\"1\",\n\"STATUS\":\n[\"2\"]\n},\n"
              "\"PORT4\":\n{\n\"NUM_METERS\":\"5\",\n\"STATUS\":\n[\"0\",\"1\",\"2\",\"0\",\"1\"]\n}\n"
              "}\n"
              "}\n");
    // All counts first, then every status, in port and meter order.
    Commands expected{{"hmget", "DCU_GEN_INFO", "MeterType"}};
    for (int p = 0; p < 4; ++p) expected.push_back({"hmget", "P_" + std::to_string(p) + "SER_MET_INFO", "NumMeters"});
    for (auto [p, m] : {std::pair{0, 0}, {0, 1}, {2, 0}, {3, 0}, {3, 1}, {3, 2}, {3, 3}, {3, 4}})
        expected.push_back(
            {"HMGET", "SerPort" + std::to_string(p) + "Met" + std::to_string(m) + "Status", "VALUE"});
    EXPECT_EQ(monitor.take(), expected);

    dcu::test::RoundTrips trips(client());
    answer_of(send_commn_status_det, 3);
    EXPECT_EQ(trips.count(), 3);
    EXPECT_EQ(dlms_dcu_config.GenInfo.MeterType, 1);
    EXPECT_EQ(dlms_dcu_config.SerMeterPort[3].NumMeters, 5u);
}

// Position k of a STATUS list is always meter k: a meter without a status
// value is listed as the empty text in its place, never left out (which
// would hand the next meter's status to it).
TEST_F(CommnStatus, AMeterWithoutAStatusValueKeepsItsPlace) {
    struct Case {
        const char *name;
        std::vector<std::optional<std::string>> values;  // meters 0 to 2 of port 0
        const char *listed;
    };
    const Case cases[] = {
        {"all there", {"1", "0", "2"}, "\"1\",\"0\",\"2\""},
        {"middle missing", {"1", std::nullopt, "2"}, "\"1\",\"\",\"2\""},
        {"first missing", {std::nullopt, "0", "2"}, "\"\",\"0\",\"2\""},
        {"last missing", {"1", "0", std::nullopt}, "\"1\",\"0\",\"\""},
        {"none", {std::nullopt, std::nullopt, std::nullopt}, "\"\",\"\",\"\""},
        {"empty and not a number", {"", "x", "7"}, "\"\",\"0\",\"7\""},
    };
    meter_type("1");
    serial_count(0, "3");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (int m = 0; m < 3; ++m) {
            client().del("SerPort0Met" + std::to_string(m) + "Status");
            if (c.values[static_cast<std::size_t>(m)]) serial_status(0, m, *c.values[static_cast<std::size_t>(m)]);
        }
        EXPECT_EQ(answer_of(send_commn_status_det, 1),
                  serial_answer("1", {{3, c.listed}, {0, ""}, {0, ""}, {0, ""}}));
    }
}

TEST_F(CommnStatus, MeterTypeFromTheStoreElseTheRecord) {
    struct Case {
        std::optional<std::string> stored;
        std::uint8_t in_record;
        std::uint8_t after;  // the record's MeterType after the call; 1 gives the serial form
    };
    const Case cases[] = {
        {"1", 0, 1}, {"0", 1, 0}, {"2", 1, 2}, {"257", 0, 1}, {"abc", 1, 0}, {"", 1, 1},
        {std::nullopt, 1, 1}, {std::nullopt, 3, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored.value_or("(none)") + " over " + std::to_string(c.in_record));
        client().del("DCU_GEN_INFO");
        if (c.stored) meter_type(*c.stored);
        dlms_dcu_config.GenInfo.MeterType = c.in_record;
        const std::string text = answer_of(send_commn_status_det, 2);
        EXPECT_EQ(dlms_dcu_config.GenInfo.MeterType, c.after);
        EXPECT_EQ(text, c.after == 1 ? serial_answer("2", {{0, ""}, {0, ""}, {0, ""}, {0, ""}})
                                     : ethernet_answer("2", 0, ""));
    }
}

TEST_F(CommnStatus, EthernetMetersOnPortZeroInThreeRoundTrips) {
    meter_type("0");
    client().hset("ETH_MET_INFO", "NumMeters", "3");
    eth_status(0, "1");
    eth_status(2, "2");
    eth_status(3, "1");  // beyond the count: not asked for
    dcu::test::Monitor monitor(store().port());
    // Meter 1 has no status: its place holds the empty text.
    EXPECT_EQ(answer_of(send_commn_status_det, 8), ethernet_answer("8", 3, "\"1\",\"\",\"2\""));
    EXPECT_EQ(monitor.take(), (Commands{{"hmget", "DCU_GEN_INFO", "MeterType"},
                                        {"hmget", "ETH_MET_INFO", "NumMeters"},
                                        {"HMGET", "EthPort0Met0Status", "VALUE"},
                                        {"HMGET", "EthPort0Met1Status", "VALUE"},
                                        {"HMGET", "EthPort0Met2Status", "VALUE"}}));
    dcu::test::RoundTrips trips(client());
    answer_of(send_commn_status_det, 8);
    EXPECT_EQ(trips.count(), 3);
    EXPECT_EQ(dlms_dcu_config.EthMeterInfo.NumMeters, 3u);
}

TEST_F(CommnStatus, CountsFromTheStoreStayInTheRecordAndAreBounded) {
    meter_type("1");
    for (int p = 0; p < 4; ++p)
        for (int m = 0; m < 5; ++m) serial_status(p, m, "1");
    const std::string five = "\"1\",\"1\",\"1\",\"1\",\"1\"";

    // The store's counts replace the record's; a port the store has no count for keeps the record's.
    serial_count(0, "1000");
    serial_count(1, "-3");
    serial_count(2, "99999999999");
    dlms_dcu_config.SerMeterPort[3].NumMeters = 2;
    EXPECT_EQ(answer_of(send_commn_status_det, 4),
              serial_answer("4", {{5, five}, {0, ""}, {5, five}, {2, "\"1\",\"1\""}}));
    EXPECT_EQ(dlms_dcu_config.SerMeterPort[0].NumMeters, 1000u);
    EXPECT_EQ(dlms_dcu_config.SerMeterPort[1].NumMeters, 0xFFFFFFFDu);
    EXPECT_EQ(dlms_dcu_config.SerMeterPort[2].NumMeters, 2147483647u);
    EXPECT_EQ(dlms_dcu_config.SerMeterPort[3].NumMeters, 2u);

    // Later calls go on with what the record learnt, also beyond the slots.
    serial_count(0, "1");
    for (int p = 1; p < 4; ++p) client().del("P_" + std::to_string(p) + "SER_MET_INFO");
    dlms_dcu_config.SerMeterPort[3].NumMeters = 7;
    EXPECT_EQ(answer_of(send_commn_status_det, 5),
              serial_answer("5", {{1, "\"1\""}, {0, ""}, {5, five}, {5, five}}));

    // The Ethernet count is bounded by its ten slots.
    meter_type("2");
    for (int m = 0; m < 12; ++m) eth_status(m, std::to_string(m));
    client().hset("ETH_MET_INFO", "NumMeters", "50");
    EXPECT_EQ(answer_of(send_commn_status_det, 6),
              ethernet_answer("6", 10, "\"0\",\"1\",\"2\",\"3\",\"4\",\"5\",\"6\",\"7\",\"8\",\"9\""));
    EXPECT_EQ(dlms_dcu_config.EthMeterInfo.NumMeters, 50u);
    client().hset("ETH_MET_INFO", "NumMeters", "-1");
    EXPECT_EQ(answer_of(send_commn_status_det, 6), ethernet_answer("6", 0, ""));
}

TEST_F(CommnStatus, ReturnsWhatSendMsgReturned) {
    host().send_result = -5;
    answer_of(send_commn_status_det, 1);
}

}  // namespace
