// dcuhost: the reference host communication process. It links the
// request-handler library, connects the store with redis_init, and answers
// requests in one of three modes:
//   - one request from its command line;
//   - --stdin: one request per input line, words or a machine request (JSON);
//   - --mqtt: machine requests from the unit's broker topic, answers published
//     on its answer topic (or a request's MQTT 5 Response Topic), presence on
//     its status topic, until SIGINT or SIGTERM. The link's settings may also
//     come from a settings file (--config FILE).
// Answers go to standard output (or the broker); the library's progress lines
// (which it prints on standard output) and the log go to standard error.
#include <hiredis/hiredis.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "common/paths.hpp"
#include "common/store.hpp"
#include "common/unique_fd.hpp"
#include "host/broker_settings.hpp"
#include "host/credentials.hpp"
#include "host/host_services.hpp"
#include "host/line_reader.hpp"
#include "host/machine_request.hpp"
#include "host/mqtt_link.hpp"
#include "host/presence.hpp"
#include "host/request_limits.hpp"
#include "host/requests.hpp"
#include "host/settings_file.hpp"
#include "host/stop_signals.hpp"
#include "host/tls_context.hpp"

namespace {

constexpr int kUsageError = 2;

enum class Mode { one_request, from_stdin, mqtt };

struct Options {
    std::string store_host{dcu::paths::kStoreAddress};
    std::uint16_t store_port = dcu::paths::store_port();
    Mode mode = Mode::one_request;
    dcu::host::BrokerOverrides broker;
    std::optional<std::string> password_file;  // --mqtt-password-file
    bool broker_options = false;  // any of them given
    std::string timings_path;
    std::vector<std::string> words;
};

// With --timings FILE, one line per answered request: its word, the time
// the handler took in microseconds, and the process's resident size in kB
// afterwards. The benchmarks read it; nothing else does.
class Timings {
public:
    explicit Timings(const std::string &path) {
        if (!path.empty()) file_.reset(std::fopen(path.c_str(), "w"));
    }
    bool wanted() const { return static_cast<bool>(file_); }
    void record(std::string_view word, std::chrono::nanoseconds took) {
        long pages = 0, resident = 0;
        if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
            std::fclose(statm);
        }
        std::fprintf(file_.get(), "%.*s %.3f %ld\n", static_cast<int>(word.size()), word.data(),
                     static_cast<double>(took.count()) / 1000.0, resident * (::sysconf(_SC_PAGESIZE) / 1024));
        std::fflush(file_.get());
    }

private:
    dcu::UniqueFile file_;
};

