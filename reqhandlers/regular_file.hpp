// Opening the files the handlers read (data files, selection files) so that
// no request can stall the host: a FIFO, a device, a socket or a directory
// in place of a file is refused at once, one FAILURE answer, and the next
// request is served.
#pragma once

#include <string>

#include "common/unique_fd.hpp"

namespace dcu::regular_file {

// Opens path for reading without blocking (O_NONBLOCK: opening a FIFO
// without a writer would wait for one) and keeps it only when fstat says it
// is a regular file. extra_flags are added to the open (O_NOFOLLOW). On
// failure nothing is open and errno says why: open's own errno, EISDIR for
// a directory (what reading one has always said), and ENOTSUP for a FIFO,
// a device or a socket ("Operation not supported": reading one is not
// something the handlers do).
UniqueFd open(const std::string &path, int extra_flags = 0);

// The errno open() gives for a file of this type (st_mode), 0 for a regular file.
int refusal_for(unsigned mode) noexcept;

}  // namespace dcu::regular_file
