#include "web/data_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "reqhandlers/data_tree.hpp"
#include "reqhandlers/line_scanner.hpp"

namespace dcu::web::data_files {

namespace {

// A header line is a few hundred bytes: read in pieces of this size, only
// its first piece (or two) is read.
constexpr std::size_t kHeaderPiece = 4096;
// The end of a file is read back this far at most to find the last line.
constexpr std::size_t kLongestRecord = 64 * 1024;

using data_file::Want;

// Keeps every column's name, empty where a name is too long to be a code.
class HeaderNames {
public:
    Want want(std::size_t column) {
        if (column >= kMostColumns) return Want::nothing_more;
        name_.clear();
        return Want::value;
    }
    void value(std::string_view name) { names_.emplace_back(name.size() <= kLongestName ? name : std::string_view()); }
    void piece(std::string_view bytes) { name_.append(bytes.substr(0, kLongestName + 1 - name_.size())); }
    bool enough() const noexcept { return name_.size() > kLongestName; }
    void value_end() { value(name_); }

    std::vector<std::string> take() { return std::move(names_); }

private:
    std::string name_;
    std::vector<std::string> names_;
};

// The value of column `column` in a tab-separated line.
std::string_view value_at(std::string_view line, std::size_t column) {
    for (std::size_t c = 0; c < column; ++c) {
        const std::size_t tab = data_file::find_tab(line);
        if (tab == std::string_view::npos) return {};
        line.remove_prefix(tab + 1);
    }
    return line.substr(0, data_file::find_tab(line));
}

// The last line of the file (without its line end), when it is not the
// first and not longer than kLongestRecord.
std::optional<std::string> last_line(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size <= 0) return std::nullopt;
    const auto size = static_cast<std::size_t>(info.st_size);
    std::string tail;
    for (std::size_t want = std::min<std::size_t>(size, 512);; want = std::min(size, want * 4)) {
        tail.resize(want);
        const ssize_t n = ::pread(fd, tail.data(), want, static_cast<off_t>(size - want));
        if (n != static_cast<ssize_t>(want)) return std::nullopt;
        std::string_view text(tail);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
        const std::size_t newline = text.rfind('\n');
        if (newline != std::string_view::npos) return std::string(text.substr(newline + 1));
        // No line end before it: the whole file is one line, the header.
        if (want == size || want > kLongestRecord) return std::nullopt;
    }
}

}  // namespace

std::vector<std::string> header_names(const std::string &tree_path) {
    UniqueFd fd = data_tree::open_file(tree_path);
    if (!fd) return {};
    data_file::LineScanner scanner;
    scanner.read_from(std::move(fd), kHeaderPiece);
    HeaderNames names;
    if (!scanner.scan_line(names)) return {};
    return names.take();
}

std::optional<std::string> last_record_time(const std::string &tree_path) {
    const std::vector<std::string> header = header_names(tree_path);
    const auto clock = std::find(header.begin(), header.end(), kClockCode);
    if (clock == header.end()) return std::nullopt;
    const UniqueFd fd = data_tree::open_file(tree_path);
    if (!fd) return std::nullopt;
    const auto line = last_line(fd.get());
    if (!line) return std::nullopt;
    std::string_view value = value_at(*line, static_cast<std::size_t>(clock - header.begin()));
    if (value.ends_with('\r')) value.remove_suffix(1);
    if (value.empty()) return std::nullopt;
    return std::string(value);
}

}  // namespace dcu::web::data_files
