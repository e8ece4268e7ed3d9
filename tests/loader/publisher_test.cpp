// The publisher in-process over a connection of the suite's own: the optional
// whole-record hash, and the exported steps' run when the store is gone.
#include <gtest/gtest.h>

#include <cstring>

#include "common/store.hpp"
#include "dcu/config_record.h"
#include "loader/config_record.hpp"
#include "loader/publisher.hpp"
#include "tests/loader/fixtures.hpp"
#include "tests/support/private_store.hpp"

namespace {

namespace fx = dcu::test::loader;

class Publisher : public ::testing::Test {
protected:
    void SetUp() override {
        store.start();
        const fx::Record bytes = fx::distinct_record();
        std::memcpy(&record, bytes.data(), bytes.size());
        ASSERT_EQ(connection.connect("127.0.0.1", store.port(), dcu::store::PendingReply::keep), 0);
    }
    dcu::test::PrivateStore store;
    dcu::store::OwnedConnection connection;
    dcu_config_record record;
};

TEST_F(Publisher, GenAllConfigStoresTheWholeRecordAsOneBinaryValue) {
    dcu::test::Monitor monitor(store.port());
    dcu::loader::publish_whole_record(connection, record);
    const auto commands = monitor.take();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0][0], "HMSET");
    const auto stored = dcu::test::StoreClient(store.port()).hget("DLMS_DCU_CONFIG", "stat");
    ASSERT_TRUE(stored.has_value());
    ASSERT_EQ(stored->size(), 4716u);
    EXPECT_EQ(std::memcmp(stored->data(), &record, 4716), 0);
    EXPECT_EQ(connection.last_reply(), nullptr);  // its reply was released
}

TEST_F(Publisher, RunsEveryStepToItsEndWhenTheStoreIsGone) {
    store.stop();
    fx::CapturedOutput out;
    // As the exported gen_*_redis steps run, each through all its commands.
    for (const auto &step : dcu::loader::kPublishingSequence)
        (void)dcu::loader::publish_step(connection, record, step.step, dcu::loader::OnNoReply::go_on);
    const std::string text = out.finish();
    // All the per-slot lines still come out: 20 meter slots, 4 ports, LogSerIp.
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    EXPECT_EQ(lines, 25u);
    EXPECT_EQ(connection.last_reply(), nullptr);
}

}  // namespace
