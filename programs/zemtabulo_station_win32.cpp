// zemtabulo-station.exe: the station window on the Win32 backend.
// <windows.h> comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <cstdio>
#include <string>
#include <vector>

#include "app/station.h"
#include "platform/clock.h"
#include "platform/win32/windows_version.h"
#include "programs/version_arg.h"

namespace {

// Into a redirected standard output, else in a message box: a program of the GUI subsystem
// has no console to write to.
void showVersion() {
    const std::string line = desktopVersionLine("zemtabulo-station");
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr);
        return;
    }
    MessageBoxA(nullptr, line.c_str(), "ZemTabulo", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (!runningOnSupportedWindows()) {
        MessageBoxW(nullptr, kOldWindowsText, L"ZemTabulo", MB_OK | MB_ICONERROR);
        ExitProcess(1);
    }
    if (versionAsked(__argc, __argv)) {
        showVersion();
        ExitProcess(0);
    }
    // The file chooser needs COM on the dialog thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    useClockFromEnvironment();
    const int status = stationMain(std::vector<std::string>(__argv + 1, __argv + __argc));
    std::fflush(nullptr);
    ExitProcess(UINT(status));
}
