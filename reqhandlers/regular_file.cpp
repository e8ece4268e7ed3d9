#include "reqhandlers/regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace dcu::regular_file {

int refusal_for(unsigned mode) noexcept {
    if (S_ISREG(mode)) return 0;
    if (S_ISDIR(mode)) return EISDIR;
    return ENOTSUP;
}

UniqueFd open(const std::string &path, int extra_flags) {
    // O_NONBLOCK has no effect on reading a regular file, so it stays set.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extra_flags));
    if (!fd) return fd;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        const int error = errno;
        fd.reset();
        errno = error;
        return fd;
    }
    if (const int refusal = refusal_for(info.st_mode); refusal != 0) {
        fd.reset();
        errno = refusal;
    }
    return fd;
}

}  // namespace dcu::regular_file
