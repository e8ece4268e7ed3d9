// metersim run as a program against a private store, writing a scratch unit
// under DCU_ROOT: the contracts the handlers rely on.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/strict_json.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using dcu::test::read_file;
using dcu::test::RunResult;
using dcu::test::TempDir;

using Lines = std::vector<std::string>;
using Fields = std::vector<std::string>;

const std::regex kObisCode(R"(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})");
const std::regex kTimeStamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})");
const std::regex kDecimal(R"(-?\d+(\.\d+)?)");

// kDecimal without the regex machinery, for the many values of big files.
bool is_decimal(std::string_view text) {
    if (text.starts_with('-')) text.remove_prefix(1);
    const auto digits = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos) return digits(text);
    return digits(text.substr(0, point)) && digits(text.substr(point + 1));
}
const std::regex kSerial(R"(SN\d{8})");
constexpr const char *kClockCode = "0.0.1.0.0.255";
constexpr const char *kEventCode = "0.0.96.11.0.255";

Fields split(const std::string &line, char separator) {
    Fields fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) fields.push_back(field);
    if (!line.empty() && line.back() == separator) fields.emplace_back();
    return fields;
}

// The lines of a file whose every line ends with "\n".
Lines lines_of(const std::string &content) {
    EXPECT_TRUE(!content.empty() && content.back() == '\n') << "last line not ended";
    Lines lines = split(content, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

std::string key(const char *prefix, int position, const char *suffix) {
    return prefix + std::to_string(position / 5) + "Met" + std::to_string(position % 5) + suffix;
}

class Metersim : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        store_ = std::make_unique<dcu::test::PrivateStore>();
        store_->start();
    }
    static void TearDownTestSuite() { store_.reset(); }
    void SetUp() override {
        client_ = std::make_unique<dcu::test::StoreClient>(store_->port());
        client_->flushall();
    }

    dcu::test::StoreClient &client() { return *client_; }
    std::string store_address() const { return "127.0.0.1:" + std::to_string(store_->port()); }

    // metersim with the suite's store and root as DCU_ROOT.
    RunResult run(const TempDir &root, const std::vector<std::string> &args) const {
        std::vector<std::string> argv = {METERSIM_PATH, "--store", store_address()};
        argv.insert(argv.end(), args.begin(), args.end());
        dcu::test::RunOptions options;
        options.env["DCU_ROOT"] = root.path().string();
        return dcu::test::run_program(argv, options);
    }

    static fs::path data_root(const TempDir &root) { return root / "/usr/tev/data/DlmsData"; }
    static fs::path meter_dir(const TempDir &root, int position) {
        return data_root(root) / ("meter_id_" + std::to_string(position));
    }

    // Every field of every key of the store.
    std::map<std::string, std::map<std::string, std::string>> store_dump() {
        std::map<std::string, std::map<std::string, std::string>> dump;
        for (const std::string &name : client().keys()) dump[name] = client().hgetall(name);
        return dump;
    }

    static std::unique_ptr<dcu::test::PrivateStore> store_;
    std::unique_ptr<dcu::test::StoreClient> client_;
};

std::unique_ptr<dcu::test::PrivateStore> Metersim::store_;

// Every file under dir, by its path relative to dir.
std::map<std::string, std::string> tree_of(const fs::path &dir) {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), dir).string()] = read_file(entry.path());
    return files;
}

Fields header_of(const fs::path &file) { return split(lines_of(read_file(file)).at(0), '\t'); }

