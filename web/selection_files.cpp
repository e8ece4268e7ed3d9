#include "web/selection_files.hpp"

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "common/paths.hpp"
#include "common/replace_file.hpp"
#include "common/unique_fd.hpp"
#include "common/whole_file.hpp"
#include "reqhandlers/regular_file.hpp"
#include "web/selection_text.hpp"

namespace dcu::web::selection_files {

namespace {

// A selection of 255 parameters takes some 30 kB: anything much larger is
// not a selection file.
constexpr std::size_t kLargestFile = 1 << 20;
// How long a save waits for another one to finish.
constexpr std::chrono::seconds kLockWait{10};

// The lock that orders the saves: a file beside the selection files, held
// with flock for a whole read, change and replacement.
class SaveLock {
public:
    SaveLock() {
        const std::string path = paths::on_unit(paths::kWebRoot) + "/.dcuweb.lock";
        fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd_) {
            error_ = errno;
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                error_ = errno;
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                error_ = ETIMEDOUT;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        held_ = true;
    }
    // Closing the descriptor releases the lock.
    bool held() const noexcept { return held_; }
    int error() const noexcept { return error_; }

private:
    UniqueFd fd_;
    bool held_ = false;
    int error_ = 0;
};

struct FileText {
    int error = 0;  // 0, or why the file could not be read (ENOENT: there is none)
    std::string bytes;
};

FileText read_whole(const std::string &path) {
    FileText file;
    const UniqueFd fd = regular_file::open(path);
    if (!fd) {
        file.error = errno;
        return file;
    }
    char piece[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            file.error = errno;
            return file;
        }
        if (n == 0) return file;
        file.bytes.append(piece, static_cast<std::size_t>(n));
        if (file.bytes.size() > kLargestFile) {
            file.error = EFBIG;
            return file;
        }
    }
}

bool same_entries(std::span<const selection::Entry> a, std::span<const selection::Entry> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].obis != b[i].obis || a[i].assign != b[i].assign) return false;
    return true;
}

// What the loader reads in the section of text, before the text is written
// anywhere: the loader reads files, so it is handed a file in memory.
std::optional<selection::Selection> loaded_from(const std::string &text, std::string_view section) {
    UniqueFd memory(::memfd_create("dcuweb-selection", MFD_CLOEXEC));
    if (!memory || write_all(memory.get(), text) != 0) return std::nullopt;
    return selection::load("/proc/self/fd/" + std::to_string(memory.get()), section, selection::messages::kProfile);
}

std::string error_text(int error) { return std::strerror(error); }

}  // namespace

std::string_view state_text(State state) noexcept {
    switch (state) {
    case State::ok: return "ok";
    case State::missing: return "missing";
    case State::unreadable: return "unreadable";
    case State::unparsable: return "unparsable";
    case State::no_section: return "no section";
    case State::refused: return "NumParams refused";
    }
    return "";
}

Current current(const View &view) {
    Current current;
    const std::string path = paths::on_unit(view.file);
    const FileText file = read_whole(path);
    if (file.error == ENOENT) {
        current.state = State::missing;
        return current;
    }
    if (file.error != 0) {
        current.state = State::unreadable;
        return current;
    }
    const auto members = selection_text::members_of(file.bytes);
    if (!members) {
        current.state = State::unparsable;
        return current;
    }
    bool has_section = false;
    for (const auto &member : *members) has_section = has_section || member.name == view.section;
    // The entries as the handlers see them, through their own loader.
    selection::Selection loaded = selection::load(path, view.section, selection::messages::kProfile);
    if (!has_section) current.state = State::no_section;
    else if (loaded.refused) current.state = State::refused;
    else if (loaded.file_failed) current.state = State::unreadable;
    current.entries = std::move(loaded.entries);
    return current;
}

Saved save(const View &view, std::span<const selection::Entry> entries) {
    Saved saved;
    auto refuse = [&saved](int status, std::string message) {
        saved.status = status;
        saved.message = std::move(message);
        return saved;
    };
    const std::string path = paths::on_unit(view.file);
    const std::string name(view.file.substr(view.file.rfind('/') + 1));

    const SaveLock lock;
    if (!lock.held())
        return lock.error() == ETIMEDOUT ? refuse(503, "another save still holds the selection files; try again")
                                         : refuse(500, "can't take the selection files' lock: " + error_text(lock.error()));

    const FileText old = read_whole(path);
    if (old.error != 0 && old.error != ENOENT)
        return refuse(409, "can't read " + name + ": " + error_text(old.error) + "; nothing was changed");
    const auto text = selection_text::with_section(old.bytes, view.section, entries);
    if (!text)
        return refuse(409, name + " is not a selection file the unit can read (the members of an object "
                           "without its braces); nothing was changed");

    const auto checked = loaded_from(*text, view.section);
    if (!checked) return refuse(500, "can't check the new " + name + ": " + error_text(errno) + "; nothing was changed");
    if (checked->failed() || !same_entries(checked->entries, entries))
        return refuse(500, "the new " + name + " would not read as chosen; nothing was changed");

    if (const int error = replace_file(path, *text); error != 0)
        return refuse(500, "can't replace " + name + ": " + error_text(error) + "; it is as it was");

    selection::Selection back = selection::load(path, view.section, selection::messages::kProfile);
    if (back.failed() || !same_entries(back.entries, entries)) {
        if (old.error == ENOENT) ::unlink(path.c_str());
        else replace_file(path, old.bytes);
        return refuse(500, name + " read back otherwise than written; it was put back as it was");
    }
    saved.entries = std::move(back.entries);
    return saved;
}

}  // namespace dcu::web::selection_files
