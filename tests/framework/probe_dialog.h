// A dialog for the framework tests: a template with one control of each kind,
// and a dialog that records, in order, every handler the framework calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/dialog_template.h"

namespace framework_test {

// Control ids of ProbeTemplate().
inline constexpr int kProbeButtonId = 10;
inline constexpr int kProbeDefaultButtonId = 11;
inline constexpr int kProbeMultiLineId = 20;
inline constexpr int kProbeLineId = 21;
inline constexpr int kProbeReadOnlyId = 22;
inline constexpr int kProbeProgressId = 30;
// A registered message the probe handles; its result is wParam + lParam.
inline constexpr const char* kProbeMessageName = "kestrovan-framework-test-probe";

// 200 x 100 dialog units, font 9 points.
const DialogTemplate& ProbeTemplate();

class CProbeDialog : public CDialog {
public:
    explicit CProbeDialog(const DialogTemplate& dialogTemplate = ProbeTemplate(),
                          CDialog* parent = nullptr);

    // What happened, in order: "create", "init", "activate <state>",
    // "command <id>", "probe <w> <l>", "timer <id>", "close", "destroy", "ok",
    // "cancel".
    std::vector<std::string> calls;
    // What the handlers saw of the controls.
    bool controlsAtCreate = true;
    bool controlsAtInit = false;
    bool controlsAtDestroy = false;
    // Answer of the creation handler.
    int createResult = 0;
    // Extra steps at the end of OnInitDialog and of the probe message.
    std::function<void()> onInit;
    std::function<void()> onProbe;

    std::size_t Count(const std::string& call) const;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
};

}  // namespace framework_test
