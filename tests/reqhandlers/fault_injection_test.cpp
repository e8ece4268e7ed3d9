// What a unit in the field meets, against a real store: the store stopping
// between requests and in the middle of one, keys of the wrong type, huge
// values, a store that answers slowly; data files that can't be read or
// vanish, and directories and files that change while they are answered.
//
// Whatever happens, every handler that answers sends exactly one answer,
// strict JSON with counts equal to what it lists, releases every reply, and
// answers completely again once the host has called redis_init again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/store.hpp"
#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/reqhandlers/support/profile_fixtures.hpp"
#include "tests/support/answer_checks.hpp"
#include "tests/support/store_proxy.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using dcu::test::answer_member;
using dcu::test::answer_problem;
using dcu::test::host;
using dcu::test::profiles::answer_head;
using dcu::test::profiles::section;

constexpr const char *kMeterDir = "/usr/tev/data/DlmsData/meter_id_3";
constexpr const char *kBilling = "/usr/tev/data/DlmsData/meter_id_3/billing";
constexpr const char *kEventFile = "/usr/tev/data/DlmsData/meter_id_3/event_1";
constexpr const char *kProfile = "code-1\tcode-2\tcode-3\na1\ta2\ta3\nb1\tb2\tb3\n";
// find_ser_num reads the 20 serial-number positions in one pipeline.
constexpr std::size_t kLookupReplies = 20;

ls_time_stamp stamp(std::uint8_t day, std::uint8_t hour) {
    ls_time_stamp value{};
    value.day = day;
    value.month = 3;
    value.hour = hour;
    value.year = 2024;
    return value;
}

// An entry point as the host calls it, with the arguments of the unit below.
struct Call {
    const char *name;
    std::function<int()> run;
    bool answers = true;     // sends one answer (all but the range command and the dump)
    bool reads_store = true;
};

const std::vector<Call> &every_call() {
    static const std::vector<Call> calls = {
        {"billing", [] { return send_od_billing_det(7, "SN01"); }},
        {"midnight", [] { return send_od_midnight_det(7, "SN01", 3, 2024); }},
        {"event", [] { return send_od_event_det(7, "SN01", 1); }},
        {"event verbose", [] { return send_od_event_det11(7, "SN01", 1); }},
        {"event dump", [] { return send_od_event_det1(7, "SN01", 1); }, false},
        {"ls range",
         [] {
             send_od_ls_range_det(7, "SN01", stamp(5, 10), stamp(6, 0));
             return 0;
         },
         false},
        {"inst", [] { return send_od_inst_det(7, "SN01"); }},
        {"meter list", [] { return send_met_ser_num_det(7); }},
        {"bill content", [] { return send_bill_file_content(7, "SN01", "meter_id_3", "billing", "V1"); }, true, false},
        {"ls files", [] { return send_ls_file_list_det(7, "SN01"); }},
        {"event files", [] { return send_event_file_list_det(7, "SN01"); }},
        {"dp files", [] { return send_dp_file_list_det(7, "SN01"); }},
        {"bill files", [] { return send_bill_file_list_det(7, "SN01"); }},
        {"od files", [] { return send_od_ls_file_list_det(7, "SN01"); }},
        {"dirs", [] { return send_dir_list_det(7); }, true, false},
        {"modem", [] { return send_modem_status_det(7); }},
        {"commn", [] { return send_commn_status_det(7); }},
    };
    return calls;
}

class FaultInjection : public dcu::test::HandlerTest {
protected:
    void SetUp() override {
        HandlerTest::SetUp();
        make_unit_files();
        fill_store(client());
        proxy_ = std::make_unique<dcu::test::StoreProxy>(store().port());
        connect_through_proxy();
    }
    void TearDown() override {
        proxy_.reset();
        HandlerTest::TearDown();
    }

