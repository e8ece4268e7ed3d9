// Every handler over randomised units: serial numbers, readings, status
// values, file names, data files and selection files made of awkward bytes
// (quotes, backslashes, control characters, bytes that are not UTF-8, long
// texts, counts out of range, broken JSON), and requests that name what the
// unit holds or anything else. Each answer must be sound: exactly one per
// call (none for the range command and the dump), strict JSON, every count
// equal to the list it counts. The seeds are fixed, so a failure repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/support/answer_checks.hpp"

namespace {

namespace fs = std::filesystem;

class RandomUnit {
public:
    explicit RandomUnit(unsigned seed) : rng_(seed) {}

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
    bool one_in(std::size_t n) { return below(n) == 0; }
    template <class T>
    const T &pick(const std::vector<T> &items) { return items[below(items.size())]; }

    // A text of the kind a unit may hold anywhere.
    std::string text() {
        static const std::vector<std::string> pieces = {
            "SN01", "1.0.32.7.0.255", "231.4", "\"", "\\", "\t", "\r\n", "\n", std::string(1, '\0'), "\x01",
            "\x7f", "\xc3\xa9", "\xe2\x82\xac", "\xff", "\xc0\xaf", "\xed\xa0\x80", "bill", "dp", "event",
            "meter_id_3", "..", "/", " ", "-1", "256", "%s%n", "{\"a\":1}"};
        std::string out;
        const std::size_t count = one_in(20) ? 3000 : below(6);
        for (std::size_t i = 0; i < count; ++i) out += pick(pieces);
        return out;
    }
    // A count as a text: in range, out of range, or no number at all.
    std::string count_text() {
        static const std::vector<std::string> counts = {"0", "1", "2", "3", "5", "255", "256", "260", "-1", "x",
                                                        "", " 4", "99999999999", "2abc"};
        return pick(counts);
    }
    // An OBIS code the data files and the selections share, so that some match.
    std::string code() { return "code-" + std::to_string(below(6)); }

    std::mt19937 &rng() { return rng_; }

private:
    std::mt19937 rng_;
};

// A text inside a JSON string as the web interface would write it (the
// bytes that JSON must escape escaped, every other byte as it is).
std::string json_quoted(const std::string &text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += std::string("\\") + c;
        else if (static_cast<unsigned char>(c) < 0x20) out += "\\u00" + std::string(1, "0123456789abcdef"[c >> 4]) +
                                                              "0123456789abcdef"[c & 0xF];
        else out += c;
    }
    return out + "\"";
}

class RandomFixtures : public dcu::test::HandlerTest {
protected:
    void build(RandomUnit &unit) {
        client().flushall();
        dcu::test::forget_known_serial_numbers();  // each unit is a host process of its own
        fs::remove_all(root() / "usr");
        fs::remove_all(root() / "srv");
        fill_store(unit);
        fill_tree(unit);
        fill_selections(unit);
        std::memset(&dlms_dcu_config, 0, sizeof dlms_dcu_config);
        dlms_dcu_config.GenInfo.MeterType = static_cast<std::uint8_t>(unit.below(3));
        for (auto &port : dlms_dcu_config.SerMeterPort) port.NumMeters = static_cast<std::uint32_t>(unit.below(12));
    }

    void fill_store(RandomUnit &unit) {
        auto &c = client();
        for (int p = 0; p < 4; ++p) {
            for (int m = 0; m < 5; ++m) {
                const std::string position = std::to_string(p) + "Met" + std::to_string(m);
                if (unit.one_in(2)) {
                    serials_.push_back(unit.one_in(4) ? unit.text() : "SN" + std::to_string(100 + p * 5 + m));
                    c.hset("Port" + position + "SerNum", "SER_NUM", serials_.back());
                    meters_.push_back(p * 5 + m);
                }
                if (unit.one_in(3)) c.hset("SerPort" + position + "Status", "VALUE", unit.one_in(2) ? "1" : unit.text());
                if (unit.one_in(3)) c.hset("Port" + position + "OdLsFile", "f" + std::to_string(m), unit.text());
                if (unit.one_in(4)) c.run({"SET", "Port" + position + "inst_info", "not a hash"});
                else if (unit.one_in(2)) {
                    c.hset("Port" + position + "inst_info", "NUM_PARAM", unit.count_text());
                    for (int k = 1; k <= 4; ++k) {
                        c.hset("Port" + position + "inst_info", "Obis_" + std::to_string(k), unit.code());
                        c.hset("Port" + position + "inst_info", "Value_" + std::to_string(k), unit.text());
                    }
                }
            }
            c.hset("P_" + std::to_string(p) + "SER_MET_INFO", "NumMeters", unit.count_text());
        }
        for (const char *field : {"Status", "SignalStrength", "NwType", "RegStatus", "Operator", "IMEI"})
            if (!unit.one_in(4)) c.hset("MODEM_DIAG_INFO", field, unit.text());
        if (!unit.one_in(3)) c.hset("DCU_GEN_INFO", "MeterType", unit.count_text());
        c.hset("ETH_MET_INFO", "NumMeters", unit.count_text());
        for (int m = 0; m < 10; ++m) c.hset("EthPort0Met" + std::to_string(m) + "Status", "VALUE", unit.count_text());
    }

