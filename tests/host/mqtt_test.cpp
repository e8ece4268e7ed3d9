// dcuhost --mqtt against a real broker: a private mosquitto (password file,
// no anonymous access; a TLS listener too, with certificates the suite
// makes) and a private store holding MQTT_INFO as cfgload publishes it. A
// head-end client sends machine requests on the unit's command topic and
// reads the answers on its answer topic.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "host/machine_request.hpp"
#include "host/requests.hpp"
#include "tests/host/support/background_program.hpp"
#include "tests/host/support/mqtt_client.hpp"
#include "tests/host/support/private_broker.hpp"
#include "tests/host/support/test_pki.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/strict_json.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using namespace std::chrono_literals;
using dcu::test::BackgroundProgram;
using dcu::test::MqttClient;
using dcu::test::run_program;

constexpr const char *kUnitUser = "dcu0001";
constexpr const char *kUnitPassword = "mqtt-secret";
constexpr const char *kHeadEndUser = "headend";
constexpr const char *kHeadEndPassword = "he-secret";
constexpr const char *kCmdTopic = "dcu/DCU-0001/cmd";
constexpr const char *kRespTopic = "dcu/DCU-0001/resp";
constexpr const char *kSubscribedLine = "Subscribed to dcu/DCU-0001/cmd (QoS 1)";

std::string meters_request(long long seq) {
    return "{\"TYPE\":\"GET_METER_SER_LIST\",\"SEQ_NUM\":" + std::to_string(seq) + "}";
}

std::string failure(const std::string &type, const std::string &seq, const std::string &reason) {
    return "{\n\"TYPE\":\"" + type + "\",\n\"SEQ_NUM\":\"" + seq +
           "\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"REASON\":\"" + reason +
           "\"\n}\n}\n";
}

// The SEQ_NUM an answer carries.
std::string seq_of(const std::string &answer) {
    const std::string key = "\"SEQ_NUM\":\"";
    const auto start = answer.find(key);
    if (start == std::string::npos) return "?";
    return answer.substr(start + key.size(), answer.find('"', start + key.size()) - start - key.size());
}

class MqttHost : public dcu::test::StoreSuite {
protected:
    static void SetUpTestSuite() {
        StoreSuite::SetUpTestSuite();
        broker().start();
    }
    static void TearDownTestSuite() {
        broker().stop();
        StoreSuite::TearDownTestSuite();
    }
    static const dcu::test::TestPki &pki() {
        static const dcu::test::TestPki instance;
        return instance;
    }
    static dcu::test::PrivateBroker &broker() {
        static dcu::test::PrivateBroker instance({{kUnitUser, kUnitPassword}, {kHeadEndUser, kHeadEndPassword}},
                                                 &pki());
        return instance;
    }
    // dcuhost's options for the TLS listener, with the unit's certificate.
    static std::vector<std::string> tls_options() {
        return {"--broker", "127.0.0.1:" + std::to_string(broker().tls_port()), "--cafile", pki().ca(), "--cert",
                pki().client_cert(), "--key", pki().client_key()};
    }

    void SetUp() override {
        store_client_ = std::make_unique<dcu::test::StoreClient>(store().port());
        store_client_->flushall();
        publish_mqtt_info();
    }
    void TearDown() override {
        if (HasFailure()) std::fprintf(stderr, "broker log:\n%s\n", broker().log().c_str());
    }

    dcu::test::StoreClient &store_client() { return *store_client_; }

    // MQTT_INFO as cfgload publishes it: BrokerPort is a signed 16-bit field.
    void publish_mqtt_info() {
        const int port = broker().port();
        const std::map<std::string, std::string> fields = {
            {"Enable", "1"},
            {"BrokerIp", "127.0.0.1"},
            {"SubTopic", "dcu/DCU-0001/sub"},
            {"PubTopic", kRespTopic},
            {"BrokerPass", kUnitPassword},
            {"BrokerUname", kUnitUser},
            {"BrokerPort", std::to_string(port > 32767 ? port - 65536 : port)},
            {"CmdSubTopic", kCmdTopic},
            {"DiagPubTopic", "dcu/DCU-0001/diag"},
            {"EventPubTopic", "dcu/DCU-0001/event"},
        };
        for (const auto &[field, value] : fields) store_client().hset("MQTT_INFO", field, value);
    }

