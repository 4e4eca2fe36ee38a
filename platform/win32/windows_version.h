// The lowest Windows the programs run on, and the look at the running system's version.
#pragma once

struct WindowsVersion {
    unsigned long major = 0;
    unsigned long minor = 0;
    unsigned long build = 0;
};

// Windows 10 version 1903 is the first to honour the manifest's UTF-8 active code page, on which
// every ...A call of the programs relies; an older system would show garbled texts.
inline constexpr WindowsVersion kLowestWindows{10, 0, 18362};

bool windowsVersionSupported(const WindowsVersion& v);

// What the system really is: RtlGetVersion, as GetVersionEx answers only what the manifest
// admits to. False when it cannot be told.
bool runningWindowsVersion(WindowsVersion& out);

// True on a supported system, and on one whose version cannot be told.
bool runningOnSupportedWindows();

// The refusal on an older system: an English line, then a Japanese one.
extern const wchar_t kOldWindowsText[];
