// cfgload's debug log: dbg_log (declared in dcu/host_services.h) appends one
// time-stamped, levelled line per call to the file that debug_file_name names,
// under DCU_ROOT. A log that can't be written never stops the load: the line
// goes to standard error instead.
#pragma once

#include <cstddef>

namespace dcu::loader {

// Past this size the log is renamed to "<name>.1" (replacing an older one)
// and a new log is started, so it never outgrows the unit's small flash.
inline constexpr std::size_t kLogSizeCap = 256 * 1024;

}  // namespace dcu::loader
