// The publisher in-process: the optional whole-record hash, and a run that
// loses its store half-way.
#include <gtest/gtest.h>

#include <cstring>

#include "common/store.hpp"
#include "dcu/config_record.h"
#include "loader/publisher.hpp"
#include "tests/loader/fixtures.hpp"
#include "tests/support/private_store.hpp"

namespace {

namespace fx = dcu::test::loader;

class Publisher : public ::testing::Test {
protected:
    void SetUp() override {
        store.start();
        const fx::Record record = fx::distinct_record();
        std::memcpy(&dlms_dcu_config, record.data(), record.size());
        fx::CapturedOutput quiet(2);  // the connection's log lines (no log file here)
        ASSERT_EQ(dcu::store::connect("127.0.0.1", store.port(), dcu::store::PendingReply::keep), 0);
    }
    void TearDown() override {
        if (p_redis_handler != nullptr) redisFree(p_redis_handler);
        p_redis_handler = nullptr;
    }
    dcu::test::PrivateStore store;
};

TEST_F(Publisher, GenAllConfigStoresTheWholeRecordAsOneBinaryValue) {
    dcu::test::Monitor monitor(store.port());
    gen_all_config();
    const auto commands = monitor.take();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0][0], "HMSET");
    const auto stored = dcu::test::StoreClient(store.port()).hget("DLMS_DCU_CONFIG", "stat");
    ASSERT_TRUE(stored.has_value());
    ASSERT_EQ(stored->size(), 4716u);
    EXPECT_EQ(std::memcmp(stored->data(), &dlms_dcu_config, 4716), 0);
    EXPECT_EQ(p_redis_reply, nullptr);  // its reply was released
}

TEST_F(Publisher, RunsEveryStepToItsEndWhenTheStoreIsGone) {
    store.stop();
    fx::CapturedOutput out;
    for (auto step : {gen_dcu_info_redis, gen_ser_meter_info_redis, gen_eth_meter_info_redis, gen_iec104_info_redis,
                      gen_modtcp_info_redis, gen_dcu_poll_info_redis, gen_mqtt_info_redis, gen_tev_ems_info_redis,
                      gen_ntp_info_redis, gen_dcu_eth_info_redis, gen_dcu_serial_info_redis, gen_gprs_info_redis,
                      gen_ftp_server_info_redis, gen_vpn_info_redis})
        step();
    const std::string text = out.finish();
    // All the per-slot lines still come out: 20 meter slots, 4 ports, LogSerIp.
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    EXPECT_EQ(lines, 25u);
    EXPECT_EQ(p_redis_reply, nullptr);
}

}  // namespace
