#include "common/whole_file.hpp"

#include <unistd.h>

#include <cerrno>

namespace dcu {

int write_all(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno != 0 ? errno : EIO;
        if (written == 0) return ENOSPC;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

std::optional<std::string> read_all(int fd) {
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) return content;
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

}  // namespace dcu