    // A data file: a header of shared codes, records of awkward values.
    static std::string data_file(RandomUnit &unit) {
        if (unit.one_in(8)) return unit.text();
        std::string header;
        const std::size_t columns = 1 + unit.below(6);
        for (std::size_t i = 0; i < columns; ++i) header += (i ? "\t" : "") + unit.code();
        const std::string line_end = unit.one_in(2) ? "\n" : "\r\n";
        std::string text = header + line_end;
        const std::size_t records = unit.below(8);
        for (std::size_t r = 0; r < records; ++r) {
            const std::size_t values = unit.below(columns + 2);
            for (std::size_t v = 0; v < values; ++v) text += (v ? "\t" : "") + unit.text();
            text += line_end;
        }
        return text;
    }

    void fill_tree(RandomUnit &unit) {
        const fs::path data = root() / "usr/tev/data/DlmsData";
        fs::create_directories(data);
        names_ = {"billing", "dp_03_2024", "event_1", "2024_01_15", "od"};
        for (int n = 0; n < 20; ++n) {
            // Mostly the directories of the meters the store names, with their profiles.
            const bool named = std::find(meters_.begin(), meters_.end(), n) != meters_.end();
            if (named ? unit.one_in(5) : !unit.one_in(4)) continue;
            const fs::path dir = data / ("meter_id_" + std::to_string(n));
            fs::create_directories(dir);
            for (const char *profile : {"billing", "dp_03_2024", "event_1"})
                if (!unit.one_in(4)) dcu::test::write_file(dir / profile, data_file(unit));
            const std::size_t files = unit.below(4);
            for (std::size_t f = 0; f < files; ++f) {
                std::string name = unit.one_in(3) ? unit.text() : unit.pick(names_);
                if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
                    name == "." || name == "..")
                    name = "odd_" + std::to_string(f);
                if (fs::exists(dir / name)) continue;
                if (unit.one_in(6)) fs::create_directories(dir / name);
                else dcu::test::write_file(dir / name, data_file(unit));
            }
        }
    }

    void fill_selections(RandomUnit &unit) {
        const auto sections = [&](std::initializer_list<const char *> names) {
            if (unit.one_in(10)) return unit.text();  // not a selection at all
            std::string file;
            for (const char *name : names) {
                if (unit.one_in(5)) continue;
                std::string list;
                const std::size_t items = unit.below(5);
                for (std::size_t i = 0; i < items; ++i)
                    list += std::string(i ? "," : "") + "{\"obis\":" + json_quoted(unit.one_in(5) ? unit.text() : unit.code()) +
                            ",\"assign\":" + json_quoted(unit.text()) + "}";
                file += std::string(file.empty() ? "" : ",") + "\"" + name + "\":{\"NumParams\":" +
                        json_quoted(unit.one_in(3) ? unit.count_text() : std::to_string(items)) + ",\"ObisCodeList\":[" +
                        list + "]}";
            }
            return file;
        };
        const fs::path web = root() / "srv/www/htdocs";
        const auto maybe_write = [&](const char *name, const std::string &content) {
            if (!unit.one_in(6)) dcu::test::write_file(web / name, content);
        };
        maybe_write("user_event_obis_det.json", sections({"BillParams", "MNParams", "EventParams"}));
        maybe_write("user_bill_obis_det.json", sections({"BillParams"}));
        maybe_write("user_dp_obis_det.json", sections({"MNParams"}));
        maybe_write("user_ls_obis_det.json", sections({"LSParams"}));
        maybe_write("user_inst_obis_det.json", sections({"InstParams"}));
    }

    // A serial number of the unit, part of one, or anything.
    std::string ser_num(RandomUnit &unit) {
        if (serials_.empty() || unit.one_in(4)) return unit.text();
        const std::string &serial = unit.pick(serials_);
        const std::size_t from = unit.below(serial.size() + 1);
        return serial.substr(from, unit.below(serial.size() - from + 1));
    }
    std::string file_name(RandomUnit &unit) {
        return unit.one_in(4) ? unit.text() : unit.pick(names_);
    }
    std::string dir_name(RandomUnit &unit) {
        if (unit.one_in(4)) return unit.text();
        if (meters_.empty() || unit.one_in(3)) return "meter_id_" + std::to_string(unit.below(21));
        return "meter_id_" + std::to_string(unit.pick(meters_));
    }

    std::vector<std::string> serials_;
    std::vector<int> meters_;  // the numbers of the meters whose serial numbers the store holds
    std::vector<std::string> names_;
};

