// Points KESTROVAN_SYSROOT at a scratch directory for the lifetime of the
// object and restores the previous value afterwards. Also offers the registry
// file of that root.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tests/support/scratch_directory.h"

namespace testing_support {

class CScopedSysroot {
public:
    CScopedSysroot();
    ~CScopedSysroot();
    CScopedSysroot(const CScopedSysroot&) = delete;
    CScopedSysroot& operator=(const CScopedSysroot&) = delete;

    const std::string& Root() const { return m_root.Path(); }
    const CScratchDirectory& Directory() const { return m_root; }

    // Writes <root>/etc/registry.reg (UTF-8) with the given lines after the
    // export header.
    void WriteRegistry(std::string_view body) const;
    // A registry for a unit: CPU_TYPE, PROJECTTYPE and optionally HW_VERSION
    // under HKEY_LOCAL_MACHINE\SoftWare\Tovren\Os.
    void WriteUnitRegistry(std::string_view cpuType, unsigned projectType,
                           std::string_view hwVersion = {}) const;

private:
    CScratchDirectory m_root;
    std::optional<std::string> m_previous;
};

}  // namespace testing_support
