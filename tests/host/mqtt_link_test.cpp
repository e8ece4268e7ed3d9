// The head-end link as a utility deploys it, against a real broker with a
// TLS listener (require_certificate true, certificates made by the suite
// with openssl) and a private store: TLS verification and its failures,
// settings that can't be used, where the password comes from (and that it
// shows nowhere), the settings file, MQTT 5 request/response and the
// request size limit. (Presence, which MQTT 3.1.1 brokers of every kind must
// carry, is in the suite run against each of them: mqtt_test.cpp.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

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
using dcu::test::ClientOptions;
using dcu::test::MqttClient;
using dcu::test::run_program;

constexpr const char *kUnitUser = "dcu0001";
constexpr const char *kUnitPassword = "unit-secret-31";
constexpr const char *kHeadEndUser = "headend";
constexpr const char *kHeadEndPassword = "he-secret";
constexpr const char *kCmdTopic = "dcu/U1/cmd";
constexpr const char *kRespTopic = "dcu/U1/resp";
constexpr const char *kStatusTopic = "dcu/U1/resp/status";
constexpr const char *kSubscribed = "Subscribed to dcu/U1/cmd (QoS 1)";
// Wrong passwords planted in the sources that must not win.
constexpr const char *kDecoys[] = {"decoy-env-1", "decoy-cred-2", "decoy-store-3"};

std::string meters_request(int seq) { return "{\"TYPE\":\"GET_METER_SER_LIST\",\"SEQ_NUM\":" + std::to_string(seq) + "}"; }

std::string failure(const std::string &type, const std::string &seq, const std::string &reason) {
    return "{\n\"TYPE\":\"" + type + "\",\n\"SEQ_NUM\":\"" + seq +
           "\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"REASON\":\"" + reason +
           "\"\n}\n}\n";
}

// Every secret of the suite: none may show in a log, a message or argv.
bool holds_a_secret(const std::string &text) {
    for (const char *secret : {kUnitPassword, dcu::test::TestPki::kPassPhrase, "wrong-phrase-9", "S3cret-on-argv",
                               "hunter2-line", kDecoys[0], kDecoys[1], kDecoys[2]})
        if (text.find(secret) != std::string::npos) return true;
    return false;
}

class LinkTest : public dcu::test::StoreSuite {
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
    static std::string tls_broker() { return "127.0.0.1:" + std::to_string(broker().tls_port()); }

    void SetUp() override {
        store_client_ = std::make_unique<dcu::test::StoreClient>(store().port());
        store_client_->flushall();
        const int port = broker().port();
        const std::map<std::string, std::string> fields = {
            {"BrokerIp", "127.0.0.1"},     {"BrokerPort", std::to_string(port > 32767 ? port - 65536 : port)},
            {"BrokerUname", kUnitUser},    {"BrokerPass", kUnitPassword},
            {"CmdSubTopic", kCmdTopic},    {"PubTopic", kRespTopic},
        };
        for (const auto &[field, value] : fields) store_client_->hset("MQTT_INFO", field, value);
        store_client_->hset("DCU_GEN_INFO", "SerNum", "DCU-0001");
    }
    void TearDown() override {
        if (HasFailure()) std::fprintf(stderr, "broker log:\n%s\n", broker().log().c_str());
    }

    dcu::test::StoreClient &store_client() { return *store_client_; }

