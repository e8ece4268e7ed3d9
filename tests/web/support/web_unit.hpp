// The sample unit that dcuweb's suites work on: a private store, the sample
// configuration published by cfgload and seven meters written by metersim
// under a scratch DCU_ROOT, made once per suite; each test starts from the
// five selection files as metersim wrote them.
//
// dcuweb is run as the web server runs a CGI program: the request in its
// environment, the body on standard input, through DCU_TEST_EXEC_PREFIX.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/run_program.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

// What a CGI request carries. The defaults make a GET by the user "admin"
// from the page's own origin.
struct CgiCall {
    std::string method = "GET";
    std::string query;
    std::optional<std::string> user = "admin";
    std::optional<std::string> origin = std::string(kOwnOrigin);
    std::optional<std::string> token;
    std::string content_type = "application/json";
    std::string body;
    std::optional<std::string> content_length;  // the body's length unless given
    std::map<std::string, std::string> env;      // more of the environment
    std::optional<std::uint64_t> max_file_size;  // RLIMIT_FSIZE of dcuweb

    static constexpr std::string_view kOwnOrigin = "http://dcu.test:8080";
};

struct CgiReply {
    int status = 0;  // from the Status line
    std::map<std::string, std::string> headers;
    std::string body;
    RunResult run;
};

class WebUnit : public StoreSuite {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static const std::filesystem::path &root();
    // A unit path ("/srv/www/htdocs/...") as the test opens it.
    static std::filesystem::path unit(std::string_view unit_path) {
        return root() / std::filesystem::path(unit_path).relative_path();
    }
    static std::filesystem::path web_root() { return unit("/srv/www/htdocs"); }
    static std::string event_file() { return read_file(unit(kEventSelection)); }

    // The serial numbers of the unit's meters, in position order.
    static const std::vector<std::string> &serials();

    // dcuweb as a CGI program. Fails the test unless it exited 0 and wrote a
    // whole CGI reply (a Status line, JSON, a body that is strict JSON and
    // nothing after it).
    static CgiReply cgi(const CgiCall &call);
    static CgiReply get(const std::string &query) {
        CgiCall call;
        call.query = query;
        return cgi(call);
    }
    // A POST of body to view with a fresh token of the user.
    static CgiReply post(const std::string &view, const std::string &body);
    // The token dcuweb hands the user.
    static std::string token(const std::string &user = "admin");
    // The token of a session's reply body.
    static std::string token_of_reply(const std::string &body);

    // dcuhost on the unit: its standard output.
    static RunResult dcuhost(const std::vector<std::string> &words);

    // The five selection files and every other entry of the web root, as
    // they are now (a lock file aside).
    static std::map<std::string, std::string> web_root_files();

    static constexpr const char *kEventSelection = "/srv/www/htdocs/user_event_obis_det.json";

private:
    static std::map<std::string, std::string> &sample_selections();
};

}  // namespace dcu::test