    // A meter SN01 on port 0, meter 3 (meter_id_3) with its files, another
    // SN02 on port 1, meter 0; the selection files; the meter's readings,
    // status and on-demand files; the modem and the configuration.
    void make_unit_files() const {
        for (const char *name : {"billing", "dp_03_2024", "event_1", "2024_01_15"})
            unit_file(std::string(kMeterDir) + "/" + name, kProfile);
        fs::create_directories(root() / "usr/tev/data/DlmsData/meter_id_5");
        const std::vector<dcu::test::profiles::Selected> two = {{"code-3", "Name 3"}, {"code-1", "Name 1"}};
        unit_file("/srv/www/htdocs/user_event_obis_det.json",
                  section("BillParams", two) + "," + section("MNParams", two) + "," + section("EventParams", two));
        unit_file("/srv/www/htdocs/user_bill_obis_det.json", section("BillParams", two));
        unit_file("/srv/www/htdocs/user_inst_obis_det.json",
                  section("InstParams", {{"1.0.32.7.0.255", "Voltage"}, {"1.0.31.7.0.255", "Current"}}));
    }
    static void fill_store(dcu::test::StoreClient &c) {
        c.hset("Port0Met3SerNum", "SER_NUM", "SN01");
        c.hset("Port1Met0SerNum", "SER_NUM", "SN02");
        c.hset("Port0Met3inst_info", "NUM_PARAM", "2");
        c.hset("Port0Met3inst_info", "Obis_1", "1.0.32.7.0.255");
        c.hset("Port0Met3inst_info", "Value_1", "231.4");
        c.hset("Port0Met3inst_info", "Obis_2", "1.0.31.7.0.255");
        c.hset("Port0Met3inst_info", "Value_2", "4.2");
        c.hset("SerPort0Met3Status", "VALUE", "1");
        c.hset("Port0Met3OdLsFile", "f1", "od_2024_03_05");
        c.hset("Port0Met3OdLsFile", "f2", "od_2024_03_06");
        for (const auto &[field, value] : {std::pair{"Status", "UP"}, {"SignalStrength", "-67"}, {"NwType", "4"},
                                           {"RegStatus", "1"}, {"Operator", "Op"}, {"IMEI", "3520990"}})
            c.hset("MODEM_DIAG_INFO", field, value);
        c.hset("DCU_GEN_INFO", "MeterType", "1");
        for (int p = 0; p < 4; ++p) c.hset("P_" + std::to_string(p) + "SER_MET_INFO", "NumMeters", "5");
        for (int m = 0; m < 5; ++m) c.hset("SerPort0Met" + std::to_string(m) + "Status", "VALUE", std::to_string(m % 3));
    }

    // The library's connection goes through the proxy (as the host's
    // redis_init would, after a fault).
    void connect_through_proxy() {
        ASSERT_EQ(redis_init("127.0.0.1", proxy_->port()), 0);
    }
    dcu::test::StoreProxy &proxy() { return *proxy_; }

    // Calls an entry point; returns its answer, or nothing when it sent none.
    // Checks what holds whatever went wrong: as many answers as the entry
    // point sends (one or none), each a sound answer, and no reply left held.
    std::optional<std::string> call(const Call &c) {
        host().sent.clear();
        stdout_of([&] { c.run(); });
        EXPECT_EQ(p_redis_reply, nullptr) << c.name << ": a reply was left held";
        EXPECT_EQ(host().sent.size(), c.answers ? 1u : 0u) << c.name;
        if (host().sent.empty()) return std::nullopt;
        const std::string &text = host().sent.back();
        EXPECT_EQ(answer_problem(text), "") << c.name << "\n" << text;
        EXPECT_LT(text.size(), sizeof json_text);
        return text;
    }
    std::optional<std::string> call(const char *name) {
        for (const Call &c : every_call())
            if (std::string_view(c.name) == name) return call(c);
        ADD_FAILURE() << "no call " << name;
        return std::nullopt;
    }

private:
    std::unique_ptr<dcu::test::StoreProxy> proxy_;
};

// ---- the store stops ------------------------------------------------------------

// For every entry point, the store is lost after each possible number of
// replies of a request (0: before the first): every call still answers
// soundly and, with a reply missing, says FAILURE (an answer built on a
// failed connection never passes for a whole one); once all replies came
// the answer is the whole one; and after redis_init the next answer is
// whole again.
TEST_F(FaultInjection, StoreLostAfterAnyReplyOfARequest) {
    for (const Call &c : every_call()) {
        SCOPED_TRACE(c.name);
        dcu::test::forget_known_serial_numbers();
        const std::size_t before = proxy().replies_passed();
        const auto whole = call(c);
        const std::size_t needed = proxy().replies_passed() - before;
        for (std::size_t replies = 0; replies <= needed; ++replies) {
            SCOPED_TRACE("store lost after " + std::to_string(replies) + " replies");
            dcu::test::forget_known_serial_numbers();  // as in a host that has just started
            proxy().cut_after_replies(replies);
            const auto answer = call(c);
            if (replies == needed) {
                EXPECT_EQ(answer, whole);
            } else if (answer) {
                EXPECT_EQ(answer_member(*answer, "CMD_STATUS"), "FAILURE") << *answer;
            }
            proxy().behave();
            connect_through_proxy();
        }
        EXPECT_EQ(call(c), whole) << "no whole answer after redis_init";
    }
}

