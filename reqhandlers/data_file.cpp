#include "reqhandlers/data_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/paths.hpp"
#include "common/unique_fd.hpp"

namespace dcu::data_file {

std::string meter_directory_name(int meter_number) { return "meter_id_" + std::to_string(meter_number); }

std::string meter_directory_path(int meter_number) {
    return paths::on_unit(paths::kDataRoot) + "/" + meter_directory_name(meter_number);
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end == std::string_view::npos) {
            text = {};
        } else {
            text.remove_prefix(end + 1);
            if (line.ends_with('\r')) line.remove_suffix(1);
        }
        lines.push_back(line);
    }
    return lines;
}

void split_values(std::string_view line, std::vector<std::string_view> &out) {
    out.clear();
    for (;;) {
        const std::size_t tab = line.find('\t');
        out.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return;
        line.remove_prefix(tab + 1);
    }
}

bool DataFile::read(const std::string &path) {
    assign({});
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    // Read to the end, whatever the size said: the file may grow meanwhile.
    struct stat info {};
    std::size_t room = 4096;
    if (::fstat(fd.get(), &info) == 0 && info.st_size > 0) room = static_cast<std::size_t>(info.st_size) + 1;
    std::string content(room, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == content.size()) content.resize(content.size() * 2);
        const ssize_t got = ::read(fd.get(), content.data() + used, content.size() - used);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;  // closing must not change why the read failed
            fd.reset();
            errno = error;
            return false;
        }
        used += static_cast<std::size_t>(got);
    }
    content.resize(used);
    assign(std::move(content));
    return true;
}

void DataFile::assign(std::string text) {
    content_ = std::move(text);
    index();
}

void DataFile::index() {
    lines_ = split_lines(content_);
    columns_.clear();
    if (!lines_.empty()) split_values(lines_.front(), columns_);
}

std::span<const std::string_view> DataFile::records() const noexcept {
    if (lines_.empty()) return {};
    return std::span<const std::string_view>(lines_).subspan(1);
}

}  // namespace dcu::data_file
