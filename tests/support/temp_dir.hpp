// Scratch directories and small file helpers for fixtures.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace dcu::test {

// A fresh directory under the system's temp dir, removed with all it holds.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir();
    const std::filesystem::path &path() const { return path_; }
    // path() joined with a relative or unit-absolute path ("/usr/tev/...").
    std::filesystem::path operator/(std::string_view relative) const;

private:
    std::filesystem::path path_;
};

// Writes content to path, creating the parent directories.
void write_file(const std::filesystem::path &path, std::string_view content);
std::string read_file(const std::filesystem::path &path);

}  // namespace dcu::test
