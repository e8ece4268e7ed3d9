// imgseal run as a program in a scratch release tree:
//
//   tev_install_dir/            the release files
//   x/tev_dcu_firmware/         where checksum is copied
//   x/build/                    the working directory (Makefile, main.cpp)
//
// The expected digests are those of md5sum over the fixture contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/run_program.hpp"
#include "tests/support/small_tmpfs.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using dcu::test::read_file;
using dcu::test::RunResult;
using dcu::test::write_file;

constexpr const char *kFirmwareDigest = "8f669f515cc39f1e5ffeb442adf07d08";  // "firmware\n"
constexpr const char *kStrongswanDigest = "74784c03a88b7baeb7694ec1799c2585";  // "strongswan\n"
constexpr const char *kLibDigest = "c23bb904e6797b147cef2124f4d5004c";  // "libs\n"
constexpr const char *kInstallDigest = "3e2b31c72181b87149ff995e7202c0e3";  // "#!/bin/sh\n"
constexpr const char *kMakefileDigest = "7d992ac99c86e8e7b4ee53907da54a65";  // "all:\n"
constexpr const char *kMainDigest = "f881137628fc8dd673b761eb7a1e2432";  // "int main() {}\n"

// The names in a directory, dot files included, sorted.
std::vector<std::string> entries(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Imgseal : public ::testing::Test {
protected:
    void SetUp() override {
        write_file(tree_ / "tev_install_dir/tev_dcu_firmware.tar", "firmware\n");
        write_file(tree_ / "tev_install_dir/bldStrswan.tar", "strongswan\n");
        write_file(tree_ / "tev_install_dir/lib.tar", "libs\n");
        write_file(tree_ / "tev_install_dir/newInstall.sh", "#!/bin/sh\n");
        write_file(build_dir() / "Makefile", "all:\n");
        write_file(build_dir() / "main.cpp", "int main() {}\n");
        fs::create_directories(firmware_dir());
    }

    fs::path build_dir() const { return tree_ / "x/build"; }
    fs::path firmware_dir() const { return tree_ / "x/tev_dcu_firmware"; }

    RunResult run(const std::vector<std::string> &args, const dcu::test::RunOptions &base = {}) {
        std::vector<std::string> argv = {IMGSEAL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        dcu::test::RunOptions options = base;
        options.working_dir = build_dir().string();
        return dcu::test::run_program(argv, options);
    }

    dcu::test::TempDir tree_;
};

// What a release run prints up to running md5sum.
const std::string kReleaseHead =
    "gen_signature()           : sign_cnt : 0\n"
    "gen_signature()           : temp_str : md5sum ../../tev_install_dir/tev_dcu_firmware.tar "
    "../../tev_install_dir/bldStrswan.tar ../../tev_install_dir/lib.tar ../../tev_install_dir/newInstall.sh "
    "> sign.txt\n";
const std::string kFailed = "main()                    : FAILED To generate SIGNATURES\n";

const std::string kReleaseStdout =
    kReleaseHead +
    "gen_signature()           : LINE : 8f669f515cc39f1e5ffeb442adf07d08  ../../tev_install_dir/tev_dcu_firmware.tar\n"
    " strlen : 77\n"
    "gen_signature()           : MD5Checksum is : 8f669f515cc39f1e5ffeb442adf07d08\n"
    "gen_signature()           : LINE : 74784c03a88b7baeb7694ec1799c2585  ../../tev_install_dir/bldStrswan.tar\n"
    " strlen : 71\n"
    "gen_signature()           : MD5Checksum is : 74784c03a88b7baeb7694ec1799c2585\n"
    "gen_signature()           : LINE : c23bb904e6797b147cef2124f4d5004c  ../../tev_install_dir/lib.tar\n"
    " strlen : 64\n"
    "gen_signature()           : MD5Checksum is : c23bb904e6797b147cef2124f4d5004c\n"
    "gen_signature()           : LINE : 3e2b31c72181b87149ff995e7202c0e3  ../../tev_install_dir/newInstall.sh\n"
    " strlen : 70\n"
    "gen_signature()           : MD5Checksum is : 3e2b31c72181b87149ff995e7202c0e3\n"
    "main()                    : Signatures generated\n";

// What a release run writes: md5sum's whole output, and the digests alone.
const std::string kReleaseSignText = std::string(kFirmwareDigest) + "  ../../tev_install_dir/tev_dcu_firmware.tar\n" +
                                     kStrongswanDigest + "  ../../tev_install_dir/bldStrswan.tar\n" + kLibDigest +
                                     "  ../../tev_install_dir/lib.tar\n" + kInstallDigest +
                                     "  ../../tev_install_dir/newInstall.sh\n";
const std::string kReleaseDigests = std::string(kFirmwareDigest) + "\n" + kStrongswanDigest + "\n" + kLibDigest +
                                    "\n" + kInstallDigest + "\n";

TEST_F(Imgseal, ReleaseModeSignsTheReleaseSetAndCopiesTheList) {
    // An old list in either place is replaced.
    write_file(build_dir() / "checksum", "stale\nstale\nstale\nstale\nstale\n");
    write_file(firmware_dir() / "checksum", "stale\n");

    RunResult result = run({"1"});

    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, kReleaseStdout);
    EXPECT_EQ(read_file(build_dir() / "checksum"), kReleaseDigests);
    EXPECT_EQ(read_file(firmware_dir() / "checksum"), kReleaseDigests);
    EXPECT_EQ(read_file(build_dir() / "sign.txt"), kReleaseSignText);
    // Each list is written whole under its own name: nothing else is left.
    EXPECT_EQ(entries(build_dir()), (std::vector<std::string>{"Makefile", "checksum", "main.cpp", "sign.txt"}));
    EXPECT_EQ(entries(firmware_dir()), (std::vector<std::string>{"checksum"}));
}

// Every mode but 1, a word or a number that would wrap to 1 included,
// signs the development set: Makefile and main.cpp of the working directory.
class ImgsealDevelopmentMode : public Imgseal, public ::testing::WithParamInterface<const char *> {};

TEST_P(ImgsealDevelopmentMode, SignsMakefileAndMain) {
    RunResult result = run({GetParam(), "ignored"});

    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out,
              "gen_signature()           : sign_cnt : 0\n"
              "gen_signature()           : temp_str : md5sum ../../tev_install_dir/tev_dcu_firmware.tar Makefile "
              "main.cpp ../../tev_install_dir/newInstall.sh > sign.txt\n"
              "gen_signature()           : LINE : 8f669f515cc39f1e5ffeb442adf07d08  "
              "../../tev_install_dir/tev_dcu_firmware.tar\n"
              " strlen : 77\n"
              "gen_signature()           : MD5Checksum is : 8f669f515cc39f1e5ffeb442adf07d08\n"
              "gen_signature()           : LINE : 7d992ac99c86e8e7b4ee53907da54a65  Makefile\n"
              " strlen : 43\n"
              "gen_signature()           : MD5Checksum is : 7d992ac99c86e8e7b4ee53907da54a65\n"
              "gen_signature()           : LINE : f881137628fc8dd673b761eb7a1e2432  main.cpp\n"
              " strlen : 43\n"
              "gen_signature()           : MD5Checksum is : f881137628fc8dd673b761eb7a1e2432\n"
              "gen_signature()           : LINE : 3e2b31c72181b87149ff995e7202c0e3  "
              "../../tev_install_dir/newInstall.sh\n"
              " strlen : 70\n"
              "gen_signature()           : MD5Checksum is : 3e2b31c72181b87149ff995e7202c0e3\n"
              "main()                    : Signatures generated\n");
    const std::string digests = std::string(kFirmwareDigest) + "\n" + kMakefileDigest + "\n" + kMainDigest + "\n" +
                                kInstallDigest + "\n";
    EXPECT_EQ(read_file(build_dir() / "checksum"), digests);
    EXPECT_EQ(read_file(firmware_dir() / "checksum"), digests);
}