    std::unique_ptr<BackgroundProgram> start(const std::vector<std::string> &extra,
                                             const std::map<std::string, std::string> &env = {}) {
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address(), "--mqtt"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return std::make_unique<BackgroundProgram>(argv, env);
    }
    // dcuhost --mqtt, once it has subscribed to the command topic.
    std::unique_ptr<BackgroundProgram> start_host(const std::vector<std::string> &extra,
                                                  const std::map<std::string, std::string> &env = {}) {
        auto host = start(extra, env);
        if (!host->wait_for_err(kSubscribed, 1, 30s)) throw std::runtime_error("dcuhost did not subscribe:\n" + host->err());
        return host;
    }
    static std::unique_ptr<MqttClient> head_end(const std::vector<std::string> &topics, bool tls = false,
                                                bool mqtt5 = false) {
        ClientOptions options{mqtt5, "", "", ""};
        if (tls) options = {mqtt5, pki().ca(), pki().client_cert(), pki().client_key()};
        auto client = std::make_unique<MqttClient>(tls ? broker().tls_port() : broker().port(), kHeadEndUser,
                                                   kHeadEndPassword, options);
        if (client->connect() != 0) throw std::runtime_error("the head-end was refused");
        for (const auto &topic : topics) client->subscribe(topic);
        return client;
    }
    std::string command_line_answer(const std::vector<std::string> &words) {
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address()};
        argv.insert(argv.end(), words.begin(), words.end());
        auto result = run_program(argv);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return result.out;
    }
    // Stops dcuhost by SIGTERM: exit 0, and no secret in anything it printed.
    static void stop_host(BackgroundProgram &host) {
        EXPECT_EQ(host.stop(SIGTERM), 0) << host.err();
        EXPECT_FALSE(holds_a_secret(host.err())) << host.err();
        EXPECT_EQ(host.out(), "");
    }

private:
    std::unique_ptr<dcu::test::StoreClient> store_client_;
};

// --- TLS: verified always, failures logged with their reason ---------------

struct TlsCase {
    const char *name;
    std::vector<std::string> (*options)(const dcu::test::TestPki &pki, const std::string &tls_broker);
    bool key_as_credentials;  // tls-key and key-password in $CREDENTIALS_DIRECTORY
    const char *reason;       // empty: connects and answers; otherwise logged by dcuhost
    const char *broker_says = "";  // what the broker logs of the refusal, where it refuses
};

const TlsCase kTlsCases[] = {
    {"CaAndClientCertificate",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", broker, "--cafile", pki.ca(), "--cert", pki.client_cert(), "--key", pki.client_key()};
     },
     false, ""},
    {"CaDirectory",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", broker, "--capath", pki.ca_dir(), "--cert", pki.client_cert(), "--key", pki.client_key()};
     },
     false, ""},
    {"EncryptedKeyAndPassPhraseFile",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", broker, "--cafile", pki.ca(), "--cert", pki.client_cert(), "--key",
                 pki.encrypted_client_key(), "--key-password-file", pki.pass_phrase_file(), "--tls-version", "tlsv1.3"};
     },
     false, ""},
    {"KeyAndPassPhraseAsCredentials",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", broker, "--cafile", pki.ca(), "--cert", pki.client_cert()};
     },
     true, ""},
    {"BrokerByANameOfItsCertificate",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", "localhost" + broker.substr(broker.find(':')), "--cafile", pki.ca(), "--cert",
                 pki.client_cert(), "--key", pki.client_key()};
     },
     false, ""},
    {"ServerNameGiven",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", broker, "--cafile", pki.ca(), "--cert", pki.client_cert(), "--key", pki.client_key(),
                 "--tls-server-name", "broker.test"};
     },
     false, ""},
    {"WrongCa",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", broker, "--cafile", pki.other_ca(), "--cert", pki.client_cert(), "--key", pki.client_key()};
     },
     false, "self-signed certificate in certificate chain\n"},
    {"ServerNameNotInTheCertificate",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", broker, "--cafile", pki.ca(), "--cert", pki.client_cert(), "--key", pki.client_key(),
                 "--tls-server-name", "other.test"};
     },
     false, "Broker certificate not accepted (chain depth 0): hostname mismatch\n"},
    {"NoClientCertificate",
     [](const auto &pki, const auto &broker) -> std::vector<std::string> {
         return {"--broker", broker, "--cafile", pki.ca()};
     },
     // The refusal reaches the unit as an alert or as the socket closed,
     // as the timing falls (the handshake is over on its side first).
     false, "Reconnecting to broker", "peer did not return a certificate"},
};

