// The page and dcuweb behind the web server, with the packaged
// configuration: nobody gets in without a password that an administrator
// set, the selection files are never served, and a change needs the page's
// origin and token here too.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/strict_json.hpp"
#include "tests/web/support/served_unit.hpp"

namespace dcu::test {
namespace {

struct Served {
    const char *name;
    std::string target;
    std::optional<Credentials> credentials;
    int status;
};

const Credentials kRight{"admin", "field engineer's 1st password"};

const Served kServed[] = {
    {"Page", "/dcu/", kRight, 200},
    {"PageScript", "/dcu/dcuweb.js", kRight, 200},
    {"PageWithoutCredentials", "/dcu/", std::nullopt, 401},
    {"PageWrongPassword", "/dcu/", Credentials{"admin", "field engineer's 1st passwore"}, 401},
    {"PageUnknownUser", "/dcu/", Credentials{"root", "field engineer's 1st password"}, 401},
    {"ProgramWithoutCredentials", "/dcu/api?session", std::nullopt, 401},
    {"ProgramWrongPassword", "/dcu/api?status", Credentials{"admin", ""}, 401},
    {"Program", "/dcu/api?session", kRight, 200},
    {"ProgramBelowItsName", "/dcu/api/x", kRight, 404},
    {"SelectionFile", "/user_event_obis_det.json", std::nullopt, 403},
    {"SelectionFileSignedIn", "/user_inst_obis_det.json", kRight, 403},
    {"LockFile", "/.dcuweb.lock", std::nullopt, 403},
};

class ServedRequest : public ServedUnit, public ::testing::WithParamInterface<Served> {};

TEST_P(ServedRequest, GetsItsStatus) {
    HttpRequest request;
    request.target = GetParam().target;
    const HttpResponse response = fetch(request, GetParam().credentials);
    EXPECT_EQ(response.status, GetParam().status) << response.body.substr(0, 120);
    // Nothing of the program itself is ever served.
    EXPECT_EQ(response.body.find("\x7f" "ELF"), std::string::npos) << "the program itself was served";
}

INSTANTIATE_TEST_SUITE_P(Access, ServedRequest, ::testing::ValuesIn(kServed),
                         [](const auto &case_info) { return std::string(case_info.param.name); });

// The page is off until an administrator sets a password: without the user
// file nobody gets in, whatever they send.
TEST_F(ServedUnit, PageIsOffWithoutAUserFile) {
    const auto users = root() / "etc/dcu/dcuweb.htdigest";
    const auto kept = users.string() + ".kept";
    std::filesystem::rename(users, kept);
    const int page = fetch("/dcu/").status;
    const int program = fetch("/dcu/api?session").status;
    std::filesystem::rename(kept, users);
    EXPECT_EQ(page, 401);
    EXPECT_EQ(program, 401);
    EXPECT_EQ(fetch("/dcu/").status, 200);
}

TEST_F(ServedUnit, PageIsNeverFramedAndRunsOnlyItsOwnScript) {
    HttpResponse page = fetch("/dcu/");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(page.headers["content-security-policy"], "default-src 'self'; frame-ancestors 'none'; form-action 'none'");
    EXPECT_EQ(page.headers["x-frame-options"], "DENY");
    EXPECT_NE(page.body.find("<script src=\"dcuweb.js\" defer></script>"), std::string::npos);
}

// A change through the server: with the page's origin and token it is
// saved; without either it is refused and the file stays as it was.
TEST_F(ServedUnit, ChangeThroughTheServerNeedsOriginAndToken) {
    const HttpResponse session = fetch("/dcu/api?session");
    ASSERT_EQ(session.status, 200);
    EXPECT_EQ(strict_json_error(session.body), "");
    const std::string token = token_of_reply(session.body);
    const std::string before = event_file();

    HttpRequest change;
    change.method = "POST";
    change.target = "/dcu/api?view=od-billing";
    change.headers = {{"Content-Type", "application/json"}, {"Origin", server().origin()}};
    change.body = R"({"entries":[{"obis":"1.0.1.8.0.255","assign":"Import"}]})";
    HttpResponse refused = fetch(change);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body, R"j({"error":"a change needs the page's token (X-DCU-Token)"})j");

    change.headers["X-DCU-Token"] = token;
    change.headers["Origin"] = "http://127.0.0.1:1";
    refused = fetch(change);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(event_file(), before);

    change.headers["Origin"] = server().origin();
    const HttpResponse saved = fetch(change);
    EXPECT_EQ(saved.status, 200) << saved.body;
    const std::string saved_head = "\"BillParams\":\n{\n\"NumParams\":\"1\",\n";
    EXPECT_EQ(event_file().substr(0, saved_head.size()), saved_head);
}

}  // namespace
}  // namespace dcu::test
