// Whole reads and writes on a descriptor: every byte, however many calls it
// takes, a signal cutting a call short tried again.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dcu {

// Writes all of text to fd: 0, or the error number of the write that
// failed (ENOSPC when a write took nothing).
int write_all(int fd, std::string_view text) noexcept;

// Everything fd holds from where it stands to its end; nothing, with errno
// telling why, when a read fails (a directory, an I/O error).
std::optional<std::string> read_all(int fd);

}  // namespace dcu
