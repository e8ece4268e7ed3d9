#include "web/library_answers.hpp"

#include <cjson/cJSON.h>

#include <memory>

#include "dcu/reqhandlers.h"
#include "web/library_host.hpp"

namespace dcu::web::library_answers {

namespace {

struct JsonDelete {
    void operator()(cJSON *tree) const noexcept { cJSON_Delete(tree); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDelete>;

// The page's requests carry no sequence number of the head-end's.
constexpr int kSeqNum = 1;

JsonTree parsed(const std::string &answer) { return JsonTree(cJSON_ParseWithLength(answer.data(), answer.size())); }

bool succeeded(const cJSON *answer) {
    const cJSON *status = cJSON_GetObjectItemCaseSensitive(answer, "CMD_STATUS");
    return cJSON_IsString(status) && std::string_view(status->valuestring) == "SUCCESS";
}

const cJSON *data_of(const cJSON *answer) { return cJSON_GetObjectItemCaseSensitive(answer, "DATA"); }

std::string text_of(const cJSON *node) {
    return cJSON_IsString(node) ? std::string(node->valuestring) : std::string();
}

std::vector<std::string> texts_of(const cJSON *list) {
    std::vector<std::string> texts;
    const cJSON *item = nullptr;
    cJSON_ArrayForEach(item, list) {
        if (cJSON_IsString(item)) texts.emplace_back(item->valuestring);
    }
    return texts;
}

// A file list answer's files as paths under the data root, below dir in the meter's directory.
void add_listed(std::vector<std::string> &paths, const std::string &answer, std::string_view below) {
    const JsonTree tree = parsed(answer);
    const cJSON *data = data_of(tree.get());
    const std::string dir = text_of(cJSON_GetObjectItemCaseSensitive(data, "DIR_NAME"));
    if (!succeeded(tree.get()) || dir.empty()) return;
    for (const std::string &name : texts_of(cJSON_GetObjectItemCaseSensitive(data, "FILE_LIST")))
        paths.push_back(dir + "/" + std::string(below) + name);
}

}  // namespace

MeterList meter_list() {
    const std::string answer = answer_of([] { send_met_ser_num_det(kSeqNum); });
    const JsonTree tree = parsed(answer);
    MeterList list;
    list.success = succeeded(tree.get());
    list.serials = texts_of(cJSON_GetObjectItemCaseSensitive(data_of(tree.get()), "MET_LIST"));
    return list;
}

std::vector<std::string> data_files(const std::string &serial, DataKind kind) {
    const char *sn = serial.c_str();
    std::vector<std::string> paths;
    switch (kind) {
    case DataKind::billing: add_listed(paths, answer_of([sn] { send_bill_file_list_det(kSeqNum, sn); }), ""); break;
    case DataKind::daily: add_listed(paths, answer_of([sn] { send_dp_file_list_det(kSeqNum, sn); }), ""); break;
    case DataKind::event: add_listed(paths, answer_of([sn] { send_event_file_list_det(kSeqNum, sn); }), ""); break;
    case DataKind::load_survey:
        add_listed(paths, answer_of([sn] { send_ls_file_list_det(kSeqNum, sn); }), "");
        add_listed(paths, answer_of([sn] { send_od_ls_file_list_det(kSeqNum, sn); }), "od/");
        break;
    case DataKind::instantaneous: break;
    }
    return paths;
}

CommStatus comm_status() {
    const std::string answer = answer_of([] { send_commn_status_det(kSeqNum); });
    const JsonTree tree = parsed(answer);
    CommStatus status;
    status.success = succeeded(tree.get());
    const cJSON *data = data_of(tree.get());
    // PORT1 to PORT4 for serial meters; ETH_PORT otherwise.
    for (int port = 1; port <= DCU_NUM_SER_METER_PORTS; ++port) {
        const cJSON *object = cJSON_GetObjectItemCaseSensitive(data, ("PORT" + std::to_string(port)).c_str());
        if (object == nullptr) break;
        status.serial_ports = true;
        status.ports.push_back(texts_of(cJSON_GetObjectItemCaseSensitive(object, "STATUS")));
    }
    return status;
}

Modem modem() {
    const std::string answer = answer_of([] { send_modem_status_det(kSeqNum); });
    const JsonTree tree = parsed(answer);
    Modem modem;
    modem.success = succeeded(tree.get());
    bool sequence_seen = false;
    const cJSON *member = nullptr;
    cJSON_ArrayForEach(member, data_of(tree.get())) {
        // The answer's first "Status" is the request's sequence number.
        if (!sequence_seen && std::string_view(member->string) == "Status") {
            sequence_seen = true;
            continue;
        }
        modem.fields.emplace_back(member->string, text_of(member));
    }
    return modem;
}

}  // namespace dcu::web::library_answers
