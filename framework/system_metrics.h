// System metrics that the windows ask for: the screen's size.
//
// Threads: the user-interface thread (after the Qt application exists).
#pragma once

inline constexpr int kSmCxScreen = 0;  // width of the primary screen, pixels
inline constexpr int kSmCyScreen = 1;  // height of the primary screen, pixels

// The metric's value; 0 for an unknown index or when there is no screen.
int GetSystemMetrics(int index);