// Splits a request line at blanks; double quotes keep blanks inside one word.
std::vector<std::string> split_line(const std::string &line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '\\' && i + 1 < line.size()) word += line[++i];
            else if (c == '"') quoted = false;
            else word += c;
        } else if (c == '"') {
            quoted = in_word = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

std::optional<dcu::host::ParsedRequest> parse(const std::vector<std::string> &words) {
    std::string error;
    auto request = dcu::host::parse_words(words, &error);
    if (!request) std::fprintf(stderr, "dcuhost: %s\n", error.c_str());
    return request;
}

// Where the store is, so that a lost connection is made again before the
// next request instead of costing it: a store that restarted while the host
// was idle has closed the socket, which shows without a round trip; one that
// failed a command (a time-out) is out of step and is dropped.
struct StoreAddress {
    std::string host;
    std::uint16_t port = 0;
    bool reconnect = false;  // sessions only: a single request connects once
};
StoreAddress g_store;

void reconnect_store_if_lost() {
    if (!g_store.reconnect || dcu::store::connection_alive()) return;
    if (p_redis_handler != nullptr && p_redis_handler->err != 0)
        std::fprintf(stderr, "dcuhost: the store connection failed: %s; connecting again\n", p_redis_handler->errstr);
    else
        std::fprintf(stderr, "dcuhost: the store connection is lost; connecting again\n");
    redis_init(g_store.host.c_str(), g_store.port);
}

void answer(const dcu::host::ParsedRequest &request, Timings &timings) {
    reconnect_store_if_lost();
    const auto start = std::chrono::steady_clock::now();
    request.row->call(request.args);
    const auto took = std::chrono::steady_clock::now() - start;
    std::fflush(stdout);
    if (timings.wanted()) timings.record(request.row->word, took);
}

// A machine request goes through the same table as the words; one that
// can't be answered gets the failure answer, through the same outlet.
std::optional<dcu::host::RequestFailure> answer_machine_request(std::string_view text, Timings &timings) {
    auto machine = dcu::host::parse_machine_request(text);
    if (machine.request) {
        answer(*machine.request, timings);
        return std::nullopt;
    }
    send_msg(dcu::host::failure_answer(machine.failure).c_str());
    return std::move(machine.failure);
}

bool is_machine_request(const std::string &line) {
    const auto first = line.find_first_not_of(" \t\r");
    return first != std::string::npos && line[first] == '{';
}

// Every input line a request; returns whether all of them were good ones.
// A line is read in pieces and kept only up to the request limit, so a
// line of any length costs no more than that.
bool answer_stdin(Timings &timings) {
    bool all_valid = true;
    dcu::host::LineReader input(STDIN_FILENO, dcu::host::kMaxRequestBytes);
    std::string line;
    for (auto got = input.next(&line); got != dcu::host::LineReader::Line::end; got = input.next(&line)) {
        const bool too_long = got == dcu::host::LineReader::Line::too_long;
        // A machine line that is too long is refused as every machine request
        // over the limit is: by its size, unparsed, with the failure answer.
        if (is_machine_request(line)) {
            if (auto failure = answer_machine_request(line, timings)) {
                std::fprintf(stderr, "dcuhost: %s\n", failure->reason.c_str());
                all_valid = false;
            }
            continue;
        }
        if (too_long) {
            std::fprintf(stderr, "dcuhost: %s\n", dcu::host::too_large_reason().c_str());
            all_valid = false;
            continue;
        }
        auto words = split_line(line);
        if (words.empty() || words[0].starts_with("#")) continue;
        if (auto request = parse(words)) answer(*request, timings);
        else all_valid = false;
    }
    return all_valid;
}

// The failure answer to a request that is refused before it is carried
// out, with the TYPE and SEQ_NUM it sent where they can be read.
void refuse_request(std::string_view payload, const std::string &reason) {
    dcu::host::RequestFailure failure{"UNKNOWN", "", reason};
    if (!payload.empty()) {
        auto machine = dcu::host::parse_machine_request(payload);
        if (machine.request) {
            failure.type = machine.request->row->machine_type;
            const auto &members = machine.request->row->args;
            for (std::size_t i = 0; i < members.size() && i < machine.request->args.size(); ++i)
                if (members[i].member == "SEQ_NUM") failure.seq_num = machine.request->args[i].text;
        } else {
            failure.type = machine.failure.type;
            failure.seq_num = machine.failure.seq_num;
        }
    }
    send_msg(dcu::host::failure_answer(failure).c_str());
    dbg_log(0, "%-20s : Refused request (SEQ_NUM \"%s\"): %s\n", "serve_broker()", failure.seq_num.c_str(),
            reason.c_str());
}

bool is_loopback(const std::string &host) {
    return host == "localhost" || host == "::1" || host.starts_with("127.");
}

// Serves the broker until SIGINT or SIGTERM. Settings that can't be used
// (missing, unreadable files, a wrong pass phrase) are a usage error;
// nothing is connected then.
int serve_broker(const Options &options, Timings &timings) {
    auto usage_error = [](const std::string &message) {
        std::fprintf(stderr, "dcuhost: %s\n", message.c_str());
        return kUsageError;
    };
    std::string error;
    dcu::host::BrokerOverrides overrides = options.broker;
    const auto password = dcu::host::broker_password(options.password_file, &error);
    if (!error.empty()) return usage_error(error);
    if (password) overrides.password = password->value;
    const auto settings = dcu::host::broker_settings(overrides, &error);
    if (!settings) return usage_error(error);
    dcu::host::TlsContext tls;
    if (settings->tls.any()) {
        auto context = dcu::host::make_tls_context(settings->tls, settings->host, &error);
        if (!context) return usage_error(error);
        tls = std::move(*context);
    }
    if (!settings->user.empty()) {
        std::fprintf(stderr, "dcuhost: the broker password comes from %s\n",
                     password                       ? password->source.c_str()
                     : settings->password.empty() ? "nowhere (none is set)"
                                                  : "the store's MQTT_INFO BrokerPass");
        if (!tls && !settings->password.empty() && !is_loopback(settings->host))
            std::fprintf(stderr, "dcuhost: warning: without TLS the password crosses the network in clear\n");
    }

    // A broker that drops the connection must not kill the process by SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    const dcu::host::StopSignals stop;
    dcu::host::MqttLink link(
        *settings, std::move(tls),
        [&timings](std::string_view payload) {
            if (auto failure = answer_machine_request(payload, timings))
                dbg_log(0, "%-20s : Bad request (SEQ_NUM \"%s\"): %s\n", "serve_broker()", failure->seq_num.c_str(),
                        failure->reason.c_str());
        },
        refuse_request,
        [] {
            reconnect_store_if_lost();
            return dcu::host::serial_number_from_store();
        });
    dcu::host::set_answer_sink([&link](std::string_view text) { return link.publish(text); });
    link.run(stop);
    dcu::host::set_answer_sink(nullptr);
    return 0;
}

// The long options that take a value: the keys a settings file may hold.
constexpr std::string_view kValuedOptions[] = {
    "store", "timings", "broker", "mqtt-user", "mqtt-password-file", "sub-topic", "pub-topic", "mqtt-client-id",
    "status-topic", "mqtt-version", "keepalive", "cafile", "capath", "cert", "key", "key-password-file",
    "tls-version", "tls-server-name",
};

// One word of the command line, or one setting of the settings file turned
// into the option and value it stands for.
struct Argument {
    std::string text;
    std::string origin;  // "FILE:LINE: " for a setting, empty for the command line
};

// The password option is gone: every local user can read a command line.
// Its value is never repeated back.
const char *const kPasswordOptionGone =
    "--mqtt-password is not taken: a command line is visible to every local user. Give the password with "
    "--mqtt-password-file FILE (or mqtt-password-file in the settings file), the environment variable "
    "DCU_MQTT_PASSWORD, the systemd credential mqtt-password, or the store's MQTT_INFO BrokerPass";

// The settings of --config FILE, as options in front of the command line's
// own, so that the command line overrides the file. An exit status when the
// file can't be used.
std::optional<int> settings_file_arguments(int argc, char **argv, std::vector<Argument> *arguments) {
    std::optional<std::string> path;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--config") continue;
        if (path || i + 1 >= argc) {
            std::fprintf(stderr, "dcuhost: %s\n%s", path ? "--config is given twice" : "--config needs FILE",
                         dcu::host::usage_text().c_str());
            return kUsageError;
        }
        path = argv[++i];
    }
    if (!path) return std::nullopt;
    std::string error;
    const auto settings = dcu::host::read_settings_file(*path, &error);
    if (!settings) {
        std::fprintf(stderr, "dcuhost: %s\n", error.c_str());
        return kUsageError;
    }
    for (const auto &setting : *settings) {
        const std::string origin = *path + ":" + std::to_string(setting.line) + ": ";
        if (setting.key == "mqtt-password") {
            std::fprintf(stderr, "dcuhost: %s%s\n", origin.c_str(), kPasswordOptionGone + 2);
            return kUsageError;
        }
        if (std::find(std::begin(kValuedOptions), std::end(kValuedOptions), setting.key) == std::end(kValuedOptions)) {
            std::fprintf(stderr, "dcuhost: %sunknown setting \"%s\" (the keys are the long options that take a "
                                 "value, without their dashes)\n",
                         origin.c_str(), setting.key.c_str());
            return kUsageError;
        }
        arguments->push_back({"--" + setting.key, origin});
        arguments->push_back({setting.value, origin});
    }
    return std::nullopt;
}

