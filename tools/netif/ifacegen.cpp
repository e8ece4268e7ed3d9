// ifacegen ipAddr subnetMask gwIpAddr interface
//
// Writes a copy of the unit's interface definitions, /etc/network/interfaces,
// to /etc/network/interfaces1 with a new static address, netmask and gateway
// for one interface. The input file is never written; putting the copy in
// its place and restarting networking is left to whoever runs the program.
// interfaces1 is replaced whole or not at all: a power cut or a full disk
// leaves the earlier copy as it was, never a truncated one.
//
// Exit status: 0 when the new file was written; 255 for a usage error or a
// value that does not fit its 31-character field (nothing opened); 1 when
// the input can't be read, no stanza of the input names the interface, or
// the new file can't be written.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <iostream>
#include <optional>
#include <sstream>
#include <utility>
#include <string>
#include <string_view>

#include "common/paths.hpp"
#include "common/replace_file.hpp"
#include "common/whole_file.hpp"
#include "common/unique_fd.hpp"
#include "tools/netif/interfaces_rewrite.hpp"

namespace dcu::netif {
namespace {

constexpr int kExitUsage = 255;
constexpr int kExitFileFailure = 1;
constexpr int kExitUnknownInterface = 1;

// Each value is kept in a 32-byte text field on the unit: 31 characters at most.
constexpr std::size_t kValueFieldSize = 32;
constexpr std::array<std::string_view, 4> kValueNames = {"ipAddr", "subnetMask", "gwIpAddr", "interface"};
constexpr std::size_t kInterfaceNameValue = 3;

constexpr std::string_view kReadFailure = "Failed open bs file";
constexpr std::string_view kWriteFailure = "Failed open bs file for writing";
constexpr std::string_view kUnknownInterface = "Interface not found : ";

int rewrite_interfaces_file(const InterfaceSettings &settings) {
    const std::string input_path = paths::on_unit(paths::kInterfaces);
    const std::string output_path = paths::on_unit(paths::kInterfacesNew);

    // Nothing when it can't be opened or read (a directory, a read error).
    UniqueFd input(::open(input_path.c_str(), O_RDONLY | O_CLOEXEC));
    std::optional<std::string> content;
    if (input) content = read_all(input.get());
    if (!content) {
        std::cout << kReadFailure << '\n';
        return kExitFileFailure;
    }
    input.reset();

    // The new file never shares the input's inode, even when interfaces1
    // is a link to the input: the link itself is what gets replaced.
    FileReplacement output(output_path);
    if (!output) {
        std::cout << kWriteFailure << '\n';
        return kExitFileFailure;
    }

    std::istringstream lines(std::move(*content));
    std::ostringstream new_content;
    // An interface without a stanza has nowhere to take its address: an
    // unchanged copy would pass for a done job.
    if (!createNetworkFile(lines, new_content, std::cout, settings)) {
        std::cout << kUnknownInterface << settings.interface_name << '\n';
        return kExitUnknownInterface;
    }

    if (!output.write(new_content.view()) || !output.commit()) {
        std::cout << kWriteFailure << '\n';
        return kExitFileFailure;
    }
    return 0;
}

int run(int argc, char **argv) {
    std::cout << "Num arg " << argc << '\n';
    if (argc < 5) {
        std::cout << "Invalid number of parameters\n"
                  << "Usage : ifacegen ipAddr subnetMask gwIpAddr interface\n";
        return kExitUsage;
    }

    std::array<std::string_view, 4> values = {argv[1], argv[2], argv[3], argv[4]};
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i].size() >= kValueFieldSize) {
            std::cout << "Invalid parameter length : " << kValueNames[i] << " must be less than "
                      << kValueFieldSize << " characters\n";
            return kExitUsage;
        }
        // A line break (or any control character) in a value would write lines of
        // its own into the interfaces file.
        if (!is_single_line_value(values[i])) {
            std::cout << "Invalid parameter : " << kValueNames[i] << " must not hold control characters\n";
            return kExitUsage;
        }
        // A written value that ends with a backslash would join the next line
        // of the file to its own (the name of the interface is never written).
        if (i != kInterfaceNameValue && joins_next_line(values[i])) {
            std::cout << "Invalid parameter : " << kValueNames[i] << " must not end with a backslash\n";
            return kExitUsage;
        }
    }

    const InterfaceSettings settings{values[0], values[1], values[2], values[3]};
    std::cout << "IP  : " << settings.ip_address << '\n'
              << "Subnet  : " << settings.netmask << '\n'
              << "GW IP  : " << settings.gateway << '\n'
              << "Interface  : " << settings.interface_name << '\n';
    return rewrite_interfaces_file(settings);
}

}  // namespace
}  // namespace dcu::netif

int main(int argc, char **argv) {
    dcu::ignore_file_size_signal();
    return dcu::netif::run(argc, argv);
}
