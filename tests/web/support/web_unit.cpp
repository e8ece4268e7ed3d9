#include "tests/web/support/web_unit.hpp"

#include <chrono>
#include <memory>

#include "tests/support/strict_json.hpp"

namespace dcu::test {

namespace {

std::unique_ptr<TempDir> &unit_dir() {
    static std::unique_ptr<TempDir> dir;
    return dir;
}

bool plain_run() { return std::getenv("DCU_TEST_EXEC_PREFIX") == nullptr; }

std::chrono::milliseconds program_timeout() { return std::chrono::seconds(plain_run() ? 30 : 240); }

RunOptions unit_options(std::uint16_t store_port) {
    RunOptions options;
    options.env = {{"DCU_ROOT", unit_dir()->path().string()}, {"DCU_REDIS_PORT", std::to_string(store_port)}};
    options.timeout = program_timeout();
    return options;
}

void fail_unless_done(const RunResult &run, const char *what) {
    if (run.exit_code != 0) throw std::runtime_error(std::string(what) + " failed: " + run.err);
}

// Reply parts of the CGI output: "Status: 200 OK\r\nName: value\r\n...\r\n\r\nbody".
void parse_reply(const std::string &out, CgiReply &reply) {
    const std::size_t head_end = out.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos) << "no CGI header in: " << out.substr(0, 300);
    ASSERT_EQ(out.compare(0, 8, "Status: "), 0) << out.substr(0, 300);
    reply.status = std::atoi(out.c_str() + 8);
    std::size_t at = 0;
    while (at < head_end) {
        const std::size_t end = out.find("\r\n", at);
        const std::string line = out.substr(at, end - at);
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) reply.headers[line.substr(0, colon)] = line.substr(colon + 2);
        at = end + 2;
    }
    reply.body = out.substr(head_end + 4);
}

}  // namespace

void WebUnit::SetUpTestSuite() {
    StoreSuite::SetUpTestSuite();
    unit_dir() = std::make_unique<TempDir>();
    const RunOptions options = unit_options(store().port());
    const auto config = unit("/usr/tev/config/dlms_api_config.cfg");
    std::filesystem::create_directories(config.parent_path());
    std::filesystem::create_directories(unit("/usr/tev/log"));
    fail_unless_done(run_program({CFGTOOL_PATH, "encode", SAMPLE_UNIT_JSON, "-o", config.string()}, options), "cfgtool");
    fail_unless_done(run_program({CFGLOAD_PATH}, options), "cfgload");
    fail_unless_done(run_program({METERSIM_PATH, "--store", store_address(), "--meters", "7", "--seed", "2024"}, options),
                     "metersim");
    sample_selections() = web_root_files();
}

void WebUnit::TearDownTestSuite() {
    unit_dir().reset();
    StoreSuite::TearDownTestSuite();
}

void WebUnit::SetUp() {
    // Each test starts from metersim's selection files and nothing else in the web root.
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(web_root()))
        std::filesystem::remove_all(entry.path(), ignored);
    for (const auto &[name, text] : sample_selections()) write_file(web_root() / name, text);
}

const std::filesystem::path &WebUnit::root() { return unit_dir()->path(); }

std::map<std::string, std::string> &WebUnit::sample_selections() {
    static std::map<std::string, std::string> files;
    return files;
}

const std::vector<std::string> &WebUnit::serials() {
    static std::vector<std::string> list;
    if (list.empty()) {
        StoreClient client(store().port());
        for (int position = 0; position < 20; ++position)
            if (auto serial = client.hget("Port" + std::to_string(position / 5) + "Met" + std::to_string(position % 5) +
                                              "SerNum",
                                          "SER_NUM"))
                list.push_back(*serial);
    }
    return list;
}

CgiReply WebUnit::cgi(const CgiCall &call) {
    RunOptions options = unit_options(store().port());
    options.env["REQUEST_METHOD"] = call.method;
    options.env["QUERY_STRING"] = call.query;
    options.env["HTTP_HOST"] = "dcu.test:8080";
    options.env["REQUEST_SCHEME"] = "http";
    options.env["CONTENT_TYPE"] = call.content_type;
    options.unset_env = {"REMOTE_USER", "HTTP_ORIGIN", "HTTP_X_DCU_TOKEN", "CONTENT_LENGTH", "HTTPS"};
    if (call.user) options.env["REMOTE_USER"] = *call.user;
    if (call.origin) options.env["HTTP_ORIGIN"] = *call.origin;
    if (call.token) options.env["HTTP_X_DCU_TOKEN"] = *call.token;
    if (call.method == "POST" || call.content_length)
        options.env["CONTENT_LENGTH"] = call.content_length.value_or(std::to_string(call.body.size()));
    for (const auto &[name, value] : call.env) options.env[name] = value;
    options.stdin_text = call.body;
    options.max_file_size = call.max_file_size;

    CgiReply reply;
    reply.run = run_program({DCUWEB_PATH}, options);
    EXPECT_EQ(reply.run.exit_code, 0) << reply.run.err;
    parse_reply(reply.run.out, reply);
    EXPECT_EQ(reply.headers["Content-Type"], "application/json; charset=utf-8");
    EXPECT_EQ(reply.headers["Cache-Control"], "no-store");
    // The library's progress lines go to standard output too: none may come
    // into the reply.
    EXPECT_EQ(strict_json_error(reply.body), "") << reply.body;
    return reply;
}

CgiReply WebUnit::post(const std::string &view, const std::string &body) {
    CgiCall call;
    call.method = "POST";
    call.query = "view=" + view;
    call.token = token();
    call.body = body;
    return cgi(call);
}

std::string WebUnit::token(const std::string &user) {
    CgiCall call;
    call.query = "session";
    call.user = user;
    const CgiReply reply = cgi(call);
    return reply.status == 200 ? token_of_reply(reply.body) : std::string();
}

std::string WebUnit::token_of_reply(const std::string &body) {
    const std::string key = "\"token\":\"";
    const std::size_t at = body.find(key);
    if (at == std::string::npos) return {};
    const std::size_t start = at + key.size();
    return body.substr(start, body.find('"', start) - start);
}

RunResult WebUnit::dcuhost(const std::vector<std::string> &words) {
    std::vector<std::string> argv = {DCUHOST_PATH, "--store", store_address()};
    argv.insert(argv.end(), words.begin(), words.end());
    return run_program(argv, unit_options(store().port()));
}

std::map<std::string, std::string> WebUnit::web_root_files() {
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(web_root())) {
        const std::string name = entry.path().filename().string();
        if (name == ".dcuweb.lock") continue;
        files[name] = entry.is_regular_file() ? read_file(entry.path()) : "(not a regular file)";
    }
    return files;
}

}  // namespace dcu::test
