#include "tests/tools/serial/pty_pair.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

namespace dcu::test {

namespace {

using Clock = std::chrono::steady_clock;

int millis_left(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PtyPair::PtyPair(std::filesystem::path end_a, std::filesystem::path end_b) {
    std::filesystem::create_directories(end_a.parent_path());
    std::filesystem::create_directories(end_b.parent_path());
    std::vector<std::string> words = {"socat", "-d", "-d", "pty,raw,echo=0,link=" + end_a.string(),
                                      "pty,raw,echo=0,link=" + end_b.string()};
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    UniqueFd read_end(fds[0]);
    UniqueFd write_end(fds[1]);
    ChildLaunch launch;
    launch.argv = words;
    launch.stderr_fd = write_end.get();
    socat_ = ChildProcess(launch);
    write_end.reset();

    // socat announces its transfer loop once both pseudo-terminals and their
    // links are in place. A pair that does not come up throws, and socat_
    // kills socat on the way out.
    std::string notices;
    const auto deadline = Clock::now() + kSerialDeadline;
    while (notices.find("starting data transfer loop") == std::string::npos) {
        pollfd ready{read_end.get(), POLLIN, 0};
        char buffer[512];
        ssize_t n = 0;
        if (::poll(&ready, 1, millis_left(deadline)) <= 0 || (n = ::read(read_end.get(), buffer, sizeof buffer)) <= 0) {
            throw std::runtime_error("socat did not start: " + notices);
        }
        notices.append(buffer, static_cast<std::size_t>(n));
    }
    if (!std::filesystem::exists(end_a) || !std::filesystem::exists(end_b)) {
        throw std::runtime_error("socat made no links: " + notices);
    }
    log_ = std::move(read_end);
}

PtyPair::~PtyPair() {
    if (!socat_.running()) return;
    socat_.signal(SIGTERM);
    socat_.wait();
}

UniqueFd open_line_end(const std::filesystem::path &device) {
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) throw std::runtime_error("cannot open " + device.string());
    termios settings{};
    if (::tcgetattr(fd.get(), &settings) != 0) throw std::runtime_error("not a terminal: " + device.string());
    ::cfmakeraw(&settings);
    ::tcsetattr(fd.get(), TCSANOW, &settings);
    return fd;
}

termios line_settings(const std::filesystem::path &device) {
    UniqueFd fd(::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios settings{};
    if (!fd || ::tcgetattr(fd.get(), &settings) != 0) throw std::runtime_error("cannot read " + device.string());
    return settings;
}

termios set_line_settings(const std::filesystem::path &device, const termios &settings) {
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd || ::tcsetattr(fd.get(), TCSANOW, &settings) != 0) throw std::runtime_error("cannot set " + device.string());
    termios kept{};
    if (::tcgetattr(fd.get(), &kept) != 0) throw std::runtime_error("cannot read " + device.string());
    return kept;
}

termios cooked_settings() {
    termios settings{};
    settings.c_iflag = BRKINT | ICRNL | IXON;
    settings.c_oflag = OPOST | ONLCR;
    settings.c_cflag = CS8 | CREAD | HUPCL;
    settings.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    settings.c_cc[VINTR] = 3;
    settings.c_cc[VERASE] = 127;
    settings.c_cc[VEOF] = 4;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 5;
    ::cfsetispeed(&settings, B38400);
    ::cfsetospeed(&settings, B38400);
    return settings;
}

bool same_line_settings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc)) &&
           ::cfgetispeed(&a) == ::cfgetispeed(&b) && ::cfgetospeed(&a) == ::cfgetospeed(&b);
}

int queued_bytes(int fd) {
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) return -1;
    return waiting;
}

bool wait_until_queued(int fd, int count) {
    const auto deadline = Clock::now() + kSerialDeadline;
    while (queued_bytes(fd) < count) {
        if (Clock::now() >= deadline) return false;
        pollfd ready{fd, POLLIN, 0};
        // Ready with too few bytes: the rest is on its way through socat.
        if (::poll(&ready, 1, millis_left(deadline)) > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string read_bytes(int fd, std::size_t count) {
    std::string bytes;
    const auto deadline = Clock::now() + kSerialDeadline;
    while (bytes.size() < count) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, millis_left(deadline)) <= 0) break;
        char buffer[512];
        const std::size_t wanted = std::min(sizeof buffer, count - bytes.size());
        ssize_t n = ::read(fd, buffer, wanted);
        if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EAGAIN) break;
    }
    return bytes;
}

}  // namespace dcu::test
