// A fleet of units on one broker, as its head-end sees it (bench/fleet runs
// this program):
//
//   fleet_bench --units N [--rounds R] [--no-jitter] [--type TYPE]
//
// It starts a private store filled by metersim, a private mosquitto whose
// log time-stamps every new connection, N dcuhost --mqtt units with client
// ids and topics of their own (dcu/<unit>/cmd, dcu/<unit>/resp and the
// status topic dcu/<unit>/resp/status) and a head-end client, which
//   1. sends one request of TYPE to every unit and waits for every answer
//      (strict JSON, its TYPE and SEQ_NUM checked), R rounds: answers per
//      second, latency p50, p99 and max;
//   2. waits until every unit's connection has been up 30 s (only then does
//      a unit's back-off start afresh, as in a fleet that has been running),
//      restarts the broker by its PID, and measures the time until every
//      unit has published a fresh ONLINE (its CONNECTION count grown) and
//      answers again, the busiest second of connection attempts in the
//      broker's log and their total;
//   3. reports each unit's resident size.
// The last line sums the run up:
//   units=N answered=A/B p50_ms=... p99_ms=... recovery_s=... busiest_second=... attempts=... rss_kb=...
// (rss_kb: the largest unit's). Every wait has a deadline; everything is
// stopped by its PID on the way out, after SIGINT or SIGTERM too (and gets
// SIGTERM should this program be killed). Exit status 0 when every request
// was answered and every unit was back within 60 s of the restart, 1
// otherwise, 2 for a usage error.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/unit_keys.hpp"
#include "tests/host/support/background_program.hpp"
#include "tests/host/support/mqtt_client.hpp"
#include "tests/host/support/private_broker.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/strict_json.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using dcu::test::BackgroundProgram;
using dcu::test::MqttClient;
using dcu::test::ReceivedMessage;

constexpr const char *kUnitUser = "dcu-fleet";
constexpr const char *kUnitPassword = "fleet-unit-secret";
constexpr const char *kHeadEndUser = "headend";
constexpr const char *kHeadEndPassword = "headend-secret";
// What the issue asks of a fleet: every unit back within this after a broker restart.
constexpr auto kRecoveryDeadline = 60s;
// A unit that has said ONLINE but not answered is asked again after this
// (the request may have reached the broker before the unit's subscription).
constexpr auto kAskAgain = 1s;
// The back-off starts afresh only after a connection that stayed up this long.
constexpr auto kStableConnection = 30s;

volatile std::sig_atomic_t g_interrupted = 0;
void on_signal(int) { g_interrupted = 1; }

struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

void check_interrupted() {
    if (g_interrupted != 0) throw Interrupted();
}

struct Options {
    int units = 0;
    int rounds = 5;
    bool jitter = true;
    std::string type = "GET_METER_SER_LIST";
};

const char *const kUsage =
    "usage: fleet_bench --units N [--rounds R] [--no-jitter] [--type TYPE]\n"
    "  N units from 1 to 2000, R rounds from 1 to 1000 (5); TYPE a machine request's TYPE\n"
    "  (GET_METER_SER_LIST; OD_INST, GET_COMMN_STATUS_MESSAGE, ... take the first meter)\n";

std::optional<int> whole_number(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<Options> parse_options(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        const bool has_value = i + 1 < argc;
        if (arg == "--units" && has_value) {
            const auto units = whole_number(argv[++i]);
            if (!units || *units < 1 || *units > 2000) return std::nullopt;
            options.units = *units;
        } else if (arg == "--rounds" && has_value) {
            const auto rounds = whole_number(argv[++i]);
            if (!rounds || *rounds < 1 || *rounds > 1000) return std::nullopt;
            options.rounds = *rounds;
        } else if (arg == "--type" && has_value) {
            options.type = argv[++i];
        } else if (arg == "--no-jitter") {
            options.jitter = false;
        } else {
            return std::nullopt;
        }
    }
    if (options.units == 0 || options.type.empty() || options.type.find('"') != std::string::npos) return std::nullopt;
    return options;
}