// What the answers say when the store is lost part way: what was read, by
// the rules for missing replies, under CMD_STATUS "FAILURE".
TEST_F(FaultInjection, AnswersWhenTheStoreIsLostPartWay) {
    struct Case {
        const char *call;
        std::size_t replies;  // passed before the store is lost
        std::string answer;
    };
    const std::string inst_tail = "\"MET_SERNUM\":\"SN01\",\n\"COMM_STATUS\":\"No\",\n\"NUM_PARAM\":\"2\",\n"
                                  "\"INST_PARAM\":\n[\n{\n\"param\":\"Voltage\",\n\"val\":\"NA\"\n},\n"
                                  "{\n\"param\":\"Current\",\n\"val\":\"NA\"\n}\n]\n}\n}\n";
    const Case cases[] = {
        // The positions up to SN01 were read: a lost connection is no empty unit.
        {"meter list", 4,
         answer_head("GET_METER_SER_LIST", 7, "FAILURE") + "\"NUM_MET\":\"1\",\n\"MET_LIST\":\n[\n\"SN01\"]\n}\n}\n"},
        // The meter was found; its readings and status are missing replies.
        {"inst", kLookupReplies, answer_head("OD_INST", 7, "FAILURE") + inst_tail},
        // Nothing about the meter could be read: no meter has SN01.
        {"billing", 0,
         answer_head("OD_BILLING", 7, "FAILURE") +
             "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"0\",\n"
             "\"PARAM_LIST\":\n[\n],\n\"BILL_DATA\":\n[\n]\n}\n}\n"},
        {"od files", kLookupReplies,
         answer_head("GET_OD_LS_FILE_LIST", 7, "FAILURE") +
             "\"DIR_NAME\":\"meter_id_3\",\n\"NUM_FILES\":\"0\",\n\"FILE_LIST\":\n[]\n}\n}\n"},
        {"modem", 0,
         "{\n\"TYPE\":\"GET_MODEM_DIAG_MESSAGE\",\n\"SEQ_NUM\":\"7\",\n\"DATATYPE\":\"MODEM_MESSAGE\",\n"
         "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"Status\":\"7\"\n}\n}\n"},
        // The meter type came, the counts did not: the record's counts stand.
        {"commn", 1,
         "{\n\"TYPE\":\"GET_COMMN_STATUS_MESSAGE\",\n\"SEQ_NUM\":\"7\",\n\"DATATYPE\":\"DLMS_DIAG_MESSAGE\",\n"
         "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"NUM_PORTS\":\"4\",\n"
         "\"PORT1\":\n{\n\"NUM_METERS\":\"0\",\n\"STATUS\":\n[]\n},\n\"PORT2\":\n{\n\"NUM_METERS\":\"0\",\n\"STATUS\":\n[]\n},\n"
         "\"PORT3\":\n{\n\"NUM_METERS\":\"0\",\n\"STATUS\":\n[]\n},\n\"PORT4\":\n{\n\"NUM_METERS\":\"0\",\n\"STATUS\":\n[]\n}\n}\n}\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        dcu::test::forget_known_serial_numbers();
        proxy().cut_after_replies(c.replies);
        EXPECT_EQ(call(c.call), c.answer);
        proxy().behave();
        connect_through_proxy();
    }
}

// A host that knew the meter before the store went keeps serving its files,
// under CMD_STATUS "FAILURE" (the meter's serial numbers could not be read
// afresh), and a range command that can't reach the store writes nothing.
TEST_F(FaultInjection, KnownMeterServedFromItsFilesWhileTheStoreIsDown) {
    const auto whole = call("billing");
    ASSERT_TRUE(whole);
    proxy().cut_after_replies(0);
    std::string flagged = *whole;
    flagged.replace(flagged.find("\"SUCCESS\""), 9, "\"FAILURE\"");
    EXPECT_EQ(call("billing"), flagged);

    proxy().behave();
    connect_through_proxy();
    proxy().cut_after_replies(kLookupReplies);
    call("ls range");
    EXPECT_TRUE(client().hgetall("Port0Met3OdLsCmd").empty());
}

// The range command's writes land together or not at all: a connection lost
// anywhere inside the transaction leaves the meter's command as it was (the
// meter-reading process never sees NeedToRead 1 beside an old range), and
// the host's log says the command was not confirmed.
TEST_F(FaultInjection, RangeCommandCutInsideItsTransactionWritesNothing) {
    const std::map<std::string, std::string> old_command{{"NeedToRead", "0"}, {"Day", "1"}, {"Day2", "2"}};
    // MULTI, the three writes, EXEC: cut before the 1st to the 4th passes, so EXEC never arrives.
    for (std::size_t passed = 0; passed < 4; ++passed) {
        SCOPED_TRACE(std::to_string(passed) + " commands of the transaction passed");
        for (const auto &[field, value] : old_command) client().hset("Port0Met3OdLsCmd", field, value);
        host().log.clear();
        proxy().cut_after_commands(kLookupReplies + passed);
        call("ls range");
        EXPECT_EQ(client().hgetall("Port0Met3OdLsCmd"), old_command);
        ASSERT_FALSE(host().log.empty());
        EXPECT_NE(host().log.back().find("Range command of SEQ_NUM 7 for Port0Met3OdLsCmd not confirmed: "),
                  std::string::npos)
            << host().log.back();
        proxy().behave();
        connect_through_proxy();
    }
    call("ls range");
    EXPECT_EQ(client().hget("Port0Met3OdLsCmd", "NeedToRead"), "1");
    EXPECT_EQ(client().hget("Port0Met3OdLsCmd", "Day"), "5");
}

// A connection that failed queues nothing while the host has not called
// redis_init again: what it holds stays the same over any number of requests.
TEST_F(FaultInjection, LostConnectionHoldsNoMoreWithEveryRequest) {
    proxy().cut_after_replies(0);
    for (const Call &c : every_call()) call(c);
    ASSERT_NE(p_redis_handler, nullptr);
    ASSERT_NE(p_redis_handler->err, 0);
    const std::size_t queued = std::strlen(p_redis_handler->obuf);
    for (int round = 0; round < 20; ++round)
        for (const Call &c : every_call()) call(c);
    EXPECT_EQ(std::strlen(p_redis_handler->obuf), queued);
}

// The real store stops between two requests and comes back empty, as a
// store without persistence does: the handlers answer without it, redis_init
// says it can't connect, and once the store is back and the host has
// connected again every answer is whole.
TEST_F(FaultInjection, StoreStoppedBetweenRequestsAndRestarted) {
    std::vector<std::optional<std::string>> whole;
    for (const Call &c : every_call()) whole.push_back(call(c));

    const std::uint16_t old_port = store().port();
    store().stop();
    for (const Call &c : every_call()) {
        SCOPED_TRACE(std::string(c.name) + ", store stopped");
        dcu::test::forget_known_serial_numbers();
        const auto answer = call(c);
        if (!c.reads_store) {
            EXPECT_EQ(answer, whole[static_cast<std::size_t>(&c - &every_call()[0])]);
        }
    }
    host().log.clear();
    EXPECT_EQ(redis_init("127.0.0.1", old_port), -1);
    ASSERT_EQ(host().log.size(), 2u);
    EXPECT_NE(host().log[1].find("Connection error: "), std::string::npos) << host().log[1];
    EXPECT_EQ(p_redis_handler, nullptr);
    for (const Call &c : every_call()) {
        SCOPED_TRACE(std::string(c.name) + ", not connected");
        call(c);
    }
    EXPECT_EQ(*call("meter list"),
              answer_head("GET_METER_SER_LIST", 7, "FAILURE") + "\"NUM_MET\":\"0\",\n\"MET_LIST\":\n[\n]\n}\n}\n");

    store().start();
    dcu::test::StoreClient restarted(store().port());
    fill_store(restarted);
    ASSERT_EQ(redis_init("127.0.0.1", store().port()), 0);
    for (const Call &c : every_call()) {
        SCOPED_TRACE(std::string(c.name) + ", store back");
        EXPECT_EQ(call(c), whole[static_cast<std::size_t>(&c - &every_call()[0])]);
    }
}

// ---- keys of the wrong type ----------------------------------------------------

// A string where a hash is expected makes the store answer with an error:
// each handler answers exactly as if the key were missing.
TEST_F(FaultInjection, KeysOfTheWrongTypeReadAsMissing) {
    std::vector<std::string> meter_keys = {"Port0Met3inst_info", "SerPort0Met3Status", "Port0Met3OdLsFile",
                                           "Port0Met3OdLsCmd",   "MODEM_DIAG_INFO",    "DCU_GEN_INFO",
                                           "ETH_MET_INFO"};
    for (int p = 0; p < 4; ++p) meter_keys.push_back("P_" + std::to_string(p) + "SER_MET_INFO");
    for (int m = 0; m < 10; ++m) {
        meter_keys.push_back("SerPort0Met" + std::to_string(m % 5) + "Status");
        meter_keys.push_back("EthPort0Met" + std::to_string(m) + "Status");
    }
    std::vector<std::string> serial_keys;
    for (int p = 0; p < 4; ++p)
        for (int m = 0; m < 5; ++m) serial_keys.push_back("Port" + std::to_string(p) + "Met" + std::to_string(m) + "SerNum");

    for (const auto *keys : {&meter_keys, &serial_keys}) {
        SCOPED_TRACE(keys == &serial_keys ? "serial numbers" : "the meter's other keys");
        for (const Call &c : every_call()) {
            SCOPED_TRACE(c.name);
            for (const auto &key : *keys) client().del(key);
            const auto missing = call(c);
            for (const auto &key : *keys) client().run({"SET", key, "not a hash"});
            EXPECT_EQ(call(c), missing);
            for (const auto &key : *keys)
                EXPECT_STREQ(client().run({"TYPE", key})->str, "string") << key << " was written over";
        }
        for (const auto &key : *keys) client().del(key);
        fill_store(client());
    }
}

// ---- huge values ---------------------------------------------------------------

// Values far larger than json_text, from the store, the files and the
// request: the answer is sent well-formed and whole up to what fits, with
// counts equal to what it lists and CMD_STATUS "FAILURE".
TEST_F(FaultInjection, HugeValuesGiveWellFormedFailures) {
    const std::string huge(300000, 'x');
    struct Case {
        const char *name;
        std::function<void()> arrange;
        std::function<int()> run;
        std::vector<std::string> members;  // "DATA.KEY=value" that must hold
    };
    const Case cases[] = {
        {"serial number before another",
         [&] { client().hset("Port0Met0SerNum", "SER_NUM", huge + "SN09"); },
         [] { return send_met_ser_num_det(7); },
         {"DATA.NUM_MET=0"}},
        {"instantaneous value", [&] { client().hset("Port0Met3inst_info", "Value_1", huge); },
         [] { return send_od_inst_det(7, "SN01"); },
         {"DATA.NUM_PARAM=0"}},
        {"modem operator", [&] { client().hset("MODEM_DIAG_INFO", "Operator", huge); },
         [] { return send_modem_status_det(7); },
         {"DATA.IMEI=3520990"}},
        // The store's order of the fields decides whether f1 comes first.
        {"on-demand file name", [&] { client().hset("Port0Met3OdLsFile", "f2", huge); },
         [] { return send_od_ls_file_list_det(7, "SN01"); },
         {"DATA.DIR_NAME=meter_id_3"}},
        {"data file value",
         [&] { unit_file(kBilling, std::string("code-1\tcode-3\na1\ta3\n") + huge + "\tb3\nc1\tc3\n"); },
         [] { return send_od_billing_det(7, "SN01"); },
         {"DATA.NUM_PARAM=2", "DATA.NUM_ENTRIES=1"}},
        // The display names alone fill the answer: the data list stays, empty.
        {"display names",
         [&] {
             std::vector<dcu::test::profiles::Selected> names;
             std::string header;
             for (int i = 0; i < 255; ++i) {
                 names.push_back({"c" + std::to_string(i), std::string(1000, 'n')});
                 header += (i ? "\t" : "") + names.back().obis;
             }
             unit_file("/srv/www/htdocs/user_bill_obis_det.json", section("BillParams", names));
             unit_file(kBilling, header + "\n" + header + "\n");
         },
         [] { return send_bill_file_content(7, "SN01", "meter_id_3", "billing", "V1"); },
         {"DATA.NUM_ENTRIES=0", "DATA.FILE_NAME=billing"}},
        {"request text", [] {},
         [&] { return send_bill_file_content(7, "SN01", "meter_id_3", "billing", huge.c_str()); },
         {"DATA.NUM_ENTRIES=2"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        host().sent.clear();
        stdout_of([&] { EXPECT_EQ(c.run(), 0); });
        ASSERT_EQ(host().sent.size(), 1u);
        const std::string &text = host().sent.back();
        EXPECT_EQ(answer_problem(text), "");
        EXPECT_LT(text.size(), sizeof json_text);
        EXPECT_EQ(answer_member(text, "CMD_STATUS"), "FAILURE");
        for (const std::string &m : c.members) {
            const auto equals = m.find('=');
            EXPECT_EQ(answer_member(text, m.substr(0, equals)), m.substr(equals + 1)) << m;
        }
        client().flushall();
        fill_store(client());
        make_unit_files();
    }
    // A serial number too long for the host's table is still found by its whole text.
    client().hset("Port0Met0SerNum", "SER_NUM", huge + "SN09");
    EXPECT_EQ(find_ser_num("SN09"), 0);
    EXPECT_EQ(std::string(g_meter_ser_num_info[0][0]), std::string(DCU_SER_NUM_SIZE - 1, 'x'));
}

// ---- a slow store ----------------------------------------------------------------

// The library sets no time-out on commands: a store that answers slowly,
// even slower than the 1.5 s allowed for connecting, only makes the handler
// wait, and the answers are the whole ones.
// A slow store still gives whole answers, up to the command time-out; a
// reply later than that is a failed connection: FAILURE, and whole again
// once the host has connected anew.
TEST_F(FaultInjection, SlowStoreGivesWholeAnswersUpToTheTimeOut) {
    std::vector<std::optional<std::string>> whole;
    for (const Call &c : every_call()) whole.push_back(call(c));
    proxy().delay_replies(5ms);
    for (std::size_t i = 0; i < every_call().size(); ++i) {
        SCOPED_TRACE(every_call()[i].name);
        EXPECT_EQ(call(every_call()[i]), whole[i]);
    }
    proxy().behave();
    const auto inst = call("inst");
    proxy().delay_next_reply(1600ms);
    EXPECT_EQ(call("inst"), inst);

    proxy().delay_next_reply(std::chrono::seconds(dcu::store::kCommandTimeoutSeconds) + 500ms);
    const auto late = call("inst");
    ASSERT_TRUE(late);
    EXPECT_EQ(answer_member(*late, "CMD_STATUS"), "FAILURE") << *late;
    EXPECT_STREQ(p_redis_handler->errstr, "no reply within 2 s");
    connect_through_proxy();
    EXPECT_EQ(call("inst"), inst);
}

// ---- files that can't be read, vanish or change ---------------------------------------

// A data file, selection file or directory that can't be read: the answer
// says "FAILURE" (the directory list, whose data root can't be read, sends
// nothing and returns -1).
TEST_F(FaultInjection, UnreadableFilesAndDirectories) {
    struct Case {
        const char *name;
        const char *unit_path;                          // replaced by what `replace` makes
        std::function<void(const fs::path &)> replace;
        const char *call;
        const char *num_entries;                        // what NUM_ENTRIES or NUM_FILES says
    };
    const auto directory = [](const fs::path &path) { fs::create_directories(path); };
    const auto dangling = [](const fs::path &path) { fs::create_symlink(path.string() + ".gone", path); };
    const auto loop = [](const fs::path &path) {
        fs::create_symlink(path.filename().string() + ".b", path);
        fs::create_symlink(path.filename(), path.string() + ".b");
    };
    const auto plain_file = [](const fs::path &path) { dcu::test::write_file(path, "not a directory\n"); };
    const Case cases[] = {
        {"data file is a directory", kBilling, directory, "bill content", "0"},
        {"data file is a dangling link", kBilling, dangling, "billing", "0"},
        {"data file is a link loop", kBilling, loop, "billing", "0"},
        {"selection file is a directory", "/srv/www/htdocs/user_bill_obis_det.json", directory, "bill content", "2"},
        {"meter directory is a file", kMeterDir, plain_file, "event files", "0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = root() / std::string_view(c.unit_path).substr(1);
        fs::remove_all(path);
        c.replace(path);
        const auto answer = call(c.call);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer_member(*answer, "CMD_STATUS"), "FAILURE");
        const std::string count = answer_member(*answer, "DATA.NUM_ENTRIES") + answer_member(*answer, "DATA.NUM_FILES");
        EXPECT_EQ(count, c.num_entries);
        fs::remove_all(path);
        fs::remove_all(path.string() + ".b");
        make_unit_files();
    }
    fs::remove_all(root() / "usr/tev/data/DlmsData");
    dcu::test::write_file(root() / "usr/tev/data/DlmsData", "not a directory\n");
    host().sent.clear();
    stdout_of([] { EXPECT_EQ(send_dir_list_det(7), -1); });
    EXPECT_TRUE(host().sent.empty());
}

// The meter-reading process removes or rewrites a file between the lookup of
// the meter and the reading of its file: the answer is made of what the
// handler read, once.
TEST_F(FaultInjection, FileVanishesOrChangesBetweenLookupAndReading) {
    const fs::path billing = root() / std::string_view(kBilling).substr(1);
    proxy().before_reply(kLookupReplies, [&] { fs::remove(billing); });
    EXPECT_EQ(call("billing"), answer_head("OD_BILLING", 7, "FAILURE") +
                                   "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"0\",\n"
                                   "\"PARAM_LIST\":\n[\n],\n\"BILL_DATA\":\n[\n]\n}\n}\n");

    make_unit_files();
    const std::string longer = std::string(kProfile) + "c1\tc2\tc3\n";
    proxy().before_reply(kLookupReplies, [&] { dcu::test::write_file(billing, longer); });
    const auto changed = call("billing");
    ASSERT_TRUE(changed);
    EXPECT_EQ(answer_member(*changed, "CMD_STATUS"), "SUCCESS");
    EXPECT_EQ(answer_member(*changed, "DATA.NUM_ENTRIES"), "3");

    proxy().before_reply(kLookupReplies, [&] { fs::remove_all(root() / std::string_view(kMeterDir).substr(1)); });
    const auto listing = call("event files");
    ASSERT_TRUE(listing);
    EXPECT_EQ(answer_member(*listing, "CMD_STATUS"), "FAILURE");
    EXPECT_EQ(answer_member(*listing, "DATA.NUM_FILES"), "0");
}

// The meter-reading process adds and removes files while a directory is
// listed, and appends records while a file is answered: every listing's
// count is what it lists and holds the files that stay; every profile answer
// counts what it lists and starts with the records that were there.
TEST_F(FaultInjection, DirectoryAndFileChangingWhileAnswered) {
    const fs::path meter_dir = root() / std::string_view(kMeterDir).substr(1);
    const fs::path event_file = root() / std::string_view(kEventFile).substr(1);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (unsigned i = 0; !stop; ++i) {
            const fs::path churn = meter_dir / ("event_churn_" + std::to_string(i % 40));
            if (i % 3 == 0) fs::remove(churn);
            else dcu::test::write_file(churn, "x\n");
            if (i >= 2000) continue;  // the answer must still fit json_text
            if (std::FILE *file = std::fopen(event_file.c_str(), "a")) {
                std::fputs("n1\tn2\tn3\n", file);
                std::fclose(file);
            }
        }
    });
    for (int round = 0; round < 10; ++round) {
        for (const char *name : {"event files", "ls files", "event"}) {
            SCOPED_TRACE(name);
            const auto answer = call(name);
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer_member(*answer, "CMD_STATUS"), "SUCCESS");
            const std::string stays = std::string_view(name) == "ls files" ? "\"2024_01_15\"" : "\"event_1\"";
            if (std::string_view(name) == "event") {
                EXPECT_NE(answer->find("{\"V0\":\"a1\",\"V1\":\"a3\"},\n{\"V0\":\"b1\",\"V1\":\"b3\"}"),
                          std::string::npos);
            } else {
                EXPECT_NE(answer->find(stays), std::string::npos) << *answer;
            }
        }
    }
    stop = true;
    writer.join();
}

}  // namespace
