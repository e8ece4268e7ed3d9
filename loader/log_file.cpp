#include "loader/log_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "common/paths.hpp"
#include "common/unique_fd.hpp"
#include "common/whole_file.hpp"

namespace dcu::loader {
namespace {

// "2026-12-10 03:35:30 L0 " in local time.
std::string line_prefix(int level) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "0000-00-00 00:00:00";
    if (::localtime_r(&now, &local) != nullptr) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(stamp) + " L" + std::to_string(level) + " ";
}

// Checked like printf where dbg_log is called; here the format passes through.
[[gnu::format(printf, 1, 0)]] std::string format_message(const char *format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

UniqueFd open_for_append(const std::string &path, int extra_flags = 0) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | extra_flags, 0644));
}

// Opens the log for a line of `incoming` bytes, first moving a log that would
// pass the cap aside to "<path>.1". An invalid descriptor when it can't be
// opened.
UniqueFd open_log(const std::string &path, std::size_t incoming) {
    UniqueFd fd = open_for_append(path);
    if (!fd) return fd;
    struct stat info {};
    if (::fstat(fd.get(), &info) == 0 && info.st_size > 0 &&
        static_cast<std::size_t>(info.st_size) + incoming > kLogSizeCap) {
        // If the rename fails the line still goes to the log as it is.
        if (::rename(path.c_str(), (path + ".1").c_str()) == 0) {
            fd = open_for_append(path, O_TRUNC);
        }
    }
    return fd;
}

}  // namespace

void write_log_line(std::string_view file_name, int level, const char *format, va_list args) {
    if (format == nullptr) return;
    std::string line = line_prefix(level) + format_message(format, args);
    if (line.back() != '\n') line += '\n';  // one call, one whole line

    if (!file_name.empty()) {
        UniqueFd fd = open_log(paths::on_unit(file_name), line.size());
        if (fd && write_all(fd.get(), line) == 0) return;
    }
    // No usable log: the line is not lost, and the caller carries on.
    (void)write_all(STDERR_FILENO, line);
}

}  // namespace dcu::loader