// The text of a string member of a JSON object, as the answers write them (no escapes needed here).
std::optional<std::string> string_member(const std::string &json, const std::string &name) {
    const std::string key = "\"" + name + "\":\"";
    const auto start = json.find(key);
    if (start == std::string::npos) return std::nullopt;
    const auto end = json.find('"', start + key.size());
    if (end == std::string::npos) return std::nullopt;
    return json.substr(start + key.size(), end - start - key.size());
}

// The value of a number member.
std::optional<long long> number_member(const std::string &json, const std::string &name) {
    const std::string key = "\"" + name + "\":";
    const auto start = json.find(key);
    if (start == std::string::npos) return std::nullopt;
    long long value = 0;
    const char *begin = json.data() + start + key.size();
    const auto [end, ec] = std::from_chars(begin, json.data() + json.size(), value);
    if (ec != std::errc{} || end == begin) return std::nullopt;
    return value;
}

double milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }
double seconds(Clock::duration span) { return std::chrono::duration<double>(span).count(); }

// The q-quantile of values (nearest rank); 0 for none.
double quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(q * static_cast<double>(values.size()) + 0.999999);
    return values[std::min(values.size(), std::max<std::size_t>(rank, 1)) - 1];
}

long resident_kb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:")) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

std::size_t count_of(const std::string &text, std::string_view needle, std::size_t from = 0) {
    std::size_t count = 0;
    for (auto at = text.find(needle, from); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

// Connection attempts the broker logged: time-stamped "New connection"
// lines, each with the client id that its CONNECT named ("New client
// connected ... as ID"), if any.
struct Attempt {
    long long second = 0;
    std::string client_id;
};

std::vector<Attempt> attempts_in_log(const std::string &log) {
    std::vector<Attempt> attempts;
    std::map<std::string, std::size_t> pending;  // source address -> its attempt
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos) continue;
        const auto second = whole_number(std::string_view(line).substr(0, colon));
        const std::string_view text = std::string_view(line).substr(colon + 2);
        constexpr std::string_view kNew = "New connection from ", kClient = "New client connected from ";
        if (second && text.starts_with(kNew)) {
            const auto address = text.substr(kNew.size(), text.find(' ', kNew.size()) - kNew.size());
            pending[std::string(address)] = attempts.size();
            attempts.push_back({*second, ""});
        } else if (text.starts_with(kClient)) {
            const auto rest = text.substr(kClient.size());
            const auto address = std::string(rest.substr(0, rest.find(' ')));
            const auto as = rest.find(" as ");
            const auto found = pending.find(address);
            if (found == pending.end() || as == std::string_view::npos) continue;
            const auto id = rest.substr(as + 4);
            attempts[found->second].client_id = std::string(id.substr(0, id.find(' ')));
            pending.erase(found);
        }
    }
    return attempts;
}

struct Unit {
    std::string name;
    std::unique_ptr<BackgroundProgram> process;
    unsigned long connection = 0;  // the CONNECTION of its last ONLINE
    // The round under way.
    long long expected_seq = 0;
    Clock::time_point sent;
    bool answered = false;
    // After the broker restart.
    unsigned long connection_before = 0;
    std::size_t log_offset = 0;
    bool fresh_online = false;
    long long first_recovery_seq = 0;
    Clock::time_point asked;
    std::optional<double> back_after_s;
};

class Fleet {
public:
    explicit Fleet(Options options) : options_(std::move(options)) {}
    Fleet(const Fleet &) = delete;
    Fleet &operator=(const Fleet &) = delete;
    // Units still running (an interrupted run) get SIGTERM all at once, then
    // are waited for one by one.
    ~Fleet();
    int run();

private:
    void prepare_store();
    void start_units();
    std::unique_ptr<MqttClient> head_end();
    std::string request(long long seq) const;
    void ask(Unit &unit, long long seq);
    // Hands every message that arrives until `until` (or until done() holds) to handle.
    template <typename Handle, typename Done>
    void pump(MqttClient &head, Clock::time_point until, Handle handle, Done done);
    // The unit a topic belongs to and whether it is the status topic.
    Unit *unit_of(const std::string &topic, bool *status);
    bool answer_matches(const ReceivedMessage &message, long long seq) const;

