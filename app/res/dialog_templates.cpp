#include "app/res/dialog_templates.h"

#include "app/res/resource.h"
#include "framework/window_styles.h"

namespace {

using namespace window_style;

constexpr std::uint32_t kTabPushButton = kPushButton | kTabStop;

const DialogTemplate kMainDialog = {
    .id = kMainDialogTemplateId,
    .caption = "Kestrovan",  // replaced at run time
    .fontName = "MS Sans Serif",
    .fontPoints = 9,
    .style = kPopup | kVisible | kCaption | kSysMenu | kDialogModalFrame | kDialogSetFont,
    .extendedStyle = kExAppWindow | kExCaptionOkButton,
    .width = 426,
    .height = 226,
    .items =
        {
            {kStartButtonId, kButtonClass, "Kestrovan", 175, 181, 98, 24, kTabPushButton, 0},
            {kExitButtonId, kButtonClass, "Exit", 47, 181, 98, 24, kTabPushButton, 0},
            {kMessageAreaId, kEditClass, "", 7, 7, 412, 122,
             kEditMultiLine | kEditAutoVScroll | kVScroll | kBorder, kExStaticEdge},
            {kStaticControlId, kStaticClass, "Progress:", 149, 156, 45, 16,
             kStaticRight | kStaticCenterImage, 0},
            {kPercentFieldId, kEditClass, "", 194, 155, 81, 18, kEditAutoHScroll | kBorder, 0},
            {kProgressBarId, kProgressClass, "", 7, 136, 412, 14, kBorder, 0},
            {kKeyUpdateButtonId, kButtonClass, "KeyUpdate", 303, 181, 98, 24, kTabPushButton, 0},
        },
};

const DialogTemplate kKeyDialog = {
    .id = kKeyDialogTemplateId,
    .caption = "KeyUpdate",
    .fontName = "MS Shell Dlg",
    .fontPoints = 8,
    .style = kPopup | kVisible | kCaption | kSysMenu | kDialogSetFont,
    .extendedStyle = 0,
    .width = 357,
    .height = 196,
    .items =
        {
            {kKeyStartButtonId, kButtonClass, "Start", 175, 141, 75, 25, kTabPushButton, 0},
            {kKeyExitButtonId, kButtonClass, "Exit", 85, 141, 75, 25, kTabPushButton, 0},
            {kKeyMessageAreaId, kEditClass, "", 7, 7, 343, 122,
             kEditMultiLine | kEditAutoHScroll | kBorder | kTabStop, 0},
        },
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int templateId) {
    switch (templateId) {
        case kMainDialogTemplateId:
            return &kMainDialog;
        case kKeyDialogTemplateId:
            return &kKeyDialog;
        default:
            return nullptr;
    }
}

const DialogTemplate& MainDialogTemplate() {
    return kMainDialog;
}

const DialogTemplate& KeyDialogTemplate() {
    return kKeyDialog;
}
