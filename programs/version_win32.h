// --version of the Win32 desktop programs: into a redirected standard output (a script's
// `zemtabulo.exe --version > file`), else in a message box, since a program of the GUI
// subsystem has no console to write to. Include after <windows.h>.
#pragma once

#include <string>

#include "programs/version_arg.h"

inline void showDesktopVersion(const char* program) {
    const std::string line = desktopVersionLine(program);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr);
        return;
    }
    MessageBoxA(nullptr, line.c_str(), "ZemTabulo", MB_OK | MB_ICONINFORMATION);
}
