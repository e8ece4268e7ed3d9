// The sample unit behind a private lighttpd, as a unit serves its page: the
// packaged configuration, the user "admin" with its password set by
// dcuweb --set-password. Every dcuweb run under the server must have exited
// 0 by the end of each test.
#pragma once

#include <gtest/gtest.h>

#include "tests/web/support/http_client.hpp"
#include "tests/web/support/private_web_server.hpp"
#include "tests/web/support/web_unit.hpp"

namespace dcu::test {

class ServedUnit : public WebUnit {
protected:
    static constexpr const char *kUser = "admin";
    static constexpr const char *kPassword = "field engineer's 1st password";

    static void SetUpTestSuite() {
        WebUnit::SetUpTestSuite();
        RunOptions options;
        options.env["DCU_ROOT"] = root().string();
        options.stdin_text = std::string(kPassword) + "\n";
        const RunResult set = run_program({DCUWEB_PATH, "--set-password", kUser}, options);
        if (set.exit_code != 0) throw std::runtime_error("dcuweb --set-password failed: " + set.err);
        if (have_lighttpd()) server().start({root(), store().port()});
    }
    static void TearDownTestSuite() {
        server().stop();
        WebUnit::TearDownTestSuite();
    }
    void SetUp() override {
        if (!have_lighttpd()) GTEST_SKIP() << "no lighttpd (scripts/install-deps.sh installs it)";
        WebUnit::SetUp();
        server().take_cgi_exit_statuses();
    }
    void TearDown() override {
        for (const int status : server().take_cgi_exit_statuses())
            EXPECT_EQ(status, 0) << "dcuweb under the web server; its log:\n" << server().error_log();
    }

    static PrivateWebServer &server() {
        static PrivateWebServer instance;
        return instance;
    }
    static HttpResponse fetch(const HttpRequest &request, const std::optional<Credentials> &credentials =
                                                                 Credentials{kUser, kPassword}) {
        return http_request(server().port(), request, credentials);
    }
    static HttpResponse fetch(const std::string &target) {
        HttpRequest request;
        request.target = target;
        return fetch(request);
    }
};

}  // namespace dcu::test
