// A picture of the program's windows as the screen shows them: the dialogs
// in a modal run, each drawn at its place in their stacking order (owners
// below the dialogs they own) on a screen-sized canvas. Works on every Qt
// platform, the offscreen one included, because each window draws itself.
//
// Threads: the user-interface thread only.
#pragma once

#include <string>

// Writes the picture to path (PNG); false when there is no screen or the file
// cannot be written.
bool SaveScreenshot(const std::string& path);
