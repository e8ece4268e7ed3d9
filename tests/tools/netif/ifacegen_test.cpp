// ifacegen run as a program on a scratch DCU_ROOT: the rewritten
// interfaces1, every message, the exit status, an input file that is never
// written, and an interfaces1 that is replaced whole or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
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

class Ifacegen : public ::testing::Test {
protected:
    fs::path input_path() const { return root_ / "/etc/network/interfaces"; }
    fs::path output_path() const { return root_ / "/etc/network/interfaces1"; }

    void write_input(const std::string &content) {
        input_ = content;
        write_file(input_path(), content);
    }

    fs::path network_dir() const { return root_ / "/etc/network"; }

    RunResult run(const std::vector<std::string> &values, dcu::test::RunOptions options = {}) {
        std::vector<std::string> argv = {IFACEGEN_PATH};
        argv.insert(argv.end(), values.begin(), values.end());
        options.env["DCU_ROOT"] = root_.path().string();
        return dcu::test::run_program(argv, options);
    }

    // Whatever happened, the input file is as it was written.
    void TearDown() override {
        if (input_) {
            EXPECT_EQ(read_file(input_path()), *input_) << "the input file was changed";
        }
    }

    dcu::test::TempDir root_;
    std::optional<std::string> input_;
};

// The names in a directory, dot files included, sorted.
std::vector<std::string> entries(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t mode_of(const fs::path &path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

mode_t current_umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The lines every run with four values prints first.
std::string header(const std::vector<std::string> &values) {
    return "Num arg 5\nIP  : " + values[0] + "\nSubnet  : " + values[1] + "\nGW IP  : " + values[2] +
           "\nInterface  : " + values[3] + "\n";
}

TEST_F(Ifacegen, RewritesOnlyTheAddressLinesOfTheNamedStanza) {
    write_input(
        "# loopback\n"
        "auto lo\n"
        "iface lo inet loopback\n"
        "\n"
        "auto eth0\n"
        "iface eth0 inet static\n"
        "    address 10.0.0.5\n"
        "\tnetmask 255.0.0.0\n"
        "  gateway 10.0.0.1\n"
        "\tdns-nameservers 8.8.8.8\n"
        "\n"
        "auto eth1\n"
        "iface eth1 inet static\n"
        "\taddress 172.16.0.2\n"
        "\tnetmask 255.255.0.0\n"
        "\tgateway 172.16.0.1\n");
    // A longer stale copy from an earlier run must not leave a tail behind.
    write_file(output_path(), std::string(4096, 'x'));

    RunResult result = run({"192.168.1.10", "255.255.255.0", "192.168.1.1", "eth0"});

    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out,
              "Num arg 5\n"
              "IP  : 192.168.1.10\n"
              "Subnet  : 255.255.255.0\n"
              "GW IP  : 192.168.1.1\n"
              "Interface  : eth0\n"
              "auto key word found\n"
              "auto key word found\n"
              "Found the interface to be modified\n"
              "line auto eth0\n\n"
              "line iface eth0 inet static\n\n"
              "IP Address\n"
              "line     address 10.0.0.5\n\n"
              "Netmask\n"
              "line \tnetmask 255.0.0.0\n\n"
              "GATEWAY\n"
              "line   gateway 10.0.0.1\n\n"
              "line \tdns-nameservers 8.8.8.8\n\n"
              "line \n\n"
              "auto key word found\n");
    EXPECT_EQ(read_file(output_path()),
              "# loopback\n"
              "auto lo\n"
              "iface lo inet loopback\n"
              "\n"
              "auto eth0\n"
              "iface eth0 inet static\n"
              "\taddress 192.168.1.10\n"
              "\tnetmask 255.255.255.0\n"
              "\tgateway 192.168.1.1\n"
              "\tdns-nameservers 8.8.8.8\n"
              "\n"
              "auto eth1\n"
              "iface eth1 inet static\n"
              "\taddress 172.16.0.2\n"
              "\tnetmask 255.255.0.0\n"
              "\tgateway 172.16.0.1\n");
}

// Input, values, and what the pass prints and writes, for the stanza and
// gateway rules.
struct RewriteCase {
    const char *name;
    std::vector<std::string> values;
    std::string input;
    std::string messages;  // what follows the header lines
    std::string output;
};

void PrintTo(const RewriteCase &c, std::ostream *os) { *os << c.name; }

class IfacegenRewrite : public Ifacegen, public ::testing::WithParamInterface<RewriteCase> {};

TEST_P(IfacegenRewrite, WritesTheExpectedFile) {
    const RewriteCase &c = GetParam();
    write_input(c.input);

    RunResult result = run(c.values);

    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, header(c.values) + c.messages);
    EXPECT_EQ(read_file(output_path()), c.output);
}

const std::string kLongLine = "\tup ip route add 10.9.0.0/16 via 10.0.0.254 # " + std::string(140, 'x') + " netmask\n";
const std::string kLongComment = "# " + std::string(300, '-') + " address auto eth0\n";
// Its first word lies past the 127 characters that one read took on the unit.
const std::string kIndentedAddress = "\t" + std::string(200, ' ') + "address 10.0.0.5\n";

