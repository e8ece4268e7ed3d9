#include "web/access.hpp"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/paths.hpp"
#include "common/unique_fd.hpp"

namespace dcu::web::access {

namespace {

constexpr std::size_t kSecretSize = 32;

using Secret = std::array<unsigned char, kSecretSize>;

bool read_secret(const std::string &path, Secret &secret) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return false;
    return ::read(fd.get(), secret.data(), secret.size()) == static_cast<ssize_t>(secret.size());
}

// Makes the secret where there is none: written whole to a file of its own,
// then linked in place, so a run that reads it never sees half of one and
// two first runs at once agree on one.
bool make_secret(const std::string &path) {
    const std::string dir = path.substr(0, path.rfind('/'));
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(dir).parent_path(), ignored);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    Secret secret{};
    if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1) return false;
    std::string temp = dir + "/.token-secret.XXXXXX";
    const UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) return false;
    const bool written = ::fchmod(fd.get(), 0600) == 0 &&
                         ::write(fd.get(), secret.data(), secret.size()) == static_cast<ssize_t>(secret.size()) &&
                         ::fsync(fd.get()) == 0;
    const bool linked = written && (::link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST);
    ::unlink(temp.c_str());
    return linked;
}

std::optional<Secret> secret() {
    const std::string path = paths::on_unit(kSecretFile);
    Secret value{};
    if (read_secret(path, value)) return value;
    if (make_secret(path) && read_secret(path, value)) return value;
    return std::nullopt;
}

std::string hex(const unsigned char *bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0xf]);
    }
    return text;
}

std::optional<std::string> mac(const Secret &key, std::string_view user, long long window) {
    // The user's name can't hold a line end (the server's user file is
    // made of lines), so the two parts can't be shifted into each other.
    const std::string message = "dcuweb token\n" + std::string(user) + "\n" + std::to_string(window);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char *>(message.data()), message.size(), digest.data(), &length) ==
        nullptr)
        return std::nullopt;
    return hex(digest.data(), length);
}

long long window_of(std::time_t now) { return static_cast<long long>(now / kWindowSeconds); }

}  // namespace

std::optional<std::string> token_for(std::string_view user, std::time_t now) {
    const auto key = secret();
    if (!key) return std::nullopt;
    const long long window = window_of(now);
    const auto digest = mac(*key, user, window);
    if (!digest) return std::nullopt;
    return std::to_string(window) + "." + *digest;
}

bool token_valid(std::string_view token, std::string_view user, std::time_t now) {
    const std::size_t dot = token.find('.');
    if (dot == std::string_view::npos || user.empty()) return false;
    long long window = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + dot, window);
    if (error != std::errc() || end != token.data() + dot) return false;
    const long long current = window_of(now);
    if (window != current && window != current - 1) return false;
    const auto key = secret();
    if (!key) return false;
    const auto expected = mac(*key, user, window);
    const std::string_view given = token.substr(dot + 1);
    return expected && given.size() == expected->size() &&
           CRYPTO_memcmp(given.data(), expected->data(), given.size()) == 0;
}

bool same_origin(std::string_view origin, std::string_view scheme, std::string_view host) {
    if (origin.empty() || host.empty() || scheme.empty()) return false;
    return origin == std::string(scheme) + "://" + std::string(host);
}

}  // namespace dcu::web::access
