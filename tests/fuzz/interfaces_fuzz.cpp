// Any interfaces file and any settings: every line outside the stanza being
// changed reaches the new file byte for byte, a line inside it becomes one
// line, and only a gateway line may be added at the end.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/netif/interfaces_rewrite.hpp"

namespace {

// Lines with their line ends; a last line without one is a line too.
std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The first bytes, up to four NULs, are the settings; the rest is the file.
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::string_view values[4] = {"192.168.1.10", "255.255.255.0", "192.168.1.1", "eth0"};
    for (auto &value : values) {
        const auto nul = input.find('\0');
        if (nul == std::string_view::npos || nul > 31) break;
        value = input.substr(0, nul);
        input.remove_prefix(nul + 1);
    }
    // ifacegen refuses values that hold control characters before it reads anything.
    for (const auto &value : values)
        if (!dcu::netif::is_single_line_value(value)) return 0;
    const dcu::netif::InterfaceSettings settings{values[0], values[1], values[2], values[3]};
    const std::string file(input);

    std::istringstream in(file);
    std::ostringstream out, messages;
    dcu::netif::createNetworkFile(in, out, messages, settings);

    const auto before = split_lines(file);
    const auto after = split_lines(out.str());
    if (after.size() < before.size() || after.size() > before.size() + 2) std::abort();
    bool in_stanza = false;
    for (std::size_t i = 0; i < before.size(); ++i) {
        const std::string &line = before[i];
        if (line.find("auto") != std::string::npos) in_stanza = line.find(settings.interface_name) != std::string::npos;
        // A last line without a line end gets one when a gateway line follows it.
        const bool last_unended = i + 1 == before.size() && line.back() != '\n';
        const std::string &copy = after[i];
        const bool same = copy == line || (last_unended && copy == line + "\n");
        if (!in_stanza && !same) std::abort();
    }
    return 0;
}
