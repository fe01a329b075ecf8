// The system root: every platform path is looked up below it.
//
// The root is the value of KESTROVAN_SYSROOT, or "/" when that is unset or
// empty. It is read at every call, so a test may set the variable before it
// starts the code under test. No trailing '/' is kept (except for "/" itself).
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline constexpr const char* kSysrootVariable = "KESTROVAN_SYSROOT";

std::string SystemRoot();

// Joins the root and an absolute Linux path ("/etc/registry.reg").
std::string RootedPath(std::string_view absolutePath);

// "\tovren\$QRV$\App\Halvix.exe" -> "<root>/tovren/$QRV$/App/Halvix.exe".
// Every '\' becomes '/'; a path without a leading separator is taken as
// absolute all the same.
std::string MapWindowsPath(std::string_view windowsPath);

// "COM4:" and "\$device\COM4" -> "<root>/dev/ttyS3" (COM<n> is ttyS<n-1>).
// Letter case of "COM" and "$device" is ignored. Returns "" for a name that is
// not a COM port or has a number below 1.
std::string MapComDeviceName(std::string_view deviceName);

}  // namespace platform
