// End-to-end benchmark: a private store, a unit simulated by metersim, and
// every scenario answered by one `dcuhost --stdin` session, beside floors
// measured in the same run:
//
//   (a) a billing answer filling about 90% of json_text   floor: 1 round trip + 1 file read + 1 answer copy
//       (1100 records of 20 columns, 10 chosen: metersim's values are longer
//       than 2000 records of 10 would allow)
//   (b) an instantaneous answer, 255 readings, 255 chosen floor: 3 round trips
//   (c) the meter list                                     floor: 1 round trip
//   (d) the communication status of 20 meters              floor: 3 round trips
//   (e) the bill list of a directory of 200 entries        floor: 1 directory scan + 1 round trip
//   (f) one cfgload run (a process of its own)             reported without a floor
//
// Times are medians per request. With --callgrind, each scenario's
// instructions per request are counted by valgrind: only from the entry of
// the scenario's handler to its return (dcuhost's reading of the request
// and its start-up are not the answer's cost), in two runs of different
// lengths, so that what only a first call pays (the binding of library
// symbols, the first allocations) cancels out. --gate FILE compares those
// counts with the ones kept in FILE (bench/instructions.txt) and fails on
// growth; --record FILE writes them there. With --memory, the peak heap of
// scenario (a) (massif) and the resident size after 100 and 10,000 mixed
// requests.
#include <dirent.h>
#include <fcntl.h>
#include <gnu/libc-version.h>
#include <hiredis/hiredis.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/unit_keys.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
namespace keys = dcu::unit_keys;
using dcu::test::run_program;
using dcu::test::RunOptions;
using Clock = std::chrono::steady_clock;

struct Settings {
    int requests = 200;
    bool callgrind = false;
    bool memory = false;
    std::string callgrind_out;  // a directory for the callgrind files of the longer runs
    std::string gate;           // the counts to compare with
    std::string record;         // where to write the counts
};

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median microseconds of `rounds` calls of fn.
double time_median(int rounds, const std::function<void()> &fn) {
    std::vector<double> micros;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        fn();
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return median(micros);
}

void check(bool ok, const std::string &what) {
    if (ok) return;
    std::fprintf(stderr, "e2e_bench: %s\n", what.c_str());
    std::exit(1);
}

using Command = std::vector<std::string>;
using Phase = std::vector<Command>;  // commands sent together, one round trip

struct Scenario {
    std::string name;
    std::string word;     // dcuhost's request word, as --timings records it
    std::string entry;    // the library's entry point that answers it
    std::string request;  // one request line
    double floor_us = 0;
    std::string floor_text;
    std::vector<Phase> store_phases;  // the answer's own store commands
    double store_us = 0;              // those commands sent from a bare client
};

class Bench {
public:
    explicit Bench(Settings settings) : settings_(settings) {
        store_.start();
        client_ = std::make_unique<dcu::test::StoreClient>(store_.port());
        env_.env["DCU_ROOT"] = root_.path().string();
        env_.env["DCU_REDIS_PORT"] = std::to_string(store_.port());
    }

    void run() {
        prepare_unit();
        measure_floors();
        std::printf("%-58s %10s %10s %7s %12s %7s\n", "scenario", "median us", "floor us", "ratio", "store us", "ratio");
        const auto medians = session_medians();
        for (const auto &scenario : scenarios_) {
            const double took = medians.at(scenario.word);
            std::printf("%-58s %10.1f %10.1f %6.2fx %12.1f %6.2fx   (floor: %s)\n", scenario.name.c_str(), took,
                        scenario.floor_us, took / scenario.floor_us, scenario.store_us, took / scenario.store_us,
                        scenario.floor_text.c_str());
        }
        std::printf("(store us: the answer's own store commands, in its phases, from a bare client; for (a) and (e)\n"
                    " plus the file read or directory scan of the floor)\n");
        const double cfgload_us = time_median(31, [&] { check(run_program({CFGLOAD_PATH}, env_).exit_code == 0, "cfgload failed"); });
        // cfgload rewrote the configuration: serial meters, five on every port, again.
        serial_meters_everywhere();
        std::printf("%-58s %12.1f %12s\n", "(f) one cfgload run, as a process", cfgload_us, "-");
        std::printf("\nfloors: round trip %.1f us, read of the billing file (%zu bytes) %.1f us, copy of a %zu-byte answer %.1f us,"
                    " scan of the 200-entry directory %.1f us\n",
                    rtt_us_, billing_size_, file_read_us_, answer_size_, answer_copy_us_, dir_scan_us_);
        if (settings_.callgrind) {
            const auto counts = instructions();
            if (!settings_.record.empty()) record_counts(counts);
            if (!settings_.gate.empty()) gate_passed_ = gate(counts);
        }
        if (settings_.memory) memory();
    }

