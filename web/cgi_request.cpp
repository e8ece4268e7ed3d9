#include "web/cgi_request.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "common/hex_digit.hpp"

namespace dcu::web {

namespace {

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::optional<std::string> percent_decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = hex_digit_value(text[i + 1]);
            const int low = hex_digit_value(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

CgiRequest request_from_environment() {
    CgiRequest request;
    request.method = environment("REQUEST_METHOD");
    request.query = environment("QUERY_STRING");
    request.user = environment("REMOTE_USER");
    request.content_type = environment("CONTENT_TYPE");
    request.origin = environment("HTTP_ORIGIN");
    request.host = environment("HTTP_HOST");
    request.scheme = environment("REQUEST_SCHEME");
    if (request.scheme.empty()) request.scheme = environment("HTTPS") == "on" ? "https" : "http";
    if (const char *length = std::getenv("CONTENT_LENGTH")) request.content_length = length;
    return request;
}

std::optional<std::string> query_parameter(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t equals = pair.find('=');
        const auto decoded_name = percent_decoded(pair.substr(0, equals));
        if (!decoded_name || *decoded_name != name) continue;
        if (equals == std::string_view::npos) return std::string();
        return percent_decoded(pair.substr(equals + 1));
    }
    return std::nullopt;
}

Body read_body(int fd, const CgiRequest &request, std::size_t limit) {
    Body body;
    if (!request.content_length || request.content_length->empty()) {
        body.status = BodyStatus::no_length;
        return body;
    }
    const std::string &text = *request.content_length;
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (error == std::errc::result_out_of_range) {
        body.status = BodyStatus::too_large;
        return body;
    }
    if (error != std::errc() || end != text.data() + text.size()) {
        body.status = BodyStatus::no_length;
        return body;
    }
    if (length > limit) {
        body.status = BodyStatus::too_large;
        return body;
    }
    body.bytes.resize(length);
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::read(fd, body.bytes.data() + got, length - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    body.bytes.resize(got);
    if (got < length) body.status = BodyStatus::short_body;
    return body;
}

}  // namespace dcu::web
