// What dcuweb hands back to the web server: a CGI reply (a Status line,
// headers, a blank line, the body), always JSON, never cached.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dcu::web {

struct Reply {
    int status = 200;
    std::string body;  // a JSON text
    std::vector<std::pair<std::string, std::string>> headers;  // beyond the ones every reply has
};

// A 200 reply with body.
Reply json_reply(std::string body);
// A refusal: the status and {"error":"<message>"}.
Reply error_reply(int status, std::string_view message);

// "400 Bad Request", the status line's text.
std::string status_text(int status);

// The whole CGI output of a reply.
std::string cgi_text(const Reply &reply);

}  // namespace dcu::web
