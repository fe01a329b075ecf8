// Resource and control identifiers of the program's windows.
#pragma once

// Dialog templates and the icon.
inline constexpr int kMainDialogTemplateId = 102;
inline constexpr int kMainIconId = 128;
inline constexpr int kKeyDialogTemplateId = 129;

// Main update window (template 102).
inline constexpr int kStartButtonId = 1000;  // "Kestrovan"
inline constexpr int kExitButtonId = 1001;
inline constexpr int kMessageAreaId = 1003;
inline constexpr int kPercentFieldId = 1006;
inline constexpr int kProgressBarId = 1007;
inline constexpr int kKeyUpdateButtonId = 1011;

// Key update window (template 129).
inline constexpr int kKeyStartButtonId = 1008;
inline constexpr int kKeyExitButtonId = 1009;
inline constexpr int kKeyMessageAreaId = 1012;
