// The cfgload program end to end against a private store: the commands the
// store receives, standard output and error, the log, the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "tests/loader/fixtures.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/store_proxy.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
namespace fx = dcu::test::loader;
using Commands = std::vector<std::vector<std::string>>;

constexpr const char *kStepNames[] = {
    "gen_dcu_info_redis",        "gen_ser_meter_info_redis", "gen_eth_meter_info_redis", "gen_iec104_info_redis",
    "gen_modtcp_info_redis",     "gen_dcu_poll_info_redis",  "gen_mqtt_info_redis",      "gen_tev_ems_info_redis",
    "gen_ntp_info_redis",        "gen_dcu_eth_info_redis",   "gen_dcu_serial_info_redis", "gen_gprs_info_redis",
    "gen_ftp_server_info_redis", "gen_vpn_info_redis",
};

std::string value_at(const fx::Record &record, std::string_view key, std::string_view field) {
    return fx::published_value(record, fx::field_of(key, field));
}

std::string swapped_crc_hex(const fx::Record &record) {
    const std::uint16_t crc = fx::reference_crc(record.data(), 4710);
    char text[8];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(static_cast<std::uint16_t>(crc << 8 | crc >> 8)));
    return text;
}

// Standard output of a run on a valid record.
std::string expected_stdout(const fx::Record &record) {
    std::string out = "Sizeof cfg str : 4716\nCalculated CRC : " + swapped_crc_hex(record) +
                      "\nStart & End Flag and CRC Matched\n";
    for (int p = 0; p < 4; ++p) {
        for (int m = 0; m < 5; ++m) {
            const std::string key = "P_" + std::to_string(p) + "SerMeter_" + std::to_string(m + 1) + "Config";
            out += "Port : " + std::to_string(p) + ", Met : " + std::to_string(m) + ", > " +
                   value_at(record, key, "Enable") + "," + value_at(record, key, "MeterId") + "," +
                   value_at(record, key, "MeterAddrSize") + "," + value_at(record, key, "MeterAddr") + "," +
                   value_at(record, key, "MeterPass") + "," + value_at(record, key, "MeterLoc") + "\n";
        }
    }
    for (int n = 1; n <= 4; ++n)
        out += "Idx : " + std::to_string(n) + ", SerPort Uart : " +
               value_at(record, "DCU_SERIAL_INFO", "DcuSer" + std::to_string(n) + "Port") + "\n";
    out += "LogSerIp " + value_at(record, "FTP_SER_INFO", "LogSerIp") + "\n";
    return out;
}

Commands expected_commands(const fx::Record &record) {
    Commands commands;
    for (const fx::Field &f : fx::published_fields())
        commands.push_back({"hmset", f.key, f.field, fx::published_value(record, f)});
    return commands;
}

// The log's lines without their time stamp ("2026-12-10 03:35:30 ").
std::vector<std::string> log_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line.size() > 20 ? line.substr(20) : line);
    return lines;
}

class Cfgload : public dcu::test::StoreSuite {
protected:
    void SetUp() override {
        store_client = std::make_unique<dcu::test::StoreClient>(store().port());
        client().flushall();
        fs::create_directories(root / "/usr/tev/log");
        monitor = std::make_unique<dcu::test::Monitor>(store().port());
    }

    dcu::test::StoreClient &client() { return *store_client; }
    fs::path config_file() const { return root / "/usr/tev/config/dlms_api_config.cfg"; }
    std::string log_text() const {
        const fs::path log = root / "/usr/tev/log/cfgload.log";
        return fs::exists(log) ? dcu::test::read_file(log) : std::string();
    }

    dcu::test::RunResult run(std::uint16_t port = 0) {
        dcu::test::RunOptions options;
        options.env["DCU_ROOT"] = root.path().string();
        options.env["DCU_REDIS_PORT"] = std::to_string(port != 0 ? port : store().port());
        return dcu::test::run_program({CFGLOAD_PATH}, options);
    }

    std::vector<std::string> success_log() const {
        const std::string port = std::to_string(store().port());
        std::vector<std::string> lines = {
            "L0 redis_init()         : Trying to connect on Redis Server : 127.0.0.1 with port : " + port,
            "L0 redis_init()         : Connected on Redis Server : 127.0.0.1 with port : " + port,
        };
        for (const char *step : kStepNames)
            lines.push_back(std::string("L0 main()               : Generating ") + step + " from bin to redis");
        lines.push_back("L0 main()               : All Config generated, need to free redis hanfler");
        return lines;
    }

