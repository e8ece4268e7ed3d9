// Escaped NULs in a JSON text. The JSON parser decodes "\u0000" into a NUL
// byte inside a C string and gives no length, so a value holding one would
// reach a handler cut short ("meter_id_1\u0000/../etc" read as "meter_id_1").
// The text itself still shows where they are.
#pragma once

#include <string_view>
#include <vector>

namespace dcu::host {

// For every string of the text, member names and values alike, in the order
// they are written: whether it holds an escaped NUL. Meant for a text the
// parser took, so that its strings are well formed; only their syntax is
// read: a backslash escapes the character after it, so "\\u0000" is an
// escaped backslash followed by the letters u0000, not a NUL.
std::vector<bool> strings_holding_nul(std::string_view json_text);

}  // namespace dcu::host
