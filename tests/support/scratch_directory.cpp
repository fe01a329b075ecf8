#include "tests/support/scratch_directory.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testing_support {

namespace fs = std::filesystem;

CScratchDirectory::CScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/kestrovan-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

CScratchDirectory::~CScratchDirectory() {
    if (!m_path.empty()) {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
}

std::string CScratchDirectory::operator/(std::string_view relative) const {
    return m_path + "/" + std::string(relative);
}

std::string CScratchDirectory::MakeDirectories(std::string_view relative) const {
    std::string path = *this / relative;
    std::error_code ignored;
    fs::create_directories(path, ignored);
    return path;
}

std::string CScratchDirectory::WriteFile(std::string_view relative,
                                         std::string_view contents) const {
    std::string path = *this / relative;
    std::error_code ignored;
    fs::create_directories(fs::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return path;
}

std::string CScratchDirectory::WriteFile(std::string_view relative,
                                         const std::vector<std::uint8_t>& contents) const {
    return WriteFile(relative, std::string_view(reinterpret_cast<const char*>(contents.data()),
                                                contents.size()));
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

}  // namespace testing_support
