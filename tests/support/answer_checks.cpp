#include "tests/support/answer_checks.hpp"

#include <cjson/cJSON.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "tests/support/strict_json.hpp"

namespace dcu::test {

namespace {

struct JsonDelete {
    void operator()(cJSON *tree) const noexcept { cJSON_Delete(tree); }
};
using Json = std::unique_ptr<cJSON, JsonDelete>;

Json parse(std::string_view text) { return Json(cJSON_ParseWithLength(text.data(), text.size())); }

const cJSON *member(const cJSON *object, const char *key) { return cJSON_GetObjectItemCaseSensitive(object, key); }

// A count member's value; nothing when there is no such member.
std::optional<long> count_of(const cJSON *object, const char *key, std::string &problem) {
    const cJSON *value = member(object, key);
    if (value == nullptr) return std::nullopt;
    if (!cJSON_IsString(value)) {
        problem = std::string(key) + " is not a text";
        return std::nullopt;
    }
    return std::strtol(value->valuestring, nullptr, 10);
}

std::optional<long> list_length(const cJSON *object, const char *key) {
    const cJSON *list = member(object, key);
    if (!cJSON_IsArray(list)) return std::nullopt;
    return cJSON_GetArraySize(list);
}

std::string check_records(const cJSON *records, long values) {
    long index = 0;
    for (const cJSON *record = records->child; record != nullptr; record = record->next, ++index) {
        if (!cJSON_IsObject(record) || cJSON_GetArraySize(record) != values)
            return "record " + std::to_string(index) + " does not have NUM_PARAM values";
        long j = 0;
        for (const cJSON *value = record->child; value != nullptr; value = value->next, ++j)
            if (value->string != "V" + std::to_string(j) || !cJSON_IsString(value))
                return "record " + std::to_string(index) + " has no V" + std::to_string(j);
    }
    return {};
}

std::string check_data(const cJSON *data) {
    std::string problem;
    const std::pair<const char *, const char *> lists[] = {
        {"NUM_FILES", "FILE_LIST"}, {"NUM_DIRS", "DIR_LIST"}, {"NUM_MET", "MET_LIST"}};
    for (const auto &[count_key, list_key] : lists) {
        const auto count = count_of(data, count_key, problem);
        if (!problem.empty()) return problem;
        if (count && count != list_length(data, list_key))
            return std::string(count_key) + " is not the length of " + list_key;
    }
    const auto num_param = count_of(data, "NUM_PARAM", problem);
    if (!problem.empty()) return problem;
    if (num_param && member(data, "INST_PARAM") != nullptr) {
        if (num_param != list_length(data, "INST_PARAM")) return "NUM_PARAM is not the length of INST_PARAM";
    } else if (num_param) {
        if (num_param != list_length(data, "PARAM_LIST")) return "NUM_PARAM is not the length of PARAM_LIST";
        const cJSON *records = nullptr;
        for (const cJSON *item = data->child; item != nullptr; item = item->next)
            if (std::string_view(item->string).ends_with("_DATA")) records = item;
        if (!cJSON_IsArray(records)) return "no data list";
        const auto num_entries = count_of(data, "NUM_ENTRIES", problem);
        if (!problem.empty()) return problem;
        if (!num_entries || *num_entries != cJSON_GetArraySize(records))
            return "NUM_ENTRIES is not the length of the data list";
        if (std::string records_problem = check_records(records, *num_param); !records_problem.empty())
            return records_problem;
    }
    for (const cJSON *port = data->child; port != nullptr; port = port->next) {
        if (!cJSON_IsObject(port) || member(port, "STATUS") == nullptr) continue;
        const auto meters = count_of(port, "NUM_METERS", problem);
        const auto statuses = list_length(port, "STATUS");
        if (!meters || !statuses || *statuses != *meters)
            return std::string(port->string) + ": STATUS is not as long as NUM_METERS";
    }
    return {};
}

}  // namespace

std::string answer_problem(std::string_view text) {
    if (std::string error = strict_json_error(text); !error.empty()) return "not strict JSON: " + error;
    const Json tree = parse(text);
    if (!cJSON_IsObject(tree.get())) return "not an object";
    for (const char *key : {"TYPE", "SEQ_NUM", "CMD_STATUS"})
        if (!cJSON_IsString(member(tree.get(), key))) return std::string("no ") + key;
    const std::string_view status = member(tree.get(), "CMD_STATUS")->valuestring;
    if (status != "SUCCESS" && status != "FAILURE") return "CMD_STATUS is neither SUCCESS nor FAILURE";
    const cJSON *data = member(tree.get(), "DATA");
    if (!cJSON_IsObject(data)) return "no DATA object";
    return check_data(data);
}

std::string answer_member(std::string_view text, std::string_view path) {
    const Json tree = parse(text);
    const cJSON *object = tree.get();
    std::string key(path);
    if (path.starts_with("DATA.")) {
        object = member(object, "DATA");
        key = path.substr(5);
    }
    const cJSON *value = member(object, key.c_str());
    return cJSON_IsString(value) ? value->valuestring : std::string();
}

}  // namespace dcu::test