class TlsLink : public LinkTest, public ::testing::WithParamInterface<TlsCase> {};

TEST_P(TlsLink, ConnectsOnlyToAVerifiedBrokerAndSaysWhyNot) {
    const TlsCase &c = GetParam();
    std::map<std::string, std::string> env;
    dcu::test::TempDir credentials;
    if (c.key_as_credentials) {
        std::filesystem::copy_file(pki().encrypted_client_key(), credentials / "tls-key");
        dcu::test::write_file(credentials / "key-password", std::string(dcu::test::TestPki::kPassPhrase) + "\n");
        env["CREDENTIALS_DIRECTORY"] = credentials.path().string();
    }
    const auto options = c.options(pki(), tls_broker());
    if (*c.reason == '\0') {
        auto host = start_host(options, env);
        auto head = head_end({kRespTopic}, /*tls=*/true);
        head->publish(kCmdTopic, meters_request(7));
        const auto answer = head->next(30s);
        ASSERT_TRUE(answer) << host->err();
        EXPECT_EQ(answer->payload, command_line_answer({"meters", "7"}));
        EXPECT_NE(host->err().find("over TLS"), std::string::npos);
        stop_host(*host);
        return;
    }
    // Refused, with the reason, tried again, and never subscribed.
    auto host = start(options, env);
    EXPECT_TRUE(host->wait_for_err(c.reason, 1, 60s)) << host->err();
    EXPECT_TRUE(host->wait_for_err("Reconnecting to broker", 1, 60s)) << host->err();
    stop_host(*host);
    const std::string err = host->err();
    EXPECT_EQ(err.find("Subscribed"), std::string::npos) << err;
    if (*c.broker_says != '\0') {
        EXPECT_NE(broker().log().find(c.broker_says), std::string::npos) << broker().log();
    } else {
        EXPECT_NE(err.find("certificate verify failed"), std::string::npos) << err;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TlsLink, ::testing::ValuesIn(kTlsCases),
                         [](const auto &test) { return std::string(test.param.name); });

TEST_F(LinkTest, PlainClientsCannotUseTheTlsPortNorTlsThePlainOne) {
    // A head-end without TLS gets no CONNACK from the TLS listener.
    MqttClient plain(broker().tls_port(), kHeadEndUser, kHeadEndPassword);
    EXPECT_EQ(plain.connect(5s), -1);
    const auto published = run_program({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker().tls_port()),
                                        "-u", kHeadEndUser, "-P", kHeadEndPassword, "-t", kCmdTopic, "-m", "x"});
    EXPECT_NE(published.exit_code, 0);
    // dcuhost with TLS towards the plain listener: a handshake that fails, said so.
    auto host = start({"--cafile", pki().ca(), "--cert", pki().client_cert(), "--key", pki().client_key()});
    EXPECT_TRUE(host->wait_for_err("OpenSSL Error", 2, 60s)) << host->err();
    stop_host(*host);
    EXPECT_EQ(host->err().find("Subscribed"), std::string::npos);
}

// --- Settings that can't be used: exit 2 before any connection -------------

struct UsageCase {
    const char *name;
    std::vector<std::string> args;  // "{dir}" stands for the scratch directory, "{pki}" for the certificates'
    const char *message;
};

