// dcuweb refuses every bad request with its HTTP status and a clear reason,
// and changes nothing: the selection files stay byte for byte as they were
// and no file is left beside them.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>

#include <array>
#include <ctime>
#include <functional>
#include <string>

#include "tests/web/support/web_unit.hpp"

namespace dcu::test {
namespace {

constexpr const char *kOneEntry = R"({"entries":[{"obis":"1.0.1.8.0.255","assign":"Import"}]})";

std::string entries_body(int count) {
    std::string body = "{\"entries\":[";
    for (int i = 1; i <= count; ++i) {
        if (i > 1) body += ",";
        body += "{\"obis\":\"1.0.128.0." + std::to_string(i) + ".255\",\"assign\":\"P" + std::to_string(i) + "\"}";
    }
    return body + "]}";
}

// A token as dcuweb makes it, for another hour: HMAC-SHA256 of the user and
// the hour under the unit's secret.
std::string token_for_window(const std::filesystem::path &secret_file, const std::string &user, long long window) {
    const std::string secret = read_file(secret_file);
    const std::string message = "dcuweb token\n" + user + "\n" + std::to_string(window);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char *>(message.data()), message.size(), digest.data(), &length);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xf];
    }
    return std::to_string(window) + "." + hex;
}

long long this_hour() { return static_cast<long long>(std::time(nullptr) / 3600); }

struct Context {
    std::string token;        // a valid token of admin
    std::filesystem::path secret;  // the unit's token secret
};

struct Refusal {
    const char *name;
    std::function<CgiCall(const Context &)> call;
    int status;
    std::string body;
};

CgiCall save_call(const Context &context, std::string body = kOneEntry) {
    CgiCall call;
    call.method = "POST";
    call.query = "view=od-billing";
    call.token = context.token;
    call.body = std::move(body);
    return call;
}

template <typename Change>
std::function<CgiCall(const Context &)> save_with(Change change) {
    return [change](const Context &context) {
        CgiCall call = save_call(context);
        change(call, context);
        return call;
    };
}

std::function<CgiCall(const Context &)> save_of(std::string body) {
    return [body](const Context &context) { return save_call(context, body); };
}

