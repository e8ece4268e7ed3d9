#include "reqhandlers/data_file.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include <sys/stat.h>

#include <cerrno>

#include "common/paths.hpp"
#include "common/unique_fd.hpp"
#include "reqhandlers/regular_file.hpp"

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

void split_values(std::string_view line, std::vector<std::string_view> &out, std::size_t at_most) {
    out.clear();
    if (at_most == 0) return;
    // Values are a few bytes long: look for tabs eight bytes at a time rather
    // than calling memchr once per value.
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    const char *const begin = line.data();
    const std::size_t size = line.size();
    std::size_t start = 0, at = 0;
    while (at + 8 <= size) {
        std::uint64_t block;
        std::memcpy(&block, begin + at, 8);
        const std::uint64_t tabs = block ^ (kOnes * '\t');
        std::uint64_t found = (tabs - kOnes) & ~tabs & kHighs;
        if (found == 0) {
            at += 8;
            continue;
        }
        // The lowest flagged byte is a tab for sure (higher flags may be false).
        const std::size_t tab = at + static_cast<std::size_t>(std::countr_zero(found)) / 8;
        out.emplace_back(begin + start, tab - start);
        if (out.size() == at_most) return;
        start = at = tab + 1;
    }
    for (; at < size; ++at) {
        if (begin[at] != '\t') continue;
        out.emplace_back(begin + start, at - start);
        if (out.size() == at_most) return;
        start = at + 1;
    }
    out.emplace_back(begin + start, size - start);
}

bool DataFile::read(const std::string &path) {
    assign({});
    UniqueFd fd = regular_file::open(path);
    if (!fd) return false;
    // Read to the end, whatever the size said: the file may grow meanwhile.
    struct stat info {};
    std::size_t room = 4096;
    if (::fstat(fd.get(), &info) == 0 && info.st_size > 0) room = static_cast<std::size_t>(info.st_size) + 1;
    auto buffer = std::make_unique_for_overwrite<char[]>(room);
    std::size_t used = 0;
    for (;;) {
        if (used == room) {
            auto bigger = std::make_unique_for_overwrite<char[]>(room * 2);
            std::memcpy(bigger.get(), buffer.get(), used);
            buffer = std::move(bigger);
            room *= 2;
        }
        const ssize_t got = ::read(fd.get(), buffer.get() + used, room - used);
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
    bytes_ = std::move(buffer);
    size_ = used;
    index();
    return true;
}

void DataFile::assign(std::string text) {
    bytes_ = std::make_unique_for_overwrite<char[]>(text.size() + 1);
    std::memcpy(bytes_.get(), text.data(), text.size());
    size_ = text.size();
    index();
}

void DataFile::index() {
    lines_ = split_lines(std::string_view(bytes_.get(), size_));
    columns_.clear();
    if (!lines_.empty()) split_values(lines_.front(), columns_);
}

std::span<const std::string_view> DataFile::records() const noexcept {
    if (lines_.empty()) return {};
    return std::span<const std::string_view>(lines_).subspan(1);
}

}  // namespace dcu::data_file