    // dcuhost --mqtt, once it has subscribed to the command topic.
    std::unique_ptr<BackgroundProgram> start_host(const std::vector<std::string> &extra = {},
                                                  const std::map<std::string, std::string> &env = {}) {
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address(), "--mqtt"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto host = std::make_unique<BackgroundProgram>(argv, env);
        if (!host->wait_for_err(kSubscribedLine, 1, 30s))
            throw std::runtime_error("dcuhost did not subscribe:\n" + host->err());
        return host;
    }

    // Stops dcuhost by signal: it disconnects cleanly, exits 0 and never
    // printed a password.
    static void stop_host(BackgroundProgram &host, int signal_number = SIGTERM) {
        EXPECT_EQ(host.stop(signal_number), 0) << host.err();
        const std::string err = host.err();
        EXPECT_NE(err.find("Disconnected from broker 127.0.0.1:"), std::string::npos)
            << err;
        EXPECT_EQ(err.find(kUnitPassword), std::string::npos) << err;
        EXPECT_EQ(host.out(), "");
    }

    // The head-end, listening on the answer topic (over TLS on the TLS listener).
    static std::unique_ptr<MqttClient> head_end(bool tls = false) {
        dcu::test::ClientOptions options;
        if (tls) options = {false, pki().ca(), pki().client_cert(), pki().client_key()};
        auto client = std::make_unique<MqttClient>(tls ? broker().tls_port() : broker().port(), kHeadEndUser,
                                                   kHeadEndPassword, options);
        if (client->connect() != 0) throw std::runtime_error("the head-end was refused");
        client->subscribe(kRespTopic);
        return client;
    }

    // What dcuhost prints for the same request on its command line.
    std::string command_line_answer(const std::vector<std::string> &words,
                                    const std::map<std::string, std::string> &env = {}) {
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address()};
        argv.insert(argv.end(), words.begin(), words.end());
        dcu::test::RunOptions options;
        options.env = env;
        auto result = run_program(argv, options);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return result.out;
    }

private:
    std::unique_ptr<dcu::test::StoreClient> store_client_;
};

// The argument values of every request, by member name, from a simulated
// unit: its meter's serial number and the files of its directory.
struct UnitFixture {
    std::map<std::string, std::string> values;
    std::map<std::string, std::string> file_by_kind;  // "bill", "dp", "event", "ls"
};

UnitFixture simulated_unit(const dcu::test::TempDir &root, const std::string &store_address,
                           dcu::test::StoreClient &store) {
    dcu::test::RunOptions options;
    options.env["DCU_ROOT"] = root.path().string();
    auto sim = run_program({METERSIM_PATH, "--store", store_address, "--seed", "7", "--meters", "2", "--records", "2",
                            "--columns", "4", "--selected", "2", "--inst", "3", "--events", "1", "--months", "1",
                            "--ls-files", "1", "--od-files", "1"},
                           options);
    if (sim.exit_code != 0) throw std::runtime_error("metersim failed: " + sim.err);

    UnitFixture unit;
    const std::string dir = "meter_id_1";
    for (const auto &entry : std::filesystem::directory_iterator(root / "/usr/tev/data/DlmsData" / dir)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        const char *kind = name.find("bill") != std::string::npos    ? "bill"
                           : name.find("dp") != std::string::npos    ? "dp"
                           : name.find("event") != std::string::npos ? "event"
                                                                     : "ls";
        unit.file_by_kind.emplace(kind, name);
    }
    const std::string dp = unit.file_by_kind.at("dp");     // dp_MM_YYYY
    const std::string event = unit.file_by_kind.at("event");  // event_N
    unit.values = {
        {"MET_SERNUM", store.hget("Port0Met1SerNum", "SER_NUM").value_or("?")},
        {"MONTH", dp.substr(3, 2)},
        {"YEAR", dp.substr(6, 4)},
        {"EVENT_TYPE", event.substr(6)},
        {"DIR_NAME", dir},
        {"VIEW_TYPE", "V1"},
        {"START", "2024-03-27 00:00"},
        {"END", "2024-03-28 12:30"},
    };
    return unit;
}