INSTANTIATE_TEST_SUITE_P(Modes, ImgsealDevelopmentMode, ::testing::Values("0", "2", "release", "4294967297"));

TEST_F(Imgseal, NoArgumentIsRefused) {
    RunResult result = run({});
    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.out, "main()                    : Invalid arguments \n");
    EXPECT_FALSE(fs::exists(build_dir() / "sign.txt"));
}

// A missing file of the set (or one that is not a regular file) would be
// left out of the list: the run stops before anything is written, and takes
// away both lists an earlier run left, so that neither passes for this one.
struct MissingCase {
    const char *name;
    const char *mode;
    std::vector<std::string> removed;  // relative to x/build, as the program names them
    bool directory_in_place;            // a directory left where each file was
    std::string out;
};

void PrintTo(const MissingCase &c, std::ostream *os) { *os << c.name; }

class ImgsealMissingFile : public Imgseal, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(ImgsealMissingFile, FailsAndRemovesTheOldLists) {
    const MissingCase &c = GetParam();
    for (const auto &file : c.removed) {
        fs::remove(build_dir() / file);
        if (c.directory_in_place) fs::create_directory(build_dir() / file);
    }
    write_file(build_dir() / "checksum", "old\n");
    write_file(firmware_dir() / "checksum", "old\n");

