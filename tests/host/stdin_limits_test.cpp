// dcuhost --stdin against lines it must refuse without being hurt: a raw NUL
// in a word, lines just past the 65536-byte limit, and lines of 100 MB,
// which cost it no more memory than the limit. The session goes on after
// each and ends with exit status 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/run_program.hpp"
#include "tests/support/store_suite.hpp"

// Under AddressSanitizer the peak memory is mostly the sanitizer's own.
#if defined(__SANITIZE_ADDRESS__)
#define DCU_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DCU_TEST_ASAN 1
#endif
#endif
#ifndef DCU_TEST_ASAN
#define DCU_TEST_ASAN 0
#endif

namespace {

using dcu::test::run_program;

const std::string kTooLarge = "request larger than 65536 bytes";
const std::string kTooLargeAnswer =
    "{\n\"TYPE\":\"UNKNOWN\",\n\"SEQ_NUM\":\"\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n\"CMD_STATUS\":\"FAILURE\",\n"
    "\"DATA\":\n{\n\"REASON\":\"" + kTooLarge + "\"\n}\n}\n";

// Standard input of texts and long runs of one byte, made as the child reads
// it: 100 MB of input costs the test one piece.
class StreamedInput {
public:
    StreamedInput &text(std::string text) {
        parts_.push_back({std::move(text), 0, 0});
        return *this;
    }
    StreamedInput &run(char byte, std::size_t count) {
        parts_.push_back({{}, byte, count});
        return *this;
    }
    std::size_t size() const {
        std::size_t total = 0;
        for (const auto &part : parts_) total += part.text.size() + part.count;
        return total;
    }
    std::function<std::string_view()> pieces() const {
        struct State {
            std::vector<Part> parts;
            std::size_t next = 0;
            std::string piece;
        };
        auto state = std::make_shared<State>(State{parts_, 0, {}});
        return [state]() -> std::string_view {
            while (state->next < state->parts.size()) {
                Part &part = state->parts[state->next];
                if (!part.text.empty()) {
                    state->piece = std::move(part.text);
                    part.text.clear();
                    return state->piece;
                }
                if (part.count > 0) {
                    const std::size_t length = std::min<std::size_t>(part.count, 1 << 16);
                    part.count -= length;
                    state->piece.assign(length, part.byte);
                    return state->piece;
                }
                ++state->next;
            }
            return {};
        };
    }

private:
    struct Part {
        std::string text;
        char byte;
        std::size_t count;
    };
    std::vector<Part> parts_;
};

class StdinLimits : public dcu::test::StoreSuite {
protected:
    void SetUp() override {
        dcu::test::StoreClient client(store().port());
        client.flushall();
        client.hset("Port0Met1SerNum", "SER_NUM", "SN01");
    }

    // The answer dcuhost gives to a word request on its command line.
    std::string answer_to(const std::vector<std::string> &words) {
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address()};
        argv.insert(argv.end(), words.begin(), words.end());
        const auto result = run_program(argv);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return result.out;
    }

    dcu::test::RunResult session(const StreamedInput &input) {
        dcu::test::RunOptions options;
        options.stdin_pieces = input.pieces();
        options.timeout = std::chrono::minutes(10);
        options.measure_peak_rss = true;
        return run_program({DCUHOST_PATH, "--store", store_address(), "--stdin"}, options);
    }
};

TEST_F(StdinLimits, ARawNulInAWordIsRefusedNeverCut) {
    struct Case {
        std::string line;
        std::string message;
    };
    const Case cases[] = {
        {std::string("billing 7 SN01\0/x", 17), "dcuhost: MET_SERNUM holds a NUL character\n"},
        {std::string("billing 7 \"SN 01\0\"", 18), "dcuhost: MET_SERNUM holds a NUL character\n"},
        {std::string("meters 9\0abc", 12), "dcuhost: SEQ_NUM holds a NUL character\n"},
        {std::string("content bill 7 SN01 meter_id_1\0/../../etc billing V1", 52),
         "dcuhost: DIR_NAME holds a NUL character\n"},
        {std::string("midnight 7 SN01 3\0 2024", 23), "dcuhost: MONTH holds a NUL character\n"},
        {std::string("ls-range 7 SN01 2024-03-05\0 10:30 2024-03-06 00:00", 50),
         "dcuhost: START holds a NUL character\n"},
        {std::string("met\0ers 9", 9), "dcuhost: a request word holds a NUL character\n"},
    };
    const std::string after = answer_to({"meters", "2"});
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.line));
        const auto result = session(StreamedInput().text(c.line + "\nmeters 2\n"));
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_EQ(result.out, after);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    dcu::test::StoreClient client(store().port());
    EXPECT_EQ(client.keys("*OdLsCmd"), std::vector<std::string>{});
}

