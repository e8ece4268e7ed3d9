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

// Reads the interface definitions from `input` and writes the changed copy
// to `output`; the progress messages ("auto key word found", "line ...") go
// to `messages`.
//
// The file is read as ifup reads it: words separated by blanks, comment
// lines (first non-blank character '#'), and lines joined where a line ends
// with a backslash. The interface's stanza starts at a line whose first word
// is `auto`, `allow-...` or `iface` and whose second word is the interface
// name, and ends before the next line that starts any stanza. Inside it,
// only lines whose first word is `address`, `netmask` or `gateway` are
// replaced, by lines that start with one tab; a stanza without a gateway
// line gets one after its last option line. Every other line reaches
// `output` byte for byte, its line end (or the lack of one on a last line)
// included.
//
// Returns whether a stanza names the interface. When none does, `output`
// receives the input unchanged.
[[nodiscard]] bool createNetworkFile(std::istream &input, std::ostream &output, std::ostream &messages,
                                     const InterfaceSettings &settings);

// Whether a value can stand in an interfaces line: no control characters, so
// that the line written with it stays one line.
bool is_single_line_value(std::string_view value) noexcept;

// Whether a value would join the line after the one written with it: ifup
// reads a line that ends with a backslash as continued on the next.
bool joins_next_line(std::string_view value) noexcept;

}  // namespace dcu::netif
