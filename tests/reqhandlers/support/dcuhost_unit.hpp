// A small unit under a scratch DCU_ROOT, answered by dcuhost as the unit's
// host process would: each request in a program of its own, bounded in time,
// so that a handler that blocks fails its test instead of hanging it.
//
// The unit: SN01 on port 0, meter 0 (meter_id_0) and SN02 on port 0, meter 2
// (meter_id_2); the worked example's billing file in meter_id_0 and
// meter_id_1; BillParams selecting code-3 (Name 3) and code-1 (Name 1), and
// EventParams the same, in the event and the bill selection files.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/reqhandlers/support/profile_fixtures.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/strict_json.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

class DcuhostUnit : public StoreSuite {
protected:
    static constexpr const char *kDataRoot = "/usr/tev/data/DlmsData";
    static constexpr const char *kEventSelection = "/srv/www/htdocs/user_event_obis_det.json";
    static constexpr const char *kBillSelection = "/srv/www/htdocs/user_bill_obis_det.json";

    void SetUp() override {
        StoreClient client(store().port());
        client.flushall();
        client.hset("Port0Met0SerNum", "SER_NUM", "SN01");
        client.hset("Port0Met2SerNum", "SER_NUM", "SN02");
        unit_ = std::make_unique<TempDir>();
        for (const char *meter : {"meter_id_0", "meter_id_1"})
            write_file(data(meter) / "billing", profiles::kBillingFile);
        std::filesystem::create_directories(data("meter_id_2"));
        const std::string bill = profiles::section("BillParams", profiles::kTwoOfFour);
        write_file(unit(kEventSelection), bill + ",\n" + profiles::section("EventParams", profiles::kTwoOfFour));
        write_file(unit(kBillSelection), bill);
    }

    // A path of the unit ("/usr/tev/...") as the test opens it.
    std::filesystem::path unit(std::string_view unit_path) const { return *unit_ / unit_path; }
    // A path below the data root.
    std::filesystem::path data(std::string_view tree_path) const {
        return unit(std::string(kDataRoot) + "/" + std::string(tree_path));
    }

    // Whether the peak resident size of a child is dcuhost's own: not under
    // a checker or an emulator, and not with AddressSanitizer's shadow memory.
    static bool plain_build() {
#if defined(__SANITIZE_ADDRESS__)
        return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
        return false;
#endif
#endif
        return std::getenv("DCU_TEST_EXEC_PREFIX") == nullptr;
    }

    // One dcuhost --stdin session answering the request lines, with
    // dcuhost's own peak resident size.
    RunResult session(const std::string &lines) const {
        RunOptions options;
        options.measure_peak_rss = true;
        options.env["DCU_ROOT"] = unit_->path().string();
        options.stdin_text = lines;
        // Long enough for memcheck; a request that blocks is cut off here.
        options.timeout = std::chrono::seconds(plain_build() ? 20 : 180);
        return run_program({DCUHOST_PATH, "--store", store_address(), "--stdin"}, options);
    }

    // The answers of a session's standard output, each a whole text.
    static std::vector<std::string> answers_in(const std::string &out) {
        std::vector<std::string> answers;
        std::size_t start = 0;
        while (start < out.size()) {
            std::size_t next = out.find("}\n}\n{\n", start);
            next = next == std::string::npos ? out.size() : next + 4;
            answers.push_back(out.substr(start, next - start));
            start = next;
        }
        return answers;
    }

private:
    std::unique_ptr<TempDir> unit_;
};

// Fails the test unless text is strict JSON.
#ifndef EXPECT_STRICT_JSON
#define EXPECT_STRICT_JSON(text) EXPECT_EQ(::dcu::test::strict_json_error(text), "") << (text)
#endif

}  // namespace dcu::test
