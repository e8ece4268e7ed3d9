// Memory is bounded by the answer, whatever a data file holds: dcuhost
// answering a content or a profile request for a large billing file, for
// 100 MB of empty lines, for one 10 MB line (as header and as record) and
// for a 2 GB sparse file keeps its peak resident size within 16 MiB of its
// peak answering the ordinary unit, and its answer is the right one (cut
// where json_text is full, or whole).
//
// The bound is asserted only in the plain build: AddressSanitizer's shadow
// memory and a checker or emulator in front of the program (valgrind, qemu)
// say nothing of dcuhost's own size. There the files are smaller, so that
// the test stays short.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "tests/reqhandlers/support/dcuhost_unit.hpp"
#include "tests/reqhandlers/support/profile_fixtures.hpp"
#include "tests/support/answer_checks.hpp"
#include "tests/support/strict_json.hpp"

namespace {

namespace fs = std::filesystem;
using namespace dcu::test::profiles;

constexpr long kMarginKb = 16 * 1024;

// Writes a file in pieces: the test itself never holds it whole.
void write_in_pieces(const fs::path &path, const std::string &head, std::size_t repeats, const std::string &piece,
                     const std::string &tail) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << head;
    for (std::size_t i = 0; i < repeats; ++i) out << piece;
    out << tail;
    ASSERT_TRUE(out.good()) << path;
}

// The billing-like file: 20 columns code-1 to code-20, record i holding
// r<i>c<j> in column j. The selection keeps code-3 and code-1.
std::string billing_value(std::size_t record, int column) {
    return "r" + std::to_string(record) + "c" + std::to_string(column);
}
std::string billing_record(std::size_t record) {
    std::string line;
    for (int column = 1; column <= 20; ++column) line += (column > 1 ? "\t" : "") + billing_value(record, column);
    return line + "\n";
}

// The two requests of every case: one for the file by name, one for the
// meter's billing profile (a link to the same file).
struct Request {
    const char *name;
    const char *line;
};

const std::string kContentEcho = "\"DIR_NAME\":\"meter_id_0\",\n\"FILE_NAME\":\"big\",\n\"VIEW_TYPE\":\"V\",\n";

class FileMemory : public dcu::test::DcuhostUnit {
protected:
    // Sizes for the plain build; smaller where the bound is not asserted.
    static std::size_t scaled(std::size_t plain, std::size_t otherwise) { return plain_build() ? plain : otherwise; }

    // The answer to one request line and dcuhost's peak resident size.
    std::pair<std::string, long> ask(const std::string &line) const {
        const auto result = session(line + "\n");
        EXPECT_EQ(result.exit_code, 0) << result.err.substr(0, 2000);
        return {result.out, result.peak_rss_kb};
    }

    // The file in place for both requests: meter_id_0/billing and meter_id_0/big.
    void big_file(const std::function<void(const fs::path &)> &make) const {
        fs::remove(data("meter_id_0/billing"));
        fs::remove(data("meter_id_0/big"));
        make(data("meter_id_0/big"));
        fs::create_symlink("big", data("meter_id_0/billing"));
    }

    // Both requests: each answer must be what `expected` makes of it (it may
    // read the count the answer lists), the peak within the margin.
    void expect_bounded(const std::function<std::string(const std::string &text, bool content)> &expected) const {
        const Request requests[] = {
            {"content", "content bill 1 SN01 meter_id_0 big V"},
            {"profile", "billing 1 SN01"},
        };
        for (const auto &request : requests) {
            SCOPED_TRACE(request.name);
            const auto [text, peak] = ask(request.line);
            EXPECT_STRICT_JSON(text);
            EXPECT_EQ(dcu::test::answer_problem(text), "");
            EXPECT_LT(text.size(), sizeof json_text);
            EXPECT_EQ(text, expected(text, std::string_view(request.name) == "content"));
            std::printf("[ peak     ] %s: %ld kB (ordinary unit %ld kB)\n", request.name, peak, baseline_kb_);
            if (plain_build()) {
                EXPECT_LE(peak, baseline_kb_ + kMarginKb);
            }
        }
    }

    // The beginning of an answer, up to its lists.
    static std::string head(bool content, std::string_view status, std::size_t num_param, std::size_t entries) {
        return answer_head(content ? "GET_BILL_FILE_CONTENT" : "OD_BILLING", 1, status) +
               "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"" + std::to_string(num_param) + "\",\n" +
               (content ? kContentEcho : "") + "\"NUM_ENTRIES\":\"" + std::to_string(entries) + "\",\n";
    }
    static std::size_t entries_of(const std::string &text) {
        const std::string listed = dcu::test::answer_member(text, "DATA.NUM_ENTRIES");
        return listed.empty() ? 0 : std::stoul(listed);
    }

    void SetUp() override {
        DcuhostUnit::SetUp();
        // The ordinary unit: the worked example's billing file.
        long peak = 0;
        for (const char *line : {"content bill 1 SN01 meter_id_0 billing V", "billing 1 SN01"})
            peak = std::max(peak, ask(line).second);
        baseline_kb_ = peak;
    }

    long baseline_kb_ = 0;
};