    bool gate_passed() const noexcept { return gate_passed_; }

private:
    fs::path unit(const std::string &path) const { return root_ / path; }

    void serial_meters_everywhere() {
        client_->hset(keys::kGeneralInfo, keys::kMeterTypeField, "1");
        for (int port = 0; port < 4; ++port)
            client_->hset(keys::Key(keys::kSerialMeterInfo, port).str(), keys::kNumMetersField, "5");
    }

    void prepare_unit() {
        // The sample unit's record, for the cfgload runs of (f).
        fs::create_directories(unit("/usr/tev/log"));
        fs::create_directories(unit("/usr/tev/config"));
        check(run_program({CFGTOOL_PATH, "encode", SAMPLE_UNIT_JSON, "-o", unit("/usr/tev/config/dlms_api_config.cfg").string()})
                      .exit_code == 0,
              "cfgtool encode failed");
        // Configuration as cfgload publishes it: serial meters, five on every port.
        serial_meters_everywhere();
        // 20 meters; billing files of 2000 records of 20 columns, 10 of them chosen;
        // 255 instantaneous readings a meter.
        // 1100 records of these values fill about 90% of json_text.
        auto sim = run_program({METERSIM_PATH, "--meters", "20", "--records", "1100", "--columns", "20", "--selected", "10",
                                "--inst", "255", "--events", "1", "--months", "1", "--ls-files", "1", "--od-files", "1"},
                               env_);
        check(sim.exit_code == 0, "metersim failed: " + sim.err);
        serial_ = client_->hget(keys::Key(keys::kSerialNumber, 0, 0).str(), keys::kSerialNumberField).value_or("");
        // All 255 readings of the meter chosen, in the meter's own order.
        std::ostringstream inst;
        inst << "\"InstParams\":\n{\n\"NumParams\":\"255\",\n\"ObisCodeList\":\n[\n";
        const std::string readings_key = keys::Key(keys::kInstantReadings, 0, 0).str();
        for (int k = 1; k <= 255; ++k) {
            const auto code = client_->hget(readings_key, keys::Key(keys::kReadingObisField, k).str()).value_or("");
            inst << "{\"obis\":\"" << code << "\",\"assign\":\"Reading " << k << "\"}" << (k < 255 ? ",\n" : "\n");
        }
        inst << "]\n}\n";
        dcu::test::write_file(unit("/srv/www/htdocs/user_inst_obis_det.json"), inst.str());
        // A meter directory of 200 entries for the bill list.
        const fs::path directory = unit("/usr/tev/data/DlmsData/meter_id_1");
        auto entries = static_cast<int>(std::distance(fs::directory_iterator(directory), fs::directory_iterator{}));
        for (int k = 0; entries < 200; ++k, ++entries)
            dcu::test::write_file(directory / ("billing_extra_" + std::to_string(k)), "0.0.1.0.0.255\n");
        billing_path_ = unit("/usr/tev/data/DlmsData/meter_id_0/billing");
        billing_size_ = fs::file_size(billing_path_);
        dir_path_ = directory;
        const std::string serial_1 =
            client_->hget(keys::Key(keys::kSerialNumber, 0, 1).str(), keys::kSerialNumberField).value_or("");
        // The answers' own commands, phase by phase, as the handlers send them.
        Phase lookup, readings{{"HMGET", readings_key, keys::kReadingCountField}}, all_readings,
            type{{"hmget", keys::kGeneralInfo, keys::kMeterTypeField}}, counts, statuses;
        for (int position = 0; position < 20; ++position) {
            const int port = position / 5, meter = position % 5;
            lookup.push_back({"HMGET", keys::Key(keys::kSerialNumber, port, meter).str(), keys::kSerialNumberField});
            statuses.push_back({"HMGET", keys::Key(keys::kSerialStatus, port, meter).str(), keys::kStatusField});
        }
        for (int k = 1; k <= 255; ++k)
            all_readings.push_back({"HMGET", readings_key, keys::Key(keys::kReadingObisField, k).str(),
                                    keys::Key(keys::kReadingValueField, k).str()});
        all_readings.push_back({"HMGET", keys::Key(keys::kSerialStatus, 0, 0).str(), keys::kStatusField});
        for (int port = 0; port < 4; ++port)
            counts.push_back({"hmget", keys::Key(keys::kSerialMeterInfo, port).str(), keys::kNumMetersField});
        scenarios_ = {
            {"(a) billing answer, 1100 records of 20 columns, 10 chosen", "billing", "send_od_billing_det",
             "billing 1 " + serial_, 0, "", {lookup}, 0},
            {"(b) instantaneous answer, 255 readings, 255 chosen", "inst", "send_od_inst_det", "inst 2 " + serial_, 0, "",
             {lookup, readings, all_readings}, 0},
            {"(c) meter list", "meters", "send_met_ser_num_det", "meters 3", 0, "", {lookup}, 0},
            {"(d) communication status of 20 meters", "commn", "send_commn_status_det", "commn 4", 0, "",
             {type, counts, statuses}, 0},
            {"(e) bill list of a directory of 200 entries", "files bill", "send_bill_file_list_det",
             "files bill 5 " + serial_1, 0, "", {lookup}, 0},
        };
    }

