// Any text as a selection file, loaded the way each handler family loads it:
// no crash, no count past 255, nothing selected when the count is refused,
// and the same selection whichever family's progress lines are printed.
// The selection reader is also held against a reference that builds the
// whole cJSON tree and looks members up by name: for every text, as a file's
// members and as a whole JSON text, both must find the same or both refuse it.
#include <cjson/cJSON.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "reqhandlers/selection.hpp"
#include "reqhandlers/selection_json.hpp"

namespace {

namespace json = dcu::selection::json;

struct JsonDelete {
    void operator()(cJSON *tree) const noexcept { cJSON_Delete(tree); }
};

json::Text text_member(const cJSON *node, const char *name) {
    const cJSON *member = cJSON_GetObjectItemCaseSensitive(node, name);
    if (!cJSON_IsString(member)) return std::nullopt;
    return std::string(member->valuestring);
}

std::optional<json::Section> reference_reading(const std::string &text, const char *section, std::size_t max_items) {
    std::unique_ptr<cJSON, JsonDelete> tree(cJSON_ParseWithLengthOpts(text.c_str(), text.size() + 1, nullptr, 1));
    if (!tree) return std::nullopt;
    json::Section reading;
    const cJSON *node = cJSON_GetObjectItemCaseSensitive(tree.get(), section);
    reading.num_params = text_member(node, "NumParams");
    const cJSON *list = cJSON_GetObjectItemCaseSensitive(node, "ObisCodeList");
    if (cJSON_IsArray(list)) {
        for (const cJSON *item = list->child; item != nullptr && reading.items.size() < max_items; item = item->next)
            reading.items.push_back({text_member(item, "obis"), text_member(item, "assign")});
    }
    return reading;
}

bool same(const std::optional<json::Section> &a, const std::optional<json::Section> &b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    if (a->num_params != b->num_params || a->items.size() != b->items.size()) return false;
    for (std::size_t i = 0; i < a->items.size(); ++i)
        if (a->items[i].obis != b->items[i].obis || a->items[i].assign != b->items[i].assign) return false;
    return true;
}

void compare_with_reference(const std::string &text, const char *section) {
    for (const std::size_t max_items : {std::size_t{1}, std::size_t{255}})
        if (!same(json::read_section(text, section, max_items), reference_reading(text, section, max_items)))
            std::abort();
}

// A file of the run's own, removed when the run ends.
const char *scratch_file() {
    static char path[] = "/tmp/dcu-selection-fuzz-XXXXXX";
    static const bool made = [] {
        const int fd = ::mkstemp(path);
        if (fd >= 0) ::close(fd);
        std::atexit([] { ::unlink(path); });
        return true;
    }();
    (void)made;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::FILE *file = std::fopen(scratch_file(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    const std::string whole(reinterpret_cast<const char *>(data), size);
    const std::string members = "{" + whole.substr(0, std::strlen(whole.c_str())) + "}";

    static std::FILE *null_out = std::fopen("/dev/null", "w");
    std::FILE *saved = stdout;
    stdout = null_out;
    namespace sel = dcu::selection;
    for (const char *section : {"BillParams", "MNParams", "EventParams", "LSParams", "InstParams"}) {
        compare_with_reference(whole, section);
        compare_with_reference(members, section);
        const auto first = sel::load(scratch_file(), section, sel::messages::kProfile);
        if (first.entries.size() > 255) std::abort();
        if (first.refused && !first.entries.empty()) std::abort();
        for (const sel::Messages *messages :
             {&sel::messages::kFileContent, &sel::messages::kEventDetail, &sel::messages::kInstant}) {
            const auto again = sel::load(scratch_file(), section, *messages);
            if (again.file_failed != first.file_failed || again.refused != first.refused ||
                again.entries.size() != first.entries.size())
                std::abort();
            for (std::size_t i = 0; i < first.entries.size(); ++i)
                if (again.entries[i].obis != first.entries[i].obis || again.entries[i].assign != first.entries[i].assign)
                    std::abort();
        }
    }
    stdout = saved;
    return 0;
}