// A record list cut where json_text is full: the records 0 to n-1, and the
// record n would not have fitted.
std::string cut_list(const std::string &text, bool content, std::size_t num_param, const std::string &names,
                     const std::function<std::string(std::size_t)> &record, std::size_t entries) {
    std::string records;
    for (std::size_t i = 0; i < entries; ++i) records += record(i) + (i + 1 < entries ? ",\n" : "\n");
    const char *key = content ? "FILE_DATA" : "BILL_DATA";
    std::string answer = answer_head(content ? "GET_BILL_FILE_CONTENT" : "OD_BILLING", 1, "FAILURE") +
                         "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"" + std::to_string(num_param) + "\",\n" +
                         (content ? kContentEcho : "") + "\"NUM_ENTRIES\":\"" + std::to_string(entries) + "\",\n" +
                         lists_tail(names, key, records);
    // Listing one more would have overflowed json_text (its NUL included),
    // with the room the two counts were given while the records were written.
    EXPECT_GT(text.size() + 2 + record(entries).size() + 2 * dcu::answer::kCountMemberRoom, sizeof json_text - 1)
        << "the answer was cut too early";
    return answer;
}

TEST_F(FileMemory, LargeBillingFile) {
    // Distinct records, more than an answer can hold, then as many more as
    // make the file large (128 MB in the plain build).
    const std::size_t size = scaled(128u << 20, 8u << 20);
    big_file([&](const fs::path &path) {
        std::string head;
        for (int column = 1; column <= 20; ++column) head += std::string(column > 1 ? "\t" : "") + "code-" + std::to_string(column);
        head += "\n";
        for (std::size_t i = 0; i < 20000; ++i) head += billing_record(i);
        std::string block;
        for (std::size_t i = 20000; block.size() < (1u << 20); ++i) block += billing_record(i);
        write_in_pieces(path, head, size / block.size(), block, "");
    });
    const auto record = [](std::size_t i) {
        return "{\"V0\":\"" + billing_value(i, 1) + "\",\"V1\":\"" + billing_value(i, 3) + "\"}";
    };
    expect_bounded([&](const std::string &text, bool content) {
        return cut_list(text, content, 2, "\"Name 1\",\"Name 3\"\n", record, entries_of(text));
    });
}

TEST_F(FileMemory, HundredMegabytesOfEmptyLines) {
    const std::size_t lines = scaled(100u << 20, 4u << 20);
    big_file([&](const fs::path &path) { write_in_pieces(path, "", lines / 4096, std::string(4096, '\n'), ""); });
    // The header is one empty name, which nothing selects: every record is empty.
    expect_bounded([&](const std::string &text, bool content) {
        return cut_list(text, content, 0, "", [](std::size_t) { return std::string("{}"); }, entries_of(text));
    });
}

TEST_F(FileMemory, TenMegabyteLines) {
    const std::size_t size = scaled(10u << 20, 10u << 20);
    struct Case {
        const char *name;
        std::string head;     // before the long run
        std::string tail;     // after it
        std::string answer;   // lists_tail's names and records, for SUCCESS
    };
    const std::string name_list = "\"Name 1\",\"Name 3\"\n";
    const Case cases[] = {
        // A header name of 10 MB matches nothing and is never kept whole.
        {"as a header name", "code-1\t", "\tcode-3\nv1\tv2\tv3\n", "{\"V0\":\"v1\",\"V1\":\"v3\"}\n"},
        // A record of 10 MB whose selected values are short is answered as any other.
        {"as a record", "code-1\tcode-2\tcode-3\nv1\t", "\tv3\nw1\tw2\tw3\n",
         "{\"V0\":\"v1\",\"V1\":\"v3\"},\n{\"V0\":\"w1\",\"V1\":\"w3\"}\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        big_file([&](const fs::path &path) { write_in_pieces(path, c.head, size / 4096, std::string(4096, 'x'), c.tail); });
        const std::size_t entries = std::string_view(c.name) == "as a header name" ? 1 : 2;
        expect_bounded([&](const std::string &, bool content) {
            return head(content, "SUCCESS", 2, entries) + lists_tail(name_list, content ? "FILE_DATA" : "BILL_DATA",
                                                                     c.answer);
        });
    }
    // A selected value of 10 MB can't fit: nothing of it is listed.
    big_file([&](const fs::path &path) {
        write_in_pieces(path, "code-1\tcode-3\nv1\t", size / 4096, std::string(4096, 'x'), "\nw1\tw3\n");
    });
    expect_bounded([&](const std::string &, bool content) {
        return head(content, "FAILURE", 2, 0) + lists_tail(name_list, content ? "FILE_DATA" : "BILL_DATA", "");
    });
}

TEST_F(FileMemory, TwoGigabyteSparseFile) {
    const auto size = static_cast<off_t>(scaled(std::size_t{2} << 30, std::size_t{64} << 20));
    // No disk: a hole of that size, read back as zeros.
    big_file([&](const fs::path &path) {
        std::ofstream{path};
        fs::resize_file(path, static_cast<std::uintmax_t>(size));
    });
    // One header name of zeros, which nothing selects; no records.
    expect_bounded([&](const std::string &, bool content) {
        return head(content, "SUCCESS", 0, 0) + lists_tail("", content ? "FILE_DATA" : "BILL_DATA", "");
    });
}

}  // namespace
