#include "tests/host/support/background_program.hpp"

#include <fcntl.h>

#include <stdexcept>
#include <thread>

#include "common/unique_fd.hpp"

namespace dcu::test {

namespace {

std::size_t count_of(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size())) ++count;
    return count;
}

UniqueFd create_output(const std::filesystem::path &path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) throw std::runtime_error("cannot create " + path.string());
    return fd;
}

}  // namespace

BackgroundProgram::BackgroundProgram(const std::vector<std::string> &argv,
                                     const std::map<std::string, std::string> &env) {
    const UniqueFd out = create_output(dir_ / "out");
    const UniqueFd err = create_output(dir_ / "err");
    ChildLaunch launch;
    launch.argv = with_exec_prefix(argv);
    launch.env = environment_with(env);
    launch.stdout_fd = out.get();
    launch.stderr_fd = err.get();
    child_ = ChildProcess(launch);
}

std::string BackgroundProgram::out() const {
    try {
        return read_file(dir_ / "out");
    } catch (const std::exception &) {
        return {};
    }
}

std::string BackgroundProgram::err() const {
    try {
        return read_file(dir_ / "err");
    } catch (const std::exception &) {
        return {};
    }
}

bool BackgroundProgram::wait_for_err(std::string_view text, int times, std::chrono::milliseconds within) const {
    const auto deadline = std::chrono::steady_clock::now() + within;
    for (;;) {
        if (count_of(err(), text) >= static_cast<std::size_t>(times)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void BackgroundProgram::signal(int signal_number) const { child_.signal(signal_number); }

int BackgroundProgram::stop(int signal_number) {
    signal(signal_number);
    return wait();
}

int BackgroundProgram::wait(std::chrono::milliseconds within) { return child_.wait(within); }

}  // namespace dcu::test
