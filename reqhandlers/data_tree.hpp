// The data tree under "/usr/tev/data/DlmsData", as the handlers may open it:
// only what lies inside it once every symbolic link is followed.
//
// Links are followed as the unit reads them: a relative target from the
// link's directory, an absolute one from the unit's root (under DCU_ROOT
// when it is set). Links whose target lies inside the tree keep working;
// a path that leads out of it is refused, however it gets there. The data
// root itself may be a link (data on another file system is common on such
// boards): containment is against where the root leads.
//
// A path is followed component by component (lstat, readlink, at most 40
// links, as the kernel allows) rather than opened with openat2 and
// RESOLVE_BENEATH, which refuses every absolute link and is missing on
// older kernels.
#pragma once

#include <string>
#include <string_view>

#include "common/unique_fd.hpp"

namespace dcu::data_tree {

// errno of a path that leads out of the tree: the same that RESOLVE_BENEATH
// gives ("Invalid cross-device link").
inline constexpr int kOutside = EXDEV;

enum class Place {
    inside,      // every component exists and the path stays in the tree
    outside,     // the path leads out of the tree (whether or not its end exists)
    unresolved,  // a component is missing or can't be read, inside the tree as far as it goes
};

struct Resolution {
    Place place = Place::unresolved;
    std::string path;   // inside: the path with every link followed, as this process opens it
    unsigned mode = 0;  // inside: st_mode of what it names
    int error = 0;      // unresolved: errno
};

// Where tree_path, a path relative to the data root, leads.
Resolution resolve(std::string_view tree_path);

// Opens a regular file of the tree for reading, without blocking. On failure
// errno says why: kOutside for a path that leads out of the tree, EISDIR
// and ENOTSUP as regular_file::open says, else the error of the failing
// component.
UniqueFd open_file(std::string_view tree_path);

// Opens a directory of the tree for reading its entries (ENOTDIR for
// anything else, kOutside as above).
UniqueFd open_directory(std::string_view tree_path);

// The path of tree_path as this process names it, for messages: the data
// root under DCU_ROOT, a slash and tree_path, no link followed.
std::string named_path(std::string_view tree_path);

}  // namespace dcu::data_tree
