#include "tools/netif/interfaces_rewrite.hpp"

#include <istream>
#include <ostream>
#include <string>

namespace dcu::netif {

namespace {

// A gateway of 0.0.0.0 means "no gateway": its line becomes a bare "#".
constexpr std::string_view kNoGateway = "0.0.0.0";

bool contains(std::string_view line, std::string_view word) {
    return line.find(word) != std::string_view::npos;
}

// Reads one whole line, of any length, with its '\n' when it has one (the
// last line of a file may have none). False once the input is exhausted.
bool read_line(std::istream &input, std::string &line) {
    if (!std::getline(input, line)) return false;
    if (!input.eof()) line.push_back('\n');
    return true;
}

// Writes to the new file and remembers whether it ends at a line boundary.
class NewFile {
public:
    explicit NewFile(std::ostream &output) : output_(output) {}

    void write(std::string_view text) {
        if (text.empty()) return;
        output_.write(text.data(), static_cast<std::streamsize>(text.size()));
        ends_line_ = text.back() == '\n';
    }
    bool ends_line() const { return ends_line_; }

private:
    std::ostream &output_;
    bool ends_line_ = true;
};

}  // namespace

void createNetworkFile(std::istream &input, std::ostream &output, std::ostream &messages,
                       const InterfaceSettings &settings) {
    const bool no_gateway = settings.gateway == kNoGateway;
    NewFile new_file(output);
    bool in_stanza = false;
    bool gateway_handled = false;

    std::string line;
    while (read_line(input, line)) {
        // Any line holding "auto" closes the current stanza; it opens the
        // stanza to change when it also names the interface.
        if (contains(line, "auto")) {
            messages << "auto key word found\n";
            in_stanza = false;
            if (contains(line, settings.interface_name)) {
                in_stanza = true;
                messages << "Found the interface to be modified\n";
            }
        }
        if (!in_stanza) {
            new_file.write(line);
            continue;
        }

        // A hardware address line names the ether type and is not the
        // interface's IP address: it falls through to the other rules.
        if (contains(line, "address") && !contains(line, "ether")) {
            messages << "IP Address\n";
            new_file.write("\taddress ");
            new_file.write(settings.ip_address);
            new_file.write("\n");
        } else if (contains(line, "netmask")) {
            messages << "Netmask\n";
            new_file.write("\tnetmask ");
            new_file.write(settings.netmask);
            new_file.write("\n");
        } else if (contains(line, "gateway")) {
            messages << "GATEWAY\n";
            if (no_gateway) {
                new_file.write("#\n");
            } else {
                new_file.write("\tgateway ");
                new_file.write(settings.gateway);
                new_file.write("\n");
            }
            gateway_handled = true;
        } else {
            new_file.write(line);
        }
        messages << "line " << line << '\n';
    }

    // No gateway line was met: the gateway goes at the very end of the file.
    if (!gateway_handled) {
        if (no_gateway) {
            // The "#" must stand on its own line: glued to a last line that
            // has no line end it would change that line.
            if (!new_file.ends_line()) new_file.write("\n");
            new_file.write("#\n");
        } else {
            new_file.write("\n\tgateway ");
            new_file.write(settings.gateway);
            new_file.write("\n");
        }
    }
}

bool is_single_line_value(std::string_view value) noexcept {
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace dcu::netif
