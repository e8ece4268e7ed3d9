#include "tests/web/support/private_web_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/unique_fd.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"

namespace dcu::test {

namespace {

constexpr const char *kLighttpd = "/usr/sbin/lighttpd";

// text with every `from` replaced by `to`; throws when there is none, so a
// snippet that changed its paths can't leave the test serving another one.
std::string replaced(std::string text, const std::string &from, const std::string &to) {
    std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("the web server snippet no longer holds " + from);
    for (; at != std::string::npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
    return text;
}

// A word for sh, quoted.
std::string sh_quoted(const std::string &word) {
    std::string out = "'";
    for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A text for lighttpd's configuration, quoted.
std::string conf_quoted(const std::string &text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

bool accepts(std::uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return fd && ::connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
}

// What dcuweb needs of the test's environment under the web server, which
// passes it nothing of its own: the exec prefix's settings (valgrind's, the
// emulator's), the sanitizers' options, the search path.
std::string passed_environment(const WebServerSetup &setup) {
    std::string entries = "  \"DCU_ROOT\" => " + conf_quoted(setup.unit_root.string()) + ",\n";
    entries += "  \"DCU_REDIS_PORT\" => \"" + std::to_string(setup.store_port) + "\",\n";
    for (char **entry = ::environ; *entry != nullptr; ++entry) {
        const std::string item = *entry;
        const std::string name = item.substr(0, item.find('='));
        const bool wanted = name == "PATH" || name == "HOME" || name.ends_with("SAN_OPTIONS") ||
                            (name.starts_with("DCU_") && name != "DCU_ROOT" && name != "DCU_REDIS_PORT");
        if (wanted) entries += "  " + conf_quoted(name) + " => " + conf_quoted(item.substr(name.size() + 1)) + ",\n";
    }
    return entries;
}

}  // namespace

bool have_lighttpd() { return ::access(kLighttpd, X_OK) == 0; }

void PrivateWebServer::start(const WebServerSetup &setup) {
    stop();
    dir_ = std::make_unique<TempDir>();
    const std::filesystem::path dir = dir_->path();

    // dcuweb through the exec prefix, its exit status kept.
    const auto wrapper = dir / "dcuweb-cgi.sh";
    std::string prefix;
    for (const std::string &word : exec_prefix()) prefix += sh_quoted(word) + " ";
    write_file(wrapper, "#!/bin/sh\n" + prefix + "\"$@\"\nstatus=$?\necho \"$status\" >>" +
                            sh_quoted((dir / "cgi-exit-statuses").string()) + "\nexit \"$status\"\n");
    ::chmod(wrapper.c_str(), 0755);

    std::string snippet = read_file(DCU_WEB_SNIPPET);
    snippet = replaced(snippet, "\"/usr/lib/dcu-web/dcuweb\"", conf_quoted(DCUWEB_PATH));
    snippet = replaced(snippet, "\"/usr/share/dcu-web/page/\"", conf_quoted(std::string(DCU_WEB_PAGE_DIR) + "/"));
    snippet = replaced(snippet, "\"/etc/dcu/dcuweb.htdigest\"",
                       conf_quoted((setup.unit_root / "etc/dcu/dcuweb.htdigest").string()));
    snippet = replaced(snippet, "cgi.assign = ( \"\" => \"\" )", "cgi.assign = ( \"\" => " + conf_quoted(wrapper) + " )");

    port_ = free_loopback_port();
    const auto docroot = setup.unit_root / "srv/www/htdocs";
    std::filesystem::create_directories(docroot);
    std::ostringstream conf;
    conf << "server.document-root = " << conf_quoted(docroot.string()) << "\n"
         << "server.bind = \"127.0.0.1\"\n"
         << "server.port = " << port_ << "\n"
         << "server.errorlog = " << conf_quoted((dir / "error.log").string()) << "\n"
         << "server.pid-file = " << conf_quoted((dir / "lighttpd.pid").string()) << "\n"
         << "server.modules = ( \"mod_indexfile\" )\n"
         << "index-file.names = ( \"index.html\" )\n"
         << "mimetype.assign = ( \".html\" => \"text/html; charset=utf-8\", \".css\" => \"text/css; charset=utf-8\",\n"
         << "  \".js\" => \"text/javascript; charset=utf-8\", \".json\" => \"application/json\" )\n"
         << snippet << "\n"
         // Static files last, as the distribution's configuration has them:
         // the handlers before it (CGI) take their URLs first.
         << "server.modules += ( \"mod_staticfile\" )\n"
         << "setenv.set-environment = (\n" << passed_environment(setup) << ")\n";
    const auto config = dir / "lighttpd.conf";
    write_file(config, conf.str());

    // Its streams on /dev/null, so that it never holds the test's output
    // open; a SIGTERM should the test crash, so that it never outlives it.
    ChildLaunch launch;
    launch.argv = {kLighttpd, "-D", "-f", config.string()};
    server_ = ChildProcess(launch);
    for (int round = 0; round < 500; ++round) {
        if (accepts(port_)) return;
        if (server_.poll()) throw std::runtime_error("lighttpd did not start: " + error_log());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop();
    throw std::runtime_error("lighttpd did not accept connections");
}

void PrivateWebServer::stop() {
    if (!server_.running()) return;
    server_.signal(SIGTERM);
    server_.wait();
}

std::vector<int> PrivateWebServer::take_cgi_exit_statuses() {
    std::vector<int> statuses;
    if (!dir_) return statuses;
    const auto path = dir_->path() / "cgi-exit-statuses";
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return statuses;
    std::istringstream in(read_file(path));
    for (int status = 0; in >> status;) statuses.push_back(status);
    std::filesystem::remove(path, error);
    return statuses;
}

std::string PrivateWebServer::error_log() const {
    if (!dir_) return {};
    std::error_code error;
    const auto path = dir_->path() / "error.log";
    return std::filesystem::exists(path, error) ? read_file(path) : std::string();
}

}  // namespace dcu::test
