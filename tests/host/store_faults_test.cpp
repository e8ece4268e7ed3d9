// The host's store going wrong under it, for real: a private redis-server
// restarted while dcuhost is idle, killed, paused (SIGSTOP) and resumed,
// while dcuhost --mqtt answers a head-end over a private broker. The unit is
// the bundled sample (cfgload's configuration, metersim's meters).
//
// The first answer after each fault equals the answer before it; no answer
// built on a failed store connection says SUCCESS; a store that hangs costs
// each request a bounded wait and never deafens dcuhost to SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/host/support/background_program.hpp"
#include "tests/host/support/mqtt_client.hpp"
#include "tests/host/support/private_broker.hpp"
#include "tests/support/answer_checks.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/sample_unit.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using namespace std::chrono_literals;
using dcu::test::answer_member;
using dcu::test::BackgroundProgram;
using dcu::test::run_program;

// The sample unit's MQTT_INFO names the unit's account and topics.
using dcu::test::sample_unit::kBrokerPassword;
using dcu::test::sample_unit::kBrokerUser;
using dcu::test::sample_unit::kCmdTopic;
using dcu::test::sample_unit::kRespTopic;
constexpr const char *kHeadEndUser = "headend";
constexpr const char *kHeadEndPassword = "he-secret";

struct Request {
    const char *name;
    std::string json;      // without SEQ_NUM, which each ask() adds
    bool reads_store = true;
};

class StoreFaults : public dcu::test::StoreSuite {
protected:
    static void SetUpTestSuite() {
        StoreSuite::SetUpTestSuite();
        broker().start();
    }
    static void TearDownTestSuite() {
        broker().stop();
        StoreSuite::TearDownTestSuite();
    }
    static dcu::test::PrivateBroker &broker() {
        static dcu::test::PrivateBroker instance({{kBrokerUser, kBrokerPassword}, {kHeadEndUser, kHeadEndPassword}});
        return instance;
    }

    void SetUp() override {
        dcu::test::StoreClient(store().port()).flushall();
        load_sample_unit();
        host_ = std::make_unique<BackgroundProgram>(
            std::vector<std::string>{DCUHOST_PATH, "--store", store_address(), "--mqtt", "--broker",
                                     "127.0.0.1:" + std::to_string(broker().port())},
            std::map<std::string, std::string>{{"DCU_ROOT", root_.path().string()}});
        ASSERT_TRUE(host_->wait_for_err("Subscribed to dcu/DCU-0001/cmd", 1, 30s)) << host_->err();
        head_end_ = std::make_unique<dcu::test::MqttClient>(broker().port(), kHeadEndUser, kHeadEndPassword);
        ASSERT_EQ(head_end_->connect(), 0);
        head_end_->subscribe(kRespTopic);
    }
    void TearDown() override {
        store().resume();
        if (HasFailure() && host_) std::fprintf(stderr, "dcuhost's log:\n%s\n", host_->err().c_str());
    }

    // The sample unit: its record published by cfgload, seven meters by metersim.
    void load_sample_unit() {
        ASSERT_EQ(dcu::test::sample_unit::load(root_, store().port()), "");
        serial_ = dcu::test::sample_unit::meter_serial(store().port());
    }

    std::vector<Request> requests() const {
        const std::string meter = ",\"MET_SERNUM\":\"" + serial_ + "\"";
        return {
            {"meters", "{\"TYPE\":\"GET_METER_SER_LIST\""},
            {"commn", "{\"TYPE\":\"GET_COMMN_STATUS_MESSAGE\""},
            {"modem", "{\"TYPE\":\"GET_MODEM_DIAG_MESSAGE\""},
            {"inst", "{\"TYPE\":\"OD_INST\"" + meter},
            {"billing", "{\"TYPE\":\"OD_BILLING\"" + meter},
            {"od files", "{\"TYPE\":\"GET_OD_LS_FILE_LIST\"" + meter},
            {"bill content",
             "{\"TYPE\":\"GET_BILL_FILE_CONTENT\"" + meter +
                 ",\"DIR_NAME\":\"meter_id_1\",\"FILE_NAME\":\"billing\",\"VIEW_TYPE\":\"V1\"",
             false},
        };
    }

    // The answer to one request, as the head-end receives it.
    std::string ask(const Request &request, int seq_num) {
        head_end_->publish(kCmdTopic, request.json + ",\"SEQ_NUM\":" + std::to_string(seq_num) + "}");
        const auto answer = head_end_->next(30s);
        if (!answer) {
            ADD_FAILURE() << request.name << ": no answer";
            return {};
        }
        EXPECT_EQ(answer_member(answer->payload, "SEQ_NUM"), std::to_string(seq_num)) << answer->payload;
        return answer->payload;
    }

    // Every request's answer now, each a whole one.
    std::vector<std::string> whole_answers(int seq_num) {
        std::vector<std::string> answers;
        for (const Request &request : requests()) {
            answers.push_back(ask(request, seq_num));
            EXPECT_EQ(answer_member(answers.back(), "CMD_STATUS"), "SUCCESS") << request.name << answers.back();
        }
        return answers;
    }

