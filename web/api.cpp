#include "web/api.hpp"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "host/escaped_nul.hpp"
#include "web/access.hpp"
#include "web/json_writer.hpp"
#include "web/selection_files.hpp"
#include "web/selection_text.hpp"
#include "web/unit_catalogue.hpp"
#include "web/unit_status.hpp"

namespace dcu::web {

namespace {

struct JsonDelete {
    void operator()(cJSON *tree) const noexcept { cJSON_Delete(tree); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDelete>;

using selection::Entry;

void write_view(JsonWriter &json, const View &view) {
    json.member("id", view.id).member("title", view.title);
    json.member("file", view.file.substr(view.file.rfind('/') + 1)).member("section", view.section);
    json.member("kind", kind_name(view.kind));
}

Reply session(const CgiRequest &request, std::time_t now) {
    const auto token = access::token_for(request.user, now);
    if (!token) return error_reply(500, "dcuweb can't read or make its token secret");
    JsonWriter json;
    json.begin_object().member("user", request.user).member("token", *token);
    json.key("views").begin_array();
    for (const View &view : views()) {
        json.begin_object();
        write_view(json, view);
        json.end_object();
    }
    json.end_array().end_object();
    return json_reply(json.text());
}

Reply view_reply(const View &view) {
    const selection_files::Current current = selection_files::current(view);
    const Catalogue catalogue = catalogue_of(view.kind);
    JsonWriter json;
    json.begin_object();
    write_view(json, view);
    json.member("file_state", selection_files::state_text(current.state));
    json.member("store", catalogue.store_reached).member("meters", catalogue.meters);
    json.key("codes").begin_array();
    for (const CatalogueCode &code : catalogue.codes)
        json.begin_object().member("obis", code.obis).member("meters", code.meters).end_object();
    json.end_array();
    json.key("selected").begin_array();
    for (const Entry &entry : current.entries) {
        const bool known = std::any_of(catalogue.codes.begin(), catalogue.codes.end(),
                                       [&](const CatalogueCode &code) { return code.obis == entry.obis; });
        json.begin_object().member("obis", entry.obis).member("assign", entry.assign).member("known", known);
        json.end_object();
    }
    json.end_array().end_object();
    return json_reply(json.text());
}

// The entries of a save's body, or the refusal.
struct Parsed {
    std::vector<Entry> entries;
    std::optional<Reply> refusal;
};

Parsed parse_entries(const std::string &body) {
    Parsed parsed;
    auto refuse = [&parsed](std::string_view why) {
        parsed.refusal = error_reply(400, why);
        return std::move(parsed);
    };
    if (std::memchr(body.data(), '\0', body.size()) != nullptr) return refuse("the body holds a NUL byte");
    const char *end = nullptr;
    const JsonTree tree(cJSON_ParseWithLengthOpts(body.data(), body.size(), &end, 0));
    if (!tree) return refuse("the body is not JSON");
    // One JSON value, and nothing but blanks after it.
    for (const char *rest = end; rest != nullptr && rest < body.data() + body.size(); ++rest)
        if (std::strchr(" \t\r\n", *rest) == nullptr) return refuse("the body holds text after its JSON value");
    // A "\u0000" would cut a text short where it stands, unseen.
    const auto nuls = host::strings_holding_nul(body);
    if (std::find(nuls.begin(), nuls.end(), true) != nuls.end()) return refuse("a text of the body holds a NUL (\\u0000)");
    const cJSON *list = cJSON_GetObjectItemCaseSensitive(tree.get(), "entries");
    if (!cJSON_IsObject(tree.get()) || !cJSON_IsArray(list))
        return refuse("the body must be {\"entries\":[{\"obis\":\"...\",\"assign\":\"...\"},...]}");
    const int count = cJSON_GetArraySize(list);
    if (count > static_cast<int>(selection_text::kMostEntries))
        return refuse("a selection holds at most " + std::to_string(selection_text::kMostEntries) + " parameters, not " +
                      std::to_string(count));
    int index = 0;
    const cJSON *item = nullptr;
    cJSON_ArrayForEach(item, list) {
        ++index;
        const cJSON *obis = cJSON_GetObjectItemCaseSensitive(item, "obis");
        const cJSON *assign = cJSON_GetObjectItemCaseSensitive(item, "assign");
        if (!cJSON_IsString(obis) || !cJSON_IsString(assign))
            return refuse("parameter " + std::to_string(index) + " needs an obis and an assign text");
        Entry entry{obis->valuestring, assign->valuestring};
        if (const std::string problem = selection_text::entry_problem(entry); !problem.empty())
            return refuse("parameter " + std::to_string(index) + ": " + problem);
        for (const Entry &earlier : parsed.entries)
            if (earlier.obis == entry.obis) return refuse("the code " + entry.obis + " is chosen twice");
        parsed.entries.push_back(std::move(entry));
    }
    return parsed;
}

bool is_json_type(std::string_view content_type) {
    const std::string_view type = content_type.substr(0, content_type.find(';'));
    const std::size_t last = type.find_last_not_of(' ');
    return type.substr(0, last == std::string_view::npos ? 0 : last + 1) == "application/json";
}

Reply save(const CgiRequest &request, const View &view, int body_fd, std::time_t now) {
    // A change comes from the page itself: its own origin, and a token only
    // dcuweb makes. Another site's form or script has neither.
    if (!access::same_origin(request.origin, request.scheme, request.host))
        return error_reply(403, "a change must come from this page (Origin " +
                                    (request.origin.empty() ? std::string("missing") : request.origin) + ")");
    const char *token = std::getenv("HTTP_X_DCU_TOKEN");
    if (token == nullptr || !access::token_valid(token, request.user, now))
        return error_reply(403, token == nullptr ? "a change needs the page's token (X-DCU-Token)"
                                                 : "the token is not this user's, or has expired: reload the page");
    if (!is_json_type(request.content_type)) return error_reply(415, "a change is sent as application/json");
    const Body body = read_body(body_fd, request, kLargestBody);
    switch (body.status) {
    case BodyStatus::ok: break;
    case BodyStatus::no_length: return error_reply(411, "a change needs its Content-Length");
    case BodyStatus::too_large:
        return error_reply(413, "a change is at most " + std::to_string(kLargestBody) + " bytes");
    case BodyStatus::short_body: return error_reply(400, "the body is shorter than its Content-Length");
    }
    Parsed parsed = parse_entries(body.bytes);
    if (parsed.refusal) return *parsed.refusal;

    const selection_files::Saved saved = selection_files::save(view, parsed.entries);
    if (saved.status != 200) return error_reply(saved.status, saved.message);
    JsonWriter json;
    json.begin_object().member("saved", true);
    write_view(json, view);
    json.member("num_params", std::to_string(saved.entries.size()));
    json.key("selected").begin_array();
    for (const Entry &entry : saved.entries)
        json.begin_object().member("obis", entry.obis).member("assign", entry.assign).end_object();
    json.end_array().end_object();
    return json_reply(json.text());
}

}  // namespace

Reply answer_request(const CgiRequest &request, int body_fd, std::time_t now) {
    // The web server's authentication sets the user; without one dcuweb is
    // not where it belongs, and does nothing.
    if (request.user.empty())
        return error_reply(403, "dcuweb answers only behind the web server's authentication (no REMOTE_USER)");
    const bool get = request.method == "GET";
    if (!get && request.method != "POST") {
        Reply refusal = error_reply(405, "dcuweb takes GET and POST only");
        refusal.headers.emplace_back("Allow", "GET, POST");
        return refusal;
    }
    if (const auto id = query_parameter(request.query, "view")) {
        const View *view = find_view(*id);
        if (view == nullptr) return error_reply(404, "no selection view \"" + *id + "\"");
        return get ? view_reply(*view) : save(request, *view, body_fd, now);
    }
    if (!get) return error_reply(405, "only a view's selection can be saved (POST ?view=ID)");
    if (query_parameter(request.query, "session")) return session(request, now);
    if (query_parameter(request.query, "status")) return json_reply(unit_status_json());
    return error_reply(404, "no such request: GET ?session, ?view=ID or ?status");
}

}  // namespace dcu::web