    dcu::test::TempDir root;
    std::unique_ptr<dcu::test::StoreClient> store_client;
    std::unique_ptr<dcu::test::Monitor> monitor;
};

TEST_F(Cfgload, PublishesEveryFieldWithItsOwnCommandInOrder) {
    const fx::Record record = fx::distinct_record();
    fx::write_record(config_file(), record);

    const auto result = run();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, expected_stdout(record));
    const Commands seen = monitor->take();
    const Commands expected = expected_commands(record);
    ASSERT_EQ(seen.size(), 393u);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(seen[i], expected[i]) << "command " << i + 1;
    EXPECT_EQ(log_lines(log_text()), success_log());
}

TEST_F(Cfgload, PublishesEdgeValuesAndEveryFieldOfEverySlot) {
    fx::Record record{};
    fx::put_int(record, fx::field_of("P_1SerMeter_2Config", "MeterAddr"), 0x80000000U);
    fx::put_int(record, fx::field_of("MQTT_INFO", "BrokerPort"), 0xFFFF);
    fx::put_int(record, fx::field_of("IEC104_INFO", "IecPort"), 0xFFFF);
    fx::put_int(record, fx::field_of("P_2SER_MET_INFO", "NumMeters"), 0);
    fx::put_int(record, fx::field_of("P_0SER_MET_INFO", "NumMeters"), 2);
    fx::put_text(record, fx::field_of("DCU_GEN_INFO", "DcuDevLoc"), "Substation 7, feeder  2 ");
    fx::put_text(record, fx::field_of("DCU_GEN_INFO", "SerNum"), std::string(33, 'S'));  // no NUL in the slot
    fx::put_text(record, fx::field_of("TEV_EMS_INFO", "BrokerIp"), std::string(18, '9'));  // up to the CRC
    fx::put_text(record, fx::field_of("P_2SerMeter_5Config", "MeterLoc"), std::string("ab\0cd", 5));
    fx::put_text(record, fx::field_of("P_3SerMeter_1Config", "MeterPass"), std::string(32, 'P'));  // runs into MeterLoc
    fx::put_text(record, fx::field_of("P_3SerMeter_1Config", "MeterLoc"), "loc");
    fx::seal(record);
    fx::write_record(config_file(), record);

    const auto result = run();
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(monitor->take().size(), 393u);
    // A slot without NUL is shown whole on standard output too, and no further.
    EXPECT_NE(result.out.find("\nPort : 3, Met : 0, > 0,0,0,0," + std::string(32, 'P') + ",loc\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\nPort : 1, Met : 1, > 0,0,0,-2147483648,,\n"), std::string::npos);
    auto &c = client();
    EXPECT_EQ(c.hget("P_1SerMeter_2Config", "MeterAddr"), "-2147483648");
    EXPECT_EQ(c.hget("MQTT_INFO", "BrokerPort"), "-1");
    EXPECT_EQ(c.hget("IEC104_INFO", "IecPort"), "65535");
    EXPECT_EQ(c.hget("DCU_GEN_INFO", "DcuDevLoc"), "Substation 7, feeder  2 ");
    EXPECT_EQ(c.hget("DCU_GEN_INFO", "SerNum"), std::string(33, 'S'));
    EXPECT_EQ(c.hget("TEV_EMS_INFO", "BrokerIp"), std::string(18, '9'));
    EXPECT_EQ(c.hget("P_2SerMeter_5Config", "MeterLoc"), "ab");
    EXPECT_EQ(c.hget("P_3SerMeter_1Config", "MeterPass"), std::string(32, 'P'));
    EXPECT_EQ(c.hget("P_2SER_MET_INFO", "NumMeters"), "0");
    EXPECT_EQ(c.hget("DCU_GEN_INFO", "DbgLogIp"), "");  // an empty text is an empty value

    // Every slot is published whatever the counts say; a zeroed slot gives
    // zeros and empty texts.
    const std::map<std::string, std::string> zeroed_meter = {{"Enable", "0"},     {"MeterId", "0"},  {"MeterAddrSize", "0"},
                                                             {"MeterAddr", "0"},  {"MeterPass", ""}, {"MeterLoc", ""}};
    EXPECT_EQ(c.hgetall("P_0SerMeter_5Config"), zeroed_meter);
    EXPECT_EQ(c.hgetall("P_2SerMeter_1Config"), zeroed_meter);
    const std::pair<std::string, std::size_t> counts[] = {
        {"DCU_GEN_INFO", 23}, {"MQTT_INFO", 16}, {"TEV_EMS_INFO", 8}, {"IPSECCFG", 14}, {"PPTPCFG", 5},
        {"Phase1", 3},        {"Phase2", 3},     {"VPN_INFO", 1},     {"DCU_SERIAL_INFO", 25}, {"DCU_ETH_INFO", 7},
    };
    for (const auto &[key, count] : counts) EXPECT_EQ(c.hgetall(key).size(), count) << key;
    for (int n = 1; n <= 10; ++n) EXPECT_EQ(c.hgetall("EthMeter_" + std::to_string(n) + "Config").size(), 8u) << n;
    for (int p = 0; p < 4; ++p)
        for (int m = 1; m <= 5; ++m)
            EXPECT_EQ(c.hgetall("P_" + std::to_string(p) + "SerMeter_" + std::to_string(m) + "Config").size(), 6u);
    EXPECT_EQ(c.keys().size(), 55u);
    EXPECT_TRUE(c.keys("DLMS_DCU_CONFIG").empty());
}