const UsageCase kUsageCases[] = {
    {"PasswordOnTheCommandLine", {"--mqtt-password", "S3cret-on-argv"}, "--mqtt-password is not taken"},
    {"PasswordFileMissing", {"--mqtt-password-file", "{dir}/none"},
     "can't read the password file {dir}/none: No such file or directory"},
    {"PasswordFileEmpty", {"--mqtt-password-file", "{dir}/empty"}, "the password file {dir}/empty is empty"},
    {"CaFileMissing", {"--cafile", "{dir}/none.crt"}, "can't read --cafile {dir}/none.crt: No such file"},
    {"CaFileNotACertificate", {"--cafile", "{dir}/empty"}, "can't read the CA certificates of --cafile"},
    {"KeyMissing", {"--cafile", "{pki}/ca.crt", "--cert", "{pki}/client.crt", "--key", "{dir}/none.key"},
     "can't read the key {dir}/none.key: No such file or directory"},
    {"CertificateWithoutKey", {"--cafile", "{pki}/ca.crt", "--cert", "{pki}/client.crt"},
     "--cert {pki}/client.crt needs its key: --key FILE or the systemd credential tls-key"},
    {"EncryptedKeyWithoutPassPhrase",
     {"--cafile", "{pki}/ca.crt", "--cert", "{pki}/client.crt", "--key", "{pki}/client-encrypted.key"},
     "the key {pki}/client-encrypted.key is encrypted: give its pass phrase"},
    {"WrongPassPhrase",
     {"--cafile", "{pki}/ca.crt", "--cert", "{pki}/client.crt", "--key", "{pki}/client-encrypted.key",
      "--key-password-file", "{dir}/wrong-phrase"},
     "the key {pki}/client-encrypted.key can't be opened with the pass phrase from {dir}/wrong-phrase"},
    {"KeyOfAnotherCertificate", {"--cafile", "{pki}/ca.crt", "--cert", "{pki}/client.crt", "--key", "{pki}/server.key"},
     "the key {pki}/server.key does not belong to the certificate {pki}/client.crt"},
    {"ClientCertificateWithoutCa", {"--cert", "{pki}/client.crt", "--key", "{pki}/client.key"},
     "the TLS options need --cafile FILE or --capath DIR"},
    {"TlsVersionUnknown", {"--cafile", "{pki}/ca.crt", "--tls-version", "tlsv1.1"}, "--tls-version needs tlsv1.2 or tlsv1.3"},
    {"KeepAliveTooShort", {"--keepalive", "4"}, "--keepalive needs SECONDS from 5 to 65535"},
    {"MqttVersionUnknown", {"--mqtt-version", "4"}, "--mqtt-version needs 3.1.1 or 5"},
    {"StatusTopicUnderTheCommandTopic", {"--status-topic", "dcu/U1/cmd"},
     "status topic \"dcu/U1/cmd\" must be a topic of its own"},
    {"StatusTopicWithWildcard", {"--status-topic", "dcu/+/status"},
     "status topic \"dcu/+/status\" is not a topic to publish on"},
    {"SettingsFileMissing", {"--config", "{dir}/none.conf"},
     "can't read the settings file {dir}/none.conf: No such file or directory"},
    {"SettingsFileUnknownKey", {"--config", "{dir}/unknown.conf"}, "{dir}/unknown.conf:2: unknown setting \"colour\""},
    {"SettingsFilePasswordKey", {"--config", "{dir}/password.conf"}, "{dir}/password.conf:1: mqtt-password is not taken"},
    {"SettingsFileBadLine", {"--config", "{dir}/bad.conf"}, "{dir}/bad.conf:3: not a \"key = value\" line"},
    {"SettingsFileKeyTwice", {"--config", "{dir}/twice.conf"}, "{dir}/twice.conf:2: cafile is set twice"},
    {"SettingsFileBadValue", {"--config", "{dir}/value.conf"}, "{dir}/value.conf:1: --keepalive needs SECONDS"},
};

