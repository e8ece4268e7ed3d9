#include "tools/sign/signature.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/read_line.hpp"
#include "common/replace_file.hpp"
#include "common/unique_fd.hpp"

extern char **environ;

namespace dcu::sign {

namespace {

constexpr const char *fun_name = "gen_signature()";

// Printed on every run; nothing raises it.
constexpr int g_sign_cnt = 0;

constexpr std::string_view kSignFile = "sign.txt";
constexpr std::string_view kChecksumFile = "checksum";
constexpr std::string_view kFirmwareChecksumFile = "../tev_dcu_firmware/checksum";

constexpr std::array<std::string_view, 4> kReleaseSet = {
    "../../tev_install_dir/tev_dcu_firmware.tar",
    "../../tev_install_dir/bldStrswan.tar",
    "../../tev_install_dir/lib.tar",
    "../../tev_install_dir/newInstall.sh",
};
constexpr std::array<std::string_view, 4> kDevelopmentSet = {
    "../../tev_install_dir/tev_dcu_firmware.tar",
    "Makefile",
    "main.cpp",
    "../../tev_install_dir/newInstall.sh",
};

// A file md5sum can sign: a regular file that opens for reading.
bool is_readable_regular_file(std::string_view path) {
    const std::string name(path);
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    return static_cast<bool>(UniqueFd(::open(name.c_str(), O_RDONLY | O_CLOEXEC)));
}

// Runs md5sum over the files and captures what it prints. True when it ran
// and exited 0; what it says on standard error goes to ours.
bool run_md5sum(const std::array<std::string_view, 4> &files, std::string &output) {
    std::vector<std::string> words = {"md5sum"};
    for (std::string_view file : files) words.emplace_back(file);
    std::vector<char *> argv;
    for (auto &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    UniqueFd read_end(fds[0]);
    UniqueFd write_end(fds[1]);
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) return false;
    ::posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
    // md5sum shares standard error with us: whatever it complains about
    // comes after what we logged so far.
    std::fflush(stdout);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, "md5sum", &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    write_end.reset();
    if (spawned != 0) return false;

    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(read_end.get(), buffer, sizeof buffer);
        if (n > 0) {
            output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    read_end.reset();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The digest of each md5sum line (the text before its first blank), one per
// line; a line without a blank is skipped.
std::string digests_of(const std::string &sign_text) {
    std::istringstream sign_lines(sign_text);
    std::string digests;
    std::string line;
    while (read_line(sign_lines, line)) {
        std::printf("%-25s : LINE : %.*s strlen : %zu\n", fun_name, static_cast<int>(line.size()), line.data(),
                    line.size());
        std::size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string digest = line.substr(0, blank);
        std::printf("%-25s : MD5Checksum is : %s\n", fun_name, digest.c_str());
        digests.append(digest).append("\n");
    }
    return digests;
}

// An old list would pass for that of a release it does not describe.
void remove_old_lists() {
    for (std::string_view list : {kChecksumFile, kFirmwareChecksumFile}) ::unlink(std::string(list).c_str());
}

}  // namespace

std::array<std::string_view, 4> signed_files(int mode) {
    return mode == kReleaseMode ? kReleaseSet : kDevelopmentSet;
}

int gen_signature(int mode) {
    std::printf("%-25s : sign_cnt : %d\n", fun_name, g_sign_cnt);

    // A missing file would only lose its line in sign.txt, and the list
    // would go out short: refuse, and take away the lists of an earlier run.
    const auto files = signed_files(mode);
    bool all_present = true;
    for (std::string_view file : files) {
        if (is_readable_regular_file(file)) continue;
        std::printf("%-25s : Release file missing : %.*s\n", fun_name, static_cast<int>(file.size()), file.data());
        all_present = false;
    }
    if (!all_present) {
        remove_old_lists();
        return -1;
    }

    std::string command = "md5sum";
    for (std::string_view file : files) command.append(" ").append(file);
    command.append(" > ").append(kSignFile);
    std::printf("%-25s : temp_str : %s\n", fun_name, command.c_str());
    std::string sign_text;
    // md5sum failing on a file that is there (a read error) leaves its line
    // out: a short list is no list, and the earlier sign.txt stays.
    if (!run_md5sum(files, sign_text)) {
        std::printf("%-25s : Failed to run md5sum\n", fun_name);
        return -1;
    }
    if (replace_file(std::string(kSignFile), sign_text) != 0) {
        std::printf("%-25s : Failed find signature file\n", fun_name);
        return -1;
    }

    FileReplacement checksum{std::string(kChecksumFile)};
    if (!checksum) {
        std::printf("%-25s : Failed to open file for writing signatures, Error : %s\n", fun_name,
                    std::strerror(checksum.error()));
        return -1;
    }
    const std::string digests = digests_of(sign_text);
    if (!checksum.write(digests) || !checksum.commit()) {
        std::printf("%-25s : Failed to write signatures, Error : %s\n", fun_name, std::strerror(checksum.error()));
        return -1;
    }

    if (replace_file(std::string(kFirmwareChecksumFile), digests) != 0) {
        std::printf("%-25s : Failed to copy checksum to ../tev_dcu_firmware\n", fun_name);
        return -1;
    }
    return 0;
}

}  // namespace dcu::sign
