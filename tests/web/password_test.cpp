// `dcuweb --set-password USER`: the web server's user file, one digest line
// per user, the password read from standard input and kept nowhere.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/run_program.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {
namespace {

const std::string kUsage =
    "usage: dcuweb                      (as a CGI program, run by the web server)\n"
    "       dcuweb --set-password USER  (the password on standard input)\n";

class SetPassword : public ::testing::Test {
protected:
    RunResult run(const std::vector<std::string> &args, const std::string &input) const {
        std::vector<std::string> argv = {DCUWEB_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        RunOptions options;
        options.env["DCU_ROOT"] = root_.path().string();
        options.stdin_text = input;
        options.timeout = std::chrono::seconds(120);
        return run_program(argv, options);
    }
    std::filesystem::path user_file() const { return root_ / "/etc/dcu/dcuweb.htdigest"; }
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        const std::string text = read_file(user_file());
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            result.push_back(text.substr(start, end - start));
        return result;
    }

    TempDir root_;
};

struct Refused {
    const char *name;
    std::vector<std::string> args;
    std::string input;
    std::string err;
};

const Refused kRefused[] = {
    {"EmptyUser", {"--set-password", ""}, "secret\n", "dcuweb: the user name is empty\n"},
    {"ColonInUser", {"--set-password", "ad:min"}, "secret\n", "dcuweb: the user name holds a colon\n"},
    {"ControlInUser", {"--set-password", "ad\tmin"}, "secret\n", "dcuweb: the user name holds a control character\n"},
    {"LongUser", {"--set-password", std::string(65, 'u')}, "secret\n",
     "dcuweb: the user name is longer than 64 bytes\n"},
    {"NoPassword", {"--set-password", "admin"}, "", "dcuweb: the password is empty\n"},
    {"EmptyLine", {"--set-password", "admin"}, "\n", "dcuweb: the password is empty\n"},
    {"NulInPassword", {"--set-password", "admin"}, std::string("sec\0ret\n", 8),
     "dcuweb: the password must be one line of at most 1024 bytes\n"},
    {"LongPassword", {"--set-password", "admin"}, std::string(1025, 'p') + "\n",
     "dcuweb: the password must be one line of at most 1024 bytes\n"},
    {"PasswordOnTheCommandLine", {"--set-password", "admin", "secret"}, "", kUsage},
    {"NoUser", {"--set-password"}, "secret\n", kUsage},
    {"UnknownOption", {"--password", "admin"}, "secret\n", kUsage},
};

class RefusedPassword : public SetPassword, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedPassword, IsAUsageErrorAndWritesNothing) {
    const RunResult result = run(GetParam().args, GetParam().input);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.err, GetParam().err);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(std::filesystem::exists(user_file()));
}

INSTANTIATE_TEST_SUITE_P(Input, RefusedPassword, ::testing::ValuesIn(kRefused),
                         [](const auto &case_info) { return std::string(case_info.param.name); });

TEST_F(SetPassword, FirstUserMakesAFileOnlyItsOwnerAndGroupRead) {
    const RunResult result = run({"--set-password", "admin"}, "s3cret\n");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "dcuweb: the password of admin is set in " + user_file().string() + "\n");
    struct stat info {};
    ASSERT_EQ(::stat(user_file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    const auto file = lines();
    ASSERT_EQ(file.size(), 1u);
    EXPECT_TRUE(std::regex_match(file[0], std::regex("admin:DCU service:[0-9a-f]{32}"))) << file[0];
    EXPECT_EQ(read_file(user_file()).find("s3cret"), std::string::npos);
}

TEST_F(SetPassword, EachUserHasOneLineAndOthersStayAsTheyWere) {
    write_file(user_file(), "# kept\nadmin:Other realm:0123456789abcdef0123456789abcdef\n");
    ASSERT_EQ(run({"--set-password", "admin"}, "first\n").exit_code, 0);
    ASSERT_EQ(run({"--set-password", "operator"}, "second\n").exit_code, 0);
    const auto before = lines();
    ASSERT_EQ(before.size(), 4u);
    EXPECT_EQ(before[0], "# kept");
    EXPECT_EQ(before[1], "admin:Other realm:0123456789abcdef0123456789abcdef");

    // A new password replaces the user's line in place.
    ASSERT_EQ(run({"--set-password", "admin"}, "changed\n").exit_code, 0);
    const auto after = lines();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_NE(after[2], before[2]);
    EXPECT_EQ(after[3], before[3]);
}

// A line typed or sent with CR LF is the same password.
TEST_F(SetPassword, LineEndIsNotPartOfThePassword) {
    ASSERT_EQ(run({"--set-password", "admin"}, "s3cret\r\n").exit_code, 0);
    const std::string with_crlf = read_file(user_file());
    ASSERT_EQ(run({"--set-password", "admin"}, "s3cret").exit_code, 0);
    EXPECT_EQ(read_file(user_file()), with_crlf);
}

}  // namespace
}  // namespace dcu::test