class LinkUsage : public LinkTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(LinkUsage, IsAClearUsageErrorThatHoldsNoSecret) {
    const UsageCase &c = GetParam();
    dcu::test::TempDir dir;
    dcu::test::write_file(dir / "empty", "");
    dcu::test::write_file(dir / "wrong-phrase", "wrong-phrase-9\n");
    dcu::test::write_file(dir / "unknown.conf", "# a unit\ncolour = blue\n");
    dcu::test::write_file(dir / "password.conf", "mqtt-password = hunter2-line\n");
    dcu::test::write_file(dir / "bad.conf", "\n# comment\nhunter2-line\n");
    dcu::test::write_file(dir / "twice.conf", "cafile = /a\ncafile = /b\n");
    dcu::test::write_file(dir / "value.conf", "keepalive = soon\n");
    auto expand = [&](std::string text) {
        for (const auto &[mark, value] : {std::pair{std::string("{dir}"), dir.path().string()},
                                          std::pair{std::string("{pki}"), pki().dir()}})
            for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark))
                text.replace(at, mark.size(), value);
        return text;
    };
    std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address(), "--mqtt"};
    for (const auto &arg : c.args) argv.push_back(expand(arg));
    const auto result = run_program(argv);
    EXPECT_EQ(result.exit_code, 2) << result.err;
    EXPECT_NE(result.err.find("dcuhost: " + expand(c.message)), std::string::npos) << result.err;
    EXPECT_FALSE(holds_a_secret(result.err)) << result.err;
    EXPECT_EQ(result.err.find("Connecting"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkUsage, ::testing::ValuesIn(kUsageCases),
                         [](const auto &test) { return std::string(test.param.name); });

// --- The password: first source found wins, and it shows nowhere -----------

struct PasswordCase {
    const char *name;
    // Where the right password is; every source above it in the order is
    // left empty, every one below holds a wrong one.
    enum Source { option_file, settings_file, environment, credential, store } source;
    const char *logged;  // "the broker password comes from ..."
};

const PasswordCase kPasswordCases[] = {
    {"OptionFile", PasswordCase::option_file, "the file "},
    {"SettingsFileKey", PasswordCase::settings_file, "the file "},
    {"Environment", PasswordCase::environment, "the environment (DCU_MQTT_PASSWORD)"},
    {"SystemdCredential", PasswordCase::credential, "the systemd credential mqtt-password"},
    {"Store", PasswordCase::store, "the store's MQTT_INFO BrokerPass"},
};

class PasswordSource : public LinkTest, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordSource, WinsInOrderAndStaysOffTheCommandLineAndTheLog) {
    const PasswordCase &c = GetParam();
    using S = PasswordCase;
    dcu::test::TempDir dir;
    std::vector<std::string> options;
    std::map<std::string, std::string> env;
    dcu::test::write_file(dir / "password", std::string(kUnitPassword) + "\n");
    if (c.source == S::option_file) options = {"--mqtt-password-file", (dir / "password").string()};
    if (c.source == S::settings_file) {
        dcu::test::write_file(dir / "dcuhost.conf", "# the unit's link\nmqtt-password-file = " +
                                                        (dir / "password").string() + "\n");
        options = {"--config", (dir / "dcuhost.conf").string()};
    }
    if (c.source <= S::environment) env["DCU_MQTT_PASSWORD"] = c.source == S::environment ? kUnitPassword : kDecoys[0];
    if (c.source <= S::credential) {
        dcu::test::write_file(dir / "credentials/mqtt-password", c.source == S::credential ? kUnitPassword : kDecoys[1]);
        env["CREDENTIALS_DIRECTORY"] = (dir / "credentials").string();
    }
    store_client().hset("MQTT_INFO", "BrokerPass", c.source == S::store ? kUnitPassword : kDecoys[2]);

    auto host = start_host(options, env);
    std::string cmdline = dcu::test::read_file("/proc/" + std::to_string(host->pid()) + "/cmdline");
    for (char &ch : cmdline)
        if (ch == '\0') ch = ' ';
    EXPECT_NE(cmdline.find("--mqtt"), std::string::npos) << cmdline;
    EXPECT_FALSE(holds_a_secret(cmdline)) << cmdline;
    EXPECT_NE(host->err().find(std::string("dcuhost: the broker password comes from ") + c.logged), std::string::npos)
        << host->err();
    auto head = head_end({kRespTopic});
    head->publish(kCmdTopic, meters_request(3));
    const auto answer = head->next(30s);
    ASSERT_TRUE(answer) << host->err();
    EXPECT_EQ(answer->payload, command_line_answer({"meters", "3"}));
    stop_host(*host);
}

INSTANTIATE_TEST_SUITE_P(Cases, PasswordSource, ::testing::ValuesIn(kPasswordCases),
                         [](const auto &test) { return std::string(test.param.name); });

