#include "common/paths.hpp"

#include <charconv>
#include <cstdlib>

namespace dcu::paths {

std::string root() {
    const char *value = std::getenv("DCU_ROOT");
    if (value == nullptr) return {};
    std::string prefix(value);
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    return prefix;
}

std::string on_unit(std::string_view absolute_path) {
    std::string path = root();
    path.append(absolute_path);
    return path;
}

std::uint16_t store_port() {
    const char *value = std::getenv("DCU_REDIS_PORT");
    if (value == nullptr) return kStorePort;
    std::string_view text(value);
    unsigned port = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc{} || end != text.data() + text.size() || port == 0 || port > 65535) return kStorePort;
    return static_cast<std::uint16_t>(port);
}

}  // namespace dcu::paths
