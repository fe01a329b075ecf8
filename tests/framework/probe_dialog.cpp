#include "tests/framework/probe_dialog.h"

#include <algorithm>

#include "framework/dialog_messages.h"
#include "framework/window_styles.h"
#include "platform/window_messages.h"

namespace framework_test {

const DialogTemplate& ProbeTemplate() {
    using namespace window_style;
    static const DialogTemplate probe = {
        .id = 500,
        .caption = "Probe",
        .fontName = "MS Sans Serif",
        .fontPoints = 9,
        .style = kPopup | kVisible | kCaption | kSysMenu | kDialogSetFont,
        .extendedStyle = 0,
        .width = 200,
        .height = 100,
        .items =
            {
                {kProbeMultiLineId, kEditClass, "", 5, 5, 190, 40,
                 kEditMultiLine | kEditAutoVScroll | kVScroll | kBorder, 0},
                {kProbeLineId, kEditClass, "", 110, 50, 40, 12, kEditAutoHScroll | kBorder, 0},
                {kProbeReadOnlyId, kEditClass, "", 155, 50, 40, 12, kEditReadOnly, 0},
                {kStaticControlId, kStaticClass, "Label:", 60, 50, 45, 12,
                 kStaticRight | kStaticCenterImage, 0},
                {kProbeProgressId, kProgressClass, "", 5, 66, 190, 8, kBorder, 0},
                {kProbeButtonId, kButtonClass, "Press", 20, 80, 70, 15, kPushButton | kTabStop, 0},
                {kProbeDefaultButtonId, kButtonClass, "Default", 110, 80, 70, 15,
                 kDefPushButton | kTabStop | kDisabled, 0},
            },
    };
    return probe;
}

CProbeDialog::CProbeDialog(const DialogTemplate& dialogTemplate, CDialog* parent)
    : CDialog(dialogTemplate, parent) {
    CMessageMap& map = MessageMap();
    map.OnCreate([this] {
        calls.push_back("create");
        controlsAtCreate = GetDlgItem(kProbeButtonId) != nullptr;
        return createResult;
    });
    map.OnActivate([this](unsigned state) {
        calls.push_back("activate " + std::to_string(state));
        CDialog::OnActivate(state);
    });
    map.OnCommand(kProbeButtonId,
                  [this] { calls.push_back("command " + std::to_string(kProbeButtonId)); });
    map.OnCommand(kProbeDefaultButtonId,
                  [this] { calls.push_back("command " + std::to_string(kProbeDefaultButtonId)); });
    map.OnMessage(
        platform::RegisterWindowMessage(kProbeMessageName),
        [this](platform::WParam wParam, platform::LParam lParam) {
            calls.push_back("probe " + std::to_string(wParam) + " " + std::to_string(lParam));
            if (onProbe) {
                onProbe();
            }
            return static_cast<platform::LResult>(wParam) + lParam;
        });
    map.OnTimer([this](platform::TimerId timerId) {
        calls.push_back("timer " + std::to_string(timerId));
        CDialog::OnTimer(timerId);
    });
    map.OnClose([this] {
        calls.push_back("close");
        CDialog::OnClose();
    });
    map.OnDestroy([this] {
        calls.push_back("destroy");
        controlsAtDestroy = GetDlgItem(kProbeButtonId) != nullptr;
        CDialog::OnDestroy();
    });
}

std::size_t CProbeDialog::Count(const std::string& call) const {
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
}

bool CProbeDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    calls.push_back("init");
    controlsAtInit = GetDlgItem(kProbeButtonId) != nullptr;
    if (onInit) {
        onInit();
    }
    return true;
}

void CProbeDialog::OnOK() {
    calls.push_back("ok");
    CDialog::OnOK();
}

void CProbeDialog::OnCancel() {
    calls.push_back("cancel");
    CDialog::OnCancel();
}

}  // namespace framework_test
