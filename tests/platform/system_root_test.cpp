// The system root and the mapping of the original platform's paths below it.
#include "platform/system_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets (or, with nothing, unsets) KESTROVAN_SYSROOT for one test and puts
// the previous value back afterwards.
class CScopedRootVariable {
public:
    explicit CScopedRootVariable(const char* value) {
        if (const char* previous = std::getenv(platform::kSysrootVariable)) {
            m_previous = previous;
        }
        if (value != nullptr) {
            setenv(platform::kSysrootVariable, value, 1);
        } else {
            unsetenv(platform::kSysrootVariable);
        }
    }
    ~CScopedRootVariable() {
        if (m_previous) {
            setenv(platform::kSysrootVariable, m_previous->c_str(), 1);
        } else {
            unsetenv(platform::kSysrootVariable);
        }
    }
    CScopedRootVariable(const CScopedRootVariable&) = delete;
    CScopedRootVariable& operator=(const CScopedRootVariable&) = delete;

private:
    std::optional<std::string> m_previous;
};

struct RootCase {
    const char* variable;  // nullptr: unset
    const char* root;
    const char* registryPath;
    const char* halvixPath;
    const char* com4Path;
};

class SystemRootMapping : public ::testing::TestWithParam<RootCase> {};

TEST_P(SystemRootMapping, MapsBelowTheRoot) {
    const RootCase& row = GetParam();
    CScopedRootVariable variable(row.variable);
    EXPECT_EQ(platform::SystemRoot(), row.root);
    EXPECT_EQ(platform::RootedPath("/etc/registry.reg"), row.registryPath);
    EXPECT_EQ(platform::MapWindowsPath("\\tovren\\$QRV$\\App\\Halvix.exe"), row.halvixPath);
    EXPECT_EQ(platform::MapComDeviceName("COM4:"), row.com4Path);
}

INSTANTIATE_TEST_SUITE_P(
    Roots, SystemRootMapping,
    ::testing::Values(
        RootCase{nullptr, "/", "/etc/registry.reg", "/tovren/$QRV$/App/Halvix.exe", "/dev/ttyS3"},
        RootCase{"", "/", "/etc/registry.reg", "/tovren/$QRV$/App/Halvix.exe", "/dev/ttyS3"},
        RootCase{"/", "/", "/etc/registry.reg", "/tovren/$QRV$/App/Halvix.exe", "/dev/ttyS3"},
        RootCase{"/srv/unit", "/srv/unit", "/srv/unit/etc/registry.reg",
                 "/srv/unit/tovren/$QRV$/App/Halvix.exe", "/srv/unit/dev/ttyS3"},
        RootCase{"/srv/unit//", "/srv/unit", "/srv/unit/etc/registry.reg",
                 "/srv/unit/tovren/$QRV$/App/Halvix.exe", "/srv/unit/dev/ttyS3"}));

TEST(SystemRoot, IsReadAtEveryCall) {
    CScopedRootVariable first("/first");
    EXPECT_EQ(platform::SystemRoot(), "/first");
    setenv(platform::kSysrootVariable, "/second", 1);
    EXPECT_EQ(platform::SystemRoot(), "/second");
}

struct WindowsPathCase {
    const char* windowsPath;
    const char* mapped;
};

class WindowsPaths : public ::testing::TestWithParam<WindowsPathCase> {};

TEST_P(WindowsPaths, BackslashesBecomeSlashes) {
    CScopedRootVariable variable("/r");
    EXPECT_EQ(platform::MapWindowsPath(GetParam().windowsPath), GetParam().mapped);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowsPaths,
    ::testing::Values(WindowsPathCase{"\\SDMMC\\Kestrovan\\fw.s19", "/r/SDMMC/Kestrovan/fw.s19"},
                      WindowsPathCase{"SDMMC\\fw.s19", "/r/SDMMC/fw.s19"},
                      WindowsPathCase{"\\", "/r/"}, WindowsPathCase{"", "/r/"},
                      WindowsPathCase{"/already/slashes", "/r/already/slashes"}));

struct ComCase {
    const char* deviceName;
    const char* mapped;  // "" when the name is not a COM port
};

class ComDeviceNames : public ::testing::TestWithParam<ComCase> {};

TEST_P(ComDeviceNames, MapToSerialDeviceNodes) {
    CScopedRootVariable variable("/r");
    EXPECT_EQ(platform::MapComDeviceName(GetParam().deviceName), GetParam().mapped)
        << GetParam().deviceName;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ComDeviceNames,
    ::testing::Values(ComCase{"COM1:", "/r/dev/ttyS0"}, ComCase{"COM4:", "/r/dev/ttyS3"},
                      ComCase{"com10:", "/r/dev/ttyS9"}, ComCase{"CoM2:", "/r/dev/ttyS1"},
                      ComCase{"\\$device\\COM4", "/r/dev/ttyS3"},
                      ComCase{"\\$DEVICE\\com1", "/r/dev/ttyS0"},
                      ComCase{"\\$device\\COM12", "/r/dev/ttyS11"},
                      // Not COM ports, or no port number 1 and up.
                      ComCase{"COM0:", ""}, ComCase{"COM:", ""}, ComCase{"COM4", ""},
                      ComCase{"COMx:", ""}, ComCase{"COM-1:", ""}, ComCase{"COM+4:", ""},
                      ComCase{"COM4x:", ""}, ComCase{"COM 4:", ""}, ComCase{"LPT1:", ""},
                      ComCase{"COM99999999999999999999:", ""}, ComCase{"\\$device\\COM", ""},
                      ComCase{"\\$device\\COM4:", ""}, ComCase{"\\$device\\LPT1", ""},
                      ComCase{"", ""}, ComCase{":", ""}));

}  // namespace
