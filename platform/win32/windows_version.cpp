#include "platform/win32/windows_version.h"

#include <windows.h>

#include <tuple>

const wchar_t kOldWindowsText[] =
    L"This program needs Windows 10 version 1903 or later.\r\n"
    L"このプログラムには Windows 10 バージョン 1903 以降が必要です。\r\n";

bool windowsVersionSupported(const WindowsVersion& v) {
    const WindowsVersion& low = kLowestWindows;
    return std::tie(v.major, v.minor, v.build) >= std::tie(low.major, low.minor, low.build);
}

bool runningWindowsVersion(WindowsVersion& out) {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return false;
    // Through void*: a FARPROC converts to no other function type without a warning.
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (!rtlGetVersion) return false;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtlGetVersion(&info) != 0) return false;
    out = WindowsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
    return true;
}

bool runningOnSupportedWindows() {
    WindowsVersion v;
    return !runningWindowsVersion(v) || windowsVersionSupported(v);
}
