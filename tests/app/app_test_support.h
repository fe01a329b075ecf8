// Helpers of the window tests: a unit in a scratch system root (registry, the
// executable's directory with firmware and key files), the main window with a
// hook after its initialisation, reading the windows' controls, and the
// engine events the main window traced.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/firmware_update_dlg.h"
#include "app/key_update_dlg.h"
#include "tests/support/scoped_sysroot.h"

namespace app_test {

// Registry values of the units the tests play.
struct UnitKind {
    const char* cpuType;
    unsigned projectType;
    std::uint8_t platformCode;  // what GetPlatformCode makes of them
};
inline constexpr UnitKind kPlatform7 = {"MSTAR2521", 16, 7};  // family A, no key update
inline constexpr UnitKind kPlatform8 = {"MSTAR2521", 19, 8};  // family A, key update
inline constexpr UnitKind kPlatform0 = {"S3C6410", 18, 0};    // family B

// The platform tag that family A firmware must carry.
inline constexpr const char* kStm8Tag = "STM8QD5C";
// A key file's bytes before the key data.
inline constexpr std::size_t kKeyHeaderBytes = 1032;

// A scratch system root whose executable lives in <root>/unit. Resets the
// process-wide values of the updater and the parser, so that every test
// starts as a fresh process would.
class CUnit {
public:
    CUnit();
    ~CUnit();
    CUnit(const CUnit&) = delete;
    CUnit& operator=(const CUnit&) = delete;

    const std::string& Root() const { return m_root.Root(); }
    std::string Path(std::string_view relative) const;
    std::string UnitDirectory() const { return Path("unit"); }

    void WriteRegistry(const UnitKind& kind) const;
    // A firmware file in the unit directory: the tag record at 0x9FE0 and the
    // image at 0xA000 in S1 records. The image written.
    std::vector<std::uint8_t> WriteFirmware(std::string_view name, std::size_t imageBytes,
                                            std::string_view tag = kStm8Tag) const;
    // A key file of fileBytes bytes: the header, then key bytes 0, 1, 2, ...
    // The key data.
    std::vector<std::uint8_t> WriteKeyFile(std::string_view name, std::size_t fileBytes) const;

private:
    testing_support::CScopedSysroot m_root;
};

// The main window with test code right after its initialisation.
class CProbedUpdateDlg : public CFirmwareUpdateDlg {
public:
    std::function<void()> afterInit;

protected:
    bool OnInitDialog() override;
};

// The key window with test code right after its (default) initialisation,
// before it is shown and activated.
class CProbedKeyDlg : public CKeyUpdateDlg {
public:
    std::function<void()> afterInit;

protected:
    bool OnInitDialog() override;
};

struct ButtonStates {
    bool start = false;
    bool exit = false;
    bool keyUpdate = false;
    bool operator==(const ButtonStates&) const = default;
};
ButtonStates MainButtons(const CDialog& dialog);
void SetMainButtons(CDialog& dialog, const ButtonStates& states);
std::string ControlText(const CDialog& dialog, int controlId);
// Clicks a button as the user would (nothing happens when it is disabled).
void Click(const CDialog& dialog, int controlId);

// Records the engine events the main window traces ("event <code>") while
// it exists; the debug text goes to the recorder instead of standard error.
class CEventTrace {
public:
    CEventTrace();
    ~CEventTrace();
    CEventTrace(const CEventTrace&) = delete;
    CEventTrace& operator=(const CEventTrace&) = delete;

    std::vector<std::uint32_t> Events() const;
    std::string Text() const;

private:
    mutable std::mutex m_mutex;
    std::string m_text;
};

}  // namespace app_test
