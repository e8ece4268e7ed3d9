// The cfgtool program: the sample unit through encode, check and decode, and
// what it says and leaves behind when it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "tests/loader/fixtures.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
namespace fx = dcu::test::loader;
using dcu::test::read_file;
using dcu::test::run_program;
using dcu::test::write_file;

// The names in a directory, dot files included, sorted.
std::vector<std::string> entries(const fs::path &directory) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class CfgtoolCli : public ::testing::Test {
protected:
    std::string path(std::string_view name) const { return (dir / name).string(); }
    dcu::test::TempDir dir;
};

TEST_F(CfgtoolCli, SampleUnitEncodesChecksAndDecodesBackToTheSameBytes) {
    const auto encoded = run_program({CFGTOOL_PATH, "encode", SAMPLE_UNIT_JSON, "-o", path("unit.cfg")});
    ASSERT_EQ(encoded.exit_code, 0) << encoded.err;
    EXPECT_EQ(encoded.out + encoded.err, "");
    ASSERT_EQ(fs::file_size(path("unit.cfg")), 4716u);

    const auto checked = run_program({CFGTOOL_PATH, "check", path("unit.cfg")});
    EXPECT_EQ(checked.exit_code, 0);
    EXPECT_TRUE(checked.out.starts_with(path("unit.cfg") + ": valid: start flag, end flag and CRC 0x")) << checked.out;

    const auto decoded = run_program({CFGTOOL_PATH, "decode", path("unit.cfg")});
    ASSERT_EQ(decoded.exit_code, 0);
    EXPECT_EQ(decoded.err, "");
    EXPECT_NE(decoded.out.find("\"SerNum\":\t\"DCU-0001\""), std::string::npos);
    write_file(path("again.json"), decoded.out);
    ASSERT_EQ(run_program({CFGTOOL_PATH, "encode", path("again.json"), "-o", path("again.cfg")}).exit_code, 0);
    EXPECT_EQ(read_file(path("again.cfg")), read_file(path("unit.cfg")));
}

TEST_F(CfgtoolCli, RefusedInputNamesKeyAndFieldAndWritesNothing) {
    const struct {
        std::string json;
        std::string why;
    } cases[] = {
        {R"({"DCU_GEN_INFO": {"SerNum": "DCU-0001", "DcuDevId": 256}})",
         "DCU_GEN_INFO DcuDevId: 256 is out of range 0..255"},
        // Two objects, as a second paste or a merge leaves them: neither is taken.
        {R"({"DCU_GEN_INFO": {"DcuDevId": 1}} {"DCU_GEN_INFO": {"DcuDevId": 2}})",
         "text after the JSON object (at byte 34)"},
        {R"({"DCU_GEN_INFO": {"SerNum": "A\u0000BCD"}})", "DCU_GEN_INFO SerNum: text holds a NUL (\\u0000)"},
        {R"({"MQTT_INFO": {"BrokerPort": 65536}})", "MQTT_INFO BrokerPort: 65536 is out of range -32768..65535"},
        {R"({"MQTT_INFO": {"BrokerPort": -32769}})", "MQTT_INFO BrokerPort: -32769 is out of range -32768..65535"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.json);
        write_file(path("bad.json"), c.json);
        write_file(path("kept.cfg"), "an older record");
        for (const std::string &out : {path("kept.cfg"), path("new.cfg")}) {
            const auto result = run_program({CFGTOOL_PATH, "encode", path("bad.json"), "-o", out});
            EXPECT_EQ(result.exit_code, 1);
            EXPECT_EQ(result.err, "cfgtool: " + path("bad.json") + ": " + c.why + "\n");
            EXPECT_EQ(result.out, "");
        }
        EXPECT_EQ(read_file(path("kept.cfg")), "an older record");
        EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"bad.json", "kept.cfg"}));
    }
}

// 40000 and -25536 are the same 16 bits: both give the same record, which
// decodes as cfgload publishes the field (signed for BrokerPort).
TEST_F(CfgtoolCli, SixteenBitFieldTakesEitherFormOfItsBits) {
    write_file(path("unsigned.json"), R"({"MQTT_INFO": {"BrokerPort": 40000}})");
    write_file(path("signed.json"), R"({"MQTT_INFO": {"BrokerPort": -25536}})");
    for (const char *name : {"unsigned", "signed"}) {
        const auto result =
            run_program({CFGTOOL_PATH, "encode", path(std::string(name) + ".json"), "-o", path(std::string(name) + ".cfg")});
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out + result.err, "");
    }
    EXPECT_EQ(read_file(path("unsigned.cfg")), read_file(path("signed.cfg")));

    const auto decoded = run_program({CFGTOOL_PATH, "decode", path("unsigned.cfg")});
    EXPECT_EQ(decoded.exit_code, 0);
    EXPECT_NE(decoded.out.find("\"BrokerPort\":\t-25536,"), std::string::npos) << decoded.out;
}