    RunResult result = run({c.mode});

    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.out, "gen_signature()           : sign_cnt : 0\n" + c.out + kFailed);
    EXPECT_FALSE(fs::exists(build_dir() / "sign.txt"));
    EXPECT_FALSE(fs::exists(build_dir() / "checksum"));
    EXPECT_FALSE(fs::exists(firmware_dir() / "checksum"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImgsealMissingFile,
    ::testing::Values(
        MissingCase{"ReleaseLib", "1", {"../../tev_install_dir/lib.tar"}, false,
                    "gen_signature()           : Release file missing : ../../tev_install_dir/lib.tar\n"},
        MissingCase{"DevelopmentSources", "0", {"main.cpp", "Makefile"}, false,
                    "gen_signature()           : Release file missing : Makefile\n"
                    "gen_signature()           : Release file missing : main.cpp\n"},
        MissingCase{"InstallScriptIsADirectory", "1", {"../../tev_install_dir/newInstall.sh"}, true,
                    "gen_signature()           : Release file missing : ../../tev_install_dir/newInstall.sh\n"}),
    [](const ::testing::TestParamInfo<MissingCase> &param_info) { return std::string(param_info.param.name); });

// A directory named checksum can't be removed by "rm checksum" nor opened
// for writing, even by root, so the list can't be written.
TEST_F(Imgseal, UnwritableChecksumFails) {
    fs::create_directory(build_dir() / "checksum");

    RunResult result = run({"1"});

    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.out,
              kReleaseHead +
                  "gen_signature()           : Failed to open file for writing signatures, Error : Is a directory\n" +
                  kFailed);
    EXPECT_FALSE(fs::exists(firmware_dir() / "checksum"));
}

TEST_F(Imgseal, FailedCopyFails) {
    fs::remove_all(firmware_dir());

    RunResult result = run({"1"});

    EXPECT_EQ(result.exit_code, 255);
    const std::string done = "main()                    : Signatures generated\n";
    EXPECT_EQ(result.out, kReleaseStdout.substr(0, kReleaseStdout.size() - done.size()) +
                              "gen_signature()           : Failed to copy checksum to ../tev_dcu_firmware\n" +
                              kFailed);
}

// A directory named sign.txt can't be replaced, even by root.
TEST_F(Imgseal, SignFileThatCantBeWrittenFails) {
    fs::create_directory(build_dir() / "sign.txt");
    write_file(build_dir() / "checksum", "old\n");

    RunResult result = run({"1"});

    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.out, kReleaseHead + "gen_signature()           : Failed find signature file\n" + kFailed);
    EXPECT_EQ(read_file(build_dir() / "checksum"), "old\n");
    EXPECT_FALSE(fs::exists(firmware_dir() / "checksum"));
}

// Links named sign.txt or checksum are replaced themselves, wherever they
// point (a missing directory, another file): their targets are never written.
TEST_F(Imgseal, LinksInPlaceOfTheListsAreReplacedThemselves) {
    write_file(tree_ / "elsewhere", "elsewhere\n");
    fs::create_symlink("no-such-dir/sign.txt", build_dir() / "sign.txt");
    fs::create_symlink(tree_ / "elsewhere", build_dir() / "checksum");
    fs::create_symlink(tree_ / "elsewhere", firmware_dir() / "checksum");

    RunResult result = run({"1"});

    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, kReleaseStdout);
    for (const fs::path &list : {build_dir() / "sign.txt", build_dir() / "checksum", firmware_dir() / "checksum"}) {
        SCOPED_TRACE(list.string());
        EXPECT_FALSE(fs::is_symlink(list));
    }
    EXPECT_EQ(read_file(build_dir() / "sign.txt"), kReleaseSignText);
    EXPECT_EQ(read_file(build_dir() / "checksum"), kReleaseDigests);
    EXPECT_EQ(read_file(firmware_dir() / "checksum"), kReleaseDigests);
    EXPECT_EQ(read_file(tree_ / "elsewhere"), "elsewhere\n");
}

