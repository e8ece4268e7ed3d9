// cfgload's debug log: one time-stamped, levelled line per call, appended to
// the log file under DCU_ROOT. A log that can't be written never stops the
// load: the line goes to standard error instead. cfgload's dbg_log writes
// through it to the file that debug_file_name names.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string_view>

namespace dcu::loader {

// Past this size the log is renamed to "<name>.1" (replacing an older one)
// and a new log is started, so it never outgrows the unit's small flash.
inline constexpr std::size_t kLogSizeCap = 256 * 1024;

// Appends "<local time> L<level> <message>" to the log at file_name (a unit
// path, opened under DCU_ROOT), adding the line end the message lacks. An
// empty file_name, or a log that can't be opened or written, sends the line
// to standard error.
[[gnu::format(printf, 3, 0)]] void write_log_line(std::string_view file_name, int level, const char *format,
                                                 va_list args);

}  // namespace dcu::loader
