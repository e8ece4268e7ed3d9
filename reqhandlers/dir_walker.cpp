#include "reqhandlers/dir_walker.hpp"

#include <dirent.h>

#include <cerrno>
#include <string_view>

#include "common/unique_fd.hpp"

namespace dcu::dir_walker {

namespace {

std::optional<std::vector<std::string>> names_of(UniqueDir dir) {
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

}  // namespace

std::optional<std::vector<std::string>> entry_names(const std::string &path) {
    return names_of(UniqueDir(::opendir(path.c_str())));
}

std::optional<std::vector<std::string>> entry_names(UniqueFd directory) {
    if (!directory) return std::nullopt;
    UniqueDir dir(::fdopendir(directory.get()));
    if (!dir) {
        const int error = errno;  // closing must not change why it could not be read
        directory.reset();
        errno = error;
        return std::nullopt;
    }
    directory.release();  // the stream closes it now
    return names_of(std::move(dir));
}

}  // namespace dcu::dir_walker
