#include "web/password_file.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/paths.hpp"
#include "common/replace_file.hpp"
#include "common/unique_fd.hpp"
#include "common/whole_file.hpp"

namespace dcu::web::password_file {

namespace {

constexpr std::size_t kLongestUser = 64;
constexpr std::size_t kLongestPassword = 1024;

std::string md5_hex(std::string_view text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0xf]);
    }
    return hex;
}

// Echo off while a password is typed at a terminal; put back after.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;
    ~EchoOff() {
        if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

// The first line of standard input, without its line end; nothing when it is
// longer than kLongestPassword or holds a NUL.
std::optional<std::string> read_password() {
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    std::optional<EchoOff> quiet;
    if (terminal) {
        std::fputs("Password: ", stderr);
        quiet.emplace(STDIN_FILENO);
    }
    std::string line;
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n') {
        if (c == '\0' || line.size() == kLongestPassword) return std::nullopt;
        line.push_back(c);
    }
    if (terminal) std::fputs("\n", stderr);
    if (line.ends_with('\r')) line.pop_back();
    return line;
}

std::string read_file(const std::string &path, int &error) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
        error = errno;
        return {};
    }
    std::optional<std::string> text = read_all(fd.get());
    error = text ? 0 : errno;
    return text.value_or(std::string());
}

}  // namespace

std::string user_problem(std::string_view user) {
    if (user.empty()) return "the user name is empty";
    if (user.size() > kLongestUser) return "the user name is longer than " + std::to_string(kLongestUser) + " bytes";
    for (const char c : user) {
        if (c == ':') return "the user name holds a colon";
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "the user name holds a control character";
    }
    return {};
}

std::string digest_line(std::string_view user, std::string_view password) {
    const std::string prefix = std::string(user) + ":" + std::string(kRealm);
    return prefix + ":" + md5_hex(prefix + ":" + std::string(password));
}

std::string with_user(std::string_view file_text, std::string_view user, std::string_view password) {
    const std::string prefix = std::string(user) + ":" + std::string(kRealm) + ":";
    std::string out;
    bool replaced = false;
    while (!file_text.empty()) {
        const std::size_t end = file_text.find('\n');
        const std::string_view line = file_text.substr(0, end);
        file_text = end == std::string_view::npos ? std::string_view() : file_text.substr(end + 1);
        if (line.starts_with(prefix)) {
            if (replaced) continue;  // a second line of the same user would be another password
            out += digest_line(user, password);
            replaced = true;
        } else {
            out += line;
        }
        out += '\n';
    }
    if (!replaced) out += digest_line(user, password) + "\n";
    return out;
}

int set_password(std::string_view user) {
    if (const std::string problem = user_problem(user); !problem.empty()) {
        std::fprintf(stderr, "dcuweb: %s\n", problem.c_str());
        return 2;
    }
    const auto password = read_password();
    if (!password) {
        std::fprintf(stderr, "dcuweb: the password must be one line of at most %zu bytes\n", kLongestPassword);
        return 2;
    }
    if (password->empty()) {
        std::fputs("dcuweb: the password is empty\n", stderr);
        return 2;
    }
    const std::string path = paths::on_unit(kUserFile);
    int error = 0;
    const std::string old = read_file(path, error);
    if (error != 0 && error != ENOENT) {
        std::fprintf(stderr, "dcuweb: can't read %s: %s\n", path.c_str(), std::strerror(error));
        return 1;
    }
    if (error == ENOENT) {
        // A first file is readable by its owner and group only (the
        // package makes it root:www-data); the replacement keeps its mode.
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        const UniqueFd made(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640));
        if (!made && errno != EEXIST) {
            std::fprintf(stderr, "dcuweb: can't create %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
        if (made) ::fchmod(made.get(), 0640);  // whatever the umask
    }
    ignore_file_size_signal();
    if (const int failed = replace_file(path, with_user(old, user, *password)); failed != 0) {
        std::fprintf(stderr, "dcuweb: can't write %s: %s\n", path.c_str(), std::strerror(failed));
        return 1;
    }
    std::printf("dcuweb: the password of %.*s is set in %s\n", static_cast<int>(user.size()), user.data(),
                path.c_str());
    return 0;
}

}  // namespace dcu::web::password_file