TEST_F(Cfgload, AcceptsALongerFileAndReadsOnlyTheRecord) {
    const fx::Record record = fx::distinct_record();
    const std::string bytes(record.begin(), record.end());
    dcu::test::write_file(config_file(), bytes + "trailing bytes that are not read");
    const auto result = run();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, expected_stdout(record));
    EXPECT_EQ(monitor->take(), expected_commands(record));
}

TEST_F(Cfgload, GoesOnPastCommandsTheStoreRefuses) {
    client().run({"SET", "DCU_GEN_INFO", "not a hash"});  // every hmset on it fails with WRONGTYPE
    client().run({"SET", "PPTPCFG", "not a hash"});
    monitor->take();
    const fx::Record record = fx::distinct_record();
    fx::write_record(config_file(), record);
    const auto result = run();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(monitor->take(), expected_commands(record));
    EXPECT_EQ(client().hget("GPRS_INFO", "UserName"), value_at(record, "GPRS_INFO", "UserName"));
}

// A store that stops answering or goes away while the record is published
// leaves the configuration incomplete: cfgload stops at the first command
// without a reply (each waits at most the store's time-out), logs the key and
// field it reached, and exits -1 so that its service fails visibly.
TEST_F(Cfgload, StopsAndFailsWhenTheStoreHangsOrBreaksWhilePublishing) {
    const fx::Record record = fx::distinct_record();
    fx::write_record(config_file(), record);
    const std::vector<fx::Field> fields = fx::published_fields();
    const std::string stopped = "L0 main()               : Publishing stopped at ";

    // Cut after 100 replies: the 101st command gets none.
    {
        dcu::test::StoreProxy proxy(store().port());
        proxy.cut_after_replies(100);
        const auto result = run(proxy.port());
        EXPECT_EQ(result.exit_code, 255) << result.err;
        const auto lines = log_lines(log_text());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind(stopped + fields[100].key + " " + fields[100].field + ": ", 0), 0u)
            << lines.back();
        EXPECT_EQ(monitor->take().size(), 100u);  // nothing after the 100th reached the store
    }
    fs::remove(root / "/usr/tev/log/cfgload.log");

    // Paused: the connection is accepted, the first command times out.
    store().pause();
    const auto result = run();
    store().resume();
    EXPECT_EQ(result.exit_code, 255) << result.err;
    const auto lines = log_lines(log_text());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), stopped + fields[0].key + " " + fields[0].field + ": no reply within 2 s");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &line) { return line.find("Generating") != std::string::npos; }),
              1);
}

TEST_F(Cfgload, CarriesOnWhenItsLogCannotBeWritten) {
    fs::remove_all(root / "/usr/tev/log");
    fx::write_record(config_file(), fx::distinct_record());
    const auto result = run();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(monitor->take().size(), 393u);
    EXPECT_EQ(log_lines(result.err), success_log());  // the lines went to standard error
}

