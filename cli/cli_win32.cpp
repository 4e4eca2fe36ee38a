// zemtabulo-cli on Windows: hints for a port that will not open, the console test, the
// refusal of an older system.
#include <windows.h>

#include <cwchar>

#include "cli/cli_platform.h"
#include "platform/win32/windows_version.h"

std::string openHint(int err, const std::string& device) {
    if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
        return device +
               " is held by another program (a terminal program, another job); close it and try "
               "again.";
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
        return "No such serial port. 'zemtabulo-cli ports' lists the ones present.";
    return std::string();
}

void releasePortLocksOnSignals() {}

void ignoreBrokenPipes() {}

// Handles are not numbered from the lowest free one: a file opened later never takes the place
// of a missing standard handle.
void keepStandardStreamsOpen() {}

bool stdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// Written without the C runtime's code page: a console takes the text as UTF-16, and a file or
// pipe gets UTF-8, whose English first line reads the same in any code page.
bool systemSupported() {
    if (runningOnSupportedWindows()) return true;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    const int len = int(std::wcslen(kOldWindowsText));
    DWORD mode = 0, done = 0;
    if (GetConsoleMode(err, &mode)) {
        WriteConsoleW(err, kOldWindowsText, DWORD(len), &done, nullptr);
        return false;
    }
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, kOldWindowsText, len, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, kOldWindowsText, len, utf8.data(), bytes, nullptr, nullptr);
    WriteFile(err, utf8.data(), DWORD(utf8.size()), &done, nullptr);
    return false;
}
