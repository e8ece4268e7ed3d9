#include "host/settings_file.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <string_view>

namespace dcu::host {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::vector<FileSetting>> read_settings_file(const std::string &path, std::string *error) {
    std::ifstream file(path);
    if (!file) {
        *error = "can't read the settings file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<FileSetting> settings;
    std::set<std::string, std::less<>> seen;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::string_view content = trimmed(line);
        if (content.empty() || content.front() == '#') continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const auto equals = content.find('=');
        const std::string_view key = equals == std::string_view::npos ? content : trimmed(content.substr(0, equals));
        // The line itself is never quoted back: a value may be a secret
        // written here by mistake.
        if (equals == std::string_view::npos || key.empty()) {
            *error = where + "not a \"key = value\" line";
            return std::nullopt;
        }
        if (!seen.emplace(key).second) {
            *error = where + std::string(key) + " is set twice";
            return std::nullopt;
        }
        settings.push_back({std::string(key), std::string(trimmed(content.substr(equals + 1))), number});
    }
    if (file.bad()) {
        *error = "can't read the settings file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return settings;
}

}  // namespace dcu::host
