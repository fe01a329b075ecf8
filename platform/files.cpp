#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <new>
#include <stdexcept>

#include "platform/last_error.h"

namespace platform {

namespace {

constexpr const char* kOwnExecutableLink = "/proc/self/exe";
constexpr std::size_t kFirstLinkBufferBytes = 256;
constexpr std::size_t kMaxLinkBufferBytes = 64 * 1024;  // far beyond PATH_MAX
constexpr mode_t kNewFileMode = 0644;                   // narrowed by the umask
constexpr mode_t kNewDirectoryMode = 0755;
constexpr const char* kTemporarySuffix = ".tmp";

std::mutex g_moduleOverrideMutex;
std::string g_moduleOverride;

void SetLastErrorFromErrno() {
    SetLastError(static_cast<std::uint32_t>(errno));
}

// Closes a descriptor at scope exit.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int descriptor) : m_descriptor(descriptor) {}
    ~CFileDescriptor() {
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
        }
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return m_descriptor; }
    bool IsOpen() const { return m_descriptor >= 0; }
    // Closes now and reports whether the close succeeded (a late write error
    // may only show here).
    bool Close() {
        const int descriptor = m_descriptor;
        m_descriptor = -1;
        return ::close(descriptor) == 0;
    }

private:
    int m_descriptor;
};

// Closes a directory stream at scope exit.
class CDirectoryStream {
public:
    explicit CDirectoryStream(const std::string& path) : m_directory(::opendir(path.c_str())) {}
    ~CDirectoryStream() {
        if (m_directory != nullptr) {
            ::closedir(m_directory);
        }
    }
    CDirectoryStream(const CDirectoryStream&) = delete;
    CDirectoryStream& operator=(const CDirectoryStream&) = delete;

    DIR* Get() const { return m_directory; }

private:
    DIR* m_directory;
};

std::string ReadOwnExecutableLink() {
    std::size_t capacity = kFirstLinkBufferBytes;
    while (capacity <= kMaxLinkBufferBytes) {
        std::string target(capacity, '\0');
        const ssize_t length = ::readlink(kOwnExecutableLink, target.data(), target.size());
        if (length < 0) {
            SetLastErrorFromErrno();
            return {};
        }
        if (static_cast<std::size_t>(length) < capacity) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        capacity *= 2;  // possibly truncated: try again with more room
    }
    SetLastError(ENAMETOOLONG);
    return {};
}