TEST_F(CfgtoolCli, CheckAndDecodeOfADamagedRecord) {
    fx::Record record{};
    fx::seal(record);  // CRC 0xDE54
    record[4711] = 0x55;
    fx::write_record(path("damaged.cfg"), record);

    const auto checked = run_program({CFGTOOL_PATH, "check", path("damaged.cfg")});
    EXPECT_EQ(checked.exit_code, 1);
    EXPECT_EQ(checked.out, path("damaged.cfg") +
                               ": CRC wrong at offset 4710: found bytes DE 55, expected DE 54 "
                               "(CRC 0xDE54 of bytes 0 to 4709, high byte first)\n");

    // Decoding still shows the fields, with a warning.
    const auto decoded = run_program({CFGTOOL_PATH, "decode", path("damaged.cfg")});
    EXPECT_EQ(decoded.exit_code, 0);
    EXPECT_TRUE(decoded.err.starts_with("cfgtool: warning: " + path("damaged.cfg") + ": CRC wrong")) << decoded.err;
    EXPECT_TRUE(decoded.out.starts_with("{\n\t\"DCU_GEN_INFO\":\t{")) << decoded.out.substr(0, 40);
}

TEST_F(CfgtoolCli, UsageAndFileErrors) {
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string err_start;
    };
    const Case cases[] = {
        {{}, 2, "cfgtool: no command given\nusage: cfgtool decode FILE\n"},
        {{"convert", "x"}, 2, "cfgtool: unknown command \"convert\"\n"},
        {{"encode", "a.json"}, 2, "cfgtool: encode takes JSON -o FILE\n"},
        {{"check"}, 2, "cfgtool: check takes one FILE\n"},
        {{"check", path("absent.cfg")}, 1, "cfgtool: " + path("absent.cfg") + ": No such file or directory\n"},
        {{"decode", path("absent.cfg")}, 1, "cfgtool: " + path("absent.cfg") + ": No such file or directory\n"},
        {{"encode", path("absent.json"), "-o", path("x.cfg")}, 1,
         "cfgtool: " + path("absent.json") + ": No such file or directory\n"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = {CFGTOOL_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto result = run_program(argv);
        EXPECT_EQ(result.exit_code, c.exit_code) << testing::PrintToString(c.args);
        EXPECT_TRUE(result.err.starts_with(c.err_start)) << result.err;
    }
    const auto help = run_program({CFGTOOL_PATH, "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("encode(decode(FILE)) gives FILE back byte for byte"), std::string::npos);
}

// encode -o replaces FILE whole: a write that fails part way (here past the
// file size limit, smaller than a record) leaves the old record byte for byte
// and no temporary file beside it.
TEST_F(CfgtoolCli, FailedEncodeKeepsTheOldRecord) {
    write_file(path("unit.cfg"), "an older record");
    dcu::test::RunOptions options;
    options.max_file_size = 4096;

    const auto result = run_program({CFGTOOL_PATH, "encode", SAMPLE_UNIT_JSON, "-o", path("unit.cfg")}, options);

    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "cfgtool: " + path("unit.cfg") + ": File too large\n");
    EXPECT_EQ(read_file(path("unit.cfg")), "an older record");
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"unit.cfg"}));
}

// The new record keeps the old file's mode; a first one gets what a plain
// create gives (0666 less the umask).
TEST_F(CfgtoolCli, EncodeKeepsTheModeOfTheRecordItReplaces) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    write_file(path("kept.cfg"), "an older record");
    ASSERT_EQ(::chmod(path("kept.cfg").c_str(), 0640), 0);
    const struct {
        std::string name;
        mode_t mode;
    } cases[] = {{"kept.cfg", 0640}, {"new.cfg", 0666 & ~mask}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = run_program({CFGTOOL_PATH, "encode", SAMPLE_UNIT_JSON, "-o", path(c.name)});
        ASSERT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(fs::file_size(path(c.name)), 4716u);
        struct stat status {};
        ASSERT_EQ(::stat(path(c.name).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.mode);
    }
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"kept.cfg", "new.cfg"}));
}

}  // namespace
