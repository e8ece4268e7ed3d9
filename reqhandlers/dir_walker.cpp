#include "reqhandlers/dir_walker.hpp"

#include <dirent.h>

#include <cerrno>
#include <string_view>

#include "common/unique_fd.hpp"

namespace dcu::dir_walker {

std::optional<std::vector<std::string>> entry_names(const std::string &path) {
    UniqueDir dir(::opendir(path.c_str()));
    if (!dir) return std::nullopt;
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (entry == nullptr) break;
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    if (errno != 0) {
        const int error = errno;  // closing must not change why the reading failed
        dir.reset();
        errno = error;
        return std::nullopt;
    }
    return names;
}

}  // namespace dcu::dir_walker