TEST_F(RandomFixtures, EveryAnswerOverRandomUnitsIsSound) {
    using Handler = std::function<int(RandomUnit &)>;
    const auto c_text = [](const std::string &text) { return text.c_str(); };
    for (unsigned seed = 1; seed <= 25; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomUnit unit(seed);
        build(unit);
        const int seq = static_cast<int>(unit.rng()()) - static_cast<int>(unit.below(1000));
        struct Call {
            const char *name;
            Handler run;
            bool answers;
        };
        const Call calls[] = {
            {"billing", [&](RandomUnit &u) { return send_od_billing_det(seq, c_text(ser_num(u))); }, true},
            {"midnight",
             [&](RandomUnit &u) {
                 return send_od_midnight_det(seq, c_text(ser_num(u)),
                                             static_cast<std::uint8_t>(u.one_in(2) ? 3 : u.below(256)),
                                             static_cast<std::uint16_t>(u.one_in(2) ? 2024 : u.below(65536)));
             },
             true},
            {"event", [&](RandomUnit &u) { return send_od_event_det(seq, c_text(ser_num(u)), 1); }, true},
            {"event verbose", [&](RandomUnit &u) { return send_od_event_det11(seq, c_text(ser_num(u)), 1); }, true},
            {"event dump", [&](RandomUnit &u) { return send_od_event_det1(seq, c_text(ser_num(u)), 1); }, false},
            {"ls range",
             [&](RandomUnit &u) {
                 ls_time_stamp start{}, end{};
                 std::generate_n(reinterpret_cast<unsigned char *>(&start), sizeof start,
                                 [&] { return static_cast<unsigned char>(u.below(256)); });
                 send_od_ls_range_det(seq, c_text(ser_num(u)), start, end);
                 return 0;
             },
             false},
            {"inst", [&](RandomUnit &u) { return send_od_inst_det(seq, c_text(ser_num(u))); }, true},
            {"meter list", [&](RandomUnit &) { return send_met_ser_num_det(seq); }, true},
            {"event content",
             [&](RandomUnit &u) {
                 return send_event_file_content(seq, c_text(ser_num(u)), c_text(dir_name(u)), c_text(file_name(u)),
                                                c_text(u.text()));
             },
             true},
            {"bill content",
             [&](RandomUnit &u) {
                 return send_bill_file_content(seq, c_text(ser_num(u)), c_text(dir_name(u)), c_text(file_name(u)),
                                               c_text(u.text()));
             },
             true},
            {"dp content",
             [&](RandomUnit &u) {
                 return send_dp_file_content(seq, c_text(ser_num(u)), c_text(dir_name(u)), c_text(file_name(u)), "");
             },
             true},
            {"ls content",
             [&](RandomUnit &u) {
                 return send_ls_file_content(seq, c_text(ser_num(u)), c_text(dir_name(u)), c_text(file_name(u)), "V");
             },
             true},
            {"ls files", [&](RandomUnit &u) { return send_ls_file_list_det(seq, c_text(ser_num(u))); }, true},
            {"event files", [&](RandomUnit &u) { return send_event_file_list_det(seq, c_text(ser_num(u))); }, true},
            {"dp files", [&](RandomUnit &u) { return send_dp_file_list_det(seq, c_text(ser_num(u))); }, true},
            {"bill files", [&](RandomUnit &u) { return send_bill_file_list_det(seq, c_text(ser_num(u))); }, true},
            {"od files", [&](RandomUnit &u) { return send_od_ls_file_list_det(seq, c_text(ser_num(u))); }, true},
            {"dirs", [&](RandomUnit &) { return send_dir_list_det(seq); }, true},
            {"modem", [&](RandomUnit &) { return send_modem_status_det(seq); }, true},
            {"commn", [&](RandomUnit &) { return send_commn_status_det(seq); }, true},
        };
        for (const Call &call : calls) {
            SCOPED_TRACE(call.name);
            dcu::test::host().sent.clear();
            stdout_of([&] { call.run(unit); });
            ASSERT_EQ(dcu::test::host().sent.size(), call.answers ? 1u : 0u);
            if (!call.answers) continue;
            const std::string &text = dcu::test::host().sent.back();
            EXPECT_EQ(dcu::test::answer_problem(text), "") << text;
            EXPECT_EQ(dcu::test::answer_member(text, "SEQ_NUM"), std::to_string(seq));
        }
        serials_.clear();
        meters_.clear();
    }
}

}  // namespace
