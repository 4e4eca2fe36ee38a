// zemtabulo.exe: the desktop program on the Win32 backend.
// <windows.h> comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <cstdio>

#include "app/job_log.h"
#include "app/main_dialog_ids.h"
#include "app/startup.h"
#include "app/templates.h"
#include "platform/clock.h"
#include "platform/win32/win32_ui.h"
#include "platform/win32/windows_version.h"
#include "programs/version_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before any ...A call: on an older system their texts would come out garbled.
    if (!runningOnSupportedWindows()) {
        MessageBoxW(nullptr, kOldWindowsText, L"ZemTabulo", MB_OK | MB_ICONERROR);
        ExitProcess(1);
    }
    if (versionAsked(__argc, __argv)) {
        showDesktopVersion("zemtabulo");
        ExitProcess(0);
    }
    // The folder browser needs COM on the dialog thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // The template hides these three buttons and nothing else issues their commands.
    win32ShowHiddenControls(IDD_MAIN, {IDC_START, IDC_ABOUT, IDC_PORT_SETTINGS});
    useClockFromEnvironment();
    Desktop desktop;
    if (const std::string log = logArgument(__argc, __argv); !log.empty()) useJobLog(desktop.log, log);
    const int status = zemtabuloMain(desktop);
    // Exit may end the dialog while a write job runs: the program ends at once, the job's
    // threads with it.
    std::fflush(nullptr);
    ExitProcess(UINT(status));
}
