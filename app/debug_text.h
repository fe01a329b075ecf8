// Texts of the windows for the debug output: one line each.
#pragma once

#include <string>
#include <string_view>

// The text with its line ends written out as \r and \n.
std::string OneDebugLine(std::string_view text);
