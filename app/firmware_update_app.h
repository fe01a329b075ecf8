// The application object: runs the main update window modally from its
// instance initialisation and answers false, so that the program ends when
// the window is gone.
//
// Threads: the user-interface thread only.
#pragma once

#include "framework/win_app.h"

class CFirmwareUpdateApp : public CWinApp {
public:
    // Where the original framework would have kept settings; none are kept.
    static constexpr const char* kRegistryKey = "应用程序向导生成的本地应用程序";

    CFirmwareUpdateApp();

    bool InitInstance() override;
};

// The one application object.
extern CFirmwareUpdateApp theApp;
