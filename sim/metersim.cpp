// metersim: stands in for the unit's meter-reading and modem processes and
// for the web side's selection files, so that the handlers, the demo and the
// benchmarks have a whole unit to answer from.
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/paths.hpp"
#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "sim/unit_model.hpp"
#include "sim/writers.hpp"

namespace {

// The store connection's own lines (connecting, failing to), as they come.
[[gnu::format(printf, 2, 3)]] void log_to_stderr(int /*level*/, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

using dcu::sim::UnitShape;

constexpr int kUsageError = 2;

constexpr const char *kUsage =
    "Usage: metersim [OPTION]...\n"
    "Writes what the unit's meter-reading and modem processes keep (store records\n"
    "and the data tree) and the web side's selection files for 1 to 20 simulated\n"
    "meters, the same for the same seed.\n"
    "\n"
    "  --store HOST:PORT        the store (default 127.0.0.1, port DCU_REDIS_PORT or 6379)\n"
    "  --meters N               serial meters, 1..20 (default 5); position i is\n"
    "                           port i/5, meter i%5, directory meter_id_i\n"
    "  --seed S                 seed of everything drawn (default 1)\n"
    "  --records N              data lines per profile file, 0..10000000 (default 24)\n"
    "  --columns N              header columns per profile file, 1..255 (default 12)\n"
    "  --selected N             parameters per selection section, 0..the columns\n"
    "                           (default 6, or the columns when fewer); InstParams\n"
    "                           selects at most the --inst readings\n"
    "  --inst N                 instantaneous readings per meter, 0..255 (default 16)\n"
    "  --events N               event logs event_1..event_N, 0..255 (default 3)\n"
    "  --months N               daily files dp_MM_YYYY, 0..240 (default 2)\n"
    "  --ls-files N             load-survey files per meter, 0..3650 (default 3)\n"
    "  --od-files N             on-demand load-survey files per meter, 0..1000 (default 2)\n"
    "  --eth-meters N           Ethernet meter statuses, 0..10 (default 0)\n"
    "  --bill-dirs-entries N    extra copies billing_1..billing_N of the billing file\n"
    "                           per meter, 0..100000 (default 0)\n"
    "  --unit-paths             write the real unit paths although DCU_ROOT is not set\n"
    "  --help                   this text\n"
    "\n"
    "With DCU_ROOT set, every path is under it: the data tree /usr/tev/data/DlmsData,\n"
    "the selection files /srv/www/htdocs/user_*_obis_det.json. Without DCU_ROOT,\n"
    "metersim refuses to run unless --unit-paths is given: it removes meter directories.\n"
    "Exit status: 0 done, 1 the store can't be reached or a write failed, 2 usage error.\n";

struct Options {
    UnitShape shape;
    bool unit_paths = false;  // --unit-paths: writing the real unit paths is meant
    std::string store_host = std::string(dcu::paths::kStoreAddress);
    std::uint16_t store_port = dcu::paths::store_port();
    bool selected_given = false;
    bool help = false;
};

struct NumberOption {
    std::string_view name;
    long long lo;
    long long hi;
    std::function<void(Options &, long long)> set;
};

const std::vector<NumberOption> &number_options() {
    static const std::vector<NumberOption> options = {
        {"--meters", 1, dcu::sim::kSerialPositions, [](Options &o, long long v) { o.shape.meters = static_cast<int>(v); }},
        {"--records", 0, 10000000, [](Options &o, long long v) { o.shape.records = static_cast<long>(v); }},
        {"--columns", 1, 255, [](Options &o, long long v) { o.shape.columns = static_cast<int>(v); }},
        {"--selected", 0, 255,
         [](Options &o, long long v) {
             o.shape.selected = static_cast<int>(v);
             o.selected_given = true;
         }},
        {"--inst", 0, 255, [](Options &o, long long v) { o.shape.inst = static_cast<int>(v); }},
        {"--events", 0, 255, [](Options &o, long long v) { o.shape.events = static_cast<int>(v); }},
        {"--months", 0, 240, [](Options &o, long long v) { o.shape.months = static_cast<int>(v); }},
        {"--ls-files", 0, 3650, [](Options &o, long long v) { o.shape.ls_files = static_cast<int>(v); }},
        {"--od-files", 0, 1000, [](Options &o, long long v) { o.shape.od_files = static_cast<int>(v); }},
        {"--eth-meters", 0, dcu::sim::kEthernetSlots,
         [](Options &o, long long v) { o.shape.eth_meters = static_cast<int>(v); }},
        {"--bill-dirs-entries", 0, 100000, [](Options &o, long long v) { o.shape.bill_copies = static_cast<int>(v); }},
    };
    return options;
}

template <typename Number>
std::optional<Number> whole_number(std::string_view text) {
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool usage_error(const std::string &message) {
    std::fprintf(stderr, "metersim: %s\nTry 'metersim --help'.\n", message.c_str());
    return false;
}

bool parse_store(Options &options, std::string_view value) {
    const std::size_t colon = value.rfind(':');
    const auto port = colon == std::string_view::npos ? std::nullopt : whole_number<unsigned>(value.substr(colon + 1));
    if (colon == 0 || !port || *port == 0 || *port > 65535)
        return usage_error("--store wants HOST:PORT with a port from 1 to 65535, got '" + std::string(value) + "'");
    options.store_host = std::string(value.substr(0, colon));
    options.store_port = static_cast<std::uint16_t>(*port);
    return true;
}

bool apply(Options &options, std::string_view name, std::string_view value) {
    if (name == "--store") return parse_store(options, value);
    if (name == "--seed") {
        const auto seed = whole_number<std::uint64_t>(value);
        if (!seed) return usage_error("--seed wants a whole number from 0 to 18446744073709551615, got '" +
                                      std::string(value) + "'");
        options.shape.seed = *seed;
        return true;
    }
    for (const NumberOption &option : number_options()) {
        if (option.name != name) continue;
        const auto number = whole_number<long long>(value);
        if (!number || *number < option.lo || *number > option.hi)
            return usage_error(std::string(name) + " wants a whole number from " + std::to_string(option.lo) + " to " +
                               std::to_string(option.hi) + ", got '" + std::string(value) + "'");
        option.set(options, *number);
        return true;
    }
    return usage_error("unknown option '" + std::string(name) + "'");
}

bool takes_value(std::string_view name) {
    if (name == "--store" || name == "--seed") return true;
    for (const NumberOption &option : number_options())
        if (option.name == name) return true;
    return false;
}

std::optional<Options> parse(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == "--help") {
            options.help = true;
            continue;
        }
        if (word == "--unit-paths") {
            options.unit_paths = true;
            continue;
        }
        if (!word.starts_with("-")) {
            usage_error("unexpected argument '" + std::string(word) + "'");
            return std::nullopt;
        }
        std::string_view name = word;
        std::optional<std::string_view> value;
        if (const std::size_t equals = word.find('='); equals != std::string_view::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        }
        if (!takes_value(name)) {
            usage_error("unknown option '" + std::string(name) + "'");
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= argc) {
                usage_error("option '" + std::string(name) + "' needs a value");
                return std::nullopt;
            }
            value = argv[++i];
        }
        if (!apply(options, name, *value)) return std::nullopt;
    }
    UnitShape &shape = options.shape;
    if (!options.selected_given) shape.selected = std::min(shape.selected, shape.columns);
    if (shape.selected > shape.columns) {
        usage_error("--selected " + std::to_string(shape.selected) + " is more than the " +
                    std::to_string(shape.columns) + " columns");
        return std::nullopt;
    }
    return options;
}

