// cfgtool: authoring and servicing the unit's binary configuration record.
//
//   cfgtool decode FILE           the record as JSON, keyed like the store
//   cfgtool encode JSON -o FILE   a valid record from that JSON
//   cfgtool check FILE            the loader's checks, explained
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/replace_file.hpp"
#include "common/unique_fd.hpp"
#include "common/whole_file.hpp"
#include "loader/cfgtool_codec.hpp"

namespace {

using dcu::cfgtool::Record;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char *kHelp =
    "usage: cfgtool decode FILE\n"
    "       cfgtool encode JSON -o FILE\n"
    "       cfgtool check FILE\n"
    "\n"
    "decode  prints the configuration record in FILE as one JSON object: a member\n"
    "        per store hash key, in the order cfgload publishes them, each an\n"
    "        object of field -> value exactly as cfgload stores it (32-bit fields\n"
    "        shown signed, texts up to their first NUL). A record that fails the\n"
    "        loader's checks is still decoded, with a warning on standard error.\n"
    "encode  writes a valid 4716-byte record to FILE from JSON of that form\n"
    "        (JSON \"-\" reads standard input). Missing keys and fields are zero or\n"
    "        empty; reserved bytes are zero; start and end flag and the CRC (high\n"
    "        byte first) are set. 16-bit fields take -32768..65535 and 32-bit\n"
    "        fields -2147483648..4294967295 (either form of the same bits); a text\n"
    "        may fill its whole slot (it then has no NUL) but may not hold a NUL\n"
    "        (\\u0000). An unknown key or field, a value out of range, a text too\n"
    "        long for its slot or holding a NUL, or anything but blanks after the\n"
    "        JSON object is refused, naming the key and field, and nothing is\n"
    "        written.\n"
    "check   runs cfgload's checks (start flag, end flag, CRC) on FILE and prints\n"
    "        one line: the check that fails, its byte offset, found and expected\n"
    "        values. Exit status 0 for a valid record, 1 otherwise.\n"
    "\n"
    "encode(decode(FILE)) gives FILE back byte for byte for every valid record\n"
    "whose reserved bytes are zero and whose text slots hold only zero bytes\n"
    "after their first NUL.\n";

int usage_error(std::string_view message) {
    std::fprintf(stderr, "cfgtool: %.*s\n%s", static_cast<int>(message.size()), message.data(), kHelp);
    return kExitUsage;
}

int fail(std::string_view path, std::string_view message) {
    std::fprintf(stderr, "cfgtool: %.*s: %.*s\n", static_cast<int>(path.size()), path.data(),
                 static_cast<int>(message.size()), message.data());
    return kExitFailed;
}

// Reads a whole file ("-": standard input). False with errno set on failure.
bool read_whole(const std::string &path, std::string &content) {
    const dcu::UniqueFd fd(path == "-" ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    std::optional<std::string> read = dcu::read_all(fd.get());
    if (!read) return false;
    content = std::move(*read);
    return true;
}

// The record as cfgload reads it: the first 4716 bytes, zero past a short file.
Record record_of(std::string_view content) {
    Record record{};
    std::memcpy(record.data(), content.data(), std::min(content.size(), record.size()));
    return record;
}

// Replaces FILE whole or not at all: a full disk or a power cut while
// writing never leaves a partial record where the old one was.
bool write_record(const std::string &path, const Record &record) {
    const int error = dcu::replace_file(
        path, std::string_view(reinterpret_cast<const char *>(record.data()), record.size()));
    errno = error;
    return error == 0;
}

int decode(const std::string &path) {
    std::string content;
    if (!read_whole(path, content)) return fail(path, std::strerror(errno));
    const Record record = record_of(content);
    const auto report = dcu::cfgtool::check_record(record, content.size());
    if (!report.valid) std::fprintf(stderr, "cfgtool: warning: %s: %s\n", path.c_str(), report.line.c_str());
    const std::string json = dcu::cfgtool::decode_to_json(record);
    std::fwrite(json.data(), 1, json.size(), stdout);
    return kExitOk;
}

int encode(const std::string &json_path, const std::string &out_path) {
    std::string json;
    if (!read_whole(json_path, json)) return fail(json_path, std::strerror(errno));
    Record record{};
    if (const std::string error = dcu::cfgtool::encode_from_json(json, record); !error.empty())
        return fail(json_path, error);
    if (!write_record(out_path, record)) return fail(out_path, std::strerror(errno));
    return kExitOk;
}

int check(const std::string &path) {
    std::string content;
    if (!read_whole(path, content)) return fail(path, std::strerror(errno));
    const auto report = dcu::cfgtool::check_record(record_of(content), content.size());
    std::printf("%s: %s\n", path.c_str(), report.line.c_str());
    return report.valid ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char **argv) {
    dcu::ignore_file_size_signal();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage_error("no command given");
    const std::string &command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    if (command == "decode" || command == "check") {
        if (args.size() != 2) return usage_error(command + " takes one FILE");
        return command == "decode" ? decode(args[1]) : check(args[1]);
    }
    if (command == "encode") {
        std::string json_path;
        std::string out_path;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "-o" && i + 1 < args.size()) {
                out_path = args[++i];
            } else if (json_path.empty() && args[i] != "-o") {
                json_path = args[i];
            } else {
                return usage_error("encode takes JSON -o FILE");
            }
        }
        if (json_path.empty() || out_path.empty()) return usage_error("encode takes JSON -o FILE");
        return encode(json_path, out_path);
    }
    return usage_error("unknown command \"" + command + "\"");
}
