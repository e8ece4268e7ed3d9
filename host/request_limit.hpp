// The largest request the host takes: a machine request is one small JSON
// object, so anything bigger is refused before it is parsed.
#pragma once

#include <cstddef>

namespace dcu::host {

inline constexpr std::size_t kMaxRequestBytes = 65536;

}  // namespace dcu::host