TEST_F(MqttHost, EveryRequestTypeIsAnsweredAsOnTheCommandLine) {
    dcu::test::TempDir root;
    const auto unit = simulated_unit(root, store_address(), store_client());
    const std::map<std::string, std::string> env{{"DCU_ROOT", root.path().string()}};
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "over TLS" : "plain");
        auto host = start_host(tls ? tls_options() : std::vector<std::string>{}, env);
        auto head = head_end(tls);

        int answered = 0, succeeded = 0, silent = 0;
        int seq = 100;
        for (const auto &row : dcu::host::request_table()) {
            const std::string type(dcu::host::machine_type(row));
            if (type.empty()) continue;
            ++seq;
            // The words, then the same request as a machine sends it; numbers
            // as JSON integers for every other request, as strings otherwise.
            std::vector<std::string> words;
            for (auto word = std::string(row.word); !word.empty();) {
                const auto blank = word.find(' ');
                words.push_back(word.substr(0, blank));
                word = blank == std::string::npos ? "" : word.substr(blank + 1);
            }
            std::string request = "{\"TYPE\":\"" + type + "\"";
            for (const auto &arg : row.args) {
                std::string value;
                if (arg.member == "SEQ_NUM") value = std::to_string(seq);
                else if (arg.member == "FILE_NAME")
                    value = unit.file_by_kind.at(row.word.find("event") != std::string_view::npos ? "event"
                                                 : row.word.find("dp") != std::string_view::npos  ? "dp"
                                                 : row.word.find("ls") != std::string_view::npos  ? "ls"
                                                                                                    : "bill");
                else value = unit.values.count(std::string(arg.member)) ? unit.values.at(std::string(arg.member)) : "x";
                words.push_back(value);
                const bool numeric = arg.kind == dcu::host::ArgKind::seq_num || arg.kind == dcu::host::ArgKind::u8 ||
                                     arg.kind == dcu::host::ArgKind::u16;
                const bool as_integer = numeric && seq % 2 == 0 && value.find_first_not_of("0") != std::string::npos;
                request += ",\"" + std::string(arg.member) + "\":" +
                           (as_integer ? value.substr(value.find_first_not_of("0")) : "\"" + value + "\"");
            }
            request += "}";

            const std::string expected = command_line_answer(words, env);
            head->publish(kCmdTopic, request);
            if (expected.empty()) {
                // No answer by design: the next answer is the one to a request sent after it.
                head->publish(kCmdTopic, meters_request(-seq));
                const auto next = head->next(30s);
                ASSERT_TRUE(next) << type;
                EXPECT_EQ(seq_of(next->payload), std::to_string(-seq)) << type << " was answered:\n" << next->payload;
                ++silent;
                continue;
            }
            const auto answer = head->next(30s);
            ASSERT_TRUE(answer) << type << "\n" << host->err();
            EXPECT_EQ(answer->topic, kRespTopic);
            EXPECT_EQ(answer->payload, expected) << type;
            EXPECT_EQ(dcu::test::strict_json_error(answer->payload), "") << type;
            ++answered;
            if (answer->payload.find("\"CMD_STATUS\":\"SUCCESS\"") != std::string::npos) ++succeeded;
        }
        EXPECT_GE(answered, 1);
        std::printf("%s: %d request TYPEs answered byte for byte (%d of them SUCCESS), %d without an answer as on the "
                    "command line\n",
                    tls ? "TLS" : "plain", answered, succeeded, silent);
        stop_host(*host);
    }
}