    void measure_floors() {
        dcu::test::UniqueContext context(redisConnect("127.0.0.1", store_.port()));
        rtt_us_ = time_median(2000, [&] {
            dcu::test::UniqueReply reply(static_cast<redisReply *>(redisCommand(context.get(), "PING")));
        });
        std::vector<char> content(billing_size_ + 1);
        file_read_us_ = time_median(500, [&] {
            const int fd = ::open(billing_path_.c_str(), O_RDONLY);
            std::size_t got = 0;
            for (ssize_t n; (n = ::read(fd, content.data() + got, content.size() - got)) > 0;) got += static_cast<std::size_t>(n);
            ::close(fd);
        });
        // The answer's size, from one billing answer.
        auto one = run_program({DCUHOST_PATH, "billing", "1", serial_}, env_);
        answer_size_ = one.out.size();
        std::vector<char> from(answer_size_ + 1, 'x'), to(answer_size_ + 1);
        answer_copy_us_ = time_median(2000, [&] {
            std::memcpy(to.data(), from.data(), answer_size_);
            asm volatile("" : : "r"(to.data()) : "memory");
        });
        dir_scan_us_ = time_median(500, [&] {
            DIR *dir = ::opendir(dir_path_.c_str());
            while (::readdir(dir) != nullptr) {
            }
            ::closedir(dir);
        });
        for (auto &scenario : scenarios_) {
            scenario.store_us = phases_median(context.get(), scenario.store_phases);
            if (scenario.word == "billing") scenario.store_us += file_read_us_;
            if (scenario.word == "files bill") scenario.store_us += dir_scan_us_;
            if (scenario.word == "billing") {
                scenario.floor_us = rtt_us_ + file_read_us_ + answer_copy_us_;
                scenario.floor_text = "1 round trip + 1 file read + 1 answer copy";
            } else if (scenario.word == "inst" || scenario.word == "commn") {
                scenario.floor_us = 3 * rtt_us_;
                scenario.floor_text = "3 round trips";
            } else if (scenario.word == "meters") {
                scenario.floor_us = rtt_us_;
                scenario.floor_text = "1 round trip";
            } else {
                scenario.floor_us = dir_scan_us_ + rtt_us_;
                scenario.floor_text = "1 directory scan + 1 round trip";
            }
        }
    }

