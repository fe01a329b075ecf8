// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes away.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class CScratchDirectory {
public:
    CScratchDirectory();
    ~CScratchDirectory();
    CScratchDirectory(const CScratchDirectory&) = delete;
    CScratchDirectory& operator=(const CScratchDirectory&) = delete;

    const std::string& Path() const { return m_path; }
    // Path() + "/" + relative.
    std::string operator/(std::string_view relative) const;

    // Writes a file below the directory, creating the folders on the way.
    std::string WriteFile(std::string_view relative, std::string_view contents) const;
    std::string WriteFile(std::string_view relative, const std::vector<std::uint8_t>& contents) const;
    std::string MakeDirectories(std::string_view relative) const;

private:
    std::string m_path;
};

// Reads a whole file; empty when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

}  // namespace testing_support
