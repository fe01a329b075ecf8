// A dialog template: the window's caption, font, styles and size and its
// controls, with positions and sizes in dialog units, as a resource script
// gives them. The framework builds a dialog's window and controls from it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Window classes of template items.
inline constexpr std::string_view kButtonClass = "button";
inline constexpr std::string_view kEditClass = "edit";
inline constexpr std::string_view kStaticClass = "static";
inline constexpr std::string_view kProgressClass = "msctls_progress32";

// A control id for controls that are never looked up (labels).
inline constexpr int kStaticControlId = -1;

struct DialogItemTemplate {
    int id = kStaticControlId;
    std::string_view className;
    std::string_view caption;
    int x = 0;  // dialog units, from the client area's top-left corner
    int y = 0;
    int width = 0;
    int height = 0;
    std::uint32_t style = 0;  // window_style:: values
    std::uint32_t extendedStyle = 0;
};

struct DialogTemplate {
    int id = 0;
    std::string_view caption;
    std::string_view fontName;
    int fontPoints = 8;
    std::uint32_t style = 0;
    std::uint32_t extendedStyle = 0;
    int width = 0;  // dialog units: the client area
    int height = 0;
    std::vector<DialogItemTemplate> items;
};