TEST_F(Metersim, StoreHoldsExactlyTheRecordsOfTheAskedMeters) {
    // Left over from a bigger unit: all of it must go.
    client().hset("Port3Met4SerNum", "SER_NUM", "SN99999999");
    client().hset("Port0Met0inst_info", "Obis_40", "1.0.1.8.0.255");
    client().hset("SerPort2Met0Status", "VALUE", "1");
    client().hset("Port1Met2OdLsFile", "File9", "stale");
    client().hset("EthPort0Met9Status", "VALUE", "1");
    TempDir root;
    const RunResult result =
        run(root, {"--meters", "7", "--seed", "5", "--inst", "20", "--eth-meters", "3", "--od-files", "3"});
    ASSERT_EQ(result.exit_code, 0) << result.err;

    std::set<std::string> expected_keys = {"MODEM_DIAG_INFO"};
    std::set<std::string> serials;
    for (int position = 0; position < 7; ++position) {
        SCOPED_TRACE("position " + std::to_string(position));
        const std::string serial = client().hget(key("Port", position, "SerNum"), "SER_NUM").value_or("");
        EXPECT_TRUE(std::regex_match(serial, kSerial)) << serial;
        serials.insert(serial);
        // The summary names each meter with its place and serial number.
        EXPECT_NE(result.out.find("meter_id_" + std::to_string(position) + " port " + std::to_string(position / 5) +
                                  " meter " + std::to_string(position % 5) + " " + serial + " "),
                  std::string::npos)
            << result.out;

        const auto inst = client().hgetall(key("Port", position, "inst_info"));
        EXPECT_EQ(inst.size(), 41u);
        EXPECT_EQ(inst.count("NUM_PARAM") ? inst.at("NUM_PARAM") : "", "20");
        for (int k = 1; k <= 20; ++k) {
            const std::string obis = inst.count("Obis_" + std::to_string(k)) ? inst.at("Obis_" + std::to_string(k)) : "";
            const std::string value = inst.count("Value_" + std::to_string(k)) ? inst.at("Value_" + std::to_string(k)) : "";
            EXPECT_TRUE(std::regex_match(obis, kObisCode)) << k << ": " << obis;
            EXPECT_TRUE(std::regex_match(value, k == 1 ? kTimeStamp : kDecimal)) << k << ": " << value;
        }
        EXPECT_EQ(inst.count("Obis_1") ? inst.at("Obis_1") : "", kClockCode);

        const auto status = client().hget(key("SerPort", position, "Status"), "VALUE");
        EXPECT_TRUE(status == "0" || status == "1" || status == "2") << status.value_or("(none)");

        // The on-demand names are the files of the meter's od directory.
        std::set<std::string> od_files;
        for (const auto &entry : fs::directory_iterator(meter_dir(root, position) / "od"))
            od_files.insert(entry.path().filename().string());
        std::set<std::string> od_names;
        for (const auto &[field, value] : client().hgetall(key("Port", position, "OdLsFile"))) od_names.insert(value);
        EXPECT_EQ(od_names.size(), 3u);
        EXPECT_EQ(od_names, od_files);

        expected_keys.insert({key("Port", position, "SerNum"), key("Port", position, "inst_info"),
                              key("SerPort", position, "Status"), key("Port", position, "OdLsFile")});
    }
    EXPECT_EQ(serials.size(), 7u) << "serial numbers repeat";
    for (int slot = 0; slot < 3; ++slot) {
        const std::string name = "EthPort0Met" + std::to_string(slot) + "Status";
        const auto status = client().hget(name, "VALUE");
        EXPECT_TRUE(status == "0" || status == "1" || status == "2") << name;
        expected_keys.insert(name);
    }

    const auto modem = client().hgetall("MODEM_DIAG_INFO");
    EXPECT_EQ(modem.size(), 6u);
    const std::pair<const char *, std::regex> modem_forms[] = {
        {"Status", std::regex("Connected")}, {"SignalStrength", std::regex(R"(-\d{2,3})")},
        {"NwType", std::regex(R"(\d)")},     {"RegStatus", std::regex(R"(\d)")},
        {"Operator", std::regex(R"(\S.*)")}, {"IMEI", std::regex(R"(\d{15})")},
    };
    for (const auto &[field, form] : modem_forms) {
        const std::string value = modem.count(field) ? modem.at(field) : "(none)";
        EXPECT_TRUE(std::regex_match(value, form)) << field << ": " << value;
    }

    // Nothing else: no stale positions, no configuration hashes.
    const auto keys = client().keys();
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()), expected_keys);
}

struct TreeCase {
    const char *name;
    std::vector<std::string> args;
    int meters;
    long records;
    std::size_t columns;
    int events, months, ls_files, od_files, billing_copies;
};

