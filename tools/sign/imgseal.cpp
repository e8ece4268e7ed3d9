// imgseal mode
//
// Build-host tool: writes the MD5 signature list of a firmware release to
// "checksum" in the working directory and copies it into
// ../tev_dcu_firmware, each file replaced whole or not at all. Mode 1 signs
// the release set, any other mode (a word included) the development set.
// Exit status 0, or 255 when no mode is given or the list could not be made.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "common/replace_file.hpp"
#include "tools/sign/signature.hpp"

namespace dcu::sign {
namespace {

constexpr const char *fun_name = "main()";

// The leading number of the text, as the unit's atoi reads it; a word reads
// 0. A number beyond int is not the release mode (atoi could wrap it to 1).
int parse_mode(const char *text) {
    errno = 0;
    long value = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return 0;
    return static_cast<int>(value);
}

int run(int argc, char **argv) {
    if (argc < 2) {
        std::printf("%-25s : Invalid arguments \n", fun_name);
        return -1;
    }
    if (gen_signature(parse_mode(argv[1])) < 0) {
        std::printf("%-25s : FAILED To generate SIGNATURES\n", fun_name);
        return -1;
    }
    std::printf("%-25s : Signatures generated\n", fun_name);
    return 0;
}

}  // namespace
}  // namespace dcu::sign

int main(int argc, char **argv) {
    dcu::ignore_file_size_signal();
    return dcu::sign::run(argc, argv);
}
