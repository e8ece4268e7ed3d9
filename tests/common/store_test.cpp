// The store layer against a private redis-server: connection logging, the
// reply holder, pipelines that keep the store's view of the commands, and
// the request's scope.
#include <gtest/gtest.h>

#include <array>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/paths.hpp"
#include "common/store.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/store_suite.hpp"

namespace {

std::vector<std::string> g_log_lines;

[[gnu::format(printf, 2, 3)]] void record_log(int level, const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    g_log_lines.push_back(std::to_string(level) + " " + line);
}

using dcu::store::PendingReply;

// The suite keeps its connection in places of its own, as a host keeps
// p_redis_handler and p_redis_reply, so that it can look at them.
class StoreLayer : public dcu::test::StoreSuite {
protected:
    void SetUp() override {
        if (!store().running()) store().start();
        g_log_lines.clear();
        ASSERT_EQ(connection.connect("127.0.0.1", store().port(), PendingReply::release), 0);
        dcu::test::StoreClient(store().port()).flushall();
        g_log_lines.clear();
    }
    void TearDown() override { connection.close(); }

    redisContext *context = nullptr;
    redisReply *last_reply = nullptr;
    dcu::store::Connection connection{context, last_reply, record_log};
};

TEST_F(StoreLayer, ConnectLogsBothLinesWithServerAndPort) {
    ASSERT_EQ(connection.connect("127.0.0.1", store().port(), PendingReply::keep), 0);
    const std::string port = std::to_string(store().port());
    ASSERT_EQ(g_log_lines.size(), 2u);
    EXPECT_EQ(g_log_lines[0], "0 redis_init()         : Trying to connect on Redis Server : 127.0.0.1 with port : " +
                                  port + "\n");
    EXPECT_EQ(g_log_lines[1],
              "0 redis_init()         : Connected on Redis Server : 127.0.0.1 with port : " + port + "\n");
}

TEST_F(StoreLayer, ConnectFailureLogsErrorAndLeavesNoHandle) {
    const std::uint16_t closed_port = dcu::test::free_loopback_port();
    EXPECT_EQ(connection.connect("127.0.0.1", closed_port, PendingReply::keep), -1);
    EXPECT_EQ(context, nullptr);
    ASSERT_EQ(g_log_lines.size(), 2u);
    EXPECT_EQ(g_log_lines[1], "0 redis_init()         : Connection error: Connection refused\n");
}

TEST_F(StoreLayer, OnlyTheLibraryFlavourReleasesAPendingReply) {
    auto *pending = static_cast<redisReply *>(redisCommand(context, "PING"));
    last_reply = pending;
    ASSERT_EQ(connection.connect("127.0.0.1", store().port(), PendingReply::keep), 0);
    EXPECT_EQ(last_reply, pending);
    ASSERT_EQ(connection.connect("127.0.0.1", store().port(), PendingReply::release), 0);
    EXPECT_EQ(last_reply, nullptr);  // released (ASan/valgrind would see a leak otherwise)
}

TEST_F(StoreLayer, ReplyIsHeldWhileAliveAndReleasedOnce) {
    {
        auto reply = connection.command("HSET %s %s %s", "k", "f", "two words");
        ASSERT_TRUE(reply.arrived());
        EXPECT_EQ(last_reply, reply.get());
        auto moved = std::move(reply);
        EXPECT_EQ(last_reply, moved.get());
    }
    EXPECT_EQ(last_reply, nullptr);
    auto read = connection.command("HMGET k f missing");
    ASSERT_EQ(read.element_count(), 2u);
    EXPECT_EQ(read.element_text(0).value(), "two words");
    EXPECT_FALSE(read.element_text(1).has_value());
    EXPECT_FALSE(read.element_text(2).has_value());
}

TEST_F(StoreLayer, ErrorReplyHasNoElements) {
    connection.command("SET plain text");
    auto reply = connection.command("HMGET plain f");
    EXPECT_TRUE(reply.is_error());
    EXPECT_FALSE(reply.element_text(0).has_value());
}

TEST_F(StoreLayer, WithoutConnectionEveryReplyIsNull) {
    connection.close();
    EXPECT_FALSE(connection.command("PING").arrived());
    dcu::store::Pipeline pipeline(connection);
    pipeline.append("PING");
    EXPECT_FALSE(pipeline.next().arrived());
    EXPECT_EQ(last_reply, nullptr);
}

TEST_F(StoreLayer, PipelineSendsTheSameCommandsInOrder) {
    dcu::test::Monitor monitor(store().port());
    {
        dcu::store::Pipeline pipeline(connection);
        for (int i = 0; i < 3; ++i) pipeline.append("HSET Port%dMet%dSerNum SER_NUM %s", i, i + 1, "S N");
        pipeline.append("HMGET Port1Met2SerNum SER_NUM");
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(pipeline.next().arrived());
        auto last = pipeline.next();
        EXPECT_EQ(last.element_text(0).value(), "S N");
        pipeline.append("PING");  // left unread: the destructor drains it
    }
    EXPECT_EQ(last_reply, nullptr);
    auto seen = monitor.take();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], (std::vector<std::string>{"HSET", "Port0Met1SerNum", "SER_NUM", "S N"}));
    EXPECT_EQ(seen[3], (std::vector<std::string>{"HMGET", "Port1Met2SerNum", "SER_NUM"}));
    // The connection is still in step after the drained reply.
    EXPECT_EQ(connection.command("ECHO x").get()->type, REDIS_REPLY_STRING);
}

