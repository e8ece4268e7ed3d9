// A request as the web server hands it to a CGI program: the method, the
// query, a few headers and the authenticated user in the environment, the
// body on standard input.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dcu::web {

struct CgiRequest {
    std::string method;        // REQUEST_METHOD
    std::string query;         // QUERY_STRING, as sent
    std::string user;          // REMOTE_USER: set by the server's authentication
    std::string content_type;  // CONTENT_TYPE
    std::string origin;        // HTTP_ORIGIN
    std::string host;          // HTTP_HOST
    std::string scheme;        // REQUEST_SCHEME ("https" also when HTTPS is "on")
    std::optional<std::string> content_length;  // CONTENT_LENGTH, as given
};

CgiRequest request_from_environment();

// The value of a parameter of a query ("view=od-billing&x"), percent-decoded;
// an empty value for a name without "="; nothing when the name is not there
// or its value is not validly encoded.
std::optional<std::string> query_parameter(std::string_view query, std::string_view name);

enum class BodyStatus {
    ok,
    no_length,   // no CONTENT_LENGTH, or one that is not a number
    too_large,   // CONTENT_LENGTH above the limit: nothing was read
    short_body,  // fewer bytes came than CONTENT_LENGTH said
};

struct Body {
    BodyStatus status = BodyStatus::ok;
    std::string bytes;
};

// Reads the body from fd: exactly CONTENT_LENGTH bytes, when that is at most limit.
Body read_body(int fd, const CgiRequest &request, std::size_t limit);

}  // namespace dcu::web
