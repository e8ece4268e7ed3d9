#include "tests/web/support/http_client.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <chrono>
#include <stdexcept>

#include "common/unique_fd.hpp"

namespace dcu::test {

namespace {

// Long enough for dcuweb under valgrind.
constexpr auto kReplyWait = std::chrono::seconds(120);

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string md5_hex(const std::string &text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0xf]);
    }
    return hex;
}

std::string round_trip(std::uint16_t port, const std::string &text) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("can't connect to the web server");
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = ::send(fd.get(), text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the server may answer before it has read everything (413)
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + kReplyWait;
    char piece[16384];
    for (;;) {
        pollfd wait{fd.get(), POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("the web server did not answer in time");
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = ::recv(fd.get(), piece, sizeof piece, 0);
        if (n <= 0) return reply;
        reply.append(piece, static_cast<std::size_t>(n));
    }
}

HttpResponse parse(const std::string &reply) {
    HttpResponse response;
    const std::size_t head_end = reply.find("\r\n\r\n");
    if (head_end == std::string::npos || reply.compare(0, 9, "HTTP/1.1 ") != 0)
        throw std::runtime_error("not an HTTP answer: " + reply.substr(0, 200));
    response.status = std::stoi(reply.substr(9, 3));
    std::size_t at = reply.find("\r\n") + 2;
    while (at < head_end) {
        const std::size_t end = reply.find("\r\n", at);
        const std::string line = reply.substr(at, end - at);
        const std::size_t colon = line.find(':');
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        response.headers[lower(line.substr(0, colon))] = value;
        at = end + 2;
    }
    response.body = reply.substr(head_end + 4);
    return response;
}

std::string request_text(std::uint16_t port, const HttpRequest &request, const std::string &authorization) {
    std::string text = request.method + " " + request.target + " HTTP/1.1\r\n";
    text += "Host: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n";
    for (const auto &[name, value] : request.headers) text += name + ": " + value + "\r\n";
    if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
    if (!request.body.empty() || request.method == "POST")
        if (request.headers.count("Content-Length") == 0)
            text += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
    return text + "\r\n" + request.body;
}

// A parameter of a digest challenge: realm="...", nonce="...".
std::string challenge_parameter(const std::string &challenge, const std::string &name) {
    const std::size_t at = challenge.find(name + "=\"");
    if (at == std::string::npos) return {};
    const std::size_t start = at + name.size() + 2;
    return challenge.substr(start, challenge.find('"', start) - start);
}

std::string digest_answer(const HttpRequest &request, const std::string &challenge, const Credentials &credentials) {
    const std::string realm = challenge_parameter(challenge, "realm");
    const std::string nonce = challenge_parameter(challenge, "nonce");
    const std::string cnonce = "0a4f113b";
    const std::string nc = "00000001";
    const std::string ha1 = md5_hex(credentials.user + ":" + realm + ":" + credentials.password);
    const std::string ha2 = md5_hex(request.method + ":" + request.target);
    const std::string response = md5_hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2);
    return "Digest username=\"" + credentials.user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
           "\", uri=\"" + request.target + "\", algorithm=MD5, qop=auth, nc=" + nc + ", cnonce=\"" + cnonce +
           "\", response=\"" + response + "\"";
}

}  // namespace

HttpResponse http_request(std::uint16_t port, const HttpRequest &request,
                          const std::optional<Credentials> &credentials) {
    HttpResponse response = parse(round_trip(port, request_text(port, request, "")));
    if (response.status != 401 || !credentials) return response;
    const std::string challenge = response.headers["www-authenticate"];
    if (challenge.rfind("Digest ", 0) != 0) return response;
    return parse(round_trip(port, request_text(port, request, digest_answer(request, challenge, *credentials))));
}

}  // namespace dcu::test
