// Any interfaces file and any settings that ifacegen accepts:
// - an interface that no stanza names leaves the file as it was;
// - a file without joined lines (no backslash) is rewritten exactly as a
//   plain line-by-line reading says: lines outside the interface's stanza
//   byte for byte, inside it only address, netmask and gateway lines
//   replaced, and a missing gateway added once, after the stanza's last
//   option line;
// - the new file read again gives itself back: what the pass writes never
//   changes the file's structure (a line joined to another, a stanza moved).
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/netif/interfaces_rewrite.hpp"

namespace {

using dcu::netif::InterfaceSettings;

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

struct Pass {
    bool found;
    std::string output;
};

Pass rewrite(const std::string &file, const InterfaceSettings &settings) {
    std::istringstream in(file);
    std::ostringstream out, messages;
    const bool found = dcu::netif::createNetworkFile(in, out, messages, settings);
    return {found, out.str()};
}

// What the pass must write for a file without backslashes, where every line
// of the file is a line of its own for ifup.
Pass expected_rewrite(const std::string &file, const InterfaceSettings &settings) {
    const std::string gateway_line =
        settings.gateway == "0.0.0.0" ? std::string("#\n") : "\tgateway " + std::string(settings.gateway) + "\n";
    std::vector<std::string> lines;
    bool found = false, in_stanza = false, gateway_seen = false;
    int place_rank = 0;  // 3 an option line, 2 an iface line, 1 an auto line
    std::size_t place = 0;
    for (const std::string &line : split_lines(file)) {
        std::istringstream words(line);
        std::string first, second, family;
        words >> first >> second >> family;
        const bool comment = first.starts_with('#');
        const bool auto_line = first == "auto" || first.starts_with("allow-");
        const bool header = auto_line || first == "iface" || first == "mapping" || first == "source" ||
                            first == "source-directory" || first == "rename" || first == "no-auto-down" ||
                            first == "no-scripts";
        if (header) {
            // An inet6 stanza of the interface keeps its own (IPv6) settings.
            in_stanza = second == settings.interface_name && (auto_line || (first == "iface" && family != "inet6"));
            found = found || in_stanza;
        }
        if (!in_stanza) {
            lines.push_back(line);
            continue;
        }
        if (first == "address") {
            lines.push_back("\taddress " + std::string(settings.ip_address) + "\n");
        } else if (first == "netmask") {
            lines.push_back("\tnetmask " + std::string(settings.netmask) + "\n");
        } else if (first == "gateway") {
            lines.push_back(gateway_line);
            gateway_seen = true;
        } else {
            lines.push_back(line);
        }
        const int rank = first.empty() || comment ? 0 : !header ? 3 : first == "iface" ? 2 : 1;
        if (rank > 0 && rank >= place_rank) {
            place_rank = rank;
            place = lines.size();
        }
    }
    if (found && !gateway_seen) {
        if (place > 0 && !lines[place - 1].ends_with('\n')) lines[place - 1] += '\n';
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place), gateway_line);
    }
    std::string output;
    for (const std::string &line : lines) output += line;
    return {found, output};
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
    // ifacegen refuses, before it reads anything, values that hold control
    // characters and written values that end with a backslash.
    for (const auto &value : values)
        if (!dcu::netif::is_single_line_value(value)) return 0;
    for (std::size_t i = 0; i < 3; ++i)
        if (dcu::netif::joins_next_line(values[i])) return 0;
    const InterfaceSettings settings{values[0], values[1], values[2], values[3]};
    const std::string file(input);

    const Pass pass = rewrite(file, settings);
    if (!pass.found && pass.output != file) std::abort();

    if (file.find('\\') == std::string::npos) {
        const Pass expected = expected_rewrite(file, settings);
        if (pass.found != expected.found || pass.output != expected.output) std::abort();
    }

    // A "#" for gateway 0.0.0.0 is a comment, so a second pass adds another:
    // the file is its own rewrite only with a real gateway.
    if (pass.found && settings.gateway != "0.0.0.0") {
        const Pass again = rewrite(pass.output, settings);
        if (!again.found || again.output != pass.output) std::abort();
    }
    return 0;
}