TEST_F(Metersim, DataTreeFilesHaveTheAskedShape) {
    const TreeCase cases[] = {
        {"defaults", {}, 5, 24, 12, 3, 2, 3, 2, 0},
        {"header only, one column", {"--meters", "2", "--records", "0", "--columns", "1", "--events", "1",
          "--months", "1", "--ls-files", "1", "--od-files", "0"},
         2, 0, 1, 1, 1, 1, 0, 0},
        {"wide, a year of daily files",
         {"--meters", "2", "--records", "5", "--columns", "255", "--selected", "255", "--events", "2", "--months", "13",
          "--ls-files", "2", "--od-files", "1", "--bill-dirs-entries", "3"},
         2, 5, 255, 2, 13, 2, 1, 3},
        // More bills than 20 years of months, more records than a day has
        // quarter hours and a month has days: still in time order and in
        // the day or month the file is named after.
        {"long", {"--meters", "1", "--records", "250", "--columns", "3", "--events", "1", "--ls-files", "1"},
         1, 250, 3, 1, 2, 1, 2, 0},
    };
    for (const TreeCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        // An earlier run's leftovers: a stray file in a kept directory and a
        // directory of a position the unit no longer has.
        dcu::test::write_file(meter_dir(root, 1) / "stale_file", "x\n");
        dcu::test::write_file(meter_dir(root, 19) / "billing", "x\n");
        const RunResult result = run(root, c.args);
        ASSERT_EQ(result.exit_code, 0) << result.err;

        for (int position = 0; position < 20; ++position)
            EXPECT_EQ(fs::exists(meter_dir(root, position)), position < c.meters) << position;

        std::map<std::string, Fields> header_by_kind;
        for (int position = 0; position < c.meters; ++position) {
            SCOPED_TRACE("meter_id_" + std::to_string(position));
            const fs::path dir = meter_dir(root, position);
            std::vector<std::string> dp, events, load_survey, copies, others;
            for (const auto &entry : fs::directory_iterator(dir)) {
                const std::string name = entry.path().filename().string();
                if (name == "od") continue;
                if (std::regex_match(name, std::regex(R"(dp_\d{2}_\d{4})"))) dp.push_back(name);
                else if (std::regex_match(name, std::regex(R"(event_\d+)"))) events.push_back(name);
                else if (std::regex_match(name, std::regex(R"(\d{4}_\d{2}_\d{2})"))) load_survey.push_back(name);
                else if (std::regex_match(name, std::regex(R"(billing_\d+)"))) copies.push_back(name);
                else others.push_back(name);
            }
            EXPECT_EQ(others, std::vector<std::string>{"billing"});
            EXPECT_EQ(dp.size(), static_cast<std::size_t>(c.months));
            EXPECT_EQ(events.size(), static_cast<std::size_t>(c.events));
            EXPECT_EQ(load_survey.size(), static_cast<std::size_t>(c.ls_files));
            EXPECT_EQ(copies.size(), static_cast<std::size_t>(c.billing_copies));
            for (int type = 1; type <= c.events; ++type)
                EXPECT_TRUE(fs::exists(dir / ("event_" + std::to_string(type)))) << type;
            for (const std::string &copy : copies) EXPECT_EQ(read_file(dir / copy), read_file(dir / "billing"));

            struct Profile {
                fs::path path;
                std::string kind;
                std::string stamp_prefix;  // every time stamp of the file starts with this
            };
            std::vector<Profile> profiles = {{dir / "billing", "billing", ""}};
            for (const std::string &name : dp)  // dp_03_2024: stamps of 2024-03
                profiles.push_back({dir / name, "dp", name.substr(6, 4) + "-" + name.substr(3, 2)});
            for (const std::string &name : events) profiles.push_back({dir / name, "event", ""});
            for (std::string name : load_survey) {
                const fs::path path = dir / name;
                std::replace(name.begin(), name.end(), '_', '-');
                profiles.push_back({path, "ls", name});
            }
            std::size_t od_count = 0;
            for (const auto &entry : fs::directory_iterator(dir / "od")) {
                profiles.push_back({entry.path(), "ls", ""});
                ++od_count;
            }
            EXPECT_EQ(od_count, static_cast<std::size_t>(c.od_files));

            for (const Profile &profile : profiles) {
                SCOPED_TRACE(profile.path.filename().string());
                const std::string content = read_file(profile.path);
                EXPECT_EQ(content.find('\r'), std::string::npos);
                const Lines lines = lines_of(content);
                ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.records) + 1);
                const Fields header = split(lines[0], '\t');
                ASSERT_EQ(header.size(), c.columns);
                EXPECT_EQ(header[0], kClockCode);
                if (profile.kind == "event" && c.columns > 1) {
                    EXPECT_EQ(header[1], kEventCode);
                }
                EXPECT_EQ(std::set<std::string>(header.begin(), header.end()).size(), header.size()) << lines[0];
                for (const std::string &code : header) EXPECT_TRUE(std::regex_match(code, kObisCode)) << code;
                // One header per kind; on-demand files are load-survey files.
                auto [known, fresh] = header_by_kind.try_emplace(profile.kind, header);
                if (!fresh) {
                    EXPECT_EQ(known->second, header);
                }

                std::string previous_stamp;
                for (std::size_t i = 1; i < lines.size(); ++i) {
                    const Fields values = split(lines[i], '\t');
                    ASSERT_EQ(values.size(), header.size()) << "line " << i + 1;
                    EXPECT_TRUE(std::regex_match(values[0], kTimeStamp)) << values[0];
                    EXPECT_TRUE(values[0].starts_with(profile.stamp_prefix)) << values[0];
                    EXPECT_LE(previous_stamp, values[0]) << "records out of time order";
                    previous_stamp = values[0];
                    const auto odd = std::find_if_not(values.begin() + 1, values.end(), is_decimal);
                    EXPECT_EQ(odd, values.end()) << "line " << i + 1 << ": " << (odd == values.end() ? "" : *odd);
                    if (::testing::Test::HasFailure()) return;
                }
            }
        }
    }
}

