// An in-process host for the request handlers: it defines what the host
// communication process provides (store handles, configuration record,
// dbg_log, send_msg), records what the handlers log and send, and gives each
// test a private store and a scratch unit under DCU_ROOT.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dcu/reqhandlers.h"
#include "tests/support/private_store.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/strict_json.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

struct HostRecord {
    std::vector<std::string> sent;  // every text handed to send_msg
    std::vector<std::string> log;   // "<level> <line>" for every dbg_log call
    int send_result = 0;            // what send_msg returns
};

HostRecord &host();

// The library forgets the serial numbers it has seen (a host process never
// does this; tests start from a clean table).
void forget_known_serial_numbers();

class HandlerTest : public StoreSuite {
protected:
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    StoreClient &client() { return *client_; }
    const TempDir &root() const { return *root_; }
    // Writes a file of the unit, path given as on the unit ("/usr/tev/...").
    void unit_file(std::string_view unit_path, std::string_view content) const;
    // Runs fn and returns what it printed on standard output.
    static std::string stdout_of(const std::function<void()> &fn);
    // The only text sent since SetUp; fails the test when there was not exactly one.
    std::string sent_text() const;
    // Stores the serial number of a meter position.
    void serial(int port, int meter, const std::string &serial_number);

private:
    std::unique_ptr<TempDir> root_;
    std::unique_ptr<StoreClient> client_;
};

// Fails the test unless text is strict JSON.
#define EXPECT_STRICT_JSON(text) EXPECT_EQ(::dcu::test::strict_json_error(text), "") << (text)

}  // namespace dcu::test
