// dcuweb's requests, behind the web server's authentication:
//
//   GET  ?session     the user, a token for changes, the selection views
//   GET  ?view=ID     a view: the codes the unit has for its kind, the section as it stands
//   POST ?view=ID     saves the section: {"entries":[{"obis":"...","assign":"..."},...]},
//                     with the page's own Origin and the token in X-DCU-Token
//   GET  ?status      the meters and the modem
//
// Every answer is JSON; a refusal is {"error":"<why>"} under its HTTP status,
// and changes nothing.
#pragma once

#include <ctime>

#include "web/cgi_request.hpp"
#include "web/http_reply.hpp"

namespace dcu::web {

// The largest body a save takes: 255 parameters with long names need
// some 50 kB.
inline constexpr std::size_t kLargestBody = 64 * 1024;

// Answers request, reading a body from body_fd; now is the time the tokens go by.
Reply answer_request(const CgiRequest &request, int body_fd, std::time_t now);

}  // namespace dcu::web
