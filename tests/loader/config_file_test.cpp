// Reading the configuration file (read_bin_cfg's work) and modbus_crc16
// in-process: the CRC, every check's outcome and output, what the record
// holds afterwards, and every single-bit flip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "common/unique_fd.hpp"
#include "dcu/config_record.h"
#include "loader/config_file.hpp"
#include "loader/config_record.hpp"
#include "tests/loader/fixtures.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fx = dcu::test::loader;

std::string hex(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

// "Calculated CRC : %X" shows the CRC with its bytes swapped.
std::string crc_line(const fx::Record &record) {
    const std::uint16_t crc = fx::reference_crc(record.data(), 4710);
    return "Calculated CRC : " + hex(static_cast<std::uint16_t>(crc << 8 | crc >> 8)) + "\n";
}

TEST(ModbusCrc, CheckValueAndSwappedResult) {
    const unsigned char digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    fx::CapturedOutput out;
    EXPECT_EQ(modbus_crc16(digits, sizeof digits), 0x374B);
    EXPECT_EQ(out.finish(), "Calculated CRC : 374B\n");
    EXPECT_EQ(dcu::loader::crc16_modbus(digits), 0x4B37);
}

TEST(ModbusCrc, AgreesWithTheBitByBitRule) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(4710);
    for (int round = 0; round < 50; ++round) {
        for (auto &b : bytes) b = static_cast<std::uint8_t>(random());
        const std::size_t length = random() % bytes.size();
        EXPECT_EQ(dcu::loader::crc16_modbus(std::span(bytes.data(), length)), fx::reference_crc(bytes.data(), length));
    }
}

struct ReadCase {
    const char *name;
    std::function<std::string(const fx::Record &)> file;  // the file's bytes from a valid record
    std::function<std::string(const fx::Record &)> stdout_after_size_line;
    int result;
};

void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.name; }

std::string bytes_of(const fx::Record &record) { return std::string(record.begin(), record.end()); }

const ReadCase kReadCases[] = {
    {"valid", [](const fx::Record &r) { return bytes_of(r); },
     [](const fx::Record &r) { return crc_line(r) + "Start & End Flag and CRC Matched\n"; }, 0},
    {"longer_than_a_record", [](const fx::Record &r) { return bytes_of(r) + std::string(100, '\xEE'); },
     [](const fx::Record &r) { return crc_line(r) + "Start & End Flag and CRC Matched\n"; }, 0},
    {"empty", [](const fx::Record &) { return std::string(); },
     [](const fx::Record &) { return std::string("Start Flag Not Matched\n"); }, -1},
    {"end_flag_missing", [](const fx::Record &r) { return bytes_of(r).substr(0, 4712); },
     [](const fx::Record &) { return std::string("End Flag Not Matched\n"); }, -1},
    {"start_flag_wrong",
     [](const fx::Record &r) {
         std::string b = bytes_of(r);
         b[3] = 'B';
         return b;
     },
     [](const fx::Record &) { return std::string("Start Flag Not Matched\n"); }, -1},
    {"end_flag_wrong",
     [](const fx::Record &r) {
         std::string b = bytes_of(r);
         b[4712] = 'z';
         return b;
     },
     [](const fx::Record &) { return std::string("End Flag Not Matched\n"); }, -1},
    {"crc_low_byte_first",
     [](const fx::Record &r) {
         std::string b = bytes_of(r);
         std::swap(b[4710], b[4711]);
         return b;
     },
     [](const fx::Record &r) { return crc_line(r) + "Crc Not Matched\n"; }, -1},
    {"body_byte_changed",
     [](const fx::Record &r) {
         std::string b = bytes_of(r);
         b[2000] = static_cast<char>(b[2000] ^ 0x40);
         return b;
     },
     [](const fx::Record &r) {
         fx::Record changed = r;
         changed[2000] ^= 0x40;
         return crc_line(changed) + "Crc Not Matched\n";
     },
     -1},
};