TEST_F(StoreLayer, LostConnectionMidPipelineGivesNullRepliesThenRecovers) {
    dcu::store::Pipeline pipeline(connection);
    pipeline.append("PING");
    pipeline.append("PING");
    store().stop();
    EXPECT_FALSE(pipeline.next().arrived());
    EXPECT_FALSE(pipeline.next().arrived());
    store().start();
    ASSERT_EQ(connection.connect("127.0.0.1", store().port(), PendingReply::release), 0);
    EXPECT_TRUE(connection.command("PING").arrived());
}

// Connections keep their own context and reply: a program with two (or a
// test beside the library's) never sees one's reply in the other's place,
// and one that fails leaves the other working.
TEST_F(StoreLayer, ConnectionsKeepTheirOwnContextAndReply) {
    dcu::store::OwnedConnection other;
    ASSERT_EQ(other.connect("127.0.0.1", store().port(), PendingReply::keep), 0);
    ASSERT_NE(other.context(), context);
    {
        const auto written = other.command("SET shared %s", "one");
        ASSERT_TRUE(written.arrived());
        EXPECT_EQ(other.last_reply(), written.get());
        EXPECT_EQ(last_reply, nullptr);
        const auto read = connection.command("GET shared");
        EXPECT_EQ(last_reply, read.get());
        EXPECT_EQ(other.last_reply(), written.get());
        ASSERT_EQ(read.get()->type, REDIS_REPLY_STRING);
        EXPECT_STREQ(read.get()->str, "one");
    }
    EXPECT_EQ(other.last_reply(), nullptr);
    EXPECT_EQ(last_reply, nullptr);

    EXPECT_EQ(other.connect("127.0.0.1", dcu::test::free_loopback_port(), PendingReply::keep), -1);
    EXPECT_FALSE(other.command("PING").arrived());
    EXPECT_FALSE(other.alive());
    EXPECT_STREQ(other.error_text(), "no store connection");
    EXPECT_TRUE(connection.alive());
    EXPECT_TRUE(connection.command("PING").arrived());
}

// A request is one scope: an entry point that another calls (find_ser_num
// inside a handler) opens a scope inside the handler's, and must still see
// a command of the request that failed before it opened.
TEST_F(StoreLayer, AScopeInsideAnotherCountsFromTheOuterOnesStart) {
    dcu::store::OwnedConnection gone;  // never connected: every command fails
    {
        const dcu::store::RequestScope request;
        EXPECT_FALSE(request.store_failed());
        EXPECT_FALSE(gone.command("PING").arrived());
        {
            const dcu::store::RequestScope inner;
            EXPECT_EQ(dcu::store::RequestScope::current(), &inner);
            EXPECT_TRUE(inner.store_failed());
        }
        EXPECT_EQ(dcu::store::RequestScope::current(), &request);
        EXPECT_TRUE(request.store_failed());
    }
    EXPECT_EQ(dcu::store::RequestScope::current(), nullptr);
    // The next request starts clean, and sees its own failures only.
    const dcu::store::RequestScope next;
    EXPECT_FALSE(next.store_failed());
    EXPECT_TRUE(connection.command("PING").arrived());
    EXPECT_FALSE(next.store_failed());
    EXPECT_FALSE(gone.command("PING").arrived());
    EXPECT_TRUE(next.store_failed());
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

namespace {

// The layer's own text of a command next to hiredis's for the same format
// and arguments: the pipeline hands the first to hiredis as formatted.
struct Formatted {
    std::string ours;    // empty: left to hiredis
    std::string hiredis;
};

[[gnu::format(printf, 1, 2)]] Formatted format_both(const char *format, ...) {
    Formatted both;
    std::array<char, 2048> out{};
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const std::size_t length = dcu::store::detail::format_command(out, format, copy);
    va_end(copy);
    both.ours.assign(out.data(), length);
    char *target = nullptr;
    const int size = redisvFormatCommand(&target, format, args);
    va_end(args);
    if (size > 0) both.hiredis.assign(target, static_cast<std::size_t>(size));
    std::free(target);
    return both;
}

}  // namespace

// Blanks split arguments, a conversion always makes one (even of nothing),
// runs of blanks make none, "%%" is one "%": as hiredis.
TEST(CommandFormat, EveryShapeComesOutAsHiredisWritesIt) {
    const std::string long_value(900, 'v');
    const Formatted cases[] = {
        format_both("PING"),
        format_both("HMGET %s %s %s", "Port0Met1inst_info", "Obis_12", "Value_12"),
        format_both("HMGET %s %s", "key", "a value with blanks"),
        format_both("SET %s %s", "key", ""),
        format_both("SET k%sx%s %d", "A", "", -2147483647 - 1),
        format_both("  HSET   %s  f%d   v  ", "key", 255),
        format_both("SET key 100%% %%%s%%", "x"),
        format_both("SET %s %s", "key", long_value.c_str()),
    };
    for (const auto &c : cases) {
        ASSERT_FALSE(c.hiredis.empty());
        EXPECT_EQ(c.ours, c.hiredis);
    }
}

// What the layer does not write itself, it leaves to hiredis (0): other
// conversions, and commands beyond its fixed room.
TEST(CommandFormat, OtherConversionsAndOversizedCommandsAreLeftToHiredis) {
    const std::string huge(1500, 'h');
    const Formatted cases[] = {
        format_both("SET %s %ld", "key", 12L),
        format_both("SET %s %s", "key", huge.c_str()),
        // 71 arguments: more than it keeps places for.
        format_both("MSET a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a"),
    };
    for (const auto &c : cases) {
        EXPECT_TRUE(c.ours.empty()) << c.hiredis.substr(0, 40);
        EXPECT_FALSE(c.hiredis.empty());
    }
}
