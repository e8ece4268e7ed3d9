// dcuhost: the reference host communication process. It links the
// request-handler library, connects the store with redis_init, and answers
// requests from its command line or, one per line, from standard input, as a
// head-end session would send them. Answers go to standard output; the
// library's progress lines (which it prints on standard output) and the log
// go to standard error.
#include <hiredis/hiredis.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/paths.hpp"
#include "common/unique_fd.hpp"
#include "host/host_services.hpp"
#include "host/requests.hpp"

namespace {

constexpr int kUsageError = 2;

struct Options {
    std::string store_host{dcu::paths::kStoreAddress};
    std::uint16_t store_port = dcu::paths::store_port();
    bool from_stdin = false;
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

bool parse_store(std::string_view text, Options *options) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    unsigned port = 0;
    const char *begin = text.data() + colon + 1, *end = text.data() + text.size();
    auto [stop, ec] = std::from_chars(begin, end, port);
    if (ec != std::errc{} || stop != end || port == 0 || port > 65535) return false;
    options->store_host.assign(text.substr(0, colon));
    options->store_port = static_cast<std::uint16_t>(port);
    return true;
}

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

void answer(const dcu::host::ParsedRequest &request, Timings &timings) {
    const auto start = std::chrono::steady_clock::now();
    request.spec->call(request.args);
    const auto took = std::chrono::steady_clock::now() - start;
    std::fflush(stdout);
    if (timings.wanted()) timings.record(request.spec->word, took);
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (!options.words.empty()) {
            options.words.emplace_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(dcu::host::usage_text().c_str(), stdout);
            return 0;
        } else if (arg == "--stdin") {
            options.from_stdin = true;
        } else if (arg == "--timings") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "dcuhost: --timings needs FILE\n%s", dcu::host::usage_text().c_str());
                return kUsageError;
            }
            options.timings_path = argv[++i];
        } else if (arg == "--store") {
            if (i + 1 >= argc || !parse_store(argv[++i], &options)) {
                std::fprintf(stderr, "dcuhost: --store needs HOST:PORT\n%s", dcu::host::usage_text().c_str());
                return kUsageError;
            }
        } else if (arg.starts_with("--")) {
            std::fprintf(stderr, "dcuhost: unknown option %s\n%s", argv[i], dcu::host::usage_text().c_str());
            return kUsageError;
        } else {
            options.words.emplace_back(arg);
        }
    }
    if (options.from_stdin == !options.words.empty()) {
        std::fputs(dcu::host::usage_text().c_str(), stderr);
        return kUsageError;
    }

    // A request on the command line is checked before anything else happens.
    std::optional<dcu::host::ParsedRequest> single;
    if (!options.from_stdin) {
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

    if (redis_init(options.store_host.c_str(), options.store_port) != 0)
        std::fprintf(stderr, "dcuhost: no store at %s:%u; answers carry no store data\n", options.store_host.c_str(),
                     options.store_port);

    Timings timings(options.timings_path);
    bool all_valid = true;
    if (options.from_stdin) {
        for (std::string line; std::getline(std::cin, line);) {
            auto words = split_line(line);
            if (words.empty() || words[0].starts_with("#")) continue;
            if (auto request = parse(words)) answer(*request, timings);
            else all_valid = false;
        }
    } else {
        answer(*single, timings);
    }

    if (p_redis_handler != nullptr) redisFree(p_redis_handler);
    p_redis_handler = nullptr;
    ::close(answer_fd);
    return all_valid ? 0 : kUsageError;
}
