// One read of a directory per answer, so that a listing's count and its
// names come from the same reading while the meter-reading process adds and
// removes files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/unique_fd.hpp"

namespace dcu::dir_walker {

// The names of the directory's entries except "." and "..", in the order the
// directory yields them (not sorted). Nothing, with errno telling why, when
// the directory can't be opened or read.
std::optional<std::vector<std::string>> entry_names(const std::string &path);
// The same for a directory already open (data_tree::open_directory), which it closes.
std::optional<std::vector<std::string>> entry_names(UniqueFd directory);

}  // namespace dcu::dir_walker
