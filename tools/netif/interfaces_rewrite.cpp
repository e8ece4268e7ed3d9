#include "tools/netif/interfaces_rewrite.hpp"

#include <algorithm>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "common/read_line.hpp"

namespace dcu::netif {

namespace {

// A gateway of 0.0.0.0 means "no gateway": its line becomes a bare "#".
constexpr std::string_view kNoGateway = "0.0.0.0";

constexpr std::string_view kBlanks = " \t\r\n\v\f";

bool is_comment(std::string_view line) {
    const auto first = line.find_first_not_of(kBlanks);
    return first != std::string_view::npos && line[first] == '#';
}

// ifup joins a line that ends with a backslash (right before its '\n', or
// at the very end of the file) to the next one, if there is one; comment
// lines are never joined. The length of the backslash and line end.
std::size_t joining_suffix(std::string_view line) {
    if (line.ends_with("\\\n")) return 2;
    if (line.ends_with('\\')) return 1;
    return 0;
}
bool continues(std::string_view line) { return joining_suffix(line) > 0; }

// One line as ifup reads it: the lines of the file that make it up, each as
// read (line end included), and its first two words.
struct LogicalLine {
    std::vector<std::string> pieces;
    std::string first_word;
    std::string second_word;
    std::string third_word;  // an iface line's address family
    bool comment = false;
};

void find_words(LogicalLine &line) {
    std::string text;
    for (std::string_view piece : line.pieces) {
        piece.remove_suffix(joining_suffix(piece));
        text += piece;
    }
    std::string_view rest = text;
    for (std::string *word : {&line.first_word, &line.second_word, &line.third_word}) {
        const auto start = rest.find_first_not_of(kBlanks);
        if (start == std::string_view::npos) return;
        rest.remove_prefix(start);
        const auto end = std::min(rest.find_first_of(kBlanks), rest.size());
        *word = rest.substr(0, end);
        rest.remove_prefix(end);
    }
}

std::vector<LogicalLine> read_logical_lines(std::istream &input) {
    std::vector<LogicalLine> lines;
    bool joined = false;
    std::string piece;
    while (read_line(input, piece)) {
        if (!joined) {
            lines.emplace_back();
            lines.back().comment = is_comment(piece);
        }
        LogicalLine &line = lines.back();
        joined = !line.comment && continues(piece);
        line.pieces.push_back(std::move(piece));
    }
    for (LogicalLine &line : lines)
        if (!line.comment) find_words(line);
    return lines;
}

bool is_auto_word(std::string_view word) { return word == "auto" || word.starts_with("allow-"); }

// Every line that begins a stanza of its own ends the one before it.
bool starts_a_stanza(std::string_view word) {
    return is_auto_word(word) || word == "iface" || word == "mapping" || word == "source" ||
           word == "source-directory" || word == "rename" || word == "no-auto-down" || word == "no-scripts";
}

// Where a missing gateway line goes: after the stanza's last option line;
// without one, after its last iface line, or else its last auto line.
enum class GatewayPlace { none, auto_line, iface_line, option_line };

}  // namespace

bool createNetworkFile(std::istream &input, std::ostream &output, std::ostream &messages,
                       const InterfaceSettings &settings) {
    const bool no_gateway = settings.gateway == kNoGateway;
    std::string new_file;
    bool found = false;
    bool in_stanza = false;
    bool gateway_handled = false;
    GatewayPlace gateway_place = GatewayPlace::none;
    std::size_t gateway_at = 0;  // offset in new_file

    auto write_option = [&](std::string_view option, std::string_view value) {
        new_file += '\t';
        new_file += option;
        new_file += ' ';
        new_file += value;
        new_file += '\n';
    };

    for (const LogicalLine &line : read_logical_lines(input)) {
        const std::string_view word = line.first_word;
        const bool header = starts_a_stanza(word);
        if (header) {
            if (is_auto_word(word)) messages << "auto key word found\n";
            // The settings are IPv4 ones: an inet6 stanza of the same
            // interface keeps its own address, netmask and gateway.
            const bool names_interface =
                line.second_word == settings.interface_name &&
                (is_auto_word(word) || (word == "iface" && line.third_word != "inet6"));
            if (names_interface && !in_stanza) messages << "Found the interface to be modified\n";
            in_stanza = names_interface;
            found = found || names_interface;
        }
        if (!in_stanza) {
            for (const std::string &piece : line.pieces) new_file += piece;
            continue;
        }

        if (word == "address") {
            messages << "IP Address\n";
            write_option("address", settings.ip_address);
        } else if (word == "netmask") {
            messages << "Netmask\n";
            write_option("netmask", settings.netmask);
        } else if (word == "gateway") {
            messages << "GATEWAY\n";
            if (no_gateway) {
                new_file += "#\n";
            } else {
                write_option("gateway", settings.gateway);
            }
            gateway_handled = true;
        } else {
            for (const std::string &piece : line.pieces) new_file += piece;
        }
        for (const std::string &piece : line.pieces) messages << "line " << piece << '\n';

        if (!line.comment && !word.empty()) {
            const GatewayPlace place = !header             ? GatewayPlace::option_line
                                       : word == "iface"   ? GatewayPlace::iface_line
                                                           : GatewayPlace::auto_line;
            if (place >= gateway_place) {
                gateway_place = place;
                gateway_at = new_file.size();
            }
        }
    }

    if (found && !gateway_handled) {
        std::string gateway_line;
        // The line before may be a last line without a line end, or one that
        // ends with a backslash and nothing to join: the new line must be
        // neither glued nor joined to it (an empty line ends the joining).
        const std::string_view before = std::string_view(new_file).substr(0, gateway_at);
        if (!before.empty() && !before.ends_with('\n')) gateway_line += '\n';
        if (continues(before)) gateway_line += '\n';
        if (no_gateway) {
            gateway_line += "#\n";
        } else {
            gateway_line += "\tgateway ";
            gateway_line += settings.gateway;
            gateway_line += '\n';
        }
        new_file.insert(gateway_at, gateway_line);
    }
    output.write(new_file.data(), static_cast<std::streamsize>(new_file.size()));
    return found;
}

bool is_single_line_value(std::string_view value) noexcept {
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

bool joins_next_line(std::string_view value) noexcept { return value.ends_with('\\'); }

}  // namespace dcu::netif