    dcu::test::TempDir root_;
    std::string serial_;
    std::unique_ptr<BackgroundProgram> host_;
    std::unique_ptr<dcu::test::MqttClient> head_end_;
};

// The store restarts (with its keys, as a store with persistence does) while
// dcuhost waits for requests: the closed socket is seen before the next
// request, so its answer is the one the request got before the restart.
TEST_F(StoreFaults, TheFirstAnswerAfterARestartEqualsTheOneBefore) {
    const auto before = whole_answers(1);
    const auto all = requests();
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        store().restart_with_keys();
        EXPECT_EQ(ask(all[i], 1), before[i]);
    }
    EXPECT_NE(host_->err().find("dcuhost: the store connection is lost; connecting again"), std::string::npos);

    // The range command after a restart lands whole.
    dcu::test::StoreClient client(store().port());
    client.del("Port0Met1OdLsCmd");
    store().restart_with_keys();
    head_end_->publish(kCmdTopic, "{\"TYPE\":\"OD_LS_RANGE\",\"SEQ_NUM\":9,\"MET_SERNUM\":\"" + serial_ +
                                      "\",\"START\":\"2024-03-05 10:30\",\"END\":\"2024-03-06 00:00\"}");
    std::map<std::string, std::string> command;
    for (int round = 0; round < 300 && command.empty(); ++round) {
        command = dcu::test::StoreClient(store().port()).hgetall("Port0Met1OdLsCmd");
        if (command.empty()) std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(command, (std::map<std::string, std::string>{{"NeedToRead", "1"}, {"Day", "5"}, {"Mon", "3"},
                                                           {"Year", "2024"}, {"Hour", "10"}, {"Min", "30"},
                                                           {"Day2", "6"}, {"Mon2", "3"}, {"Year2", "2024"},
                                                           {"Hour2", "0"}, {"Min2", "0"}}));
}

// A store killed outright: every answer that needs it says FAILURE (never a
// unit without meters or a modem without state), an answer from the files
// alone is unchanged, and once the store is back the answers are whole.
TEST_F(StoreFaults, AKilledStoreGivesFailuresAndIsConnectedAgainWhenBack) {
    const auto before = whole_answers(2);
    const auto all = requests();
    store().save();
    store().stop(SIGKILL);
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        const std::string answer = ask(all[i], 2);
        if (all[i].reads_store) {
            EXPECT_EQ(answer_member(answer, "CMD_STATUS"), "FAILURE") << answer;
        } else {
            EXPECT_EQ(answer, before[i]);
        }
    }
    store().start(/*same_port=*/true);
    for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(ask(all[i], 2), before[i]) << all[i].name;
}

// A store that hangs (SIGSTOP): its kernel still accepts the connection,
// nothing answers. Each request is answered FAILURE after the command
// time-out instead of waiting for ever; once the store answers again, the
// next answer is whole.
TEST_F(StoreFaults, APausedStoreCostsABoundedWaitAndTheNextAnswerIsRight) {
    const auto before = whole_answers(3);
    const auto all = requests();
    store().pause();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!all[i].reads_store) continue;
        SCOPED_TRACE(all[i].name);
        EXPECT_EQ(answer_member(ask(all[i], 3), "CMD_STATUS"), "FAILURE");
    }
    EXPECT_NE(host_->err().find("dcuhost: the store connection failed: no reply within 2 s; connecting again"),
              std::string::npos);
    store().resume();
    for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(ask(all[i], 3), before[i]) << all[i].name;
}

// SIGTERM while requests wait for a store that hangs: dcuhost answers the
// one it is in (FAILURE, after the time-out), starts no other, and leaves the
// broker cleanly within 3 s.
// SIGTERM (a service stop) and SIGINT (a service engineer's Ctrl-C) alike.
class StopWhileTheStoreHangs : public StoreFaults, public ::testing::WithParamInterface<int> {};

TEST_P(StopWhileTheStoreHangs, StopsTheHostWithinThreeSeconds) {
    const Request commn = requests()[1];
    store().pause();
    for (int seq = 1; seq <= 3; ++seq)
        head_end_->publish_acknowledged(kCmdTopic, commn.json + ",\"SEQ_NUM\":" + std::to_string(seq) + "}");
    // The first request is now waiting for the store.
    std::this_thread::sleep_for(300ms);
    const auto signalled = std::chrono::steady_clock::now();
    EXPECT_EQ(host_->stop(GetParam()), 0) << host_->err();
    const auto took = std::chrono::steady_clock::now() - signalled;
    // Under a checker or an emulator everything is slower.
    const auto bound = dcu::test::exec_prefix().empty() ? 3s : 10s;
    EXPECT_LT(took, bound) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_NE(host_->err().find("Disconnected from broker"), std::string::npos) << host_->err();
    const auto answers = head_end_->take(3, 2s);
    ASSERT_LE(answers.size(), 1u);
    for (const auto &answer : answers) EXPECT_EQ(answer_member(answer.payload, "CMD_STATUS"), "FAILURE");
}

INSTANTIATE_TEST_SUITE_P(Signals, StopWhileTheStoreHangs, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int> &stop_signal) {
                             return std::string(stop_signal.param == SIGTERM ? "Sigterm" : "Sigint");
                         });

}  // namespace