TEST_F(MqttHost, BadRequestsGetAFailureAnswerAndTheHostGoesOn) {
    auto head = head_end();
    // A request left retained on the command topic is an old one: not answered.
    head->publish_acknowledged(kCmdTopic, meters_request(500), true);
    auto host = start_host();

    struct Case {
        std::string payload;
        std::string answer;
    };
    const Case cases[] = {
        {"meters 1", failure("UNKNOWN", "", "not a JSON object")},
        {"", failure("UNKNOWN", "", "not a JSON object")},
        {"{\"TYPE\":\"GET_METER_SER_LIST\",\"SEQ_NUM\":\"1\"} {}", failure("UNKNOWN", "", "not a JSON object")},
        {R"({"SEQ_NUM":"30"})", failure("UNKNOWN", "30", "TYPE missing")},
        {R"({"TYPE":"NO_SUCH","SEQ_NUM":"31"})", failure("NO_SUCH", "31", "unknown TYPE")},
        {R"({"TYPE":"GET_METER_SER_LIST"})", failure("GET_METER_SER_LIST", "", "SEQ_NUM missing")},
        {R"({"TYPE":"GET_METER_SER_LIST","SEQ_NUM":"3x"})",
         failure("GET_METER_SER_LIST", "",
                 "SEQ_NUM must be a whole number from -2147483648 to 2147483647, not \\\"3x\\\"")},
        {R"({"TYPE":"OD_\"Q","SEQ_NUM":-4})", failure("OD_\\\"Q", "-4", "unknown TYPE")},
    };
    for (const auto &c : cases) head->publish(kCmdTopic, c.payload);
    head->publish(kCmdTopic, meters_request(32));

    const auto answers = head->take(std::size(cases) + 1, 30s);
    ASSERT_EQ(answers.size(), std::size(cases) + 1) << host->err();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(answers[i].payload, cases[i].answer) << cases[i].payload;
        EXPECT_EQ(dcu::test::strict_json_error(answers[i].payload), "");
    }
    EXPECT_EQ(answers.back().payload, command_line_answer({"meters", "32"}));

    stop_host(*host);
    const std::string err = host->err();
    EXPECT_NE(err.find("Ignored a retained request on dcu/DCU-0001/cmd"), std::string::npos) << err;
    EXPECT_NE(err.find("Bad request (SEQ_NUM \"31\"): unknown TYPE\n"), std::string::npos) << err;
    head->publish_acknowledged(kCmdTopic, "", true);  // the retained request is gone for the next tests
}