// Reads the options; an exit status when the process is to end at once.
std::optional<int> parse_options(int argc, char **argv, Options *options) {
    std::vector<Argument> arguments;
    if (auto exit_status = settings_file_arguments(argc, argv, &arguments)) return exit_status;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--config") {
            ++i;  // read above
            continue;
        }
        arguments.push_back({argv[i], ""});
    }

    const std::string *origin = nullptr;
    auto usage_error = [&origin](const std::string &message) {
        std::fprintf(stderr, "dcuhost: %s%s\n%s", origin != nullptr ? origin->c_str() : "", message.c_str(),
                     dcu::host::usage_text().c_str());
        return kUsageError;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view arg(arguments[i].text);
        origin = &arguments[i].origin;
        // The value of an option that takes one.
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= arguments.size()) return std::nullopt;
            return arguments[++i].text;
        };
        auto broker_text = [&](std::optional<std::string> *setting, const char *meaning) -> std::optional<int> {
            auto text = value();
            if (!text) return usage_error(std::string(arg) + " needs " + meaning);
            *setting = std::move(text);
            options->broker_options = true;
            return std::nullopt;
        };
        auto tls_text = [&](std::string *setting, const char *meaning) -> std::optional<int> {
            auto text = value();
            if (!text || text->empty()) return usage_error(std::string(arg) + " needs " + meaning);
            *setting = std::move(*text);
            options->broker_options = true;
            return std::nullopt;
        };
        std::optional<int> outcome;
        if (!options->words.empty()) {
            options->words.emplace_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(dcu::host::usage_text().c_str(), stdout);
            return 0;
        } else if (arg == "--stdin" || arg == "--mqtt") {
            const Mode mode = arg == "--stdin" ? Mode::from_stdin : Mode::mqtt;
            if (options->mode != Mode::one_request && options->mode != mode)
                return usage_error("--stdin and --mqtt exclude each other");
            options->mode = mode;
        } else if (arg == "--timings") {
            auto path = value();
            if (!path) return usage_error("--timings needs FILE");
            options->timings_path = std::move(*path);
        } else if (arg == "--store") {
            auto address = value();
            auto parsed = address ? dcu::host::parse_host_port(*address) : std::nullopt;
            if (!parsed) return usage_error("--store needs HOST:PORT");
            std::tie(options->store_host, options->store_port) = std::move(*parsed);
        } else if (arg == "--broker") {
            auto address = value();
            auto parsed = address ? dcu::host::parse_host_port(*address) : std::nullopt;
            if (!parsed) return usage_error("--broker needs HOST:PORT");
            options->broker.host = std::move(parsed->first);
            options->broker.port = parsed->second;
            options->broker_options = true;
        } else if (arg == "--mqtt-user") {
            outcome = broker_text(&options->broker.user, "NAME");
        } else if (arg == "--mqtt-password" || arg.starts_with("--mqtt-password=")) {
            return usage_error(kPasswordOptionGone);
        } else if (arg == "--mqtt-password-file") {
            outcome = broker_text(&options->password_file, "FILE");
        } else if (arg == "--sub-topic") {
            outcome = broker_text(&options->broker.sub_topic, "TOPIC");
        } else if (arg == "--pub-topic") {
            outcome = broker_text(&options->broker.pub_topic, "TOPIC");
        } else if (arg == "--status-topic") {
            outcome = broker_text(&options->broker.status_topic, "TOPIC");
        } else if (arg == "--mqtt-client-id") {
            outcome = broker_text(&options->broker.client_id, "ID");
        } else if (arg == "--mqtt-version") {
            auto version = value();
            if (version != "3.1.1" && version != "5") return usage_error("--mqtt-version needs 3.1.1 or 5");
            options->broker.mqtt_version = *version == "5" ? dcu::host::kMqtt5 : dcu::host::kMqtt311;
            options->broker_options = true;
        } else if (arg == "--no-jitter") {
            options->broker.reconnect_jitter = false;
            options->broker_options = true;
        } else if (arg == "--keepalive") {
            auto text = value();
            int seconds = 0;
            const char *end = text ? text->data() + text->size() : nullptr;
            if (!text || std::from_chars(text->data(), end, seconds).ptr != end ||
                seconds < dcu::host::kMinKeepAlive || seconds > 65535)
                return usage_error("--keepalive needs SECONDS from 5 to 65535");
            options->broker.keepalive = seconds;
            options->broker_options = true;
        } else if (arg == "--cafile") {
            outcome = tls_text(&options->broker.tls.cafile, "FILE");
        } else if (arg == "--capath") {
            outcome = tls_text(&options->broker.tls.capath, "DIR");
        } else if (arg == "--cert") {
            outcome = tls_text(&options->broker.tls.cert, "FILE");
        } else if (arg == "--key") {
            outcome = tls_text(&options->broker.tls.key, "FILE");
        } else if (arg == "--key-password-file") {
            outcome = tls_text(&options->broker.tls.key_password_file, "FILE");
        } else if (arg == "--tls-server-name") {
            outcome = tls_text(&options->broker.tls.server_name, "NAME");
        } else if (arg == "--tls-version") {
            auto version = value();
            if (!version || !dcu::host::is_tls_version(*version))
                return usage_error("--tls-version needs tlsv1.2 or tlsv1.3");
            options->broker.tls.version = std::move(*version);
            options->broker_options = true;
        } else if (arg.starts_with("--")) {
            return usage_error("unknown option " + std::string(arg));
        } else {
            options->words.emplace_back(arg);
        }
        if (outcome) return outcome;
    }
    origin = nullptr;
    if ((options->mode == Mode::one_request) == options->words.empty()) {
        std::fputs(dcu::host::usage_text().c_str(), stderr);
        return kUsageError;
    }
    if (options->broker_options && options->mode != Mode::mqtt)
        return usage_error("the broker options go with --mqtt");
    return std::nullopt;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (auto exit_status = parse_options(argc, argv, &options)) return *exit_status;

    // A request on the command line is checked before anything else happens.
    std::optional<dcu::host::ParsedRequest> single;
    if (options.mode == Mode::one_request) {
        single = parse(options.words);
        if (!single) {
            std::fputs(dcu::host::usage_text().c_str(), stderr);
            return kUsageError;
        }
    }

    // Answers keep the real standard output; everything the library prints
    // there goes to standard error instead.
    const int answer_fd = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    dcu::host::set_answer_sink([answer_fd](std::string_view text) {
        while (!text.empty()) {
            ssize_t written = ::write(answer_fd, text.data(), text.size());
            if (written <= 0) return -1;
            text.remove_prefix(static_cast<std::size_t>(written));
        }
        return 0;
    });

    g_store = {options.store_host, options.store_port, options.mode != Mode::one_request};
    if (redis_init(options.store_host.c_str(), options.store_port) != 0)
        std::fprintf(stderr, "dcuhost: no store at %s:%u; answers carry no store data\n", options.store_host.c_str(),
                     options.store_port);

    Timings timings(options.timings_path);
    int exit_status = 0;
    try {
        switch (options.mode) {
        case Mode::one_request: answer(*single, timings); break;
        case Mode::from_stdin: exit_status = answer_stdin(timings) ? 0 : kUsageError; break;
        case Mode::mqtt: exit_status = serve_broker(options, timings); break;
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "dcuhost: %s\n", error.what());
        exit_status = 1;
    }

    if (p_redis_handler != nullptr) redisFree(p_redis_handler);
    p_redis_handler = nullptr;
    ::close(answer_fd);
    return exit_status;
}