// ---------------------------------------------------------------------------
// Failures before publishing: their messages, exit status -1 (255), and not
// one command sent to the store.

struct FailureCase {
    const char *name;
    // The configuration file's bytes made from a valid record; nullopt: no file.
    std::function<std::optional<std::string>(const fx::Record &)> file;
    bool store_reachable;
    std::function<std::string(const fx::Record &)> out;
    std::string err;
    std::string last_log_line;
};

void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.name; }

const std::string kReadFailed = "L0 main()               : Failed to read binary configuration";

std::string record_bytes(const fx::Record &record) { return std::string(record.begin(), record.end()); }

std::string crc_failure(const std::string &bytes) {
    fx::Record r{};
    std::copy(bytes.begin(), bytes.begin() + 4716, r.begin());
    return "Sizeof cfg str : 4716\nCalculated CRC : " + swapped_crc_hex(r) + "\nCrc Not Matched\n";
}

std::string flipped(const fx::Record &record, std::size_t at) {
    std::string bytes = record_bytes(record);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    return bytes;
}

const FailureCase kFailureCases[] = {
    {"no_store", [](const fx::Record &r) { return record_bytes(r); }, false,
     [](const fx::Record &) { return std::string(); }, "",
     "L0 main()               : Failed to initilised Redis Server"},
    {"missing_file", [](const fx::Record &) { return std::nullopt; }, true,
     [](const fx::Record &) { return std::string("Sizeof cfg str : 4716\n"); }, "fopen : No such file or directory\n",
     kReadFailed},
    {"empty_file", [](const fx::Record &) { return std::string(); }, true,
     [](const fx::Record &) { return std::string("Sizeof cfg str : 4716\nStart Flag Not Matched\n"); }, "",
     kReadFailed},
    {"file_of_4712_bytes", [](const fx::Record &r) { return record_bytes(r).substr(0, 4712); }, true,
     [](const fx::Record &) { return std::string("Sizeof cfg str : 4716\nEnd Flag Not Matched\n"); }, "", kReadFailed},
    {"start_flag_wrong", [](const fx::Record &r) { return flipped(r, 0); }, true,
     [](const fx::Record &) { return std::string("Sizeof cfg str : 4716\nStart Flag Not Matched\n"); }, "",
     kReadFailed},
    {"end_flag_wrong", [](const fx::Record &r) { return flipped(r, 4715); }, true,
     [](const fx::Record &) { return std::string("Sizeof cfg str : 4716\nEnd Flag Not Matched\n"); }, "", kReadFailed},
    {"crc_low_byte_first",
     [](const fx::Record &r) {
         std::string bytes = record_bytes(r);
         std::swap(bytes[4710], bytes[4711]);
         return bytes;
     },
     true, [](const fx::Record &r) { return crc_failure(record_bytes(r)); }, "", kReadFailed},
    {"flipped_byte", [](const fx::Record &r) { return flipped(r, 3000); }, true,
     [](const fx::Record &r) { return crc_failure(flipped(r, 3000)); }, "", kReadFailed},
};

class CfgloadFailure : public Cfgload, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CfgloadFailure, ReportsExitsMinusOneAndSendsNothing) {
    const FailureCase &c = GetParam();
    const fx::Record record = fx::distinct_record();
    if (const auto bytes = c.file(record)) dcu::test::write_file(config_file(), *bytes);
    const std::uint16_t port = c.store_reachable ? store().port() : dcu::test::free_loopback_port();

    const auto result = run(port);
    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.out, c.out(record));
    EXPECT_EQ(result.err, c.err);
    EXPECT_TRUE(monitor->take().empty());
    const auto lines = log_lines(log_text());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "L0 redis_init()         : Trying to connect on Redis Server : 127.0.0.1 with port : " +
                                 std::to_string(port));
    EXPECT_EQ(lines.back(), c.last_log_line);
    if (!c.store_reachable) {
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1], "L0 redis_init()         : Connection error: Connection refused");
    } else {
        EXPECT_EQ(lines.size(), 3u);  // trying, connected, the failure
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CfgloadFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

}  // namespace
