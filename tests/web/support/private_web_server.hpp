// A lighttpd of the test's own serving the service page: a free loopback
// port, a scratch directory for its configuration and logs, started as a
// child process of the test (tests/support/child_process) and stopped by its
// PID.
//
// Its configuration is the packaged snippet (web/lighttpd/50-dcu-web.conf)
// with the package's paths put where the build has them: the page from the
// source tree, dcuweb from the build, the user file under the unit's
// DCU_ROOT. dcuweb runs through a small script that puts
// DCU_TEST_EXEC_PREFIX in front of it (valgrind, qemu-arm) and records its
// exit status, so a dcuweb that crashed or leaked under the web server
// fails the test that made it run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

struct WebServerSetup {
    std::filesystem::path unit_root;  // DCU_ROOT of dcuweb; the document root is its /srv/www/htdocs
    std::uint16_t store_port = 0;     // DCU_REDIS_PORT of dcuweb
};

class PrivateWebServer {
public:
    PrivateWebServer() = default;
    PrivateWebServer(const PrivateWebServer &) = delete;
    PrivateWebServer &operator=(const PrivateWebServer &) = delete;
    ~PrivateWebServer() { stop(); }

    // Writes the configuration, starts lighttpd and waits until it accepts
    // connections.
    void start(const WebServerSetup &setup);
    // SIGTERM to lighttpd's PID, then waits for it.
    void stop();

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The exit statuses of every dcuweb run since start (or the last call).
    std::vector<int> take_cgi_exit_statuses();
    // lighttpd's error log, for a failure's message.
    std::string error_log() const;

private:
    std::unique_ptr<TempDir> dir_;
    std::uint16_t port_ = 0;
    ChildProcess server_;
};

// Whether lighttpd is there to be started.
bool have_lighttpd();

}  // namespace dcu::test
