#include "tests/support/temp_dir.hpp"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace dcu::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dcu-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::operator/(std::string_view relative) const {
    while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
    return path_ / relative;
}

void write_file(const std::filesystem::path &path, std::string_view content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path.string());
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace dcu::test
