#include "platform/system_root.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

namespace platform {

namespace {

constexpr std::string_view kComPrefix = "COM";
constexpr std::string_view kDevicePrefix = "\\$device\\";
constexpr std::string_view kSerialDeviceStem = "/dev/ttyS";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string SystemRoot() {
    // Read anew each time: tests point the variable at a scratch directory.
    const char* value = std::getenv(kSysrootVariable);
    if (value == nullptr || *value == '\0') {
        return "/";
    }
    std::string root(value);
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

std::string RootedPath(std::string_view absolutePath) {
    std::string root = SystemRoot();
    if (root == "/") {
        root.clear();
    }
    if (absolutePath.empty() || absolutePath.front() != '/') {
        root.push_back('/');
    }
    root.append(absolutePath);
    return root;
}

std::string MapWindowsPath(std::string_view windowsPath) {
    std::string path(windowsPath);
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return RootedPath(path);
}

std::string MapComDeviceName(std::string_view deviceName) {
    std::string_view name = deviceName;
    if (StartsWithNoCase(name, kDevicePrefix)) {
        name.remove_prefix(kDevicePrefix.size());
    } else if (!name.empty() && name.back() == ':') {
        name.remove_suffix(1);
    } else {
        return {};
    }
    if (!StartsWithNoCase(name, kComPrefix)) {
        return {};
    }
    name.remove_prefix(kComPrefix.size());
    unsigned number = 0;
    const char* first = name.data();
    const char* last = name.data() + name.size();
    const auto [end, error] = std::from_chars(first, last, number);
    // Only digits may follow "COM"; COM0 and signs are not ports.
    if (name.empty() || error != std::errc() || end != last || number < 1 ||
        !std::isdigit(static_cast<unsigned char>(name.front()))) {
        return {};
    }
    return RootedPath(std::string(kSerialDeviceStem) + std::to_string(number - 1));
}

}  // namespace platform
