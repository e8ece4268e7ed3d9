// The pass over the interface definitions that sets the static address,
// netmask and gateway of one interface.
//
// It works on streams, not files, so that it can run in-process (a fuzz
// target, a test) without touching the unit's /etc/network.
#pragma once

#include <iosfwd>
#include <string_view>

namespace dcu::netif {

// The four command-line values, in the order the program takes them.
struct InterfaceSettings {
    std::string_view ip_address;
    std::string_view netmask;
    std::string_view gateway;
    std::string_view interface_name;
};

// Reads the interface definitions from `input` line by line and writes the
// changed copy to `output`; the progress messages ("auto key word found",
// "line ...") go to `messages`.
//
// The stanza to change runs from a line holding "auto" and the interface
// name to the next line holding "auto". Inside it, address, netmask and
// gateway lines are replaced by lines that start with one tab; every other
// line reaches `output` byte for byte, its line end (or the lack of one on a
// last line) included. Matching is plain, case-sensitive substring search.
// A stanza without a gateway line gets one appended at the very end.
void createNetworkFile(std::istream &input, std::ostream &output, std::ostream &messages,
                       const InterfaceSettings &settings);

// Whether a value can stand in an interfaces line: no control characters, so
// that the line written with it stays one line.
bool is_single_line_value(std::string_view value) noexcept;

}  // namespace dcu::netif
