#include "tests/app/app_test_support.h"

#include <QPushButton>
#include <cstdio>
#include <cstring>

#include "app/res/resource.h"
#include "engine/firmware_updater.h"
#include "firmware/mcu_file_frame.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "tests/firmware/firmware_test_support.h"

namespace app_test {

namespace {

constexpr std::size_t kRecordDataBytes = 32;  // image bytes per S1 record
constexpr std::uint32_t kImageBase = 0xA000;

}  // namespace

CUnit::CUnit() {
    m_root.Directory().MakeDirectories("unit");
    platform::SetModuleFileNameForTesting(Path("unit/kestrovan"));
    CFirmwareUpdater::ResetProcessValuesForTesting();
    CMcuFileFrame::ResetParseProgressForTesting();
}

CUnit::~CUnit() {
    platform::SetModuleFileNameForTesting("");
}

std::string CUnit::Path(std::string_view relative) const {
    return m_root.Directory() / relative;
}

void CUnit::WriteRegistry(const UnitKind& kind) const {
    m_root.WriteUnitRegistry(kind.cpuType, kind.projectType);
}

std::vector<std::uint8_t> CUnit::WriteFirmware(std::string_view name, std::size_t imageBytes,
                                               std::string_view tag) const {
    const std::vector<std::uint8_t> image = firmware_test::Pattern(imageBytes, 7);
    std::vector<std::string> lines = {firmware_test::SRecord('0', 0, "HX900"),
                                      firmware_test::TagRecord(tag)};
    for (const std::string& line :
         firmware_test::DataRecords(kImageBase, image, kRecordDataBytes)) {
        lines.push_back(line);
    }
    lines.push_back(firmware_test::SRecord('9', kImageBase, std::vector<std::uint8_t>{}));
    m_root.Directory().WriteFile("unit/" + std::string(name), firmware_test::Lines(lines));
    return image;
}

std::vector<std::uint8_t> CUnit::WriteKeyFile(std::string_view name, std::size_t fileBytes) const {
    std::vector<std::uint8_t> contents(fileBytes, 0);
    std::vector<std::uint8_t> key;
    for (std::size_t index = kKeyHeaderBytes; index < fileBytes; ++index) {
        contents[index] = static_cast<std::uint8_t>(index - kKeyHeaderBytes + 1);
        key.push_back(contents[index]);
    }
    m_root.Directory().WriteFile("unit/" + std::string(name), contents);
    return key;
}

bool CProbedUpdateDlg::OnInitDialog() {
    const bool result = CFirmwareUpdateDlg::OnInitDialog();
    if (afterInit) {
        afterInit();
    }
    return result;
}

bool CProbedKeyDlg::OnInitDialog() {
    const bool result = CKeyUpdateDlg::OnInitDialog();
    if (afterInit) {
        afterInit();
    }
    return result;
}

ButtonStates MainButtons(const CDialog& dialog) {
    const auto enabled = [&](int id) {
        const CWnd* control = dialog.GetDlgItem(id);
        return control != nullptr && control->IsWindowEnabled();
    };
    return {enabled(kStartButtonId), enabled(kExitButtonId), enabled(kKeyUpdateButtonId)};
}

void SetMainButtons(CDialog& dialog, const ButtonStates& states) {
    dialog.GetDlgItem(kStartButtonId)->EnableWindow(states.start);
    dialog.GetDlgItem(kExitButtonId)->EnableWindow(states.exit);
    dialog.GetDlgItem(kKeyUpdateButtonId)->EnableWindow(states.keyUpdate);
}

std::string ControlText(const CDialog& dialog, int controlId) {
    const CWnd* control = dialog.GetDlgItem(controlId);
    return control != nullptr ? control->GetWindowText() : "<no control>";
}

void Click(const CDialog& dialog, int controlId) {
    if (const CWnd* control = dialog.GetDlgItem(controlId)) {
        if (auto* button = qobject_cast<QPushButton*>(control->GetWidget())) {
            button->click();
        }
    }
}

CEventTrace::CEventTrace() {
    platform::SetDebugHook([this](std::string_view text) {
        std::lock_guard lock(m_mutex);
        m_text.append(text);
    });
}

CEventTrace::~CEventTrace() {
    platform::SetDebugHook({});
}

std::vector<std::uint32_t> CEventTrace::Events() const {
    static constexpr std::string_view kMarker = "CFirmwareUpdateDlg: event ";
    std::vector<std::uint32_t> events;
    const std::string text = Text();
    for (std::size_t at = text.find(kMarker); at != std::string::npos;
         at = text.find(kMarker, at + 1)) {
        events.push_back(static_cast<std::uint32_t>(
            std::strtoul(text.c_str() + at + kMarker.size(), nullptr, 10)));
    }
    return events;
}

std::string CEventTrace::Text() const {
    std::lock_guard lock(m_mutex);
    return m_text;
}

}  // namespace app_test
