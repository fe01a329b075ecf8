#include "tests/support/scoped_sysroot.h"

#include <cstdio>
#include <cstdlib>

#include "platform/system_root.h"

namespace testing_support {

CScopedSysroot::CScopedSysroot() {
    if (const char* previous = std::getenv(platform::kSysrootVariable)) {
        m_previous = previous;
    }
    setenv(platform::kSysrootVariable, m_root.Path().c_str(), 1);
}

CScopedSysroot::~CScopedSysroot() {
    if (m_previous) {
        setenv(platform::kSysrootVariable, m_previous->c_str(), 1);
    } else {
        unsetenv(platform::kSysrootVariable);
    }
}

void CScopedSysroot::WriteRegistry(std::string_view body) const {
    m_root.WriteFile("etc/registry.reg",
                     "Windows Registry Editor Version 5.00\r\n\r\n" + std::string(body));
}

void CScopedSysroot::WriteUnitRegistry(std::string_view cpuType, unsigned projectType,
                                       std::string_view hwVersion) const {
    char project[64];
    std::snprintf(project, sizeof project, "\"PROJECTTYPE\"=dword:%08x\r\n", projectType);
    std::string body = "[HKEY_LOCAL_MACHINE\\SoftWare\\Tovren\\Os]\r\n";
    body += "\"CPU_TYPE\"=\"" + std::string(cpuType) + "\"\r\n";
    body += project;
    if (!hwVersion.empty()) {
        body += "\"HW_VERSION\"=\"" + std::string(hwVersion) + "\"\r\n";
    }
    WriteRegistry(body);
}

}  // namespace testing_support
