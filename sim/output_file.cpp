#include "sim/output_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/whole_file.hpp"

namespace dcu::sim {

namespace {
constexpr std::size_t kFlushSize = 1 << 20;
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    fd_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd_) fail("can't create");
}

void OutputFile::flush_if_full() {
    if (buffer_.size() >= kFlushSize) write_out();
}

bool OutputFile::finish() {
    write_out();
    if (fd_ && ::close(fd_.release()) != 0) fail("can't close");
    return !failed_;
}

void OutputFile::write_out() {
    if (!failed_) {
        if (const int error = write_all(fd_.get(), buffer_); error != 0) {
            errno = error;
            fail("can't write");
        }
    }
    buffer_.clear();
}

void OutputFile::fail(const char *what) {
    if (!failed_) std::fprintf(stderr, "metersim: %s %s: %s\n", what, path_.c_str(), std::strerror(errno));
    failed_ = true;
}

bool write_whole_file(const std::string &path, std::string_view content) {
    OutputFile file(path);
    file.buffer().assign(content);
    return file.finish();
}

}  // namespace dcu::sim