struct SectionExpectation {
    const char *section;
    const char *kind;  // whose codes it selects: billing, dp, event, ls or inst
    std::size_t count;
};

struct SelectionCase {
    const char *name;
    std::vector<std::string> args;
    std::size_t selected;       // BillParams, MNParams, EventParams, LSParams
    std::size_t inst_selected;  // InstParams
};

TEST_F(Metersim, SelectionFilesNameCodesOfTheirFiles) {
    const SelectionCase cases[] = {
        {"defaults", {}, 6, 6},
        {"more columns", {"--columns", "14", "--selected", "9", "--inst", "30"}, 9, 9},
        {"fewer readings than selected", {"--inst", "3"}, 6, 3},
        {"nothing selected", {"--selected", "0"}, 0, 0},
    };
    for (const SelectionCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        std::vector<std::string> args = {"--meters", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult result = run(root, args);
        ASSERT_EQ(result.exit_code, 0) << result.err;

        const fs::path dir = meter_dir(root, 0);
        std::map<std::string, Fields> headers = {
            {"billing", header_of(dir / "billing")},
            {"dp", header_of(dir / "dp_03_2024")},
            {"event", header_of(dir / "event_1")},
            {"ls", header_of(dir / "2024_03_27")},
        };
        const auto inst = client().hgetall("Port0Met0inst_info");
        const int readings = std::stoi(inst.at("NUM_PARAM"));
        for (int k = 1; k <= readings; ++k) headers["inst"].push_back(inst.at("Obis_" + std::to_string(k)));

        const std::map<std::string, std::vector<SectionExpectation>> files = {
            {"user_event_obis_det.json",
             {{"BillParams", "billing", c.selected}, {"MNParams", "dp", c.selected}, {"EventParams", "event", c.selected}}},
            {"user_bill_obis_det.json", {{"BillParams", "billing", c.selected}}},
            {"user_dp_obis_det.json", {{"MNParams", "dp", c.selected}}},
            {"user_ls_obis_det.json", {{"LSParams", "ls", c.selected}}},
            {"user_inst_obis_det.json", {{"InstParams", "inst", c.inst_selected}}},
        };
        for (const auto &[file, sections] : files) {
            SCOPED_TRACE(file);
            // The readers wrap the members in braces before they parse.
            const std::string wrapped = "{" + read_file(root / ("/srv/www/htdocs/" + file)) + "}";
            EXPECT_EQ(dcu::test::strict_json_error(wrapped), "") << wrapped;
            std::unique_ptr<cJSON, decltype(&cJSON_Delete)> tree(cJSON_Parse(wrapped.c_str()), cJSON_Delete);
            ASSERT_NE(tree, nullptr) << wrapped;
            ASSERT_EQ(cJSON_GetArraySize(tree.get()), static_cast<int>(sections.size()));

            for (const SectionExpectation &expected : sections) {
                SCOPED_TRACE(expected.section);
                const cJSON *section = cJSON_GetObjectItemCaseSensitive(tree.get(), expected.section);
                const cJSON *num_params = cJSON_GetObjectItemCaseSensitive(section, "NumParams");
                ASSERT_TRUE(cJSON_IsString(num_params)) << "NumParams must be a JSON string";
                EXPECT_EQ(std::string(num_params->valuestring), std::to_string(expected.count));
                const cJSON *list = cJSON_GetObjectItemCaseSensitive(section, "ObisCodeList");
                ASSERT_TRUE(cJSON_IsArray(list));
                ASSERT_EQ(static_cast<std::size_t>(cJSON_GetArraySize(list)), expected.count);

                const Fields &header = headers.at(expected.kind);
                std::vector<std::size_t> places;
                const cJSON *item = nullptr;
                cJSON_ArrayForEach(item, list) {
                    const cJSON *obis = cJSON_GetObjectItemCaseSensitive(item, "obis");
                    const cJSON *assign = cJSON_GetObjectItemCaseSensitive(item, "assign");
                    ASSERT_TRUE(cJSON_IsString(obis) && cJSON_IsString(assign));
                    EXPECT_NE(std::string(assign->valuestring), "");
                    const auto place = std::find(header.begin(), header.end(), obis->valuestring);
                    ASSERT_NE(place, header.end()) << obis->valuestring << " is in no " << expected.kind << " file";
                    places.push_back(static_cast<std::size_t>(place - header.begin()));
                }
                EXPECT_EQ(std::set<std::size_t>(places.begin(), places.end()).size(), places.size()) << "a code twice";
                if (expected.count == 0) continue;
                EXPECT_NE(std::find(places.begin(), places.end(), header.size() - 1), places.end())
                    << "the last column is not selected";
                if (expected.count >= 2) {
                    EXPECT_FALSE(std::is_sorted(places.begin(), places.end())) << "header order";
                }
            }
        }
    }
}

TEST_F(Metersim, SameSeedSameUnitOtherSeedOtherUnit) {
    const auto run_seed = [&](const std::string &seed, std::vector<std::string> extra = {}) {
        client().flushall();
        auto root = std::make_unique<TempDir>();
        // Without --store: the port comes from DCU_REDIS_PORT.
        std::vector<std::string> argv = {METERSIM_PATH, "--meters", "6", "--seed", seed};
        argv.insert(argv.end(), extra.begin(), extra.end());
        dcu::test::RunOptions options;
        options.env["DCU_ROOT"] = root->path().string();
        options.env["DCU_REDIS_PORT"] = std::to_string(store_->port());
        const RunResult result = dcu::test::run_program(argv, options);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return std::make_tuple(std::move(root), tree_of(root->path()), store_dump(), result.out);
    };
    const auto [root_a, tree_a, store_a, out_a] = run_seed("7");
    const auto [root_b, tree_b, store_b, out_b] = run_seed("7");
    const auto [root_c, tree_c, store_c, out_c] = run_seed("8");

    EXPECT_FALSE(tree_a.empty());
    EXPECT_TRUE(tree_a == tree_b) << "same seed, other files";
    EXPECT_TRUE(store_a == store_b) << "same seed, other store records";

    ASSERT_EQ(tree_a.size(), tree_c.size());
    for (const auto &[path, content] : tree_a) {
        // The web side's choice may come out alike; every data file must differ.
        if (path.find("DlmsData") == std::string::npos) continue;
        EXPECT_NE(content, tree_c.at(path)) << path;
    }
    for (int position = 0; position < 6; ++position) {
        const std::string serial_key = key("Port", position, "SerNum");
        EXPECT_NE(store_a.at(serial_key).at("SER_NUM"), store_c.at(serial_key).at("SER_NUM")) << position;
    }

    // A meter keeps its serial number when the files are sized otherwise.
    const auto [root_d, tree_d, store_d, out_d] = run_seed("7", {"--records", "3", "--columns", "4", "--inst", "2"});
    for (int position = 0; position < 6; ++position) {
        const std::string serial_key = key("Port", position, "SerNum");
        EXPECT_EQ(store_a.at(serial_key), store_d.at(serial_key)) << position;
    }
}

struct UsageCase {
    std::vector<std::string> args;
    const char *message;  // part of what standard error must say
};

TEST_F(Metersim, UsageErrorsExitTwoAndWriteNothing) {
    const UsageCase cases[] = {
        {{"--meters", "0"}, "--meters wants a whole number from 1 to 20, got '0'"},
        {{"--meters", "21"}, "--meters wants a whole number from 1 to 20, got '21'"},
        {{"--meters", "five"}, "--meters wants a whole number from 1 to 20, got 'five'"},
        {{"--meters=3x"}, "got '3x'"},
        {{"--meters"}, "option '--meters' needs a value"},
        {{"--records", "-1"}, "--records wants a whole number"},
        {{"--columns", "256"}, "--columns wants a whole number from 1 to 255"},
        {{"--columns", "4", "--selected", "5"}, "--selected 5 is more than the 4 columns"},
        {{"--inst", "256"}, "--inst wants"},
        {{"--eth-meters", "11"}, "--eth-meters wants a whole number from 0 to 10"},
        {{"--seed", "-3"}, "--seed wants"},
        {{"--store", "localhost"}, "--store wants HOST:PORT"},
        {{"--store", "127.0.0.1:0"}, "--store wants HOST:PORT"},
        {{"--store", "127.0.0.1:70000"}, "--store wants HOST:PORT"},
        {{"--frobnicate", "1"}, "unknown option '--frobnicate'"},
        {{"-m", "1"}, "unknown option '-m'"},
        {{"extra"}, "unexpected argument 'extra'"},
    };
    for (const UsageCase &c : cases) {
        SCOPED_TRACE(c.args.at(0) + (c.args.size() > 1 ? " " + c.args[1] : ""));
        TempDir root;
        const RunResult result = run(root, c.args);
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(fs::is_empty(root.path()));
        EXPECT_TRUE(client().keys().empty());
    }

    TempDir root;
    const RunResult help = run(root, {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: metersim")) << help.out;
    for (const char *option : {"--store", "--meters", "--seed", "--records", "--columns", "--selected", "--inst",
                               "--events", "--months", "--ls-files", "--od-files", "--eth-meters",
                               "--bill-dirs-entries"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_TRUE(fs::is_empty(root.path()));
}

TEST_F(Metersim, WithoutRootItRefusesToTouchTheUnitsOwnPaths) {
    dcu::test::RunOptions options;
    options.unset_env = {"DCU_ROOT"};
    options.env["DCU_REDIS_PORT"] = std::to_string(store_->port());
    const RunResult result = dcu::test::run_program({METERSIM_PATH}, options);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_NE(result.err.find("metersim: DCU_ROOT is not set"), std::string::npos) << result.err;
    EXPECT_TRUE(client().keys().empty());
}

TEST_F(Metersim, UnreachableStoreExitsOneBeforeWritingFiles) {
    TempDir root;
    const std::string address = "127.0.0.1:" + std::to_string(dcu::test::free_loopback_port());
    const RunResult result = run(root, {"--store", address});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("metersim: can't reach the store at " + address + "\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(fs::is_empty(root.path()));
}

}  // namespace