void print_summary(const Options &options, const dcu::sim::UnitModel &unit) {
    const UnitShape &shape = unit.shape;
    std::printf("metersim: seed %llu, %d meters, %d Ethernet meters, store %s:%u\n",
                static_cast<unsigned long long>(shape.seed), shape.meters, shape.eth_meters,
                options.store_host.c_str(), static_cast<unsigned>(options.store_port));
    std::printf("store: SerNum, inst_info (%d readings), SerPort status, OdLsFile (%d names) per meter; %s\n",
                shape.inst, shape.od_files, dcu::unit_keys::kModemDiag);
    std::printf("data: %s: billing, %d dp, %d event, %d load-survey, %d od, %d billing_N files per meter; "
                "%ld records of %d columns\n",
                dcu::paths::on_unit(dcu::paths::kDataRoot).c_str(), shape.months, shape.events, shape.ls_files,
                shape.od_files, shape.bill_copies, shape.records, shape.columns);
    std::printf("selection: %s/user_{event,bill,dp,ls,inst}_obis_det.json: %zu parameters a section, %zu InstParams\n",
                dcu::paths::on_unit(dcu::paths::kWebRoot).c_str(), unit.profile(dcu::sim::ProfileKind::billing).selection.size(),
                unit.inst_selection.size());
    for (const dcu::sim::Meter &meter : unit.meters)
        std::printf("%s port %d meter %d %s status %d\n", meter.dir_name().c_str(), meter.port, meter.meter,
                    meter.serial.c_str(), meter.comm_status);
}

}  // namespace

int main(int argc, char **argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) return kUsageError;
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // A stand-in must never wipe a real unit's data by accident.
    if (dcu::paths::root().empty() && !options->unit_paths) {
        std::fprintf(stderr,
                     "metersim: DCU_ROOT is not set: refusing to rewrite the unit's own /usr/tev and /srv/www\n"
                     "(set DCU_ROOT to a scratch directory, or pass --unit-paths to mean it)\n");
        return kUsageError;
    }
    const dcu::sim::UnitModel unit = dcu::sim::build_unit(options->shape);

    // The store first: when it can't be reached, nothing is written at all.
    dcu::store::OwnedConnection store(log_to_stderr);
    if (store.connect(options->store_host.c_str(), options->store_port, dcu::store::PendingReply::keep) != 0) {
        std::fprintf(stderr, "metersim: can't reach the store at %s:%u\n", options->store_host.c_str(),
                     static_cast<unsigned>(options->store_port));
        return 1;
    }
    const bool written = dcu::sim::write_store_records(store, unit) && dcu::sim::write_data_tree(unit) &&
                         dcu::sim::write_selection_files(unit);
    store.close();
    if (!written) return 1;
    print_summary(*options, unit);
    return 0;
}
