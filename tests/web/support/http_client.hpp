// A plain HTTP/1.1 client for the tests: one request per connection to the
// loopback web server, with digest authentication (MD5, qop auth) when the
// server asks for it and credentials are given.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace dcu::test {

struct HttpRequest {
    std::string method = "GET";
    std::string target = "/";  // path and query
    std::map<std::string, std::string> headers;
    std::string body;
};

struct HttpResponse {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

struct Credentials {
    std::string user;
    std::string password;
};

// Sends the request; when the answer is 401 with a digest challenge and
// credentials are given, sends it again with its answer to the challenge.
HttpResponse http_request(std::uint16_t port, const HttpRequest &request,
                          const std::optional<Credentials> &credentials = std::nullopt);

}  // namespace dcu::test
