// The MD5 signature list of a firmware release.
//
// Works in the working directory of the build host: its parent holds the
// firmware directory "tev_dcu_firmware", and the parent of that holds
// "tev_install_dir" with the release files.
#pragma once

#include <array>
#include <string_view>

namespace dcu::sign {

// The mode that selects the release set; every other mode selects the
// development set (Makefile and main.cpp of the working directory).
inline constexpr int kReleaseMode = 1;

// The four files of a mode's set, in the order they are handed to md5sum.
std::array<std::string_view, 4> signed_files(int mode);

// Runs md5sum over the mode's four files, writes what it prints to
// "sign.txt" and the digests, one per line and in set order, to "checksum",
// and copies that to "../tev_dcu_firmware/checksum"; each file is replaced
// whole or not at all. Logs each step on standard output. Returns 0, or -1
// when a file of the set is missing (both checksum files of an earlier run
// are removed then, and nothing is written), md5sum fails, or "sign.txt",
// "checksum" or the copy can't be written (the file that failed keeps its
// old content).
int gen_signature(int mode);

}  // namespace dcu::sign
