#include "common/replace_file.hpp"

#include "common/whole_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>

namespace dcu {

namespace {

// Attempts at a free temporary name before giving up; a clash needs another
// process creating the same random name in the same directory.
constexpr int kNameAttempts = 100;

struct SplitPath {
    std::string dir;
    std::string name;
};

SplitPath split_path(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Six characters for the temporary name, from the kernel's random pool (or,
// should that fail, from the process id and a counter).
std::string random_suffix() {
    static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned counter = 0;
    std::array<unsigned char, 6> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) != static_cast<ssize_t>(bytes.size())) {
        unsigned seed = static_cast<unsigned>(::getpid()) * 7919u + ++counter;
        for (auto &byte : bytes) {
            byte = static_cast<unsigned char>(seed);
            seed = seed * 1103515245u + 12345u;
        }
    }
    std::string suffix;
    for (unsigned char byte : bytes) suffix.push_back(kAlphabet[byte % kAlphabet.size()]);
    return suffix;
}

}  // namespace

void ignore_file_size_signal() noexcept { ::signal(SIGXFSZ, SIG_IGN); }

FileReplacement::FileReplacement(const std::string &path) {
    SplitPath parts = split_path(path);
    name_ = std::move(parts.name);
    if (name_.empty() || name_ == "." || name_ == "..") {
        fail(EISDIR);
        return;
    }
    // Every later step goes through this descriptor, so the temporary file,
    // the rename and the flush all happen in the same directory.
    dir_.reset(::open(parts.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir_) {
        fail(errno);
        return;
    }

    struct stat old {};
    bool keep_old = false;
    if (::fstatat(dir_.get(), name_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(old.st_mode)) {
            fail(EISDIR);
            return;
        }
        // A link (or any other kind of entry) is replaced by a new file;
        // only a regular file hands on its mode and owner.
        keep_old = S_ISREG(old.st_mode);
        if (keep_old && ::faccessat(dir_.get(), name_.c_str(), W_OK, AT_EACCESS) != 0) {
            fail(errno);
            return;
        }
    } else if (errno != ENOENT) {
        fail(errno);
        return;
    }

    // The create mode never grants more than the old file did: the umask
    // can only take bits away, and fchmod below sets the exact old mode.
    const mode_t create_mode = keep_old ? (old.st_mode & 0777) : 0666;
    for (int attempt = 0; attempt < kNameAttempts && !file_; ++attempt) {
        std::string candidate = "." + name_ + "." + random_suffix();
        file_.reset(::openat(dir_.get(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, create_mode));
        if (file_) {
            temp_name_ = std::move(candidate);
        } else if (errno != EEXIST) {
            fail(errno);
            return;
        }
    }
    if (!file_) {
        fail(EEXIST);
        return;
    }
    if (!keep_old) return;

    struct stat created {};
    if (::fstat(file_.get(), &created) != 0) {
        fail(errno);
        return;
    }
    // Changing the owner clears set-user and set-group bits, so the mode
    // comes after it.
    if ((created.st_uid != old.st_uid || created.st_gid != old.st_gid) &&
        ::fchown(file_.get(), old.st_uid, old.st_gid) != 0) {
        fail(errno);
        return;
    }
    if (::fchmod(file_.get(), old.st_mode & 07777) != 0) fail(errno);
}

FileReplacement::~FileReplacement() { discard(); }

bool FileReplacement::write(std::string_view text) noexcept {
    if (error_ != 0) return false;
    if (const int error = write_all(file_.get(), text); error != 0) fail(error);
    return error_ == 0;
}

bool FileReplacement::commit() noexcept {
    if (error_ != 0) return false;
    if (::fsync(file_.get()) != 0) {
        fail(errno);
        return false;
    }
    // Some file systems report a failed write back only at the close.
    if (::close(file_.release()) != 0) {
        fail(errno);
        return false;
    }
    if (::renameat(dir_.get(), temp_name_.c_str(), dir_.get(), name_.c_str()) != 0) {
        fail(errno);
        return false;
    }
    temp_name_.clear();
    // The rename itself reaches the disk with the directory. A file system
    // that can't flush a directory (EINVAL) has nothing more to flush.
    if (::fsync(dir_.get()) != 0 && errno != EINVAL) {
        fail(errno);
        return false;
    }
    return true;
}

void FileReplacement::fail(int error) noexcept {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
    discard();
}

void FileReplacement::discard() noexcept {
    file_.reset();
    if (!temp_name_.empty()) {
        ::unlinkat(dir_.get(), temp_name_.c_str(), 0);
        temp_name_.clear();
    }
}

int replace_file(const std::string &path, std::string_view content) {
    FileReplacement replacement(path);
    if (replacement.write(content) && replacement.commit()) return 0;
    return replacement.error();
}

}  // namespace dcu