// --- The settings file, and the command line over it ------------------------

TEST_F(LinkTest, SettingsFileHoldsTheLinkAndTheCommandLineOverridesIt) {
    dcu::test::TempDir dir;
    dcu::test::write_file(dir / "dcuhost.conf", "# dcuhost --mqtt of unit U1\n\n"
                                                "broker = " + tls_broker() + "\n"
                                                "cafile = " + pki().ca() + "\n"
                                                "cert   =   " + pki().client_cert() + "\n"
                                                "key=" + pki().encrypted_client_key() + "\n"
                                                "key-password-file = " + pki().pass_phrase_file() + "\n"
                                                "mqtt-version = 5\n"
                                                "keepalive = 30\n"
                                                "pub-topic = file/resp\n"
                                                "status-topic = dcu/U1/state\n");
    auto host = start_host({"--config", (dir / "dcuhost.conf").string(), "--pub-topic", "cli/resp"});
    auto head = head_end({"file/resp", "cli/resp", "dcu/U1/state"}, /*tls=*/true);
    const auto state = head->next(30s);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->topic, "dcu/U1/state");
    head->publish(kCmdTopic, meters_request(4));
    const auto answer = head->next(30s);
    ASSERT_TRUE(answer) << host->err();
    EXPECT_EQ(answer->topic, "cli/resp");
    EXPECT_EQ(answer->payload, command_line_answer({"meters", "4"}));
    EXPECT_NE(host->err().find("over TLS (MQTT 5)"), std::string::npos) << host->err();
    stop_host(*host);
}

// --- MQTT 5: answers on the Response Topic with the Correlation Data --------

TEST_F(LinkTest, Mqtt5RequestsAreAnsweredWhereTheyAskAnd311OnesOnPubTopic) {
    store_client().hset("Port0Met2SerNum", "SER_NUM", "SN-5");
    auto host = start_host({"--mqtt-version", "5"});
    // The tool head-ends use: it waits on its response topic and prints the answer.
    const auto rr = run_program({"mosquitto_rr", "-V", "5", "-h", "127.0.0.1", "-p", std::to_string(broker().port()),
                                 "-u", kHeadEndUser, "-P", kHeadEndPassword, "-t", kCmdTopic, "-e", "tools/rr/reply",
                                 "-W", "30", "-m", meters_request(51)});
    EXPECT_EQ(rr.exit_code, 0) << rr.err;
    EXPECT_EQ(rr.out, command_line_answer({"meters", "51"}) + "\n");

    auto head5 = head_end({kRespTopic, "he/replies/#"}, false, /*mqtt5=*/true);
    auto head311 = head_end({kRespTopic});
    const std::string correlation("corr\0\x01-52", 9);
    head5->publish_request(kCmdTopic, meters_request(52), "he/replies/52", correlation);
    auto answer = head5->next(30s);
    ASSERT_TRUE(answer) << host->err();
    EXPECT_EQ(answer->topic, "he/replies/52");
    EXPECT_EQ(answer->correlation, correlation);
    EXPECT_EQ(answer->payload, command_line_answer({"meters", "52"}));
    EXPECT_FALSE(head311->next(1s)) << "an answer on a response topic is not also on PubTopic";

    // Without a Response Topic, and from a 3.1.1 head-end in the same session: PubTopic.
    head5->publish(kCmdTopic, meters_request(53));
    answer = head5->next(30s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->topic, kRespTopic);
    EXPECT_FALSE(answer->correlation);
    EXPECT_EQ(answer->payload, command_line_answer({"meters", "53"}));
    ASSERT_TRUE(head311->next(30s));  // the same answer, seen by the 3.1.1 head-end
    head311->publish(kCmdTopic, meters_request(54));
    answer = head311->next(30s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->topic, kRespTopic);
    EXPECT_EQ(answer->payload, command_line_answer({"meters", "54"}));
    ASSERT_TRUE(head5->next(30s));

    // Response topics that would turn the answer into a request, or are
    // not topics to publish on: refused, the failure answer on PubTopic,
    // nothing carried out.
    struct Refused {
        std::string topic, reason;
    };
    const Refused refused[] = {
        {"he/+/x", "Response Topic \\\"he/+/x\\\" refused: not a topic to publish on (no + or #)"},
        {"#", "Response Topic \\\"#\\\" refused: not a topic to publish on (no + or #)"},
        {kCmdTopic, "Response Topic \\\"dcu/U1/cmd\\\" refused: it falls under CmdSubTopic \\\"dcu/U1/cmd\\\", the "
                    "answer would come back as a request"},
        {kStatusTopic, "Response Topic \\\"dcu/U1/resp/status\\\" refused: it is the unit's status topic"},
    };
    int seq = 60;
    for (const auto &r : refused) {
        ++seq;
        head5->publish_request(kCmdTopic, meters_request(seq), r.topic, "c" + std::to_string(seq));
        answer = head5->next(30s);
        ASSERT_TRUE(answer) << r.topic;
        EXPECT_EQ(answer->topic, kRespTopic) << r.topic;
        EXPECT_EQ(answer->correlation, "c" + std::to_string(seq));
        EXPECT_EQ(answer->payload, failure("GET_METER_SER_LIST", std::to_string(seq), r.reason)) << r.topic;
        EXPECT_EQ(dcu::test::strict_json_error(answer->payload), "");
        ASSERT_TRUE(head311->next(30s));
    }
    // The refused request to answer on the command topic did not come back as a request.
    head311->publish(kCmdTopic, meters_request(70));
    answer = head311->next(30s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->payload, command_line_answer({"meters", "70"}));
    stop_host(*host);
    EXPECT_EQ(host->err().find("Bad request"), std::string::npos) << host->err();
}