// Whatever size a request has, its failure answer and log line stay short,
// and a value cut by an escaped NUL never reaches a handler.
TEST_F(MqttHost, LongAndNulRequestsGetShortFailureAnswers) {
    auto host = start_host();
    auto head = head_end();
    struct Case {
        std::string payload;
        std::string answer;
    };
    const Case cases[] = {
        {R"({"TYPE":")" + std::string(1 << 20, 'X') + R"(","SEQ_NUM":40})",
         failure("UNKNOWN", "", "request larger than 65536 bytes")},
        {R"({"TYPE":")" + std::string(60000, 'X') + R"(","SEQ_NUM":41})",
         failure(std::string(64, 'X') + "...", "41", "unknown TYPE")},
        {R"({"TYPE":"GET_METER_SER_LIST","SEQ_NUM":")" + std::string(60000, '9') + R"("})",
         failure("GET_METER_SER_LIST", "",
                 "SEQ_NUM must be a whole number from -2147483648 to 2147483647, not \\\"" + std::string(64, '9') +
                     "...\\\"")},
        {R"({"TYPE":"GET_BILL_FILE_CONTENT","SEQ_NUM":42,"MET_SERNUM":"SN01",)"
         R"("DIR_NAME":"meter_id_1\u0000/../../../../etc","FILE_NAME":"passwd","VIEW_TYPE":"V1"})",
         failure("GET_BILL_FILE_CONTENT", "42", "DIR_NAME holds a NUL character")},
    };
    for (const auto &c : cases) head->publish(kCmdTopic, c.payload);
    head->publish(kCmdTopic, meters_request(43));

    const auto answers = head->take(std::size(cases) + 1, 60s);
    ASSERT_EQ(answers.size(), std::size(cases) + 1) << host->err();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(answers[i].payload, cases[i].answer);
        EXPECT_LT(answers[i].payload.size(), 1024u);
        EXPECT_EQ(dcu::test::strict_json_error(answers[i].payload), "");
    }
    EXPECT_EQ(answers.back().payload, command_line_answer({"meters", "43"}));

    stop_host(*host);
    const std::string err = host->err();
    for (const char *line : {"Bad request (SEQ_NUM \"\"): request larger than 65536 bytes\n",
                             "Bad request (SEQ_NUM \"41\"): unknown TYPE\n",
                             "Bad request (SEQ_NUM \"42\"): DIR_NAME holds a NUL character\n"})
        EXPECT_NE(err.find(line), std::string::npos) << line;
    EXPECT_EQ(err.find(std::string(65, 'X')), std::string::npos);
    EXPECT_EQ(err.find(std::string(65, '9')), std::string::npos);
    EXPECT_EQ(err.find("passwd"), std::string::npos) << "the file was looked for";
}