    void wait_online(MqttClient &head);
    void rounds(MqttClient &head);
    void restart_broker();
    // The attempts in the broker's log past log_offset, and the units' own.
    void report_attempts(std::size_t log_offset);
    long report_memory();
    int summary();

    // Declared in the order they start: they end the other way round.
    Options options_;
    dcu::test::PrivateStore store_;
    dcu::test::TempDir root_;
    std::unique_ptr<dcu::test::PrivateBroker> broker_;
    std::vector<Unit> units_;
    std::unique_ptr<MqttClient> head_;
    std::map<std::string, std::size_t> index_;
    std::string meter_serial_;
    long long next_seq_ = 1;

    std::vector<double> latency_ms_;
    std::size_t answered_ = 0, wrong_ = 0;
    double busy_seconds_ = 0;  // summed over the rounds, first request to last answer
    std::optional<double> recovery_s_;
    std::size_t broker_attempts_ = 0, busiest_second_ = 0;
    long largest_rss_kb_ = 0;
};

Fleet::~Fleet() {
    head_.reset();
    for (Unit &unit : units_)
        if (unit.process) unit.process->signal(SIGTERM);
    for (Unit &unit : units_)
        if (unit.process) unit.process->wait();
}

void Fleet::prepare_store() {
    store_.start();
    dcu::test::RunOptions options;
    options.env["DCU_ROOT"] = root_.path().string();
    const std::string address = "127.0.0.1:" + std::to_string(store_.port());
    const auto sim = dcu::test::run_program({METERSIM_PATH, "--store", address, "--meters", "20", "--seed", "2024"},
                                            options);
    if (sim.exit_code != 0) throw std::runtime_error("metersim failed: " + sim.err);
    dcu::test::StoreClient client(store_.port());
    namespace keys = dcu::unit_keys;
    client.hset(keys::kGeneralInfo, keys::kUnitSerialNumberField, "DCU-FLEET");
    meter_serial_ = client.hget(keys::Key(keys::kSerialNumber, 0, 0).str(), keys::kSerialNumberField).value_or("");
}

void Fleet::start_units() {
    const std::string store = "127.0.0.1:" + std::to_string(store_.port());
    const std::string broker = "127.0.0.1:" + std::to_string(broker_->port());
    const std::map<std::string, std::string> env{{"DCU_MQTT_PASSWORD", kUnitPassword},
                                                 {"DCU_ROOT", root_.path().string()}};
    units_.resize(static_cast<std::size_t>(options_.units));
    for (std::size_t i = 0; i < units_.size(); ++i) {
        check_interrupted();
        Unit &unit = units_[i];
        char name[32];
        std::snprintf(name, sizeof name, "DCU-%04zu", i + 1);
        unit.name = name;
        index_[unit.name] = i;
        std::vector<std::string> argv{DCUHOST_PATH,  "--store",          store,
                                      "--mqtt",      "--broker",         broker,
                                      "--mqtt-user", kUnitUser,          "--mqtt-client-id",
                                      unit.name,     "--sub-topic",      "dcu/" + unit.name + "/cmd",
                                      "--pub-topic", "dcu/" + unit.name + "/resp"};
        if (!options_.jitter) argv.emplace_back("--no-jitter");
        unit.process = std::make_unique<BackgroundProgram>(argv, env);
    }
}

std::unique_ptr<MqttClient> Fleet::head_end() {
    auto head = std::make_unique<MqttClient>(broker_->port(), kHeadEndUser, kHeadEndPassword);
    if (head->connect(10s) != 0) throw std::runtime_error("the head-end was not let in");
    head->subscribe("dcu/+/resp");
    head->subscribe("dcu/+/resp/status");
    return head;
}