// --- Requests above the 64 KiB limit ---------------------------------------

// A machine request of exactly size bytes: a member the host ignores pads it.
std::string padded_request(int seq, std::size_t size) {
    const std::string head = "{\"TYPE\":\"GET_METER_SER_LIST\",\"SEQ_NUM\":" + std::to_string(seq) + ",\"PAD\":\"";
    return head + std::string(size - head.size() - 2, 'x') + "\"}";
}

class RequestLimit : public LinkTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(RequestLimit, BiggerRequestsAreRefusedOrDroppedAndTheHostGoesOn) {
    const bool mqtt5 = std::string_view(GetParam()) == "5";
    auto host = start_host({"--mqtt-version", GetParam()});
    auto head = head_end({kRespTopic});
    head->publish(kCmdTopic, padded_request(1, 65536));
    auto answer = head->next(30s);
    ASSERT_TRUE(answer) << host->err();
    EXPECT_EQ(answer->payload, command_line_answer({"meters", "1"}));
    head->publish(kCmdTopic, padded_request(2, 65537));
    answer = head->next(30s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->payload, failure("UNKNOWN", "", "request larger than 65536 bytes"));
    // Past the Maximum Packet Size of the MQTT 5 CONNECT the broker keeps
    // the request from the unit; a 3.1.1 unit receives and refuses it.
    head->publish(kCmdTopic, padded_request(3, 80000));
    head->publish(kCmdTopic, meters_request(4));
    answer = head->next(30s);
    ASSERT_TRUE(answer);
    if (!mqtt5) {
        EXPECT_EQ(answer->payload, failure("UNKNOWN", "", "request larger than 65536 bytes"));
        answer = head->next(30s);
        ASSERT_TRUE(answer);
    }
    EXPECT_EQ(answer->payload, command_line_answer({"meters", "4"}));
    stop_host(*host);
}

INSTANTIATE_TEST_SUITE_P(Versions, RequestLimit, ::testing::Values("3.1.1", "5"), [](const auto &test) {
    return std::string(test.param) == "5" ? std::string("Mqtt5") : std::string("Mqtt311");
});

}  // namespace
