#include "web/unit_status.hpp"

#include <array>
#include <optional>

#include "common/decimal_text.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/meter_lookup.hpp"
#include "web/data_files.hpp"
#include "web/json_writer.hpp"
#include "web/library_answers.hpp"
#include "web/library_host.hpp"

namespace dcu::web {

namespace {

constexpr std::array kRecordKinds = {DataKind::billing, DataKind::daily, DataKind::event, DataKind::load_survey};

struct Newest {
    std::string time;
    std::string file;  // under the meter's directory
};

// The newest record among the meter's data files: the largest clock value
// of their last records (clock values are "YYYY-MM-DD HH:MM:SS").
std::optional<Newest> newest_record(const std::string &serial) {
    std::optional<Newest> newest;
    for (const DataKind kind : kRecordKinds) {
        for (const std::string &file : library_answers::data_files(serial, kind)) {
            const auto time = data_files::last_record_time(file);
            if (time && (!newest || *time > newest->time)) newest = Newest{*time, file.substr(file.find('/') + 1)};
        }
    }
    return newest;
}

// The word of a communication-status code, as the instantaneous answer gives it.
std::string status_word(const std::string &code) {
    if (code.empty()) return "";
    const int value = decimal::atoi_value(code);
    if (value < 0 || value >= DCU_COMM_STATUS_WORDS) return code;
    return g_comm_status_buff[value];
}

}  // namespace

std::string unit_status_json() {
    JsonWriter json;
    json.begin_object();
    const bool reached = store_connected();
    json.member("store", reached);
    const auto list = library_answers::meter_list();
    json.member("meter_list", list.success ? "SUCCESS" : "FAILURE");
    const auto comm = library_answers::comm_status();
    json.member("comm_status", comm.success ? "SUCCESS" : "FAILURE");
    const meters::SerialNumbers positions = meters::read_serial_numbers();

    std::array<bool, meters::kPositions> placed{};
    json.key("meters").begin_array();
    for (const std::string &serial : list.serials) {
        json.begin_object().member("serial", serial);
        std::optional<meters::Position> position;
        for (std::size_t i = 0; i < meters::kPositions && !position; ++i) {
            if (!placed[i] && positions.texts[i] == serial) {
                placed[i] = true;
                position = meters::position_of(i);
            }
        }
        if (position) {
            // Ports and slots as the unit's configuration counts them, from 1.
            json.member("port", position->port + 1).member("slot", position->meter + 1);
            json.member("directory", "meter_id_" + std::to_string(position->number()));
            const auto port = static_cast<std::size_t>(position->port);
            const auto meter = static_cast<std::size_t>(position->meter);
            if (comm.serial_ports && port < comm.ports.size() && meter < comm.ports[port].size())
                json.member("comm_status", status_word(comm.ports[port][meter]));
            else
                json.key("comm_status").null();
        } else {
            json.key("port").null().key("slot").null().key("directory").null().key("comm_status").null();
        }
        if (const auto newest = newest_record(serial))
            json.member("newest_record", newest->time).member("newest_file", newest->file);
        else
            json.key("newest_record").null().key("newest_file").null();
        json.end_object();
    }
    json.end_array();

    const auto modem = library_answers::modem();
    json.key("modem").begin_object().member("answer", modem.success ? "SUCCESS" : "FAILURE");
    json.key("fields").begin_array();
    for (const auto &[name, value] : modem.fields) json.begin_object().member("name", name).member("value", value).end_object();
    json.end_array().end_object();
    json.end_object();
    return json.text();
}

}  // namespace dcu::web