std::string Fleet::request(long long seq) const {
    // Members a TYPE does not take are ignored; MET_SERNUM serves those that name a meter.
    return "{\"TYPE\":\"" + options_.type + "\",\"SEQ_NUM\":" + std::to_string(seq) + ",\"MET_SERNUM\":\"" +
           meter_serial_ + "\"}";
}

void Fleet::ask(Unit &unit, long long seq) {
    unit.expected_seq = seq;
    unit.sent = Clock::now();
    unit.answered = false;
    head_->publish("dcu/" + unit.name + "/cmd", request(seq));
}

Unit *Fleet::unit_of(const std::string &topic, bool *status) {
    if (!topic.starts_with("dcu/")) return nullptr;
    const auto slash = topic.find('/', 4);
    if (slash == std::string::npos) return nullptr;
    const auto found = index_.find(topic.substr(4, slash - 4));
    if (found == index_.end()) return nullptr;
    const std::string_view rest = std::string_view(topic).substr(slash);
    if (rest != "/resp" && rest != "/resp/status") return nullptr;
    *status = rest == "/resp/status";
    return &units_[found->second];
}

bool Fleet::answer_matches(const ReceivedMessage &message, long long seq) const {
    return string_member(message.payload, "SEQ_NUM") == std::to_string(seq) &&
           string_member(message.payload, "TYPE") == options_.type &&
           dcu::test::strict_json_error(message.payload).empty();
}

template <typename Handle, typename Done>
void Fleet::pump(MqttClient &head, Clock::time_point until, Handle handle, Done done) {
    while (!done() && Clock::now() < until) {
        check_interrupted();
        auto message = head.next(100ms);
        if (!message) continue;
        bool status = false;
        if (Unit *unit = unit_of(message->topic, &status)) handle(*unit, status, *message);
    }
}

void Fleet::wait_online(MqttClient &head) {
    const auto start = Clock::now();
    std::size_t online = 0;
    pump(
        head, start + 60s + 100ms * options_.units,
        [&](Unit &unit, bool status, const ReceivedMessage &message) {
            if (!status || string_member(message.payload, "STATE") != "ONLINE") return;
            const auto connection = number_member(message.payload, "CONNECTION").value_or(0);
            if (unit.connection == 0 && connection > 0) ++online;
            unit.connection = static_cast<unsigned long>(connection);
        },
        [&] { return online == units_.size(); });
    std::printf("%zu of %zu units ONLINE %.1f s after their start\n", online, units_.size(),
                seconds(Clock::now() - start));
    if (online != units_.size()) throw std::runtime_error("not every unit came online");
}

void Fleet::rounds(MqttClient &head) {
    for (int round = 1; round <= options_.rounds; ++round) {
        const auto start = Clock::now();
        for (Unit &unit : units_) ask(unit, next_seq_++);
        std::size_t answered = 0;
        Clock::time_point last = start;
        pump(
            head, start + 30s + 50ms * options_.units,
            [&](Unit &unit, bool status, const ReceivedMessage &message) {
                if (status) return;
                if (unit.answered || !answer_matches(message, unit.expected_seq)) {
                    ++wrong_;
                    return;
                }
                unit.answered = true;
                ++answered;
                last = message.arrived;
                latency_ms_.push_back(milliseconds(message.arrived - unit.sent));
            },
            [&] { return answered == units_.size(); });
        answered_ += answered;
        busy_seconds_ += seconds(last - start);
        std::printf("round %d: %zu/%zu answered in %.3f s\n", round, answered, units_.size(), seconds(last - start));
    }
    std::printf("requests: %zu/%zu answered (%zu answers unexpected), %.0f answers/s, latency p50 %.1f ms, "
                "p99 %.1f ms, max %.1f ms\n",
                answered_, units_.size() * static_cast<std::size_t>(options_.rounds), wrong_,
                busy_seconds_ > 0 ? static_cast<double>(answered_) / busy_seconds_ : 0.0, quantile(latency_ms_, 0.5),
                quantile(latency_ms_, 0.99), quantile(latency_ms_, 1.0));
}