// An md5sum that fails part way (here one that signs one file and exits 1)
// leaves sign.txt short: no list is written from it.
TEST_F(Imgseal, FailingMd5sumFails) {
    const fs::path fake_bin = tree_ / "bin";
    write_file(fake_bin / "md5sum", "#!/bin/sh\necho 8f669f515cc39f1e5ffeb442adf07d08  \"$1\"\nexit 1\n");
    fs::permissions(fake_bin / "md5sum", fs::perms::owner_all);
    dcu::test::RunOptions options;
    const char *path = std::getenv("PATH");
    options.env["PATH"] = fake_bin.string() + ":" + (path != nullptr ? path : "/usr/bin:/bin");

    RunResult result = run({"1"}, options);

    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.out, kReleaseHead + "gen_signature()           : Failed to run md5sum\n" + kFailed);
    EXPECT_FALSE(fs::exists(build_dir() / "checksum"));
    EXPECT_FALSE(fs::exists(firmware_dir() / "checksum"));
}

// A list that can't be written whole keeps its old content, and no
// temporary file is left beside it.
const std::string kOldSignText = "old sign.txt\n";
const std::string kOldDigests = "old checksum\n";

class ImgsealFailedWrite : public Imgseal {
protected:
    void write_old_lists() {
        write_file(build_dir() / "sign.txt", kOldSignText);
        write_file(build_dir() / "checksum", kOldDigests);
        write_file(firmware_dir() / "checksum", kOldDigests);
    }
};

// sign.txt (282 bytes) is larger than the limit.
TEST_F(ImgsealFailedWrite, PastTheFileSizeLimit) {
    write_old_lists();
    dcu::test::RunOptions options;
    options.max_file_size = 200;

    RunResult result = run({"1"}, options);

    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.out, kReleaseHead + "gen_signature()           : Failed find signature file\n" + kFailed);
    EXPECT_EQ(read_file(build_dir() / "sign.txt"), kOldSignText);
    EXPECT_EQ(read_file(build_dir() / "checksum"), kOldDigests);
    EXPECT_EQ(read_file(firmware_dir() / "checksum"), kOldDigests);
    EXPECT_EQ(entries(build_dir()), (std::vector<std::string>{"Makefile", "checksum", "main.cpp", "sign.txt"}));
}

// The working directory on a small disk with room for one page: sign.txt,
// new there, takes it, and checksum finds the disk full.
TEST_F(ImgsealFailedWrite, ChecksumOnAFullDisk) {
    dcu::test::SmallTmpfs disk(build_dir(), 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "no tmpfs: needs root";
    write_file(build_dir() / "Makefile", "all:\n");
    write_file(build_dir() / "main.cpp", "int main() {}\n");
    write_file(build_dir() / "checksum", kOldDigests);
    write_file(firmware_dir() / "checksum", kOldDigests);
    disk.fill(1);

    RunResult result = run({"1"});

    EXPECT_EQ(result.exit_code, 255);
    const std::string done = "main()                    : Signatures generated\n";
    EXPECT_EQ(result.out, kReleaseStdout.substr(0, kReleaseStdout.size() - done.size()) +
                              "gen_signature()           : Failed to write signatures, Error : No space left on "
                              "device\n" +
                              kFailed);
    EXPECT_EQ(read_file(build_dir() / "sign.txt"), kReleaseSignText);
    EXPECT_EQ(read_file(build_dir() / "checksum"), kOldDigests);
    EXPECT_EQ(read_file(firmware_dir() / "checksum"), kOldDigests);
    EXPECT_EQ(entries(build_dir()),
              (std::vector<std::string>{"Makefile", "checksum", "filler", "main.cpp", "sign.txt"}));
}

// The firmware directory full: the copy fails and keeps the old list there.
TEST_F(ImgsealFailedWrite, CopyOnAFullDisk) {
    dcu::test::SmallTmpfs disk(firmware_dir(), 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "no tmpfs: needs root";
    write_old_lists();
    disk.fill();

    RunResult result = run({"1"});

    EXPECT_EQ(result.exit_code, 255);
    const std::string done = "main()                    : Signatures generated\n";
    EXPECT_EQ(result.out, kReleaseStdout.substr(0, kReleaseStdout.size() - done.size()) +
                              "gen_signature()           : Failed to copy checksum to ../tev_dcu_firmware\n" +
                              kFailed);
    EXPECT_EQ(read_file(build_dir() / "checksum"), kReleaseDigests);
    EXPECT_EQ(read_file(firmware_dir() / "checksum"), kOldDigests);
    EXPECT_EQ(entries(firmware_dir()), (std::vector<std::string>{"checksum", "filler"}));
}

}  // namespace
