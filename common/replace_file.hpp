// Files that matter are replaced whole or not at all.
//
// The new content goes to a temporary file in the destination's own
// directory (".<name>.XXXXXX", hidden from the globs that pick up files of a
// directory), which takes the old file's mode and owner, is flushed to disk
// and renamed over the old name; the directory is flushed last. A power cut
// or a failed write at any point leaves the name holding either all the old
// bytes or all the new ones, never a truncated file.
//
// A link at the destination is replaced itself: the file it points to is
// never written. A file there that this process could not have written
// (no write permission) is refused, as opening it for writing would be.
#pragma once

#include <string>
#include <string_view>

#include "common/unique_fd.hpp"

namespace dcu {

// A write past RLIMIT_FSIZE raises SIGXFSZ, whose default action kills the
// process before it can remove its temporary file. Ignored, the write fails
// with EFBIG and the replacement is abandoned cleanly. Programs that replace
// files call this once, first.
void ignore_file_size_signal() noexcept;

class FileReplacement {
public:
    // Opens the temporary file beside `path`, with the old file's mode and
    // owner, or for a new file the mode a plain create gives (0666 less the
    // umask). On failure (a directory at `path`, a directory that can't be
    // written, an owner that can't be given) nothing is created: error().
    explicit FileReplacement(const std::string &path);
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;
    // A replacement that was not committed removes its temporary file.
    ~FileReplacement();

    // True while every step so far succeeded.
    explicit operator bool() const noexcept { return error_ == 0; }
    // The error number of the first failure, 0 when there was none.
    int error() const noexcept { return error_; }

    // Appends to the new content. False once anything has failed.
    bool write(std::string_view text) noexcept;

    // Makes the new content the file's: flushes it, renames it over the old
    // name and flushes the directory. False with error() on failure; the
    // old file is then as it was, unless only the flush of the directory
    // failed (the new file is in place, but may not survive a power cut).
    bool commit() noexcept;

private:
    void fail(int error) noexcept;
    void discard() noexcept;

    UniqueFd dir_;
    UniqueFd file_;
    std::string name_;
    std::string temp_name_;  // empty once there is no temporary file to remove
    int error_ = 0;
};

// Replaces the file at `path` with `content` as above: 0, or the error
// number of the failure.
int replace_file(const std::string &path, std::string_view content);

}  // namespace dcu