void Fleet::restart_broker() {
    const std::size_t log_offset = dcu::test::read_file(broker_->log_path()).size();
    for (Unit &unit : units_) {
        unit.connection_before = unit.connection;
        unit.log_offset = unit.process->err().size();
    }
    const auto stopped = Clock::now();
    head_.reset();  // its own reconnections would only be noise in the broker's log
    broker_->stop();
    broker_->start();
    const auto up = Clock::now();
    head_ = head_end();
    std::printf("broker restarted by its PID: down %.2f s, the head-end back %.2f s after the stop\n",
                seconds(up - stopped), seconds(Clock::now() - stopped));

    std::size_t back = 0;
    auto last_check = Clock::now();
    pump(
        *head_, stopped + kRecoveryDeadline,
        [&](Unit &unit, bool status, const ReceivedMessage &message) {
            if (status) {
                const auto connection = number_member(message.payload, "CONNECTION").value_or(0);
                if (string_member(message.payload, "STATE") != "ONLINE" ||
                    connection <= static_cast<long long>(unit.connection_before))
                    return;
                unit.connection = static_cast<unsigned long>(connection);
                if (!unit.fresh_online) {
                    unit.fresh_online = true;
                    unit.first_recovery_seq = next_seq_;
                    ask(unit, next_seq_++);
                    unit.asked = unit.sent;
                }
                return;
            }
            const auto seq = whole_number(string_member(message.payload, "SEQ_NUM").value_or(""));
            if (!unit.fresh_online || unit.back_after_s || !seq || *seq < unit.first_recovery_seq ||
                !answer_matches(message, *seq))
                return;
            unit.back_after_s = seconds(message.arrived - stopped);
            ++back;
        },
        [&] {
            const auto now = Clock::now();
            if (now - last_check > 200ms) {
                last_check = now;
                for (Unit &unit : units_)
                    if (unit.fresh_online && !unit.back_after_s && now - unit.asked > kAskAgain) {
                        ask(unit, next_seq_++);
                        unit.asked = unit.sent;
                    }
            }
            return back == units_.size();
        });
    std::vector<double> times;
    for (const Unit &unit : units_)
        if (unit.back_after_s) times.push_back(*unit.back_after_s);
    if (back == units_.size()) recovery_s_ = quantile(times, 1.0);
    std::printf("after the restart: %zu/%zu units published a fresh ONLINE and answered within %lld s; the last "
                "after %.1f s, the median after %.1f s\n",
                back, units_.size(), static_cast<long long>(kRecoveryDeadline.count()), quantile(times, 1.0),
                quantile(times, 0.5));
    for (const Unit &unit : units_)
        if (!unit.back_after_s)
            std::printf("  not back: %s%s\n", unit.name.c_str(), unit.fresh_online ? " (ONLINE, no answer)" : "");
    report_attempts(log_offset);
}

void Fleet::report_attempts(std::size_t log_offset) {
    // What the broker saw: its time-stamped log of new connections.
    const std::string log = dcu::test::read_file(broker_->log_path());
    std::map<long long, std::size_t> per_second;
    for (const Attempt &attempt : attempts_in_log(log.substr(std::min(log_offset, log.size())))) {
        // A unit sends its CONNECT at once; the rest is the head-end, or the
        // probe that saw the broker's port open again.
        if (!attempt.client_id.starts_with("DCU-")) continue;
        ++broker_attempts_;
        busiest_second_ = std::max(busiest_second_, ++per_second[attempt.second]);
    }
    const double share = broker_attempts_ > 0 ? static_cast<double>(busiest_second_) /
                                                    static_cast<double>(broker_attempts_)
                                              : 0.0;
    std::printf("connection attempts the broker saw from the units: %zu in %zu seconds, the busiest second %zu "
                "(%.0f%% of them; a third is %.0f)\n",
                broker_attempts_, per_second.size(), busiest_second_, 100.0 * share,
                static_cast<double>(broker_attempts_) / 3.0);
    std::string by_second;
    for (const auto &[second, count] : per_second) by_second += " " + std::to_string(count);
    std::printf("  attempts in each of those seconds, in order:%s\n", by_second.c_str());

    // And what the units tried, attempts the stopped broker refused included.
    std::size_t tried = 0, most = 0;
    for (const Unit &unit : units_) {
        const std::size_t count = count_of(unit.process->err(), "Reconnecting to broker", unit.log_offset);
        tried += count;
        most = std::max(most, count);
    }
    std::printf("the units' own attempts (those the stopped broker refused included): %zu, at most %zu by one unit\n",
                tried, most);
}

