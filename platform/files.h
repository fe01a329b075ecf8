// Files: the running program's own path, directory search, whole-file reads
// and writes, directories. Paths are Linux paths (already mapped).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Absolute path of the running executable (/proc/self/exe resolved), or the
// override a test has set.
std::string GetModuleFileName();
// Directory of GetModuleFileName() with its trailing '/'.
std::string GetModuleDirectory();
// Points "the executable" at another path, so that tests can put firmware,
// key and flag files in a scratch directory. "" restores /proc/self/exe.
void SetModuleFileNameForTesting(std::string path);

// Names (without directory) of the entries of directory whose names match
// pattern ('*' any run, '?' one character; letter case ignored, as the
// original file system does), in the order the directory lists them.
// Only regular files (or links to them) are listed: directories, pipes,
// sockets and devices are left out. Empty when the directory cannot be read.
std::vector<std::string> FindFiles(const std::string& directory, std::string_view pattern);
// The first of FindFiles, read lazily: it stops at the first match.
std::optional<std::string> FindFirstFile(const std::string& directory, std::string_view pattern);

bool FileExists(const std::string& path);  // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);
// Size of a regular file (or of the file a link points to).
std::optional<std::uint64_t> GetFileSize(const std::string& path);

// Reads the whole file with one read into a buffer of its size. Regular files
// only (a pipe would block); contents are left as they were on failure.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& contents);

// Writes contents to path + ".tmp", flushes it to the medium, renames it over
// path and flushes the directory, so that a power cut leaves either the old or
// the new file. The ".tmp" file is removed when a step fails.
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& contents);

// Creates one directory; false when it exists already or cannot be made.
bool CreateDirectory(const std::string& path);

}  // namespace platform