    // Median time of sending each phase's commands together and reading their replies.
    static double phases_median(redisContext *context, const std::vector<Phase> &phases) {
        return time_median(300, [&] {
            for (const auto &phase : phases) {
                for (const auto &command : phase) {
                    std::vector<const char *> argv;
                    std::vector<std::size_t> lengths;
                    for (const auto &arg : command) {
                        argv.push_back(arg.c_str());
                        lengths.push_back(arg.size());
                    }
                    redisAppendCommandArgv(context, static_cast<int>(argv.size()), argv.data(), lengths.data());
                }
                for (std::size_t i = 0; i < phase.size(); ++i) {
                    void *reply = nullptr;
                    if (redisGetReply(context, &reply) == REDIS_OK) freeReplyObject(reply);
                }
            }
        });
    }

    std::string requests(const Scenario &scenario, int count) const {
        std::string lines;
        for (int i = 0; i < count; ++i) lines += scenario.request + "\n";
        return lines;
    }

    // One session answering every scenario in turn; the median of each.
    std::map<std::string, double> session_medians() {
        std::string input;
        for (const auto &scenario : scenarios_) input += requests(scenario, settings_.requests);
        const fs::path timings = root_ / "timings.txt";
        RunOptions options = env_;
        options.stdin_text = input;
        auto result = run_program({DCUHOST_PATH, "--stdin", "--timings", timings.string()}, options);
        check(result.exit_code == 0, "dcuhost failed: " + result.err.substr(0, 2000));
        std::map<std::string, std::vector<double>> samples;
        std::ifstream in(timings);
        for (std::string line; std::getline(in, line);) {
            // "<word...> <micros> <rss>"
            const auto last = line.rfind(' '), middle = line.rfind(' ', last - 1);
            samples[line.substr(0, middle)].push_back(std::stod(line.substr(middle + 1, last - middle - 1)));
        }
        std::map<std::string, double> medians;
        for (auto &[word, values] : samples) medians[word] = median(values);
        return medians;
    }