TEST_F(StdinLimits, LinesUpToTheLimitAreAnsweredAndLongerOnesRefused) {
    // A machine request and a word request padded to a given length.
    const auto machine_line = [](int seq, std::size_t length) {
        const std::string head = "{\"TYPE\":\"GET_METER_SER_LIST\",\"SEQ_NUM\":" + std::to_string(seq) + ",\"PAD\":\"";
        return head + std::string(length - head.size() - 2, 'p') + "\"}";
    };
    const auto word_line = [](int seq, std::size_t length) {
        const std::string head = "meters " + std::to_string(seq);
        return head + std::string(length - head.size(), ' ');
    };
    const auto result = session(StreamedInput()
                                    .text(machine_line(1, 65536) + "\n")
                                    .text(machine_line(2, 65537) + "\n")
                                    .text(machine_line(3, 65536) + "\r\n")
                                    .text(word_line(4, 65536) + "\n")
                                    .text(word_line(5, 65537) + "\n")
                                    .text("  " + machine_line(6, 65535) + "\n")
                                    .text("meters 7"));
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, answer_to({"meters", "1"}) + kTooLargeAnswer + answer_to({"meters", "3"}) +
                              answer_to({"meters", "4"}) + kTooLargeAnswer + answer_to({"meters", "7"}));
    std::size_t refusals = 0;
    for (auto at = result.err.find("dcuhost: " + kTooLarge + "\n"); at != std::string::npos;
         at = result.err.find("dcuhost: " + kTooLarge + "\n", at + 1))
        ++refusals;
    EXPECT_EQ(refusals, 3u) << result.err;
}

// The same session with its long lines just past the limit and 100 MB long:
// the same answers and messages, and about the same peak memory.
TEST_F(StdinLimits, LinesOfAHundredMegabytesCostNoMoreThanTheLimit) {
    constexpr std::size_t kHundredMegabytes = 100u << 20;
    const auto with_long_lines = [](std::size_t length) {
        StreamedInput input;
        input.text("meters 1\n")
            .text("{\"TYPE\":\"")
            .run('T', length)
            .text("\",\"SEQ_NUM\":2}\n")
            .text("meters 3\n")
            .text("meters 4 ")
            .run('4', length)
            .text("\nmeters 5\n");
        return input;
    };
    const auto just_past = session(with_long_lines(65537));
    const StreamedInput long_input = with_long_lines(kHundredMegabytes);
    ASSERT_GT(long_input.size(), 2 * kHundredMegabytes);
    const auto hundred_mb = session(long_input);

    const std::string expected = answer_to({"meters", "1"}) + kTooLargeAnswer + answer_to({"meters", "3"}) +
                                 answer_to({"meters", "5"});
    for (const auto *result : {&just_past, &hundred_mb}) {
        EXPECT_EQ(result->exit_code, 2);
        EXPECT_EQ(result->out, expected);
        EXPECT_LT(result->err.size(), 4096u) << result->err.substr(0, 4096);
    }
    EXPECT_EQ(hundred_mb.err, just_past.err);

    // Under an exec prefix (valgrind, qemu-arm) the peak is the prefix's.
    const bool own_peak = !DCU_TEST_ASAN && dcu::test::exec_prefix().empty();
    std::printf("dcuhost's peak resident size%s: %ld kB with lines just past the limit, %ld kB with lines of 100 MB\n",
                own_peak ? "" : " (not its own here: not checked)", just_past.peak_rss_kb, hundred_mb.peak_rss_kb);
    if (own_peak) {
        EXPECT_LE(hundred_mb.peak_rss_kb, just_past.peak_rss_kb + 4096);
    }
}

}  // namespace
