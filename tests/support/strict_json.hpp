// A strict RFC 8259 check of a JSON text: grammar, string escapes, no raw
// control characters, valid UTF-8. Duplicate member names are allowed, as
// the standard allows them.
#pragma once

#include <string>
#include <string_view>

namespace dcu::test {

// Empty when text is one valid JSON value; otherwise what is wrong and where.
std::string strict_json_error(std::string_view text);

}  // namespace dcu::test