TEST_F(MqttHost, WrongCredentialsCanNeitherAskNorListen) {
    auto host = start_host();
    auto head = head_end();
    const std::string port = std::to_string(broker().port());
    struct Credentials {
        std::string user, password;
    };
    const Credentials intruders[] = {{kUnitUser, "wrong"}, {"nobody", kUnitPassword}, {"", ""}};
    for (const auto &intruder : intruders) {
        // 5: "Connection Refused: not authorised."
        EXPECT_EQ(MqttClient(broker().port(), intruder.user, intruder.password).connect(), 5) << intruder.user;
        std::vector<std::string> credentials;
        if (!intruder.user.empty()) credentials = {"-u", intruder.user, "-P", intruder.password};
        std::vector<std::string> publish{"mosquitto_pub", "-h", "127.0.0.1", "-p", port, "-q", "1",
                                         "-t", kCmdTopic, "-m", meters_request(66)};
        publish.insert(publish.end(), credentials.begin(), credentials.end());
        const auto published = run_program(publish);
        EXPECT_NE(published.exit_code, 0);
        EXPECT_NE(published.err.find("not authorised"), std::string::npos) << published.err;
        std::vector<std::string> listen{"mosquitto_sub", "-h", "127.0.0.1", "-p", port, "-t", kRespTopic, "-C", "1",
                                        "-W", "30"};
        listen.insert(listen.end(), credentials.begin(), credentials.end());
        const auto listened = run_program(listen);
        EXPECT_NE(listened.exit_code, 0);
        EXPECT_NE(listened.err.find("not authorised"), std::string::npos) << listened.err;
        EXPECT_EQ(listened.out, "");
    }
    // The refused requests never reached the unit: the first answer is to the head-end's.
    head->publish(kCmdTopic, meters_request(67));
    const auto answer = head->next(30s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(seq_of(answer->payload), "67");
    stop_host(*host);

    // A unit given a wrong password is refused, says so, keeps trying with
    // back-off, and still stops cleanly.
    dcu::test::TempDir scratch;
    dcu::test::write_file(scratch / "password", "not-it\n");
    BackgroundProgram refused(
        {DCUHOST_PATH, "--store", store_address(), "--mqtt", "--mqtt-password-file", (scratch / "password").string()});
    const std::string refusal = "refused the connection: Connection Refused: not authorised.\n";
    EXPECT_TRUE(refused.wait_for_err(refusal, 2, 30s)) << refused.err();
    EXPECT_EQ(refused.stop(SIGTERM), 0);
    const std::string err = refused.err();
    // The wait after the first refusal is the first of a series: within 0 to 5 s.
    std::smatch wait;
    ASSERT_TRUE(std::regex_search(err, wait, std::regex("Reconnecting to broker 127\\.0\\.0\\.1:" + port +
                                                            " after (\\d+\\.\\d) s\n")))
        << err;
    EXPECT_LE(std::stod(wait[1]), 5.0) << err;
    EXPECT_EQ(err.find("Subscribed"), std::string::npos) << err;
    EXPECT_EQ(err.find("not-it"), std::string::npos) << err;
}

TEST_F(MqttHost, AnswersAgainAfterTheBrokerRestarts) {
    auto host = start_host();
    auto head = head_end();
    head->publish(kCmdTopic, meters_request(1));
    auto first = head->next(30s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->payload, command_line_answer({"meters", "1"}));

    broker().stop();
    ASSERT_TRUE(host->wait_for_err("Lost the broker 127.0.0.1:" + std::to_string(broker().port()), 1, 30s))
        << host->err();
    broker().start();
    ASSERT_TRUE(host->wait_for_err(kSubscribedLine, 2, 60s)) << host->err();
    ASSERT_TRUE(head->wait_for_connections(2, 60s));
    head->subscribe(kRespTopic);

    head->publish(kCmdTopic, meters_request(2));
    auto second = head->next(30s);
    ASSERT_TRUE(second) << host->err();
    EXPECT_EQ(second->payload, command_line_answer({"meters", "2"}));
    EXPECT_NE(host->err().find("Reconnecting to broker"), std::string::npos);
    stop_host(*host, SIGINT);
}

TEST_F(MqttHost, ConnectsTheStoreAgainAfterItRestarts) {
    store_client().hset("Port0Met0SerNum", "SER_NUM", "SN-R1");
    auto host = start_host();
    auto head = head_end();
    head->publish(kCmdTopic, meters_request(1));
    auto first = head->next(30s);
    ASSERT_TRUE(first);
    EXPECT_NE(first->payload.find("\"NUM_MET\":\"1\""), std::string::npos) << first->payload;

    // The store goes away: the answer says so instead of listing no meters.
    store().stop();
    head->publish(kCmdTopic, meters_request(2));
    auto second = head->next(30s);
    ASSERT_TRUE(second);
    EXPECT_NE(second->payload.find("\"CMD_STATUS\":\"FAILURE\""), std::string::npos) << second->payload;

    // Back on the same port: the next request connects again and is answered whole.
    store().start(/*same_port=*/true);
    store_client() = dcu::test::StoreClient(store().port());
    store_client().hset("Port0Met0SerNum", "SER_NUM", "SN-R1");
    head->publish(kCmdTopic, meters_request(3));
    auto third = head->next(30s);
    ASSERT_TRUE(third) << host->err();
    EXPECT_EQ(third->payload, command_line_answer({"meters", "3"}));
    EXPECT_NE(host->err().find("dcuhost: the store connection is lost; connecting again"), std::string::npos);
    stop_host(*host);
}

TEST_F(MqttHost, ABurstOfAThousandRequestsIsAnsweredInOrder) {
    store_client().hset("Port0Met0SerNum", "SER_NUM", "SN-A");
    store_client().hset("Port3Met4SerNum", "SER_NUM", "SN-B");
    auto host = start_host();
    auto head = head_end();
    constexpr int kRequests = 1000;

    std::vector<std::chrono::steady_clock::time_point> sent(kRequests);
    for (int i = 0; i < kRequests; ++i) {
        sent[static_cast<std::size_t>(i)] = std::chrono::steady_clock::now();
        head->publish(kCmdTopic, meters_request(i + 1));
    }
    const auto answers = head->take(kRequests, 300s);
    ASSERT_EQ(answers.size(), static_cast<std::size_t>(kRequests)) << host->err();
    const std::string last_expected = command_line_answer({"meters", std::to_string(kRequests)});
    std::vector<double> latency_ms;
    for (int i = 0; i < kRequests; ++i) {
        const auto &answer = answers[static_cast<std::size_t>(i)];
        ASSERT_EQ(seq_of(answer.payload), std::to_string(i + 1)) << "answer " << i;
        latency_ms.push_back(
            std::chrono::duration<double, std::milli>(answer.arrived - sent[static_cast<std::size_t>(i)]).count());
    }
    EXPECT_EQ(answers.back().payload, last_expected);
    EXPECT_FALSE(head->next(0ms)) << "more answers than requests";

    // Figures for the record; they decide nothing.
    const double seconds = std::chrono::duration<double>(answers.back().arrived - sent.front()).count();
    std::nth_element(latency_ms.begin(), latency_ms.begin() + kRequests / 2, latency_ms.end());
    std::printf("burst: %d answers in %.3f s, %.0f answers/s, median request-to-answer %.1f ms\n", kRequests, seconds,
                kRequests / seconds, latency_ms[kRequests / 2]);

    // One request at a time: the latency of a single request.
    std::vector<double> single_ms;
    for (int i = 0; i < 100; ++i) {
        const auto start = std::chrono::steady_clock::now();
        head->publish(kCmdTopic, meters_request(2000 + i));
        const auto answer = head->next(30s);
        ASSERT_TRUE(answer);
        ASSERT_EQ(seq_of(answer->payload), std::to_string(2000 + i));
        single_ms.push_back(std::chrono::duration<double, std::milli>(answer->arrived - start).count());
    }
    std::nth_element(single_ms.begin(), single_ms.begin() + 50, single_ms.end());
    std::printf("one at a time: median request-to-answer %.2f ms over 100 requests\n", single_ms[50]);
    stop_host(*host);
}

TEST_F(MqttHost, BrokerSettingsComeFromTheStoreOrTheOptions) {
    // Neither the store nor the options: a usage error before any connection.
    store_client().del("MQTT_INFO");
    const auto missing = run_program({DCUHOST_PATH, "--store", store_address(), "--mqtt"});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_NE(missing.err.find("dcuhost: missing broker settings: BrokerIp (--broker), BrokerPort (--broker), "
                               "CmdSubTopic (--sub-topic), PubTopic (--pub-topic); set them in the store's "
                               "MQTT_INFO or give the options\n"),
              std::string::npos)
        << missing.err;
    EXPECT_EQ(missing.err.find("Connecting"), std::string::npos);

    // No store at all (a warning: answers lack store data), every setting an option.
    const std::string no_store = "127.0.0.1:" + std::to_string(dcu::test::free_loopback_port());
    BackgroundProgram host({DCUHOST_PATH, "--store", no_store, "--mqtt", "--broker",
                            "127.0.0.1:" + std::to_string(broker().port()), "--mqtt-user", kUnitUser,
                            "--sub-topic", "other/cmd", "--pub-topic", "other/resp", "--mqtt-client-id",
                            "dcu-test-unit"},
                           {{"DCU_MQTT_PASSWORD", kUnitPassword}});
    ASSERT_TRUE(host.wait_for_err("Subscribed to other/cmd (QoS 1)", 1, 30s)) << host.err();
    auto head = std::make_unique<MqttClient>(broker().port(), kHeadEndUser, kHeadEndPassword);
    ASSERT_EQ(head->connect(), 0);
    head->subscribe("other/resp");
    head->publish("other/cmd", meters_request(5));
    const auto answer = head->next(30s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->topic, "other/resp");
    EXPECT_NE(answer->payload.find("\"NUM_MET\":\"0\""), std::string::npos) << answer->payload;
    EXPECT_NE(host.err().find("dcuhost: no store at " + no_store + "; answers carry no store data"),
              std::string::npos);
    stop_host(host);
}

}  // namespace
