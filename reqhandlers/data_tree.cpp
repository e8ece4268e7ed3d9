#include "reqhandlers/data_tree.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "common/paths.hpp"
#include "reqhandlers/regular_file.hpp"

namespace dcu::data_tree {

namespace {

constexpr int kMostLinks = 40;

// A path of the unit (from the unit's root, under DCU_ROOT) walked so far.
class Walk {
public:
    Walk() : host_(paths::root()) {}

    // Follows path (absolute: from the unit's root; relative: from here).
    void follow(std::string_view path) {
        if (path.starts_with('/')) to_unit_root();
        push_front(path);
        while (!pending_.empty() && error_ != ELOOP) {
            std::string name = std::move(pending_.back());
            pending_.pop_back();
            step(name);
        }
    }

    const std::vector<std::string> &components() const noexcept { return components_; }
    const std::string &host_path() const noexcept { return host_; }
    unsigned mode() const noexcept { return mode_; }
    int error() const noexcept { return error_; }

private:
    void to_unit_root() {
        components_.clear();
        host_lengths_.clear();
        host_ = paths::root();
        mode_ = S_IFDIR;
    }

    // The components of path go before those still pending, in order.
    void push_front(std::string_view path) {
        std::vector<std::string> names;
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            names.emplace_back(path.substr(0, slash));
            path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        }
        pending_.insert(pending_.end(), std::make_move_iterator(names.rbegin()), std::make_move_iterator(names.rend()));
    }

    void step(const std::string &name) {
        if (name.empty() || name == ".") {
            // "file/" and "file/." name no directory.
            if (error_ == 0 && !S_ISDIR(mode_)) error_ = ENOTDIR;
            return;
        }
        if (name == "..") {
            // The components walked are real directories (every link in
            // them followed), so their parent is the lexical one. After a
            // missing component the rest is only read as text: nothing
            // under it can be opened anyway.
            if (error_ == 0 && !S_ISDIR(mode_)) error_ = ENOTDIR;
            if (!components_.empty()) {
                components_.pop_back();
                host_.resize(host_lengths_.back());
                host_lengths_.pop_back();
            }
            mode_ = S_IFDIR;
            return;
        }
        if (error_ == 0 && !S_ISDIR(mode_)) error_ = ENOTDIR;
        const std::string candidate = host_ + "/" + name;
        struct stat info {};
        if (error_ == 0 && ::lstat(candidate.c_str(), &info) != 0) error_ = errno;
        if (error_ == 0 && S_ISLNK(info.st_mode)) {
            if (++links_ > kMostLinks) {
                error_ = ELOOP;
                return;
            }
            char target[PATH_MAX];
            const ssize_t size = ::readlink(candidate.c_str(), target, sizeof target);
            if (size < 0 || static_cast<std::size_t>(size) == sizeof target) {
                error_ = size < 0 ? errno : ENAMETOOLONG;
            } else {
                const std::string_view text(target, static_cast<std::size_t>(size));
                if (text.starts_with('/')) to_unit_root();
                push_front(text);
                return;
            }
        }
        host_lengths_.push_back(host_.size());
        host_ = candidate;
        components_.push_back(name);
        mode_ = error_ == 0 ? info.st_mode : S_IFDIR;
    }

    std::vector<std::string> components_;   // from the unit's root, no link among them
    std::vector<std::size_t> host_lengths_;  // host_'s length before each component
    std::string host_;
    unsigned mode_ = S_IFDIR;
    std::vector<std::string> pending_;  // still to walk, the next one last
    int links_ = 0;
    int error_ = 0;
};

bool starts_with(const std::vector<std::string> &path, const std::vector<std::string> &prefix) {
    return path.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

}  // namespace

Resolution resolve(std::string_view tree_path) {
    Walk walk;
    walk.follow(paths::kDataRoot);
    Resolution resolution;
    if (walk.error() != 0) {
        resolution.error = walk.error();
        return resolution;
    }
    const std::vector<std::string> root = walk.components();
    walk.follow(tree_path.starts_with('/') ? tree_path.substr(1) : tree_path);
    // ELOOP stops the walk midway: where it would lead is unknown.
    if (walk.error() != ELOOP && !starts_with(walk.components(), root)) {
        resolution.place = Place::outside;
        resolution.error = kOutside;
        return resolution;
    }
    if (walk.error() != 0) {
        resolution.error = walk.error();
        return resolution;
    }
    resolution.place = Place::inside;
    resolution.path = walk.host_path();
    resolution.mode = walk.mode();
    return resolution;
}

// Between the walk and the open, a directory of the path could be replaced
// by a link, which the open would follow. That race is accepted: only the
// unit's meter-reading process (and root) write the data tree, and whoever
// can swap its directories can put any content in it anyway; the check
// keeps out the links that are there. O_NOFOLLOW still refuses a last
// component turned into a link meanwhile, and fstat after the open checks
// what was opened.

UniqueFd open_file(std::string_view tree_path) {
    const Resolution resolution = resolve(tree_path);
    if (resolution.place != Place::inside) {
        errno = resolution.error;
        return {};
    }
    // Nothing but a regular file is opened at all: opening a device can act on it.
    if (const int refusal = regular_file::refusal_for(resolution.mode); refusal != 0) {
        errno = refusal;
        return {};
    }
    return regular_file::open(resolution.path, O_NOFOLLOW);
}

UniqueFd open_directory(std::string_view tree_path) {
    const Resolution resolution = resolve(tree_path);
    if (resolution.place != Place::inside) {
        errno = resolution.error;
        return {};
    }
    if (!S_ISDIR(resolution.mode)) {
        errno = ENOTDIR;
        return {};
    }
    return UniqueFd(
        ::open(resolution.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

std::string named_path(std::string_view tree_path) {
    return paths::on_unit(paths::kDataRoot) + "/" + std::string(tree_path);
}

}  // namespace dcu::data_tree
