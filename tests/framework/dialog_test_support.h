// Helpers of the window tests: the test program's Qt application (offscreen
// unless QT_QPA_PLATFORM says otherwise) with the bridge that pumps the
// platform queue, pumping with a real-time limit, and modal runs with test
// code inside them.
#pragma once

#include <chrono>
#include <functional>

#include "framework/dialog.h"

namespace framework_test {

// A modal run that the test code had to end itself.
inline constexpr int kEndedByTest = 99;

// Makes the Qt application and the bridge once per test program.
void EnsureApplication();

// A first base class for fixtures whose members need the Qt application.
struct CApplicationFirst {
    CApplicationFirst() { EnsureApplication(); }
};

// Processes Qt events (and so the platform messages and timers) until the
// condition holds; false when limit of real time passed first.
bool PumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(5));
// Processes events for a while of real time.
void PumpFor(std::chrono::milliseconds duration);

// Runs the dialog modally and calls inside once its modal loop runs. When
// inside returns with the dialog still running, the run is ended with
// kEndedByTest. The DoModal result.
platform::LResult RunModal(CDialog& dialog, const std::function<void()>& inside);

}  // namespace framework_test
