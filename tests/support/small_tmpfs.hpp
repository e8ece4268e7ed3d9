// A small tmpfs mounted on a directory for the length of a test: a disk
// that fills up for real. Only a privileged process can mount; where that is
// refused (not root, a container without the capability) mounted() is false
// and the test skips its case.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/unique_fd.hpp"

namespace dcu::test {

class SmallTmpfs {
public:
    // Mounts a tmpfs of `bytes` (rounded up to whole pages) on `dir`,
    // creating the directory.
    SmallTmpfs(const std::filesystem::path &dir, std::size_t bytes) : dir_(dir) {
        std::filesystem::create_directories(dir_);
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ = ::geteuid() == 0 && ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    SmallTmpfs(const SmallTmpfs &) = delete;
    SmallTmpfs &operator=(const SmallTmpfs &) = delete;
    ~SmallTmpfs() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }

    bool mounted() const { return mounted_; }

    // Takes all free space but `pages_left` pages with a file named `name`.
    void fill(std::size_t pages_left = 0, const std::string &name = "filler") const {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        UniqueFd fd(::open((dir_ / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd) throw std::runtime_error("cannot create " + (dir_ / name).string());
        const std::vector<char> chunk(page, 'f');
        std::size_t size = 0;
        for (;;) {
            const ssize_t n = ::write(fd.get(), chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            size += static_cast<std::size_t>(n);
        }
        const std::size_t freed = pages_left * page;
        if (freed > size || ::ftruncate(fd.get(), static_cast<off_t>(size - freed)) != 0)
            throw std::runtime_error("cannot leave " + std::to_string(pages_left) + " pages free");
    }

private:
    std::filesystem::path dir_;
    bool mounted_ = false;
};

}  // namespace dcu::test
