// dcuhost --mqtt against a real broker of each kind (tests/host/mqtt_suite.hpp):
// a private mosquitto, or a private RabbitMQ node with its MQTT adapter
// (accounts with passwords, no anonymous access; a TLS listener too, with
// certificates the suite makes), and a private store holding MQTT_INFO as
// cfgload publishes it. A head-end client sends machine requests on the
// unit's command topic and reads the answers on its answer topic and the
// unit's presence on its status topic.
#include "tests/host/mqtt_suite.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "host/machine_request.hpp"
#include "host/requests.hpp"
#include "tests/host/support/background_program.hpp"
#include "tests/host/support/mqtt_client.hpp"
#include "tests/host/support/private_broker.hpp"
#include "tests/host/support/private_rabbitmq.hpp"
#include "tests/host/support/test_pki.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/strict_json.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using namespace std::chrono_literals;
using dcu::test::BackgroundProgram;
using dcu::test::BrokerAccount;
using dcu::test::ClientOptions;
using dcu::test::MqttClient;
using dcu::test::RunOptions;
using dcu::test::run_program;

constexpr const char *kUnitUser = "dcu0001";
constexpr const char *kUnitPassword = "mqtt-secret";
constexpr const char *kHeadEndUser = "headend";
constexpr const char *kHeadEndPassword = "he-secret";
constexpr const char *kCmdTopic = "dcu/DCU-0001/cmd";
constexpr const char *kRespTopic = "dcu/DCU-0001/resp";
constexpr const char *kStatusTopic = "dcu/DCU-0001/resp/status";
constexpr const char *kSubscribedLine = "Subscribed to dcu/DCU-0001/cmd (QoS 1)";
// Logged once the ONLINE state has gone to the client library, after the
// subscription's line.
constexpr const char *kOnlineLine = "ONLINE on ";

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

}  // namespace

