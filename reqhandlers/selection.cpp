#include "reqhandlers/selection.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/unique_fd.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/entry_guard.hpp"
#include "reqhandlers/json_escape.hpp"
#include "reqhandlers/regular_file.hpp"
#include "reqhandlers/selection_json.hpp"

namespace dcu::selection {

namespace {

constexpr int kMaxCount = 255;

// Reads up to size bytes; false when fewer arrived (what did arrive is
// kept), and when there is no file to read from.
bool read_exactly(int fd, std::string &content, std::size_t size) {
    content.clear();
    if (fd < 0) return false;
    content.assign(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, content.data() + got, size - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    content.resize(got);
    return got == size;
}

}  // namespace

Selection load(const std::string &path, std::string_view section_name, const Messages &messages) {
    Selection selection;
    const std::string section(section_name);
    if (messages.opening_line) std::printf("opening user file json det : %s\n", path.c_str());

    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        std::printf("can't Find original file - %s\n", path.c_str());
        selection.file_failed = true;
        return selection;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (messages.size_line) std::printf(">>File Size : %ld\n", static_cast<long>(info.st_size));

    // Only a regular file is read, and opening never waits: a FIFO in its
    // place is refused at once, like a file that can't be opened.
    UniqueFd fd = regular_file::open(path);
    if (!fd) {
        std::printf("can't open to read original file - %s\n", path.c_str());
        selection.file_failed = true;
    }
    std::string raw;
    if (!read_exactly(fd.get(), raw, size)) {
        std::printf("can't read original file - %s\n", path.c_str());
        selection.file_failed = true;
    } else {
        std::printf("tot bytes read from user json file : %ld\n", static_cast<long>(size));
    }
    fd.reset();

    // The text ends at its first NUL byte, as a C text does.
    raw.resize(std::strlen(raw.c_str()));
    if (messages.strlen_line) std::printf("Strlen : %d\n", static_cast<int>(raw.size()));

    // The file holds the members only: the reader supplies the outer braces,
    // so a file with braces of its own does not parse, and nothing may follow
    // the members.
    const std::string wrapped = "{" + raw + "}";
    std::optional<json::Section> parsed = json::read_section(wrapped, section_name, kMaxCount);

    int count = 0;
    if (parsed) {
        if (parsed->num_params) {
            const char *num_params = parsed->num_params->c_str();
            if (messages.num_params_line) std::printf("p_gen_ptr : %s\n", num_params);
            const long value = std::strtol(num_params, nullptr, 10);
            if (value < 0 || value > kMaxCount) {
                // A count is never wrapped to 8 bits: the selection is refused.
                std::printf("%s(): NumParams %s out of range 0 to %d\n", section.c_str(), num_params, kMaxCount);
                selection.refused = true;
            } else {
                count = static_cast<int>(value);
            }
        } else {
            std::printf("%s(): failed to get NumParams\n", section.c_str());
        }
    }
    if (messages.total_label != nullptr) std::printf("%s : %d\n", messages.total_label, count);

    if (!parsed) {
        std::puts("Improper Json format");
        return selection;
    }
    selection.entries.resize(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        Entry &entry = selection.entries[static_cast<std::size_t>(index)];
        json::Item *item = static_cast<std::size_t>(index) < parsed->items.size()
                               ? &parsed->items[static_cast<std::size_t>(index)]
                               : nullptr;
        if (item != nullptr && item->obis) entry.obis = std::move(*item->obis);
        else std::printf("ObisCodeList(): failed to get Item obis for idx : %d\n", index);
        if (item != nullptr && item->assign) entry.assign = std::move(*item->assign);
        else std::printf("ObisCodeList(): failed to get Item assign for idx : %d\n", index);
    }
    return selection;
}

}  // namespace dcu::selection

namespace {

void append_selection_file(const char *file_path, const char *section) {
    const std::size_t used = ::strnlen(json_text, sizeof json_text);
    // A host text without its NUL can't be appended to.
    if (used == sizeof json_text) {
        std::printf("json text full, can't append original file - %s\n", file_path);
        return;
    }
    const std::size_t room = sizeof json_text - 1 - used;
    std::string addition;

    struct stat info {};
    if (::stat(file_path, &info) != 0) {
        // No file: an empty section of the same shape.
        addition = "\"" + dcu::answer::escaped(section) + "\":\n{\n\"NumParams\":\"0\",\n\"ObisCodeList\":\n[\n]\n}\n";
    } else {
        dcu::UniqueFd fd = dcu::regular_file::open(file_path);
        if (!fd) std::printf("can't open to read original file - %s\n", file_path);
        // The text ends at the file's first NUL: beyond one byte more than
        // the room, what the file holds can't change whether it fits.
        const auto size = static_cast<std::size_t>(info.st_size);
        if (!dcu::selection::read_exactly(fd.get(), addition, std::min(size, room + 1)))
            std::printf("can't read original file - %s\n", file_path);
        addition.resize(std::strlen(addition.c_str()));
    }
    if (addition.size() > room) {
        // Appended whole or not at all: a cut section would break the host's text.
        std::printf("json text full, can't append original file - %s\n", file_path);
        return;
    }
    std::memcpy(json_text + used, addition.data(), addition.size());
    json_text[used + addition.size()] = '\0';
}

}  // namespace

extern "C" void fill_user_obis_det(const char *file_path, const char *section) {
    if (file_path == nullptr || section == nullptr) return;
    // Out of memory: nothing is appended, and nothing reaches the C host.
    dcu::entry::guarded(
        [&] {
            append_selection_file(file_path, section);
            return 0;
        },
        [] { return 0; });
}