    // Instructions counted inside the scenario's handler, from its entry to
    // its return, over a dcuhost run of `count` requests of the scenario.
    long long callgrind_total(const Scenario &scenario, int count, const fs::path &out) {
        RunOptions options = env_;
        options.stdin_text = requests(scenario, count);
        options.timeout = std::chrono::minutes(10);
        auto result = run_program({"valgrind", "--tool=callgrind", "--collect-atstart=no",
                                   "--toggle-collect=" + scenario.entry, "--callgrind-out-file=" + out.string(),
                                   DCUHOST_PATH, "--stdin"},
                                  options);
        check(result.exit_code == 0, "valgrind failed: " + result.err.substr(0, 2000));
        std::ifstream in(out);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("summary:", 0) == 0 || line.rfind("totals:", 0) == 0) return std::stoll(line.substr(line.find(':') + 1));
        return 0;
    }

    // Instructions per request of each scenario: runs of 1 and 11 requests,
    // the difference over 10.
    std::map<std::string, long long> instructions() {
        std::printf("\n%-58s %16s\n", "instructions per request (callgrind, inside the handler)", "instructions");
        std::map<std::string, long long> counts;
        for (const auto &scenario : scenarios_) {
            const std::string letter = scenario_letter(scenario);
            const fs::path kept = settings_.callgrind_out.empty()
                                      ? root_ / "callgrind.out"
                                      : fs::path(settings_.callgrind_out) / ("callgrind." + letter + ".out");
            const long long one = callgrind_total(scenario, 1, root_ / "callgrind.out");
            const long long eleven = callgrind_total(scenario, 11, kept);
            counts[letter] = (eleven - one) / 10;
            std::printf("%-58s %16lld\n", scenario.name.c_str(), counts[letter]);
        }
        return counts;
    }

    // "a" of "(a) billing answer ...".
    static std::string scenario_letter(const Scenario &scenario) { return scenario.name.substr(1, 1); }

    std::string toolchain() const {
        return std::string("compiler ") + DCU_COMPILER + "\nglibc " + gnu_get_libc_version() + "\nhiredis " +
               std::to_string(HIREDIS_MAJOR) + "." + std::to_string(HIREDIS_MINOR) + "." +
               std::to_string(HIREDIS_PATCH) + "\nvalgrind " + valgrind_version() + "\n";
    }

    static std::string valgrind_version() {
        auto result = run_program({"valgrind", "--version"});
        std::string version = result.out.substr(0, result.out.find('\n'));
        return version.rfind("valgrind-", 0) == 0 ? version.substr(9) : version;
    }

    void record_counts(const std::map<std::string, long long> &counts) const {
        std::ofstream out(settings_.record);
        out << "# Instructions per request of each e2e_bench scenario, counted by callgrind inside the\n"
               "# handler (from its entry to its return), with the versions below. The gate\n"
               "# (scripts/check-instructions.sh) fails when a scenario costs more than 5% above its\n"
               "# count here, and only reports when its versions differ from these. Written by\n"
               "# e2e_bench --callgrind --record bench/instructions.txt; a change that moves a count on\n"
               "# purpose updates this file in the same commit and says why.\n";
        out << toolchain();
        for (const auto &scenario : scenarios_)
            out << "scenario " << scenario_letter(scenario) << " " << counts.at(scenario_letter(scenario)) << "  "
                << scenario.name.substr(4) << "\n";
        check(out.good(), "can't write " + settings_.record);
        std::printf("\ncounts written to %s\n", settings_.record.c_str());
    }

    // Compares the counts with the gate's file; false when a scenario grew
    // by more than 5% under the same versions.
    bool gate(const std::map<std::string, long long> &counts) const {
        std::ifstream in(settings_.gate);
        check(in.good(), "can't read " + settings_.gate);
        std::string kept_toolchain;
        std::map<std::string, long long> kept;
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream words(line);
            std::string what;
            words >> what;
            if (what == "scenario") {
                std::string letter;
                long long count = 0;
                words >> letter >> count;
                kept[letter] = count;
            } else {
                kept_toolchain += line + "\n";
            }
        }
        const std::string here = toolchain();
        const bool same_toolchain = here == kept_toolchain;
        constexpr double kAllowedGrowth = 0.05;
        std::printf("\n%-58s %12s %12s %8s\n", "instruction gate", "kept", "now", "change");
        bool grown = false;
        for (const auto &scenario : scenarios_) {
            const std::string letter = scenario_letter(scenario);
            const auto found = kept.find(letter);
            check(found != kept.end() && found->second > 0, settings_.gate + " has no count for (" + letter + ")");
            const double change = static_cast<double>(counts.at(letter)) / static_cast<double>(found->second) - 1;
            const bool too_much = change > kAllowedGrowth;
            grown = grown || too_much;
            std::printf("%-58s %12lld %12lld %+7.1f%%%s\n", scenario.name.c_str(), found->second, counts.at(letter),
                        100 * change, too_much ? "  more than +5%" : "");
        }
        if (!same_toolchain) {
            std::printf("versions differ from %s's, counts reported, not checked:\n-- kept\n%s-- here\n%s",
                        settings_.gate.c_str(), kept_toolchain.c_str(), here.c_str());
            return true;
        }
        std::printf(grown ? "instruction gate: FAILED (a scenario grew by more than 5%%)\n" : "instruction gate: passed\n");
        return !grown;
    }

    void memory() {
        // Peak heap of one billing answer, with massif, beside that of the
        // smallest answer (the meter list): the difference is what the billing
        // answer itself needs, apart from what the process holds anyway.
        const auto massif_peak = [&](const std::vector<std::string> &request) {
            const fs::path out = root_ / "massif.out";
            RunOptions options = env_;
            options.timeout = std::chrono::minutes(5);
            std::vector<std::string> argv{"valgrind", "--tool=massif", "--massif-out-file=" + out.string(), DCUHOST_PATH};
            argv.insert(argv.end(), request.begin(), request.end());
            check(run_program(argv, options).exit_code == 0, "massif failed");
            long long peak = 0;
            std::ifstream in(out);
            for (std::string line; std::getline(in, line);)
                if (line.rfind("mem_heap_B=", 0) == 0) peak = std::max(peak, std::stoll(line.substr(11)));
            return peak;
        };
        const long long billing_peak = massif_peak({"billing", "1", serial_});
        const long long baseline_peak = massif_peak({"meters", "1"});
        std::printf("\npeak heap of (a): %lld bytes, of which %lld beyond the meter list's %lld; the billing file is %zu "
                    "bytes; target: at most %zu\n",
                    billing_peak, billing_peak - baseline_peak, baseline_peak, billing_size_, billing_size_ + 65536);
        RunOptions options = env_;

        // Resident size after 100 and after 10,000 mixed requests in one session.
        std::string input;
        for (int i = 0; i < 10000; ++i) input += scenarios_[static_cast<std::size_t>(i) % scenarios_.size()].request + "\n";
        const fs::path timings = root_ / "mixed.txt";
        options.stdin_text = input;
        options.timeout = std::chrono::minutes(10);
        auto result = run_program({DCUHOST_PATH, "--stdin", "--timings", timings.string()}, options);
        check(result.exit_code == 0, "mixed session failed");
        std::vector<long> rss;
        std::ifstream lines(timings);
        for (std::string line; std::getline(lines, line);) rss.push_back(std::stol(line.substr(line.rfind(' ') + 1)));
        check(rss.size() == 10000, "mixed session answered " + std::to_string(rss.size()) + " requests");
        std::printf("resident size of dcuhost after 100, 1,000, 5,000 and 10,000 mixed requests: %ld, %ld, %ld, %ld kB\n",
                    rss[99], rss[999], rss[4999], rss[9999]);
    }

    Settings settings_;
    dcu::test::PrivateStore store_;
    std::unique_ptr<dcu::test::StoreClient> client_;
    dcu::test::TempDir root_;
    RunOptions env_;
    std::vector<Scenario> scenarios_;
    std::string serial_;
    fs::path billing_path_, dir_path_;
    std::size_t billing_size_ = 0, answer_size_ = 0;
    double rtt_us_ = 0, file_read_us_ = 0, answer_copy_us_ = 0, dir_scan_us_ = 0;
    bool gate_passed_ = true;
};

}  // namespace

int main(int argc, char **argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--callgrind") settings.callgrind = true;
        else if (arg == "--memory") settings.memory = true;
        else if (arg == "--requests" && i + 1 < argc) settings.requests = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--callgrind-out" && i + 1 < argc) settings.callgrind_out = argv[++i];
        else if (arg == "--gate" && i + 1 < argc) settings.gate = argv[++i];
        else if (arg == "--record" && i + 1 < argc) settings.record = argv[++i];
        else {
            std::fprintf(stderr, "usage: e2e_bench [--requests N] [--callgrind [--callgrind-out DIR] [--gate FILE] "
                                 "[--record FILE]] [--memory]\n");
            return 2;
        }
    }
    if (!settings.callgrind && !(settings.gate.empty() && settings.record.empty() && settings.callgrind_out.empty())) {
        std::fprintf(stderr, "e2e_bench: --callgrind-out, --gate and --record count with --callgrind\n");
        return 2;
    }
    Bench bench(settings);
    bench.run();
    return bench.gate_passed() ? 0 : 1;
}
