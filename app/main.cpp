// Kestrovan: writes new firmware into the head unit's microcontroller. No
// argument and no input: the main window comes up full-screen, takes the
// serial port and runs the update by itself.
#include "engine/frame_trace.h"
#include "framework/win_app.h"

int main(int argc, char** argv) {
    // KESTROVAN_TRACE=1 adds every frame to the debug output; off by default.
    InstallFrameTraceFromEnvironment();
    return RunWinApp(argc, argv);
}
