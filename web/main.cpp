// dcuweb: the program behind the unit's service page, run by the web server
// as a CGI program; `dcuweb --set-password USER` sets a user's password in
// the web server's user file.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "common/replace_file.hpp"
#include "common/whole_file.hpp"
#include "web/api.hpp"
#include "web/library_host.hpp"
#include "web/password_file.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: dcuweb                      (as a CGI program, run by the web server)\n"
    "       dcuweb --set-password USER  (the password on standard input)\n";

int serve_request() {
    // The reply goes out on a descriptor of its own: the library's progress
    // lines, printed on standard output, never reach the HTTP response.
    const dcu::UniqueFd reply_fd = dcu::web::reply_descriptor();
    if (!reply_fd) return 1;
    dcu::ignore_file_size_signal();
    const dcu::web::CgiRequest request = dcu::web::request_from_environment();
    dcu::web::Reply reply;
    try {
        reply = dcu::web::answer_request(request, STDIN_FILENO, std::time(nullptr));
    } catch (const std::exception &error) {
        reply = dcu::web::error_reply(500, "dcuweb ran out of memory");
    }
    dcu::web::close_store();
    if (reply.status != 200)
        std::fprintf(stderr, "dcuweb: %s %s?%s by %s: %s\n", dcu::web::status_text(reply.status).c_str(),
                     request.method.c_str(), request.query.c_str(), request.user.c_str(), reply.body.c_str());
    return dcu::write_all(reply_fd.get(), dcu::web::cgi_text(reply)) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 1) return serve_request();
    const std::string_view option = argv[1];
    if (option == "--set-password" && argc == 3) return dcu::web::password_file::set_password(argv[2]);
    if (option == "--help" && argc == 2) {
        std::fputs(kUsage.data(), stdout);
        return 0;
    }
    std::fputs(kUsage.data(), stderr);
    return 2;
}
