// The store layer against a private redis-server: connection logging, the
// reply holder, and pipelines that keep the store's view of the commands.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "common/paths.hpp"
#include "common/store.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/store_suite.hpp"

// This suite is its own host: it defines what a host process provides.
redisContext *p_redis_handler = nullptr;
redisReply *p_redis_reply = nullptr;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];
static std::vector<std::string> g_log_lines;

extern "C" void dbg_log(int level, const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    g_log_lines.push_back(std::to_string(level) + " " + line);
}

extern "C" int send_msg(const char *) { return 0; }

namespace {

using dcu::store::PendingReply;

class StoreLayer : public dcu::test::StoreSuite {
protected:
    void SetUp() override {
        if (!store().running()) store().start();
        g_log_lines.clear();
        ASSERT_EQ(dcu::store::connect("127.0.0.1", store().port(), PendingReply::release), 0);
        dcu::test::StoreClient(store().port()).flushall();
        g_log_lines.clear();
    }
    void TearDown() override {
        if (p_redis_handler) redisFree(p_redis_handler);
        p_redis_handler = nullptr;
    }
};

TEST_F(StoreLayer, ConnectLogsBothLinesWithServerAndPort) {
    ASSERT_EQ(dcu::store::connect("127.0.0.1", store().port(), PendingReply::keep), 0);
    const std::string port = std::to_string(store().port());
    ASSERT_EQ(g_log_lines.size(), 2u);
    EXPECT_EQ(g_log_lines[0], "0 redis_init()         : Trying to connect on Redis Server : 127.0.0.1 with port : " +
                                  port + "\n");
    EXPECT_EQ(g_log_lines[1],
              "0 redis_init()         : Connected on Redis Server : 127.0.0.1 with port : " + port + "\n");
}

TEST_F(StoreLayer, ConnectFailureLogsErrorAndLeavesNoHandle) {
    const std::uint16_t closed_port = dcu::test::free_loopback_port();
    EXPECT_EQ(dcu::store::connect("127.0.0.1", closed_port, PendingReply::keep), -1);
    EXPECT_EQ(p_redis_handler, nullptr);
    ASSERT_EQ(g_log_lines.size(), 2u);
    EXPECT_EQ(g_log_lines[1], "0 redis_init()         : Connection error: Connection refused\n");
}

TEST_F(StoreLayer, OnlyTheLibraryFlavourReleasesAPendingReply) {
    auto *pending = static_cast<redisReply *>(redisCommand(p_redis_handler, "PING"));
    p_redis_reply = pending;
    ASSERT_EQ(dcu::store::connect("127.0.0.1", store().port(), PendingReply::keep), 0);
    EXPECT_EQ(p_redis_reply, pending);
    ASSERT_EQ(dcu::store::connect("127.0.0.1", store().port(), PendingReply::release), 0);
    EXPECT_EQ(p_redis_reply, nullptr);  // released (ASan/valgrind would see a leak otherwise)
}

TEST_F(StoreLayer, ReplyIsHeldWhileAliveAndReleasedOnce) {
    {
        auto reply = dcu::store::command("HSET %s %s %s", "k", "f", "two words");
        ASSERT_TRUE(reply.arrived());
        EXPECT_EQ(p_redis_reply, reply.get());
        auto moved = std::move(reply);
        EXPECT_EQ(p_redis_reply, moved.get());
    }
    EXPECT_EQ(p_redis_reply, nullptr);
    auto read = dcu::store::command("HMGET k f missing");
    ASSERT_EQ(read.element_count(), 2u);
    EXPECT_EQ(read.element_text(0).value(), "two words");
    EXPECT_FALSE(read.element_text(1).has_value());
    EXPECT_FALSE(read.element_text(2).has_value());
}

TEST_F(StoreLayer, ErrorReplyHasNoElements) {
    dcu::store::command("SET plain text");
    auto reply = dcu::store::command("HMGET plain f");
    EXPECT_TRUE(reply.is_error());
    EXPECT_FALSE(reply.element_text(0).has_value());
}

TEST_F(StoreLayer, WithoutConnectionEveryReplyIsNull) {
    redisFree(p_redis_handler);
    p_redis_handler = nullptr;
    EXPECT_FALSE(dcu::store::command("PING").arrived());
    dcu::store::Pipeline pipeline;
    pipeline.append("PING");
    EXPECT_FALSE(pipeline.next().arrived());
    EXPECT_EQ(p_redis_reply, nullptr);
}

TEST_F(StoreLayer, PipelineSendsTheSameCommandsInOrder) {
    dcu::test::Monitor monitor(store().port());
    {
        dcu::store::Pipeline pipeline;
        for (int i = 0; i < 3; ++i) pipeline.append("HSET Port%dMet%dSerNum SER_NUM %s", i, i + 1, "S N");
        pipeline.append("HMGET Port1Met2SerNum SER_NUM");
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(pipeline.next().arrived());
        auto last = pipeline.next();
        EXPECT_EQ(last.element_text(0).value(), "S N");
        pipeline.append("PING");  // left unread: the destructor drains it
    }
    EXPECT_EQ(p_redis_reply, nullptr);
    auto seen = monitor.take();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], (std::vector<std::string>{"HSET", "Port0Met1SerNum", "SER_NUM", "S N"}));
    EXPECT_EQ(seen[3], (std::vector<std::string>{"HMGET", "Port1Met2SerNum", "SER_NUM"}));
    // The connection is still in step after the drained reply.
    EXPECT_EQ(dcu::store::command("ECHO x").get()->type, REDIS_REPLY_STRING);
}

TEST_F(StoreLayer, LostConnectionMidPipelineGivesNullRepliesThenRecovers) {
    dcu::store::Pipeline pipeline;
    pipeline.append("PING");
    pipeline.append("PING");
    store().stop();
    EXPECT_FALSE(pipeline.next().arrived());
    EXPECT_FALSE(pipeline.next().arrived());
    store().start();
    ASSERT_EQ(dcu::store::connect("127.0.0.1", store().port(), PendingReply::release), 0);
    EXPECT_TRUE(dcu::store::command("PING").arrived());
}

TEST(UnitPaths, RootPrefixesEveryAbsolutePath) {
    ::unsetenv("DCU_ROOT");
    EXPECT_EQ(dcu::paths::on_unit("/usr/tev/log"), "/usr/tev/log");
    ::setenv("DCU_ROOT", "/tmp/unit/", 1);
    EXPECT_EQ(dcu::paths::on_unit("/usr/tev/log"), "/tmp/unit/usr/tev/log");
    ::unsetenv("DCU_ROOT");
}

TEST(UnitPaths, StorePortOverride) {
    struct Case {
        const char *value;
        std::uint16_t port;
    };
    for (Case c : {Case{nullptr, 6379}, Case{"7000", 7000}, Case{"0", 6379}, Case{"70000", 6379},
                   Case{"12ab", 6379}, Case{"", 6379}}) {
        if (c.value) ::setenv("DCU_REDIS_PORT", c.value, 1);
        else ::unsetenv("DCU_REDIS_PORT");
        EXPECT_EQ(dcu::paths::store_port(), c.port) << (c.value ? c.value : "(unset)");
    }
    ::unsetenv("DCU_REDIS_PORT");
}

}  // namespace
