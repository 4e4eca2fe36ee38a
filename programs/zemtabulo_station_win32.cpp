// zemtabulo-station.exe: the station window on the Win32 backend.
// <windows.h> comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <cstdio>
#include <string>
#include <vector>

#include "app/station_window.h"
#include "platform/clock.h"
#include "platform/win32/windows_version.h"
#include "programs/version_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (!runningOnSupportedWindows()) {
        MessageBoxW(nullptr, kOldWindowsText, L"ZemTabulo", MB_OK | MB_ICONERROR);
        ExitProcess(1);
    }
    if (versionAsked(__argc, __argv)) {
        showDesktopVersion("zemtabulo-station");
        ExitProcess(0);
    }
    // The file chooser needs COM on the dialog thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    useClockFromEnvironment();
    const int status = stationMain(std::vector<std::string>(__argv + 1, __argv + __argc));
    std::fflush(nullptr);
    ExitProcess(UINT(status));
}