namespace dcu::test {

const BrokerKind kMosquitto{
    "Mosquitto",
    [](std::vector<BrokerAccount> accounts, const TestPki *certificates) -> std::unique_ptr<TestBroker> {
        return std::make_unique<PrivateBroker>(std::move(accounts), certificates);
    },
    5, "Connection Refused: not authorised.",
    // 1.5 keep-alive periods, and the few seconds between mosquitto's sweeps.
    7500ms + 7s};

const BrokerKind kRabbitMq{
    "RabbitMq",
    [](std::vector<BrokerAccount> accounts, const TestPki *certificates) -> std::unique_ptr<TestBroker> {
        return std::make_unique<PrivateRabbitMq>(std::move(accounts), certificates);
    },
    4, "Connection Refused: bad user name or password.",
    // RabbitMQ looks at a connection's traffic once a keep-alive period and
    // gives up after two quiet ones: up to three periods after the last packet.
    15s + 5s};

std::string broker_kind_name(const ::testing::TestParamInfo<BrokerKind> &info) { return info.param.name; }

std::map<std::string, std::unique_ptr<TestBroker>> &MqttHost::brokers() {
    static std::map<std::string, std::unique_ptr<TestBroker>> instances;
    return instances;
}

void MqttHost::TearDownTestSuite() {
    brokers().clear();  // each stops its broker by PID
    StoreSuite::TearDownTestSuite();
}

const TestPki &MqttHost::pki() {
    static const TestPki instance;
    return instance;
}

TestBroker &MqttHost::broker() {
    auto &instance = brokers()[GetParam().name];
    if (!instance)
        instance = GetParam().make({{kUnitUser, kUnitPassword}, {kHeadEndUser, kHeadEndPassword}}, &pki());
    return *instance;
}

void MqttHost::SetUp() {
    // Started here, not in SetUpTestSuite, which can't know the kind; a test
    // that stopped the broker and failed before starting it again leaves
    // it to the next one.
    if (!broker().running()) broker().start();
    store_client_ = std::make_unique<StoreClient>(store().port());
    store_client_->flushall();
    publish_mqtt_info();
}

void MqttHost::TearDown() {
    if (HasFailure()) std::fprintf(stderr, "broker log:\n%s\n", broker().log().c_str());
}

std::vector<std::string> MqttHost::tls_options() {
    return {"--broker", "127.0.0.1:" + std::to_string(broker().tls_port()), "--cafile", pki().ca(), "--cert",
            pki().client_cert(), "--key", pki().client_key()};
}

void MqttHost::publish_mqtt_info() {
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

std::vector<std::string> MqttHost::host_command(const std::vector<std::string> &extra) {
    std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address(), "--mqtt"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

std::unique_ptr<BackgroundProgram> MqttHost::start_host(const std::vector<std::string> &extra,
                                                        const std::map<std::string, std::string> &env) {
    auto host = std::make_unique<BackgroundProgram>(host_command(extra), env);
    if (!host->wait_for_err(kSubscribedLine, 1, 30s))
        throw std::runtime_error("dcuhost did not subscribe:\n" + host->err());
    // A head-end that subscribes to the status topic before the ONLINE is
    // out gets the state a unit before this one left retained (a slow host,
    // under valgrind, left that window open).
    if (!host->wait_for_err(kOnlineLine, 1, 30s))
        throw std::runtime_error("dcuhost did not say ONLINE:\n" + host->err());
    return host;
}

void MqttHost::stop_host(BackgroundProgram &host, int signal_number) {
    EXPECT_EQ(host.stop(signal_number), 0) << host.err();
    const std::string err = host.err();
    EXPECT_NE(err.find("Disconnected from broker 127.0.0.1:"), std::string::npos) << err;
    EXPECT_EQ(err.find(kUnitPassword), std::string::npos) << err;
    EXPECT_EQ(host.out(), "");
}

std::unique_ptr<MqttClient> MqttHost::head_end(bool tls) {
    ClientOptions options;
    if (tls) options = {false, pki().ca(), pki().client_cert(), pki().client_key()};
    auto client = std::make_unique<MqttClient>(tls ? broker().tls_port() : broker().port(), kHeadEndUser,
                                               kHeadEndPassword, options);
    if (client->connect() != 0) throw std::runtime_error("the head-end was refused");
    client->subscribe(kRespTopic);
    return client;
}

std::unique_ptr<MqttClient> MqttHost::head_end_on(const std::vector<std::string> &topics) {
    auto client = std::make_unique<MqttClient>(broker().port(), kHeadEndUser, kHeadEndPassword);
    if (client->connect() != 0) throw std::runtime_error("the head-end was refused");
    for (const auto &topic : topics) client->subscribe(topic);
    return client;
}

std::string MqttHost::command_line_answer(const std::vector<std::string> &words,
                                          const std::map<std::string, std::string> &env) {
    std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address()};
    argv.insert(argv.end(), words.begin(), words.end());
    RunOptions options;
    options.env = env;
    auto result = run_program(argv, options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out;
}

}  // namespace dcu::test

namespace {

using dcu::test::MqttHost;

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

TEST_P(MqttHost, EveryRequestTypeIsAnsweredAsOnTheCommandLine) {
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
            const std::string type(row.machine_type);
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

TEST_P(MqttHost, BadRequestsGetAFailureAnswerAndTheHostGoesOn) {
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
TEST_P(MqttHost, LongAndNulRequestsGetShortFailureAnswers) {
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

TEST_P(MqttHost, WrongCredentialsCanNeitherAskNorListen) {
    auto host = start_host();
    auto head = head_end();
    const std::string port = std::to_string(broker().port());
    struct Credentials {
        std::string user, password;
    };
    const Credentials intruders[] = {{kUnitUser, "wrong"}, {"nobody", kUnitPassword}, {"", ""}};
    const std::string refusal = GetParam().refusal_text;
    for (const auto &intruder : intruders) {
        EXPECT_EQ(MqttClient(broker().port(), intruder.user, intruder.password).connect(), GetParam().refusal_code)
            << intruder.user;
        std::vector<std::string> credentials;
        if (!intruder.user.empty()) credentials = {"-u", intruder.user, "-P", intruder.password};
        std::vector<std::string> publish{"mosquitto_pub", "-h", "127.0.0.1", "-p", port, "-q", "1",
                                         "-t", kCmdTopic, "-m", meters_request(66)};
        publish.insert(publish.end(), credentials.begin(), credentials.end());
        const auto published = run_program(publish);
        EXPECT_NE(published.exit_code, 0);
        EXPECT_NE(published.err.find(refusal), std::string::npos) << published.err;
        std::vector<std::string> listen{"mosquitto_sub", "-h", "127.0.0.1", "-p", port, "-t", kRespTopic, "-C", "1",
                                        "-W", "30"};
        listen.insert(listen.end(), credentials.begin(), credentials.end());
        const auto listened = run_program(listen);
        EXPECT_NE(listened.exit_code, 0);
        EXPECT_NE(listened.err.find(refusal), std::string::npos) << listened.err;
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
    EXPECT_TRUE(refused.wait_for_err("refused the connection: " + refusal + "\n", 2, 30s)) << refused.err();
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

TEST_P(MqttHost, AnswersAgainAfterTheBrokerRestarts) {
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

TEST_P(MqttHost, ConnectsTheStoreAgainAfterItRestarts) {
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

TEST_P(MqttHost, ABurstOfAThousandRequestsIsAnsweredInOrder) {
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

TEST_P(MqttHost, BrokerSettingsComeFromTheStoreOrTheOptions) {
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

// --- Reconnecting in a fleet --------------------------------------------------

// The waits of a unit's "Reconnecting to broker ... after X s" lines, in seconds.
std::vector<double> logged_waits(const std::string &err) {
    static const std::regex line("Reconnecting to broker [^ ]+ after (\\d+\\.\\d) s\n");
    std::vector<double> waits;
    for (auto it = std::sregex_iterator(err.begin(), err.end(), line); it != std::sregex_iterator(); ++it)
        waits.push_back(std::stod((*it)[1]));
    return waits;
}

// Units that start together and are refused together (a fleet after a
// power cut, its broker not letting it in yet) draw waits of their own: the
// first within 0 to 5 s, the next between 0.1 s and 1 s.
TEST_P(MqttHost, UnitsRefusedTogetherWaitApartWithinTheirBounds) {
    dcu::test::TempDir scratch;
    dcu::test::write_file(scratch / "password", "not-it\n");
    constexpr int kUnits = 4;
    std::vector<std::unique_ptr<BackgroundProgram>> units;
    for (int i = 0; i < kUnits; ++i)
        units.push_back(std::make_unique<BackgroundProgram>(host_command(
            {"--mqtt-client-id", "dcu-refused-" + std::to_string(i), "--mqtt-password-file",
             (scratch / "password").string()})));
    std::set<double> first_waits;
    for (auto &unit : units) {
        EXPECT_TRUE(unit->wait_for_err("Reconnecting to broker", 2, 60s)) << unit->err();
        EXPECT_EQ(unit->stop(SIGTERM), 0);
        const auto waits = logged_waits(unit->err());
        ASSERT_GE(waits.size(), 2u) << unit->err();
        EXPECT_GE(waits[0], 0.0);
        EXPECT_LE(waits[0], 5.0);
        EXPECT_GE(waits[1], 0.1);
        EXPECT_LE(waits[1], 1.0);
        first_waits.insert(waits[0]);
    }
    // Drawn alike, they would knock at the same instant (about one chance in 130,000 of a false alarm).
    EXPECT_GT(first_waits.size(), 1u) << "every unit waited the same";
}

// Two units under one client id push each other off the broker, each
// connection lasting a second or two: the waits go on doubling instead of
// starting again at every connection (--no-jitter makes them exact). Their
// topics are their own, so that the state messages of their many
// connections don't mix with other tests'.
TEST_P(MqttHost, AFlappingLinkKeepsBackingOff) {
    const std::vector<std::string> options{"--no-jitter", "--mqtt-client-id", "dcu-twin", "--sub-topic", "dcu/twin/cmd",
                                           "--pub-topic", "dcu/twin/resp"};
    BackgroundProgram first(host_command(options));
    ASSERT_TRUE(first.wait_for_err("Subscribed to dcu/twin/cmd (QoS 1)", 1, 30s)) << first.err();
    BackgroundProgram second(host_command(options));
    for (BackgroundProgram *unit : {&first, &second})
        ASSERT_TRUE(unit->wait_for_err(" after 4.0 s\n", 1, 90s)) << unit->err();
    for (BackgroundProgram *unit : {&first, &second}) {
        EXPECT_EQ(unit->stop(SIGTERM), 0);
        const auto waits = logged_waits(unit->err());
        ASSERT_GE(waits.size(), 3u) << unit->err();
        EXPECT_EQ(std::vector<double>(waits.begin(), waits.begin() + 3), (std::vector<double>{1.0, 2.0, 4.0}))
            << unit->err();
    }
}

// --- Presence -----------------------------------------------------------------

// Now as the state messages write SINCE; such texts sort as their times do.
std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The state message's members; empty when it is not one.
struct State {
    std::string serial, state, since;
    int connection = 0;
};
State state_of(const std::string &message) {
    static const std::regex form(
        R"re(\{"SER_NUM":"((?:[^"\\]|\\.)*)","STATE":"(ONLINE|OFFLINE)",)re"
        R"re("SINCE":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)","CONNECTION":(\d+)\})re");
    std::smatch match;
    if (!std::regex_match(message, match, form)) return {};
    return {match[1], match[2], match[3], std::stoi(match[4])};
}

// How a unit ends, and when its OFFLINE must be there at the latest: at once
// for a unit that stops or dies (it says so, or the broker sees its socket
// close); for one that hangs, when the broker gives up on its keep-alive.
struct Ending {
    const char *name;
    int signal_number;
    std::vector<std::string> options;
};

const Ending kEndings[] = {
    {"CleanStop", SIGTERM, {}},
    {"Killed", SIGKILL, {}},
    {"Hung", SIGSTOP, {"--keepalive", "5"}},
};

TEST_P(MqttHost, PresenceOnlineRetainedOnConnectOfflineWhenTheUnitEnds) {
    store_client().hset("DCU_GEN_INFO", "SerNum", "DCU-0001");
    for (const Ending &ending : kEndings) {
        SCOPED_TRACE(ending.name);
        const auto within = ending.signal_number == SIGSTOP ? GetParam().hung_will_within : 10000ms;
        const std::string before = utc_now();
        auto host = start_host(ending.options);
        // A head-end that comes later still sees the state: it is retained.
        auto head = head_end_on({kStatusTopic});
        const auto online = head->next(30s);
        ASSERT_TRUE(online) << host->err();
        EXPECT_TRUE(online->retained);
        EXPECT_EQ(dcu::test::strict_json_error(online->payload), "") << online->payload;
        const State on = state_of(online->payload);
        EXPECT_EQ(on.serial, "DCU-0001") << online->payload;
        EXPECT_EQ(on.state, "ONLINE");
        EXPECT_EQ(on.connection, 1);
        EXPECT_GE(on.since, before);
        EXPECT_LE(on.since, utc_now());

        const auto signalled = std::chrono::steady_clock::now();
        if (ending.signal_number == SIGSTOP) host->signal(SIGSTOP);
        else EXPECT_EQ(host->stop(ending.signal_number), ending.signal_number == SIGTERM ? 0 : 128 + SIGKILL);
        // A bound against a hang only: with keep-alive 60 s a will that came
        // from the keep-alive would take 90 s.
        const auto offline = head->next(60s);
        ASSERT_TRUE(offline) << host->err();
        const State off = state_of(offline->payload);
        EXPECT_EQ(off.state, "OFFLINE") << offline->payload;
        EXPECT_EQ(off.since, on.since);
        EXPECT_EQ(off.connection, 1);
        EXPECT_EQ(off.serial, on.serial);
        const auto took = std::chrono::steady_clock::now() - signalled;
        std::printf("%s, %s: OFFLINE %.1f s after the signal\n", GetParam().name, ending.name,
                    std::chrono::duration<double>(took).count());
        EXPECT_LT(took, within);
        // And it stays: a head-end that asks later gets OFFLINE.
        auto later = head_end_on({kStatusTopic});
        const auto kept = later->next(30s);
        ASSERT_TRUE(kept);
        EXPECT_TRUE(kept->retained);
        EXPECT_EQ(kept->payload, offline->payload);
        if (ending.signal_number == SIGSTOP) host->stop(SIGKILL);
        EXPECT_EQ(host->err().find(kUnitPassword), std::string::npos);
    }
}

TEST_P(MqttHost, PresenceNamesEachConnectionAndEscapesTheSerialNumber) {
    store_client().hset("DCU_GEN_INFO", "SerNum", "DCU\"7\\x");
    auto host = start_host();
    auto head = head_end_on({kStatusTopic});
    const auto first = head->next(30s);
    ASSERT_TRUE(first);
    EXPECT_EQ(dcu::test::strict_json_error(first->payload), "") << first->payload;
    const State one = state_of(first->payload);
    EXPECT_EQ(one.serial, "DCU\\\"7\\\\x") << first->payload;
    EXPECT_EQ(one.connection, 1);

    // The broker restarts without its retained messages: the unit says ONLINE
    // again, as connection 2, with a SINCE of its own.
    broker().stop();
    ASSERT_TRUE(host->wait_for_err("Lost the broker", 1, 30s)) << host->err();
    broker().start();
    ASSERT_TRUE(host->wait_for_err(kSubscribedLine, 2, 60s)) << host->err();
    auto after = head_end_on({kStatusTopic});
    const auto second = after->next(30s);
    ASSERT_TRUE(second) << host->err();
    const State two = state_of(second->payload);
    EXPECT_EQ(two.state, "ONLINE");
    EXPECT_EQ(two.connection, 2);
    EXPECT_GE(two.since, one.since);
    stop_host(*host);
}
}  // namespace
