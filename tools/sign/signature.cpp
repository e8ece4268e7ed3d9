#include "tools/sign/signature.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/unique_fd.hpp"

namespace dcu::sign {

namespace {

constexpr const char *fun_name = "gen_signature()";

// Printed on every run; nothing raises it.
constexpr int g_sign_cnt = 0;

constexpr std::string_view kSignFile = "sign.txt";
constexpr std::string_view kChecksumFile = "checksum";

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

// Runs a command through the shell; true when it ran and exited 0.
bool run_shell(const std::string &command) {
    // The shell's children share standard output and error with us: what we
    // logged so far must come out before whatever they print.
    std::fflush(stdout);
    int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Reads one whole line, of any length, with its '\n' when it has one.
bool read_line(std::istream &input, std::string &line) {
    if (!std::getline(input, line)) return false;
    if (!input.eof()) line.push_back('\n');
    return true;
}

// Copies the digest of each md5sum line (the text before its first blank)
// into `checksum`, one per line; a line without a blank is skipped.
// Returns 0, or the error number of a failed write.
int write_digests(std::istream &sign_lines, std::FILE *checksum) {
    std::string line;
    while (read_line(sign_lines, line)) {
        std::printf("%-25s : LINE : %.*s strlen : %zu\n", fun_name, static_cast<int>(line.size()), line.data(),
                    line.size());
        std::size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string digest = line.substr(0, blank);
        std::printf("%-25s : MD5Checksum is : %s\n", fun_name, digest.c_str());
        if (std::fprintf(checksum, "%s\n", digest.c_str()) < 0) return errno;
    }
    return 0;
}

}  // namespace

std::array<std::string_view, 4> signed_files(int mode) {
    return mode == kReleaseMode ? kReleaseSet : kDevelopmentSet;
}

int gen_signature(int mode) {
    std::printf("%-25s : sign_cnt : %d\n", fun_name, g_sign_cnt);

    // A missing file would only lose its line in sign.txt, and the list
    // would go out short: refuse before anything is written.
    const auto files = signed_files(mode);
    bool all_present = true;
    for (std::string_view file : files) {
        if (is_readable_regular_file(file)) continue;
        std::printf("%-25s : Release file missing : %.*s\n", fun_name, static_cast<int>(file.size()), file.data());
        all_present = false;
    }
    if (!all_present) return -1;

    std::string command = "md5sum";
    for (std::string_view file : files) command.append(" ").append(file);
    command.append(" > ").append(kSignFile);
    std::printf("%-25s : temp_str : %s\n", fun_name, command.c_str());
    const bool signed_all = run_shell(command);

    std::ifstream sign_lines{std::string(kSignFile), std::ios::binary};
    if (!sign_lines) {
        std::printf("%-25s : Failed find signature file\n", fun_name);
        return -1;
    }
    // md5sum failing on a file that is there (a read error) leaves its line
    // out of sign.txt: a short list is no list.
    if (!signed_all) {
        std::printf("%-25s : Failed to run md5sum\n", fun_name);
        return -1;
    }

    run_shell("rm " + std::string(kChecksumFile));
    UniqueFile checksum(std::fopen(std::string(kChecksumFile).c_str(), "w+"));
    if (!checksum) {
        std::printf("%-25s : Failed to open file for writing signatures, Error : %s\n", fun_name,
                    std::strerror(errno));
        return -1;
    }

    // Buffered digests reach the disk only at the close: a full disk may
    // show only there.
    int write_error = write_digests(sign_lines, checksum.get());
    if (std::fclose(checksum.release()) != 0 && write_error == 0) write_error = errno;
    if (write_error != 0) {
        std::printf("%-25s : Failed to write signatures, Error : %s\n", fun_name, std::strerror(write_error));
        return -1;
    }

    if (!run_shell("cp checksum ../tev_dcu_firmware/checksum")) {
        std::printf("%-25s : Failed to copy checksum to ../tev_dcu_firmware\n", fun_name);
        return -1;
    }
    return 0;
}

}  // namespace dcu::sign