const Refusal kRefusals[] = {
    // What is asked for.
    {"UnknownView", save_with([](CgiCall &c, const Context &) { c.query = "view=od-billings"; }), 404,
     R"j({"error":"no selection view \"od-billings\""})j"},
    {"UnknownViewRead", [](const Context &) { CgiCall c; c.query = "view=LSParams"; return c; }, 404,
     R"j({"error":"no selection view \"LSParams\""})j"},
    {"UnknownRequest", [](const Context &) { CgiCall c; c.query = "files"; return c; }, 404,
     R"j({"error":"no such request: GET ?session, ?view=ID or ?status"})j"},
    {"PutMethod", save_with([](CgiCall &c, const Context &) { c.method = "PUT"; }), 405,
     R"j({"error":"dcuweb takes GET and POST only"})j"},
    {"PostWithoutView", save_with([](CgiCall &c, const Context &) { c.query = "session"; }), 405,
     R"j({"error":"only a view's selection can be saved (POST ?view=ID)"})j"},
    // Who asks, and from where.
    {"NoAuthenticatedUser", save_with([](CgiCall &c, const Context &) { c.user.reset(); }), 403,
     R"j({"error":"dcuweb answers only behind the web server's authentication (no REMOTE_USER)"})j"},
    {"NoOrigin", save_with([](CgiCall &c, const Context &) { c.origin.reset(); }), 403,
     R"j({"error":"a change must come from this page (Origin missing)"})j"},
    {"ForeignOrigin", save_with([](CgiCall &c, const Context &) { c.origin = "http://evil.example"; }), 403,
     R"j({"error":"a change must come from this page (Origin http://evil.example)"})j"},
    {"OtherPortOrigin", save_with([](CgiCall &c, const Context &) { c.origin = "http://dcu.test:8081"; }), 403,
     R"j({"error":"a change must come from this page (Origin http://dcu.test:8081)"})j"},
    {"OtherSchemeOrigin", save_with([](CgiCall &c, const Context &) { c.origin = "https://dcu.test:8080"; }), 403,
     R"j({"error":"a change must come from this page (Origin https://dcu.test:8080)"})j"},
    {"NoToken", save_with([](CgiCall &c, const Context &) { c.token.reset(); }), 403,
     R"j({"error":"a change needs the page's token (X-DCU-Token)"})j"},
    {"TokenOfAnotherUser", save_with([](CgiCall &c, const Context &) { c.user = "operator"; }), 403,
     R"j({"error":"the token is not this user's, or has expired: reload the page"})j"},
    {"ForgedToken",
     save_with([](CgiCall &c, const Context &) { c.token->back() = c.token->back() == '0' ? '1' : '0'; }), 403,
     R"j({"error":"the token is not this user's, or has expired: reload the page"})j"},
    {"TokenTwoHoursOld",
     save_with([](CgiCall &c, const Context &x) { c.token = token_for_window(x.secret, "admin", this_hour() - 2); }),
     403, R"j({"error":"the token is not this user's, or has expired: reload the page"})j"},
    {"TokenOfTheNextHour",
     save_with([](CgiCall &c, const Context &x) { c.token = token_for_window(x.secret, "admin", this_hour() + 1); }),
     403, R"j({"error":"the token is not this user's, or has expired: reload the page"})j"},
    // How the change is sent.
    {"PlainTextBody", save_with([](CgiCall &c, const Context &) { c.content_type = "text/plain"; }), 415,
     R"j({"error":"a change is sent as application/json"})j"},
    {"FormBody",
     save_with([](CgiCall &c, const Context &) { c.content_type = "application/x-www-form-urlencoded"; }), 415,
     R"j({"error":"a change is sent as application/json"})j"},
    {"NoContentLength", save_with([](CgiCall &c, const Context &) { c.content_length = ""; }), 411,
     R"j({"error":"a change needs its Content-Length"})j"},
    {"BodyOverTheLimit",
     save_with([](CgiCall &c, const Context &) { c.body = std::string(65537, ' '); }), 413,
     R"j({"error":"a change is at most 65536 bytes"})j"},
    {"HugeContentLength", save_with([](CgiCall &c, const Context &) { c.content_length = "99999999999999999999999"; }),
     413, R"j({"error":"a change is at most 65536 bytes"})j"},
    {"ShortBody", save_with([](CgiCall &c, const Context &) { c.content_length = "500"; }), 400,
     R"j({"error":"the body is shorter than its Content-Length"})j"},
    // What the change holds.
    {"NotJson", save_of("entries=1.0.1.8.0.255"), 400, R"j({"error":"the body is not JSON"})j"},
    {"TextAfterTheJson", save_of(std::string(kOneEntry) + " x"), 400,
     R"j({"error":"the body holds text after its JSON value"})j"},
    {"NotAList", save_of(R"({"entries":{"obis":"1.0.1.8.0.255","assign":"Import"}})"), 400,
     R"j({"error":"the body must be {\"entries\":[{\"obis\":\"...\",\"assign\":\"...\"},...]}"})j"},
    {"MissingAssign", save_of(R"({"entries":[{"obis":"1.0.1.8.0.255"}]})"), 400,
     R"j({"error":"parameter 1 needs an obis and an assign text"})j"},
    {"NumberAsCode", save_of(R"({"entries":[{"obis":18,"assign":"Import"}]})"), 400,
     R"j({"error":"parameter 1 needs an obis and an assign text"})j"},
    {"MoreThan255Parameters", save_of(entries_body(256)), 400,
     R"j({"error":"a selection holds at most 255 parameters, not 256"})j"},
    {"ControlCharacterInName",
     save_of(R"({"entries":[{"obis":"0.0.1.0.0.255","assign":"Date"},{"obis":"1.0.1.8.0.255","assign":"Im\u0007port"}]})"),
     400, R"j({"error":"parameter 2: a display name holds a control character"})j"},
    {"LineBreakInName", save_of(R"({"entries":[{"obis":"1.0.1.8.0.255","assign":"Import\nkWh"}]})"), 400,
     R"j({"error":"parameter 1: a display name holds a control character"})j"},
    {"TabInCode", save_of(R"({"entries":[{"obis":"1.0.1.8.0.255\t","assign":"Import"}]})"), 400,
     R"j({"error":"parameter 1: a code holds a control character"})j"},
    {"EscapedNulInName", save_of(R"({"entries":[{"obis":"1.0.1.8.0.255","assign":"Import\u0000kWh"}]})"), 400,
     R"j({"error":"a text of the body holds a NUL (\\u0000)"})j"},
    {"NotUtf8Name", save_of("{\"entries\":[{\"obis\":\"1.0.1.8.0.255\",\"assign\":\"Import \xff\"}]}"), 400,
     R"j({"error":"parameter 1: a display name is not UTF-8 text"})j"},
    {"EmptyName", save_of(R"({"entries":[{"obis":"1.0.1.8.0.255","assign":""}]})"), 400,
     R"j({"error":"parameter 1: a display name is empty"})j"},
    {"EmptyCode", save_of(R"({"entries":[{"obis":"","assign":"Import"}]})"), 400,
     R"j({"error":"parameter 1: a code is empty"})j"},
    {"CodeLongerThanTheUnitKeeps",
     save_of(R"({"entries":[{"obis":"1.0.1.8.0.255.1.0.1.8.0.255.1234","assign":"Import"}]})"), 400,
     R"j({"error":"parameter 1: the code \"1.0.1.8.0.255.1.0.1.8.0.255.123...\" is longer than 31 bytes"})j"},
    {"NameLongerThanTheUnitKeeps",
     save_of(R"({"entries":[{"obis":"1.0.1.8.0.255","assign":")" + std::string(64, 'n') + R"("}]})"), 400,
     "{\"error\":\"parameter 1: the display name \\\"" + std::string(63, 'n') + "...\\\" is longer than 63 bytes\"}"},
    {"CodeChosenTwice",
     save_of(R"({"entries":[{"obis":"1.0.1.8.0.255","assign":"Import"},{"obis":"1.0.1.8.0.255","assign":"Again"}]})"), 400,
     R"j({"error":"the code 1.0.1.8.0.255 is chosen twice"})j"},
};

class RefusedRequest : public WebUnit, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedRequest, AnswersItsStatusAndChangesNothing) {
    const Refusal &refusal = GetParam();
    const auto before = web_root_files();
    const Context context{token(), unit("/var/lib/dcu-web/token-secret")};
    ASSERT_FALSE(context.token.empty());

    const CgiReply reply = cgi(refusal.call(context));
    EXPECT_EQ(reply.status, refusal.status) << reply.body;
    EXPECT_EQ(reply.body, refusal.body);
    EXPECT_EQ(web_root_files(), before);
}

INSTANTIATE_TEST_SUITE_P(BadInput, RefusedRequest, ::testing::ValuesIn(kRefusals),
                         [](const auto &case_info) { return std::string(case_info.param.name); });

// The tokens that are taken, for contrast with the refused ones: this
// hour's and the last hour's, made the same way.
TEST_F(WebUnit, TokenOfThisOrTheLastHourIsTaken) {
    token();  // makes the secret
    const auto secret = unit("/var/lib/dcu-web/token-secret");
    for (const long long window : {this_hour(), this_hour() - 1}) {
        CgiCall call;
        call.method = "POST";
        call.query = "view=od-billing";
        call.token = token_for_window(secret, "admin", window);
        call.body = kOneEntry;
        EXPECT_EQ(cgi(call).status, 200) << "window " << window;
    }
}

// The secret is made by the first run, readable by dcuweb's user only.
TEST_F(WebUnit, TokenSecretIsMadeOnceForItsOwnerOnly) {
    const auto secret = unit("/var/lib/dcu-web/token-secret");
    std::filesystem::remove(secret);
    const std::string first = token();
    struct stat info {};
    ASSERT_EQ(::stat(secret.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(std::filesystem::file_size(secret), 32u);
    EXPECT_EQ(token(), first);
    // A new secret (the unit reinstalled) makes every earlier token worthless.
    std::filesystem::remove(secret);
    CgiCall call;
    call.method = "POST";
    call.query = "view=od-billing";
    call.token = first;
    call.body = kOneEntry;
    EXPECT_EQ(cgi(call).status, 403);
}

// Files the loader would not read are left alone, whatever the change.
struct Unreadable {
    const char *name;
    std::function<void(const std::filesystem::path &)> make;
    int status;
    std::string body;
    std::string file_state;
};

void write_text(const std::filesystem::path &path, const std::string &text) { write_file(path, text); }

const std::string kNotASelectionFile =
    R"j({"error":"user_event_obis_det.json is not a selection file the unit can read (the members of an object without its braces); nothing was changed"})j";

const Unreadable kUnreadable[] = {
    {"OwnOuterBraces",
     [](const auto &p) {
         write_text(p, "{\"BillParams\":{\"NumParams\":\"1\",\"ObisCodeList\":[{\"obis\":\"a\",\"assign\":\"A\"}]}}\n");
     },
     409, kNotASelectionFile, "unparsable"},
    {"TextAfterTheLastSection",
     [](const auto &p) { write_text(p, "\"BillParams\":{\"NumParams\":\"0\",\"ObisCodeList\":[]}\n}\n"); }, 409,
     kNotASelectionFile, "unparsable"},
    {"NulInTheFile",
     [](const auto &p) {
         std::string text = "\"BillParams\":{\"NumParams\":\"0\",\"ObisCodeList\":[]},\n\"MNParams\":";
         text += '\0';
         write_text(p, text + "{}\n");
     },
     409, kNotASelectionFile, "unparsable"},
    {"NotJsonAtAll", [](const auto &p) { write_text(p, "BillParams = 1.0.1.8.0.255\n"); }, 409, kNotASelectionFile,
     "unparsable"},
    {"Fifo",
     [](const auto &p) {
         std::filesystem::remove(p);
         ::mkfifo(p.c_str(), 0600);
     },
     409, R"j({"error":"can't read user_event_obis_det.json: Operation not supported; nothing was changed"})j",
     "unreadable"},
    {"Directory",
     [](const auto &p) {
         std::filesystem::remove(p);
         std::filesystem::create_directory(p);
     },
     409, R"j({"error":"can't read user_event_obis_det.json: Is a directory; nothing was changed"})j", "unreadable"},
};

class UnreadableFile : public WebUnit, public ::testing::WithParamInterface<Unreadable> {};

TEST_P(UnreadableFile, IsShownAsSuchAndNeverWritten) {
    GetParam().make(unit(kEventSelection));
    const auto before = web_root_files();

    const CgiReply view = get("view=od-billing");
    EXPECT_EQ(view.status, 200);
    EXPECT_NE(view.body.find("\"file_state\":\"" + GetParam().file_state + "\""), std::string::npos) << view.body;
    EXPECT_NE(view.body.find("\"selected\":[]"), std::string::npos) << view.body;

    const CgiReply saved = post("od-billing", kOneEntry);
    EXPECT_EQ(saved.status, GetParam().status);
    EXPECT_EQ(saved.body, GetParam().body);
    EXPECT_EQ(web_root_files(), before);
}

INSTANTIATE_TEST_SUITE_P(Files, UnreadableFile, ::testing::ValuesIn(kUnreadable),
                         [](const auto &case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace dcu::test
