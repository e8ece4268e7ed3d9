#include "host/credentials.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace dcu::host {

std::optional<std::string> read_secret_file(const std::string &path, const std::string &meaning, std::string *error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "can't read " + meaning + " " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string value((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        *error = "can't read " + meaning + " " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    // Files written with an editor or echo end in a line end that is not
    // part of the secret.
    if (value.ends_with('\n')) value.pop_back();
    if (value.ends_with('\r')) value.pop_back();
    if (value.empty()) {
        *error = meaning + " " + path + " is empty";
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> credential_path(const std::string &name) {
    const char *directory = std::getenv("CREDENTIALS_DIRECTORY");
    if (directory == nullptr || *directory == '\0') return std::nullopt;
    std::string path = std::string(directory) + "/" + name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return path;
}

std::optional<Secret> broker_password(const std::optional<std::string> &password_file, std::string *error) {
    if (password_file) {
        auto value = read_secret_file(*password_file, "the password file", error);
        if (!value) return std::nullopt;
        return Secret{std::move(*value), "the file " + *password_file};
    }
    if (const char *variable = std::getenv(kPasswordVariable); variable != nullptr && *variable != '\0') {
        Secret secret{variable, std::string("the environment (") + kPasswordVariable + ")"};
        ::unsetenv(kPasswordVariable);
        return secret;
    }
    if (auto path = credential_path(kPasswordCredential)) {
        auto value = read_secret_file(*path, "the credential", error);
        if (!value) return std::nullopt;
        return Secret{std::move(*value), std::string("the systemd credential ") + kPasswordCredential};
    }
    return std::nullopt;
}

}  // namespace dcu::host