using dcu::loader::read_config_file;

class ReadBinCfg : public ::testing::TestWithParam<ReadCase> {
protected:
    dcu::test::TempDir dir;
    dcu_config_record record_read;
};

TEST_P(ReadBinCfg, ChecksInOrderAndKeepsTheBytesRead) {
    const fx::Record record = fx::distinct_record();
    const std::string content = GetParam().file(record);
    const auto path = dir / "dlms_api_config.cfg";
    dcu::test::write_file(path, content);
    std::memset(&record_read, 0xA5, sizeof record_read);

    fx::CapturedOutput out;
    const int result = read_config_file(path.c_str(), record_read);
    EXPECT_EQ(out.finish(), "Sizeof cfg str : 4716\n" + GetParam().stdout_after_size_line(record));
    EXPECT_EQ(result, GetParam().result);

    // The record holds the file's first 4716 bytes, zero past a short file.
    std::string expected = content.substr(0, 4716);
    expected.resize(4716, '\0');
    EXPECT_EQ(std::memcmp(&record_read, expected.data(), 4716), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, ReadBinCfg, ::testing::ValuesIn(kReadCases),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

TEST(ReadBinCfgMissingFile, ReportsAndLeavesTheRecordAsItWas) {
    dcu::test::TempDir dir;
    dcu_config_record record_read;
    std::memset(&record_read, 0xA5, sizeof record_read);
    fx::CapturedOutput out;
    fx::CapturedOutput err(2);
    EXPECT_EQ(read_config_file((dir / "absent.cfg").c_str(), record_read), -1);
    EXPECT_EQ(err.finish(), "fopen : No such file or directory\n");
    EXPECT_EQ(out.finish(), "Sizeof cfg str : 4716\n");
    const auto *bytes = reinterpret_cast<const unsigned char *>(&record_read);
    EXPECT_TRUE(std::all_of(bytes, bytes + 4716, [](unsigned char b) { return b == 0xA5; }));
}

// Every one of the 37,728 single-bit flips of a valid record is refused, by
// the check that covers the flipped byte: start flag (bytes 0-3), end flag
// (4712-4715), CRC (everything else, the CRC bytes included).
TEST(ReadBinCfgBitFlips, EverySingleBitFlipIsRejected) {
    dcu::test::TempDir dir;
    const auto path = dir / "dlms_api_config.cfg";
    fx::Record record = fx::distinct_record();
    fx::write_record(path, record);
    dcu_config_record record_read;

    // Each flip rewrites only the flipped byte in place.
    dcu::UniqueFd file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(file);
    auto put_byte = [&](std::size_t at, std::uint8_t value) {
        ASSERT_EQ(::pwrite(file.get(), &value, 1, static_cast<off_t>(at)), 1);
    };
    std::size_t accepted = 0;
    fx::CapturedOutput out;
    for (std::size_t byte = 0; byte < record.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            put_byte(byte, static_cast<std::uint8_t>(record[byte] ^ (1U << bit)));
            if (read_config_file(path.c_str(), record_read) != -1) ++accepted;
        }
        put_byte(byte, record[byte]);
    }
    const std::string output = out.finish();
    EXPECT_EQ(accepted, 0u);

    auto count = [&](std::string_view line) {
        std::size_t n = 0;
        for (std::size_t at = output.find(line); at != std::string::npos; at = output.find(line, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("Sizeof cfg str : 4716\n"), 37728u);
    EXPECT_EQ(count("Start Flag Not Matched\n"), 32u);
    EXPECT_EQ(count("End Flag Not Matched\n"), 32u);
    EXPECT_EQ(count("Crc Not Matched\n"), 37728u - 64u);

    // The file is back to the untouched record, which still passes.
    fx::CapturedOutput quiet;
    EXPECT_EQ(read_config_file(path.c_str(), record_read), 0);
}

}  // namespace