// The length in bytes of the UTF-8 character at the start of text (1 for a
// byte that does not start a valid sequence), so that '?' takes one
// character of a name, not one byte.
std::size_t CharacterLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text.front());
    std::size_t length = 1;
    if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else if (lead >= 0xE0) {
        length = lead <= 0xEF ? 3 : 1;
    } else if (lead >= 0xC2) {
        length = 2;
    }
    if (length > text.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {  // not a continuation byte
            return 1;
        }
    }
    return length;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameCharacter(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

// Wildcard match with one saved position for the last '*': linear in
// practice and never exponential, whatever the pattern.
bool MatchesPattern(std::string_view name, std::string_view pattern) {
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starPattern = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = ++p;
            starName = n;
            continue;
        }
        const std::size_t nameLength = CharacterLength(name.substr(n));
        if (p < pattern.size()) {
            if (pattern[p] == '?') {
                ++p;
                n += nameLength;
                continue;
            }
            const std::size_t patternLength = CharacterLength(pattern.substr(p));
            if (SameCharacter(name.substr(n, nameLength), pattern.substr(p, patternLength))) {
                p += patternLength;
                n += nameLength;
                continue;
            }
        }
        if (starPattern == std::string_view::npos) {
            return false;
        }
        // Let the last '*' take one more character and try again from there.
        starName += CharacterLength(name.substr(starName));
        n = starName;
        p = starPattern;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

// A regular file, or a link to one. Sockets, pipes and devices are left out:
// the callers read the files they find, and a pipe would block that read.
bool IsRegularEntry(DIR* directory, const dirent& entry) {
    if (entry.d_type == DT_REG) {
        return true;
    }
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) {
        return false;
    }
    struct stat status {};
    return ::fstatat(::dirfd(directory), entry.d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
}

// Calls onMatch(name) for each matching file in directory order until it
// answers false. False when the directory cannot be read.
template <typename OnMatch>
bool ForEachMatch(const std::string& directory, std::string_view pattern, OnMatch onMatch) {
    CDirectoryStream stream(directory);
    if (stream.Get() == nullptr) {
        SetLastErrorFromErrno();
        return false;
    }
    while (true) {
        errno = 0;
        const dirent* entry = ::readdir(stream.Get());
        if (entry == nullptr) {
            if (errno != 0) {
                SetLastErrorFromErrno();
                return false;
            }
            return true;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        if (MatchesPattern(name, pattern) && IsRegularEntry(stream.Get(), *entry) &&
            !onMatch(name)) {
            return true;
        }
    }
}

bool WriteAll(int descriptor, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(descriptor, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

// Makes a rename inside directory durable.
bool SyncDirectory(const std::string& directory) {
    CFileDescriptor descriptor(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!descriptor.IsOpen()) {
        return false;
    }
    // Some file systems cannot sync a directory (EINVAL); the rename stands.
    return ::fsync(descriptor.Get()) == 0 || errno == EINVAL;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string GetModuleFileName() {
    {
        std::lock_guard lock(g_moduleOverrideMutex);
        if (!g_moduleOverride.empty()) {
            return g_moduleOverride;
        }
    }
    try {
        return ReadOwnExecutableLink();
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return {};
    }
}

std::string GetModuleDirectory() {
    std::string path = GetModuleFileName();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    path.resize(slash + 1);
    return path;
}

void SetModuleFileNameForTesting(std::string path) {
    std::lock_guard lock(g_moduleOverrideMutex);
    g_moduleOverride = std::move(path);
}

std::vector<std::string> FindFiles(const std::string& directory, std::string_view pattern) {
    std::vector<std::string> names;
    try {
        ForEachMatch(directory, pattern, [&names](std::string_view name) {
            names.emplace_back(name);
            return true;
        });
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return {};
    }
    return names;
}

std::optional<std::string> FindFirstFile(const std::string& directory, std::string_view pattern) {
    std::optional<std::string> first;
    try {
        const bool listed = ForEachMatch(directory, pattern, [&first](std::string_view name) {
            first.emplace(name);
            return false;
        });
        if (listed && !first) {
            SetLastError(ENOENT);  // the directory was read; nothing matched
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return std::nullopt;
    }
    return first;
}

bool FileExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::optional<std::uint64_t> GetFileSize(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        SetLastErrorFromErrno();
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        SetLastError(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& contents) {
    // O_NONBLOCK: opening a pipe by mistake must not hang; it is refused below.
    CFileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!descriptor.IsOpen()) {
        SetLastErrorFromErrno();
        return false;
    }
    struct stat status {};
    if (::fstat(descriptor.Get(), &status) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        SetLastError(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    std::vector<std::uint8_t> data;
    try {
        data.resize(static_cast<std::size_t>(status.st_size));
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return false;
    } catch (const std::length_error&) {
        SetLastError(EFBIG);
        return false;
    }
    // One read fills the buffer; the loop only continues a read that a
    // signal or a file shrinking under us cut short.
    std::size_t filled = 0;
    while (filled < data.size()) {
        const ssize_t count = ::read(descriptor.Get(), data.data() + filled, data.size() - filled);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetLastErrorFromErrno();
            return false;
        }
        if (count == 0) {
            break;
        }
        filled += static_cast<std::size_t>(count);
    }
    data.resize(filled);
    contents.swap(data);
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& contents) {
    std::string temporary;
    try {
        temporary = path + kTemporarySuffix;
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return false;
    }
    CFileDescriptor descriptor(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode));
    if (!descriptor.IsOpen()) {
        SetLastErrorFromErrno();
        return false;
    }
    const auto fail = [&temporary]() {
        const int error = errno;
        ::unlink(temporary.c_str());
        SetLastError(static_cast<std::uint32_t>(error));
        return false;
    };
    if (!WriteAll(descriptor.Get(), contents.data(), contents.size())) {
        return fail();
    }
    if (::fsync(descriptor.Get()) != 0) {
        return fail();
    }
    if (!descriptor.Close()) {
        return fail();
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail();
    }
    try {
        if (!SyncDirectory(DirectoryOf(path))) {
            SetLastErrorFromErrno();
            return false;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ENOMEM);
        return false;
    }
    return true;
}

bool CreateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), kNewDirectoryMode) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    return true;
}

}  // namespace platform