long Fleet::report_memory() {
    std::vector<double> sizes;
    std::string table;
    for (std::size_t i = 0; i < units_.size(); ++i) {
        const long kb = resident_kb(units_[i].process->pid());
        sizes.push_back(static_cast<double>(kb));
        largest_rss_kb_ = std::max(largest_rss_kb_, kb);
        table += (i % 8 == 0 ? "\n  " : "  ") + units_[i].name + " " + std::to_string(kb);
    }
    std::printf("resident size of each unit (kB):%s\n", table.c_str());
    std::printf("resident size (kB): units min %.0f median %.0f max %.0f; the broker %ld\n", quantile(sizes, 0.0),
                quantile(sizes, 0.5), quantile(sizes, 1.0), resident_kb(broker_->pid()));
    return largest_rss_kb_;
}

int Fleet::run() {
    std::printf("fleet: %d units (reconnection jitter %s), %d rounds of %s\n", options_.units,
                options_.jitter ? "on" : "off", options_.rounds, options_.type.c_str());
    prepare_store();
    broker_ = std::make_unique<dcu::test::PrivateBroker>(
        std::vector<dcu::test::BrokerAccount>{{kUnitUser, kUnitPassword}, {kHeadEndUser, kHeadEndPassword}});
    broker_->start();
    head_ = head_end();
    start_units();
    wait_online(*head_);
    rounds(*head_);

    // A fleet that has been running: every connection up long enough for
    // its back-off to start afresh at the next loss.
    const auto settled = Clock::now() + kStableConnection + 1s;
    std::printf("waiting %.0f s until every connection has been up %lld s\n", seconds(settled - Clock::now()),
                static_cast<long long>(kStableConnection.count()));
    while (Clock::now() < settled) {
        check_interrupted();
        std::this_thread::sleep_for(100ms);
    }
    restart_broker();
    report_memory();

    std::size_t unclean = 0;
    for (Unit &unit : units_) unit.process->signal(SIGTERM);
    for (Unit &unit : units_)
        if (unit.process->wait() != 0) ++unclean;
    if (unclean != 0) std::printf("%zu units did not stop cleanly\n", unclean);
    return summary();
}

int Fleet::summary() {
    const std::size_t asked = units_.size() * static_cast<std::size_t>(options_.rounds);
    char recovery[32] = "none";
    if (recovery_s_) std::snprintf(recovery, sizeof recovery, "%.1f", *recovery_s_);
    std::printf("units=%zu answered=%zu/%zu p50_ms=%.1f p99_ms=%.1f recovery_s=%s busiest_second=%zu attempts=%zu "
                "rss_kb=%ld\n",
                units_.size(), answered_, asked, quantile(latency_ms_, 0.5), quantile(latency_ms_, 0.99), recovery,
                busiest_second_, broker_attempts_, largest_rss_kb_);
    return answered_ == asked && recovery_s_ ? 0 : 1;
}

// 200 units hold 200 connections at the broker, which inherits this limit.
void raise_descriptor_limit(int units) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < static_cast<rlim_t>(units) + 64)
        std::printf("warning: %llu file descriptors are too few for %d units and the broker\n",
                    static_cast<unsigned long long>(limit.rlim_cur), units);
}

}  // namespace

int main(int argc, char **argv) {
    const auto options = parse_options(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    raise_descriptor_limit(options->units);
    try {
        Fleet fleet(*options);
        return fleet.run();
    } catch (const Interrupted &) {
        std::fprintf(stderr, "fleet_bench: interrupted; everything it started is stopped\n");
        return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "fleet_bench: %s\n", error.what());
        return 1;
    }
}
