#include "web/http_reply.hpp"

#include "web/json_writer.hpp"

namespace dcu::web {

Reply json_reply(std::string body) { return Reply{200, std::move(body), {}}; }

Reply error_reply(int status, std::string_view message) {
    JsonWriter json;
    json.begin_object().member("error", message).end_object();
    return Reply{status, json.text(), {}};
}

std::string status_text(int status) {
    const char *reason = "Internal Server Error";
    switch (status) {
    case 200: reason = "OK"; break;
    case 400: reason = "Bad Request"; break;
    case 403: reason = "Forbidden"; break;
    case 404: reason = "Not Found"; break;
    case 405: reason = "Method Not Allowed"; break;
    case 409: reason = "Conflict"; break;
    case 411: reason = "Length Required"; break;
    case 413: reason = "Content Too Large"; break;
    case 415: reason = "Unsupported Media Type"; break;
    case 503: reason = "Service Unavailable"; break;
    default: break;
    }
    return std::to_string(status) + " " + reason;
}

std::string cgi_text(const Reply &reply) {
    std::string text = "Status: " + status_text(reply.status) + "\r\n";
    text += "Content-Type: application/json; charset=utf-8\r\n";
    // Answers about the unit's state are never kept by a browser or a proxy,
    // and a browser never reads one as anything but JSON.
    text += "Cache-Control: no-store\r\n";
    text += "X-Content-Type-Options: nosniff\r\n";
    for (const auto &[name, value] : reply.headers) text += name + ": " + value + "\r\n";
    text += "\r\n";
    text += reply.body;
    return text;
}

}  // namespace dcu::web