const RewriteCase kRewriteCases[] = {
    {"NoGatewayTurnsTheGatewayLineIntoAHash",
     {"10.1.1.1", "255.0.0.0", "0.0.0.0", "eth0"},
     "auto eth0\niface eth0 inet static\n\taddress 10.0.0.5\n\tgateway 10.0.0.1\n",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "line iface eth0 inet static\n\nIP Address\nline \taddress 10.0.0.5\n\n"
     "GATEWAY\nline \tgateway 10.0.0.1\n\n",
     "auto eth0\niface eth0 inet static\n\taddress 10.1.1.1\n#\n"},
    {"NoGatewayAndNoGatewayLinePutsAHashAfterTheOptions",
     {"10.1.1.1", "255.0.0.0", "0.0.0.0", "eth0"},
     "auto eth0\n\taddress 10.0.0.5\nauto eth1\n\taddress 10.0.0.6\n",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "IP Address\nline \taddress 10.0.0.5\n\nauto key word found\n",
     "auto eth0\n\taddress 10.1.1.1\n#\nauto eth1\n\taddress 10.0.0.6\n"},
    {"MissingGatewayLineGoesAfterTheLastOptionOfTheStanza",
     {"10.1.1.1", "255.255.255.0", "10.1.1.254", "eth0"},
     "auto eth0\n\taddress 10.0.0.5\n\tnetmask 255.0.0.0\n\nauto eth1\niface eth1 inet dhcp\n",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "IP Address\nline \taddress 10.0.0.5\n\nNetmask\nline \tnetmask 255.0.0.0\n\nline \n\n"
     "auto key word found\n",
     "auto eth0\n\taddress 10.1.1.1\n\tnetmask 255.255.255.0\n\tgateway 10.1.1.254\n\nauto eth1\n"
     "iface eth1 inet dhcp\n"},
    {"GatewayGoesAfterTheOptionsWhenTheAutoLineComesLast",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"},
     "iface eth0 inet static\n\taddress 10.0.0.5\n\nauto eth0\n",
     "Found the interface to be modified\nline iface eth0 inet static\n\n"
     "IP Address\nline \taddress 10.0.0.5\n\nline \n\nauto key word found\nline auto eth0\n\n",
     "iface eth0 inet static\n\taddress 10.1.1.1\n\tgateway 10.1.1.254\n\nauto eth0\n"},
    {"InterfaceNameMatchesAsAWholeWord",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth1"},
     "auto eth1\n\taddress 10.0.0.1\nauto eth10\n\taddress 10.0.0.10\nauto eth2\n\taddress 10.0.0.2\n",
     "auto key word found\nFound the interface to be modified\nline auto eth1\n\n"
     "IP Address\nline \taddress 10.0.0.1\n\n"
     "auto key word found\n"
     "auto key word found\n",
     "auto eth1\n\taddress 10.1.1.1\n\tgateway 10.1.1.254\nauto eth10\n\taddress 10.0.0.10\nauto eth2\n"
     "\taddress 10.0.0.2\n"},
    {"CommentsAreCopiedWhateverTheyMention",
     {"10.1.1.1", "255.255.0.0", "10.1.1.254", "eth0"},
     "auto eth0\n# old address was 10.0.0.9\n# autoconf disabled\n\tnetmask 255.0.0.0\n"
     "# see auto eth0 notes\n\tnetmask 255.0.0.0\n\tgateway 10.0.0.1\n",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "line # old address was 10.0.0.9\n\nline # autoconf disabled\n\n"
     "Netmask\nline \tnetmask 255.0.0.0\n\nline # see auto eth0 notes\n\n"
     "Netmask\nline \tnetmask 255.0.0.0\n\nGATEWAY\nline \tgateway 10.0.0.1\n\n",
     "auto eth0\n# old address was 10.0.0.9\n# autoconf disabled\n\tnetmask 255.255.0.0\n"
     "# see auto eth0 notes\n\tnetmask 255.255.0.0\n\tgateway 10.1.1.254\n"},
    {"MappingAndSourceEndTheStanza",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"},
     "iface eth0 inet static\n\taddress 10.0.0.5\nmapping eth*\n\tscript /usr/local/sbin/pick\n"
     "\tnetmask 255.255.0.0\nsource interfaces.d/*\n\tgateway 10.0.0.1\n",
     "Found the interface to be modified\nline iface eth0 inet static\n\n"
     "IP Address\nline \taddress 10.0.0.5\n\n",
     "iface eth0 inet static\n\taddress 10.1.1.1\n\tgateway 10.1.1.254\nmapping eth*\n"
     "\tscript /usr/local/sbin/pick\n\tnetmask 255.255.0.0\nsource interfaces.d/*\n\tgateway 10.0.0.1\n"},
    {"CrLfLinesAreReadByTheirWords",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"},
     "auto eth0\r\niface eth0 inet static\r\n\taddress 10.0.0.5\r\n\r\nauto eth1\r\n",
     "auto key word found\nFound the interface to be modified\nline auto eth0\r\n\n"
     "line iface eth0 inet static\r\n\nIP Address\nline \taddress 10.0.0.5\r\n\nline \r\n\n"
     "auto key word found\n",
     "auto eth0\r\niface eth0 inet static\r\n\taddress 10.1.1.1\n\tgateway 10.1.1.254\n\r\nauto eth1\r\n"},
    {"HardwareAddressLineIsKept",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"},
     "auto eth0\n\thwaddress ether 00:11:22:33:44:55\n\taddress 10.0.0.5\n\tgateway 10.0.0.1\n",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "line \thwaddress ether 00:11:22:33:44:55\n\nIP Address\nline \taddress 10.0.0.5\n\n"
     "GATEWAY\nline \tgateway 10.0.0.1\n\n",
     "auto eth0\n\thwaddress ether 00:11:22:33:44:55\n\taddress 10.1.1.1\n\tgateway 10.1.1.254\n"},
    {"PercentSignsAreCopiedAndEchoedAsTheyAre",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"},
     "# 100% static %s %n\nauto eth0\n\tpre-up echo 50%d %s\n\tgateway 10.0.0.1\n",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "line \tpre-up echo 50%d %s\n\nGATEWAY\nline \tgateway 10.0.0.1\n\n",
     "# 100% static %s %n\nauto eth0\n\tpre-up echo 50%d %s\n\tgateway 10.1.1.254\n"},
    {"LongLinesAreReadWhole",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"},
     kLongComment + "auto eth0\n" + kLongLine + kIndentedAddress + "\tgateway 10.0.0.1\n",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "line " + kLongLine + "\nIP Address\nline " + kIndentedAddress + "\nGATEWAY\nline \tgateway 10.0.0.1\n\n",
     kLongComment + "auto eth0\n" + kLongLine + "\taddress 10.1.1.1\n\tgateway 10.1.1.254\n"},
    {"LastLineWithoutLineEndStaysSo",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"},
     "auto lo\niface lo inet loopback\nauto eth0\n\tgateway 10.0.0.1\nauto eth1\n\tup true",
     "auto key word found\nauto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "GATEWAY\nline \tgateway 10.0.0.1\n\nauto key word found\n",
     "auto lo\niface lo inet loopback\nauto eth0\n\tgateway 10.1.1.254\nauto eth1\n\tup true"},
    {"AddedHashGetsALineOfItsOwn",
     {"10.1.1.1", "255.0.0.0", "0.0.0.0", "eth0"},
     "auto eth0\n\taddress 10.0.0.5\n\tup true",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "IP Address\nline \taddress 10.0.0.5\n\nline \tup true\n",
     "auto eth0\n\taddress 10.1.1.1\n\tup true\n#\n"},
    {"LastStanzaLineWithoutLineEndIsEchoedAndReplaced",
     {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"},
     "auto eth0\n\taddress 10.0.0.5",
     "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
     "IP Address\nline \taddress 10.0.0.5\n",
     "auto eth0\n\taddress 10.1.1.1\n\tgateway 10.1.1.254\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, IfacegenRewrite, ::testing::ValuesIn(kRewriteCases),
                         [](const ::testing::TestParamInfo<RewriteCase> &param_info) {
                             return std::string(param_info.param.name);
                         });

// An interface that no stanza names has nowhere to take its address: the
// program says so, exits 1 and writes no interfaces1 (an earlier one stays).
TEST_F(Ifacegen, InterfaceThatNoStanzaNamesWritesNothing) {
    struct UnknownCase {
        const char *name;
        std::string interface_name;
        std::string input;
        std::string messages;  // what the pass prints before the refusal
    };
    const UnknownCase cases[] = {
        {"other interfaces only", "eth0", "auto lo\r\niface lo inet loopback\r\n", "auto key word found\n"},
        {"its alias and its VLAN", "eth0",
         "auto eth0:1\niface eth0:1 inet static\n\taddress 10.0.0.6\niface eth0.100 inet manual\n",
         "auto key word found\n"},
        {"named in comments and a mapping", "eth0",
         "# auto eth0\n# iface eth0 inet static\nmapping eth0\n\tscript /usr/local/sbin/pick\n", ""},
        {"an empty name", "", "auto eth0\niface eth0 inet static\n\taddress 10.0.0.5\n", "auto key word found\n"},
    };
    for (const UnknownCase &c : cases) {
        SCOPED_TRACE(c.name);
        write_input(c.input);
        const std::vector<std::string> values = {"10.1.1.1", "255.0.0.0", "10.1.1.254", c.interface_name};
        const std::string expected_out = header(values) + c.messages + "Interface not found : " + c.interface_name + "\n";

        fs::remove(output_path());
        RunResult first = run(values);
        EXPECT_EQ(first.exit_code, 1);
        EXPECT_EQ(first.out, expected_out);
        EXPECT_EQ(entries(network_dir()), (std::vector<std::string>{"interfaces"}));

        write_file(output_path(), "an older copy\n");
        RunResult again = run(values);
        EXPECT_EQ(again.exit_code, 1);
        EXPECT_EQ(again.out, expected_out);
        EXPECT_EQ(read_file(output_path()), "an older copy\n");
        EXPECT_EQ(entries(network_dir()), (std::vector<std::string>{"interfaces", "interfaces1"}));
    }
}

// ifupdown's own reader of interfaces files. It only reads the file it is
// given: no root, and the system's network is never touched.
// Looked up in PATH, then where Debian puts it (PATH may leave out sbin).
std::string ifquery_program() {
    std::vector<std::string> dirs;
    if (const char *path = std::getenv("PATH")) {
        std::istringstream entries_of_path(path);
        for (std::string dir; std::getline(entries_of_path, dir, ':');) dirs.push_back(dir);
    }
    dirs.insert(dirs.end(), {"/usr/sbin", "/sbin"});
    for (const std::string &dir : dirs)
        if (!dir.empty() && ::access((fs::path(dir) / "ifquery").c_str(), X_OK) == 0) return dir + "/ifquery";
    return {};
}

RunResult ifquery(const std::string &program, const fs::path &file, const std::string &interface_name) {
    return dcu::test::run_program({program, "-i", file.string(), interface_name});
}

// The options ifquery reads for an interface, sorted, without the broadcast
// address that it works out by itself.
std::vector<std::string> options_of(const RunResult &query) {
    std::vector<std::string> options;
    std::istringstream lines(query.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.starts_with("broadcast: ")) options.push_back(line);
    std::sort(options.begin(), options.end());
    return options;
}

// A file of each layout where reading by substrings rewrote the wrong lines,
// rewritten byte for byte as expected and read back by ifupdown: the named
// interface has the new settings and keeps its other options, and every
// other interface reads as it did before.
struct ReadBackCase {
    const char *name;
    std::vector<std::string> values;
    std::string input;
    std::string output;
    std::vector<std::string> options;  // what ifquery reads for the named interface
    std::vector<std::string> others;   // the file's other interfaces
};

void PrintTo(const ReadBackCase &c, std::ostream *os) { *os << c.name; }

class IfacegenReadBack : public Ifacegen, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(IfacegenReadBack, IfupdownReadsTheNewSettingsOnlyForTheNamedInterface) {
    const ReadBackCase &c = GetParam();
    const std::string program = ifquery_program();
    ASSERT_FALSE(program.empty()) << "ifquery not found: scripts/install-deps.sh installs ifupdown";
    write_input(c.input);

    RunResult result = run(c.values);

    ASSERT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(read_file(output_path()), c.output);

    const RunResult named = ifquery(program, output_path(), c.values[3]);
    EXPECT_EQ(named.exit_code, 0) << named.err;
    std::vector<std::string> expected = c.options;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(options_of(named), expected);
    for (const std::string &other : c.others) {
        SCOPED_TRACE(other);
        const RunResult before = ifquery(program, input_path(), other);
        const RunResult after = ifquery(program, output_path(), other);
        ASSERT_EQ(before.exit_code, 0) << before.err;
        EXPECT_EQ(after.exit_code, 0) << after.err;
        EXPECT_EQ(after.out, before.out);
    }
}

const std::vector<std::string> kNewSettings = {"192.168.1.10", "255.255.255.0", "192.168.1.1", "eth0"};

// (a): the gateway stays in its own stanza, not in the DHCP one that ends the file.
const std::string kStaticThenDhcp =
    "auto lo\n"
    "iface lo inet loopback\n"
    "\n"
    "auto eth0\n"
    "iface eth0 inet static\n"
    "\taddress 10.0.0.5\n"
    "\tnetmask 255.0.0.0\n"
    "\n"
    "# the field network\n"
    "auto eth1\n"
    "iface eth1 inet dhcp\n"
    "\thostname dcu-0001\n";

const ReadBackCase kReadBackCases[] = {
    {"MissingGatewayStaysInItsStanza", kNewSettings, kStaticThenDhcp,
     "auto lo\n"
     "iface lo inet loopback\n"
     "\n"
     "auto eth0\n"
     "iface eth0 inet static\n"
     "\taddress 192.168.1.10\n"
     "\tnetmask 255.255.255.0\n"
     "\tgateway 192.168.1.1\n"
     "\n"
     "# the field network\n"
     "auto eth1\n"
     "iface eth1 inet dhcp\n"
     "\thostname dcu-0001\n",
     {"address: 192.168.1.10", "netmask: 255.255.255.0", "gateway: 192.168.1.1"},
     {"lo", "eth1"}},
    {"NoGatewayLeavesOnlyAHashInItsStanza",
     {"192.168.1.10", "255.255.255.0", "0.0.0.0", "eth0"},
     kStaticThenDhcp,
     "auto lo\n"
     "iface lo inet loopback\n"
     "\n"
     "auto eth0\n"
     "iface eth0 inet static\n"
     "\taddress 192.168.1.10\n"
     "\tnetmask 255.255.255.0\n"
     "#\n"
     "\n"
     "# the field network\n"
     "auto eth1\n"
     "iface eth1 inet dhcp\n"
     "\thostname dcu-0001\n",
     {"address: 192.168.1.10", "netmask: 255.255.255.0"},
     {"lo", "eth1"}},
    // (b): only lines whose first word is the option are options; the MAC
    // setting, comments and a command that mentions them are kept.
    {"HardwareAddressCommentsAndCommandsAreKept", kNewSettings,
     "auto lo\n"
     "iface lo inet loopback\n"
     "\n"
     "auto eth0\n"
     "iface eth0 inet static\n"
     "\thwaddress 02:00:00:00:00:01\n"
     "\t# address, netmask and gateway below are the factory's\n"
     "\taddress 10.0.0.5\n"
     "\tnetmask 255.0.0.0\n"
     "\tgateway 10.0.0.1\n"
     "\tup ip route add 10.9.0.0/16 via 10.0.0.254 # the old gateway\n"
     "\tpre-up /usr/local/sbin/check-link \\\n"
     "\t\tgateway 10.0.0.1\n",
     "auto lo\n"
     "iface lo inet loopback\n"
     "\n"
     "auto eth0\n"
     "iface eth0 inet static\n"
     "\thwaddress 02:00:00:00:00:01\n"
     "\t# address, netmask and gateway below are the factory's\n"
     "\taddress 192.168.1.10\n"
     "\tnetmask 255.255.255.0\n"
     "\tgateway 192.168.1.1\n"
     "\tup ip route add 10.9.0.0/16 via 10.0.0.254 # the old gateway\n"
     "\tpre-up /usr/local/sbin/check-link \\\n"
     "\t\tgateway 10.0.0.1\n",
     {"hwaddress: 02:00:00:00:00:01", "address: 192.168.1.10", "netmask: 255.255.255.0", "gateway: 192.168.1.1",
      "up: ip route add 10.9.0.0/16 via 10.0.0.254 # the old gateway",
      "pre-up: /usr/local/sbin/check-link \t\tgateway 10.0.0.1"},
     {"lo"}},
    // (c): eth10, the alias eth1:1 and the VLAN eth1.100 are other interfaces.
    {"InterfacesOfSimilarNamesAreOthers",
     {"192.168.1.10", "255.255.255.0", "192.168.1.1", "eth1"},
     "auto eth1\n"
     "iface eth1 inet static\n"
     "\taddress 10.0.1.5\n"
     "\tnetmask 255.255.255.0\n"
     "\tgateway 10.0.1.1\n"
     "auto eth10\n"
     "iface eth10 inet static\n"
     "\taddress 10.0.10.5\n"
     "\tnetmask 255.255.255.0\n"
     "auto eth1:1\n"
     "iface eth1:1 inet static\n"
     "\taddress 10.0.2.5\n"
     "\tnetmask 255.255.255.0\n"
     "auto eth1.100\n"
     "iface eth1.100 inet static\n"
     "\taddress 10.0.100.5\n"
     "\tnetmask 255.255.255.0\n",
     "auto eth1\n"
     "iface eth1 inet static\n"
     "\taddress 192.168.1.10\n"
     "\tnetmask 255.255.255.0\n"
     "\tgateway 192.168.1.1\n"
     "auto eth10\n"
     "iface eth10 inet static\n"
     "\taddress 10.0.10.5\n"
     "\tnetmask 255.255.255.0\n"
     "auto eth1:1\n"
     "iface eth1:1 inet static\n"
     "\taddress 10.0.2.5\n"
     "\tnetmask 255.255.255.0\n"
     "auto eth1.100\n"
     "iface eth1.100 inet static\n"
     "\taddress 10.0.100.5\n"
     "\tnetmask 255.255.255.0\n",
     {"address: 192.168.1.10", "netmask: 255.255.255.0", "gateway: 192.168.1.1"},
     {"eth10", "eth1:1", "eth1.100"}},
    // (d): Debian's own layout, a stanza introduced by allow-hotplug alone,
    // followed by an iface stanza with no auto line of its own.
    {"AllowHotplugStanzaEndsAtTheNextIface", kNewSettings,
     "# The loopback network interface\n"
     "auto lo\n"
     "iface lo inet loopback\n"
     "\n"
     "# The primary network interface\n"
     "allow-hotplug eth0\n"
     "iface eth0 inet static\n"
     "\taddress 10.0.0.5\n"
     "\tnetmask 255.0.0.0\n"
     "iface eth5 inet static\n"
     "\taddress 10.0.5.5\n"
     "\tnetmask 255.255.0.0\n"
     "\tgateway 10.0.5.1\n",
     "# The loopback network interface\n"
     "auto lo\n"
     "iface lo inet loopback\n"
     "\n"
     "# The primary network interface\n"
     "allow-hotplug eth0\n"
     "iface eth0 inet static\n"
     "\taddress 192.168.1.10\n"
     "\tnetmask 255.255.255.0\n"
     "\tgateway 192.168.1.1\n"
     "iface eth5 inet static\n"
     "\taddress 10.0.5.5\n"
     "\tnetmask 255.255.0.0\n"
     "\tgateway 10.0.5.1\n",
     {"address: 192.168.1.10", "netmask: 255.255.255.0", "gateway: 192.168.1.1"},
     {"lo", "eth5"}},
    {"AutoStanzaEndsAtTheNextIface", kNewSettings,
     "auto eth0\n"
     "iface eth0 inet static\n"
     "\taddress 10.0.0.5\n"
     "\tnetmask 255.0.0.0\n"
     "\tgateway 10.0.0.1\n"
     "iface eth5 inet static\n"
     "\taddress 10.0.5.5\n"
     "\tnetmask 255.255.0.0\n"
     "\tgateway 10.0.5.1\n",
     "auto eth0\n"
     "iface eth0 inet static\n"
     "\taddress 192.168.1.10\n"
     "\tnetmask 255.255.255.0\n"
     "\tgateway 192.168.1.1\n"
     "iface eth5 inet static\n"
     "\taddress 10.0.5.5\n"
     "\tnetmask 255.255.0.0\n"
     "\tgateway 10.0.5.1\n",
     {"address: 192.168.1.10", "netmask: 255.255.255.0", "gateway: 192.168.1.1"},
     {"eth5"}},
    // A last line that ends with a backslash has nothing to join: the added
    // gateway must not become part of it.
    {"LastLineEndingWithABackslashJoinsNothing", kNewSettings,
     "iface eth0 inet static\n"
     "\taddress 10.0.0.5\n"
     "\tnetmask 255.0.0.0\n"
     "\tup logger link up \\\n",
     "iface eth0 inet static\n"
     "\taddress 192.168.1.10\n"
     "\tnetmask 255.255.255.0\n"
     "\tup logger link up \\\n"
     "\n"
     "\tgateway 192.168.1.1\n",
     {"address: 192.168.1.10", "netmask: 255.255.255.0", "gateway: 192.168.1.1", "up: logger link up"},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Layouts, IfacegenReadBack, ::testing::ValuesIn(kReadBackCases),
                         [](const ::testing::TestParamInfo<ReadBackCase> &param_info) {
                             return std::string(param_info.param.name);
                         });

// The settings are IPv4 ones: the interface's inet6 stanza keeps its own
// address, netmask and gateway (ifquery reads both families together).
TEST_F(Ifacegen, Inet6StanzaOfTheInterfaceIsKept) {
    const std::string program = ifquery_program();
    ASSERT_FALSE(program.empty()) << "ifquery not found: scripts/install-deps.sh installs ifupdown";
    write_input("auto eth0\n"
                "iface eth0 inet static\n"
                "\taddress 10.0.0.5\n"
                "\tnetmask 255.0.0.0\n"
                "iface eth0 inet6 static\n"
                "\taddress 2001:db8::5\n"
                "\tnetmask 64\n"
                "\tgateway 2001:db8::1\n");
    const RunResult result = run(kNewSettings);
    ASSERT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(read_file(output_path()), "auto eth0\n"
                                        "iface eth0 inet static\n"
                                        "\taddress 192.168.1.10\n"
                                        "\tnetmask 255.255.255.0\n"
                                        "\tgateway 192.168.1.1\n"
                                        "iface eth0 inet6 static\n"
                                        "\taddress 2001:db8::5\n"
                                        "\tnetmask 64\n"
                                        "\tgateway 2001:db8::1\n");
    const auto options = options_of(ifquery(program, output_path(), "eth0"));
    for (const char *option : {"address: 192.168.1.10", "netmask: 255.255.255.0", "gateway: 192.168.1.1",
                               "address: 2001:db8::5", "netmask: 64", "gateway: 2001:db8::1"})
        EXPECT_NE(std::find(options.begin(), options.end(), option), options.end()) << option;
}

TEST_F(Ifacegen, TooFewArgumentsPrintUsage) {
    write_input("auto eth0\n\taddress 10.0.0.5\n");
    for (const auto &values : std::vector<std::vector<std::string>>{{}, {"10.1.1.1", "255.0.0.0", "10.1.1.254"}}) {
        SCOPED_TRACE(values.size());
        RunResult result = run(values);
        EXPECT_EQ(result.exit_code, 255);
        EXPECT_EQ(result.out, "Num arg " + std::to_string(values.size() + 1) +
                                  "\nInvalid number of parameters\n"
                                  "Usage : ifacegen ipAddr subnetMask gwIpAddr interface\n");
        EXPECT_FALSE(fs::exists(output_path()));
    }
}

TEST_F(Ifacegen, ValuesWithLineBreaksAreRefused) {
    write_input("auto eth0\n\tgateway 10.0.0.1\n");
    const char *names[] = {"ipAddr", "subnetMask", "gwIpAddr", "interface"};
    for (std::size_t position = 0; position < 4; ++position) {
        SCOPED_TRACE(names[position]);
        std::vector<std::string> values = {"10.0.0.5", "255.0.0.0", "10.0.0.1", "eth0"};
        values[position] += "\nauto evil";
        RunResult result = run(values);
        EXPECT_EQ(result.exit_code, 255);
        EXPECT_EQ(result.out, "Num arg 5\nInvalid parameter : " + std::string(names[position]) +
                                  " must not hold control characters\n");
        EXPECT_FALSE(fs::exists(output_path()));
    }
}

// ifup reads a line that ends with a backslash as continued on the next: a
// written value ending with one would swallow the line after its own.
TEST_F(Ifacegen, WrittenValuesEndingWithABackslashAreRefused) {
    write_input("auto eth0\niface eth0 inet static\n\taddress 10.0.0.5\n\tnetmask 255.0.0.0\n");
    const char *names[] = {"ipAddr", "subnetMask", "gwIpAddr"};
    for (std::size_t position = 0; position < 3; ++position) {
        SCOPED_TRACE(names[position]);
        std::vector<std::string> values = {"10.0.0.5", "255.0.0.0", "10.0.0.1", "eth0"};
        values[position] += "\\";
        RunResult result = run(values);
        EXPECT_EQ(result.exit_code, 255);
        EXPECT_EQ(result.out, "Num arg 5\nInvalid parameter : " + std::string(names[position]) +
                                  " must not end with a backslash\n");
        EXPECT_FALSE(fs::exists(output_path()));
    }
}

TEST_F(Ifacegen, ValuesMustFitTheirThirtyOneCharacterFields) {
    const std::string fits(31, '7');
    const std::string too_long(32, '7');
    write_input("iface " + fits + " inet static\n");
    const char *names[] = {"ipAddr", "subnetMask", "gwIpAddr", "interface"};
    for (std::size_t position = 0; position < 4; ++position) {
        SCOPED_TRACE(names[position]);
        std::vector<std::string> values(4, fits);
        values[position] = too_long;
        RunResult result = run(values);
        EXPECT_EQ(result.exit_code, 255);
        EXPECT_EQ(result.out, "Num arg 5\nInvalid parameter length : " + std::string(names[position]) +
                                  " must be less than 32 characters\n");
        EXPECT_FALSE(fs::exists(output_path()));
    }

    RunResult result = run({fits, fits, fits, fits});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(read_file(output_path()), "iface " + fits + " inet static\n\tgateway " + fits + "\n");
}

TEST_F(Ifacegen, UnreadableInputFailsWithoutWriting) {
    const std::vector<std::string> values = {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"};
    RunResult missing = run(values);
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.out, header(values) + "Failed open bs file\n");
    EXPECT_FALSE(fs::exists(output_path()));

    fs::create_directories(input_path());
    RunResult directory = run(values);
    EXPECT_EQ(directory.exit_code, 1);
    EXPECT_EQ(directory.out, header(values) + "Failed open bs file\n");
    EXPECT_FALSE(fs::exists(output_path()));
}

// The program's messages for a pass over kSmallInput.
const std::vector<std::string> kValues = {"10.1.1.1", "255.0.0.0", "10.1.1.254", "eth0"};
const std::string kSmallInput = "auto eth0\n\taddress 10.0.0.5\n";
const std::string kSmallPass =
    "auto key word found\nFound the interface to be modified\nline auto eth0\n\n"
    "IP Address\nline \taddress 10.0.0.5\n\n";
const std::string kSmallOutput = "auto eth0\n\taddress 10.1.1.1\n\tgateway 10.1.1.254\n";

// A directory at interfaces1 can't be replaced, even by root: the program
// says so before the pass and leaves it (and its directory) as it was.
TEST_F(Ifacegen, DirectoryInPlaceOfTheOutputFails) {
    write_input(kSmallInput);
    fs::create_directory(output_path());
    write_file(output_path() / "kept", "kept\n");

    RunResult result = run(kValues);

    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, header(kValues) + "Failed open bs file for writing\n");
    EXPECT_EQ(read_file(output_path() / "kept"), "kept\n");
    EXPECT_EQ(entries(network_dir()), (std::vector<std::string>{"interfaces", "interfaces1"}));
}

// Whatever a link named interfaces1 points to, the link itself is replaced
// by the new file: its target (the input among them) is never written.
TEST_F(Ifacegen, LinkNamedInterfaces1IsReplacedItself) {
    write_input(kSmallInput);
    const fs::path other = root_ / "/etc/other";
    struct LinkCase {
        const char *name;
        void (*make)(const fs::path &output, const fs::path &input, const fs::path &other);
    };
    const LinkCase cases[] = {
        {"symbolic link to the input",
         [](const fs::path &output, const fs::path &input, const fs::path &) { fs::create_symlink(input, output); }},
        {"relative link to the input",
         [](const fs::path &output, const fs::path &, const fs::path &) { fs::create_symlink("interfaces", output); }},
        {"hard link to the input",
         [](const fs::path &output, const fs::path &input, const fs::path &) { fs::create_hard_link(input, output); }},
        {"link to another file",
         [](const fs::path &output, const fs::path &, const fs::path &target) { fs::create_symlink(target, output); }},
        {"link to a device that refuses writes",
         [](const fs::path &output, const fs::path &, const fs::path &) { fs::create_symlink("/dev/full", output); }},
        {"link into a missing directory",
         [](const fs::path &output, const fs::path &, const fs::path &) {
             fs::create_symlink("missing/interfaces1", output);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        write_file(other, "other\n");
        fs::remove(output_path());
        c.make(output_path(), input_path(), other);

        RunResult result = run(kValues);

        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.out, header(kValues) + kSmallPass);
        EXPECT_FALSE(fs::is_symlink(output_path()));
        EXPECT_EQ(fs::hard_link_count(output_path()), 1u);
        EXPECT_EQ(read_file(output_path()), kSmallOutput);
        EXPECT_EQ(read_file(input_path()), *input_);
        EXPECT_EQ(read_file(other), "other\n");
        EXPECT_EQ(mode_of(output_path()), 0666 & ~current_umask());
    }
}

// The new interfaces1 keeps the mode and owner of the one it replaces; a
// first one gets what a plain create gives.
TEST_F(Ifacegen, ReplacedFileKeepsModeAndOwner) {
    write_input(kSmallInput);
    struct ModeCase {
        const char *name;
        bool old_file;
        mode_t old_mode;
        mode_t expected_mode;
    };
    const ModeCase cases[] = {
        {"group-readable file", true, 0640, 0640},
        {"owner-only file", true, 0600, 0600},
        {"file open to all", true, 0666, 0666},
        {"no file yet", false, 0, 0666 & ~current_umask()},
    };
    // Root can hand a file to another owner, and so can check that the new
    // one gets it too.
    const bool as_root = ::geteuid() == 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(output_path());
        if (c.old_file) {
            write_file(output_path(), "an older copy\n");
            ASSERT_EQ(::chmod(output_path().c_str(), c.old_mode), 0);
            if (as_root) {
                ASSERT_EQ(::chown(output_path().c_str(), 4321, 8765), 0);
            }
        }

        RunResult result = run(kValues);

        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(read_file(output_path()), kSmallOutput);
        EXPECT_EQ(mode_of(output_path()), c.expected_mode);
        if (as_root && c.old_file) {
            struct stat status {};
            ASSERT_EQ(::stat(output_path().c_str(), &status), 0);
            EXPECT_EQ(status.st_uid, 4321u);
            EXPECT_EQ(status.st_gid, 8765u);
        }
        EXPECT_EQ(entries(network_dir()), (std::vector<std::string>{"interfaces", "interfaces1"}));
    }
}

// A write that fails part way (the file size limit, a full disk) leaves the
// earlier interfaces1 byte for byte, and no temporary file beside it.
class IfacegenFailedWrite : public Ifacegen {
protected:
    // An input, and so a new file, larger than the 4096-byte limit below;
    // `pass_` is what the pass over it prints.
    void write_large_input() {
        std::string input = kSmallInput;
        pass_ = kSmallPass;
        for (int i = 0; i < 200; ++i) {
            const std::string line = "# padding line " + std::to_string(i) + " of the unit's file\n";
            input += line;
            pass_ += "line " + line + "\n";
        }
        write_input(input);
    }
    void write_old_output() {
        write_file(output_path(), kOldOutput);
        ASSERT_EQ(::chmod(output_path().c_str(), 0640), 0);
    }
    void expect_old_output_kept(const RunResult &result) {
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, header(kValues) + pass_ + "Failed open bs file for writing\n");
        EXPECT_EQ(read_file(output_path()), kOldOutput);
        EXPECT_EQ(mode_of(output_path()), 0640u);
    }

    const std::string kOldOutput = "auto eth0\n\taddress 10.9.9.9\n";
    std::string pass_;
};

TEST_F(IfacegenFailedWrite, PastTheFileSizeLimit) {
    write_large_input();
    write_old_output();
    dcu::test::RunOptions options;
    options.max_file_size = 4096;

    RunResult result = run(kValues, options);

    expect_old_output_kept(result);
    EXPECT_EQ(entries(network_dir()), (std::vector<std::string>{"interfaces", "interfaces1"}));
}

TEST_F(IfacegenFailedWrite, OnAFullDisk) {
    dcu::test::SmallTmpfs disk(network_dir(), 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "no tmpfs: needs root";
    write_large_input();
    write_old_output();
    disk.fill();

    RunResult result = run(kValues);

    expect_old_output_kept(result);
    EXPECT_EQ(entries(network_dir()), (std::vector<std::string>{"filler", "interfaces", "interfaces1"}));
    // The input lives on the small disk: checked here, before it goes away.
    EXPECT_EQ(read_file(input_path()), *input_);
    input_.reset();
}

}  // namespace
