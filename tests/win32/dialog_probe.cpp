// zt_dialog_probe.exe: looks at the running desktop program from outside, as tools/wine-tests.sh
// needs it: waits for a window by title, checks the main dialog against template 129, tells
// where a control or a message box's button is on the screen (for xdotool's clicks), reads
// control texts, takes a screenshot as PNG, holds a COM port open as another program would,
// watches for console windows while the station window's jobs run, and plugs a COM port in for
// as long as it runs, as an adapter's driver announces its port.
// <windows.h> comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <gdiplus.h>
#include <winternl.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "app/main_dialog_ids.h"
#include "app/templates.h"

namespace {

// The controls that the program shows although template 129 hides them.
constexpr int kRevealed[] = {IDC_START, IDC_ABOUT, IDC_PORT_SETTINGS};
// The Line speed list as the dialog fills it.
constexpr int kLineSpeedItems = 4;
constexpr int kLineSpeedSelected = 3;

HWND findTop(const char* title) {
    return FindWindowA(nullptr, title);
}

std::string textOf(HWND w) {
    char buf[512] = {};
    GetWindowTextA(w, buf, sizeof buf);
    return buf;
}

int waitFor(const char* title, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        // Shown once its initialisation is done.
        HWND w = findTop(title);
        if (w && IsWindowVisible(w)) return 0;
        Sleep(100);
    }
    std::fprintf(stderr, "no window \"%s\"\n", title);
    return 1;
}

bool revealed(int id) {
    for (int r : kRevealed)
        if (r == id) return true;
    return false;
}

std::vector<HWND> children(HWND dlg) {
    std::vector<HWND> out;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
    return out;
}

int fault(const std::string& what) {
    std::printf("MISMATCH %s\n", what.c_str());
    return 1;
}

int checkControl(const ControlTemplate& c, HWND w) {
    const std::string at = "control " + std::to_string(c.id) + " (" + c.caption + ")";
    int bad = 0;
    // Controls without an id have -1 as a 16-bit word in the template.
    const int id = short(GetDlgCtrlID(w));
    if (id != c.id) bad += fault(at + ": id " + std::to_string(id));
    const bool shown = (GetWindowLongPtrA(w, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown != (!(c.style & kHidden) || revealed(c.id))) bad += fault(at + ": shown");
    if (bool(IsWindowEnabled(w)) != !(c.style & kDisabled)) bad += fault(at + ": enabled");
    const bool hasText = c.kind != ControlKind::ComboDropList && c.kind != ControlKind::Progress &&
                         c.kind != ControlKind::StaticBitmap;
    if (hasText && textOf(w) != c.caption) bad += fault(at + ": text \"" + textOf(w) + "\"");
    if (bad == 0) std::printf("ok %5d %s\n", c.id, c.caption);
    return bad;
}

int checkMain() {
    HWND dlg = findTop(kMainTemplate.title);
    if (!dlg) return fault("no main dialog");
    int bad = 0;
    if (textOf(dlg) != kMainTemplate.title) bad += fault("title");
    if (GetWindowLongPtrA(dlg, GWL_STYLE) & WS_SYSMENU) bad += fault("system menu");
    const std::vector<HWND> kids = children(dlg);
    if (kids.size() != kMainTemplate.controls.size())
        return fault(std::to_string(kids.size()) + " controls");
    for (size_t i = 0; i < kids.size(); ++i)
        bad += checkControl(kMainTemplate.controls[i], kids[i]);
    HWND speeds = GetDlgItem(dlg, IDC_LINE_SPEED);
    if (SendMessageA(speeds, CB_GETCOUNT, 0, 0) != kLineSpeedItems) bad += fault("line speeds");
    if (SendMessageA(speeds, CB_GETCURSEL, 0, 0) != kLineSpeedSelected) bad += fault("speed");
    std::printf("%s: %zu controls, %d mismatches\n", kMainTemplate.title, kids.size(), bad);
    return bad ? 1 : 0;
}

int center(const char* title, int id) {
    HWND dlg = findTop(title);
    HWND c = dlg ? GetDlgItem(dlg, id) : nullptr;
    RECT r{};
    if (!c || !GetWindowRect(c, &r)) return fault("no control " + std::to_string(id));
    std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
}

// The dialog as it is on the screen, saved as PNG through GDI+.
int shot(const char* title, const char* file) {
    HWND dlg = findTop(title);
    RECT r{};
    if (!dlg || !GetWindowRect(dlg, &r)) return fault("no window to shoot");
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    Gdiplus::GpBitmap* image = nullptr;
    Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bmp, nullptr, &image);
    const CLSID png = {
        0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    std::wstring name(file, file + std::strlen(file));
    const Gdiplus::GpStatus st =
        image ? Gdiplus::DllExports::GdipSaveImageToFile(image, name.c_str(), &png, nullptr)
              : Gdiplus::GenericError;
    if (image) Gdiplus::DllExports::GdipDisposeImage(image);
    Gdiplus::GdiplusShutdown(token);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    if (st != Gdiplus::Ok) return fault("PNG not saved");
    std::printf("%s: %dx%d\n", file, w, h);
    return 0;
}

// A message box (dialog class #32770) whose text begins with `prefix`.
struct BoxSearch {
    std::string prefix;
    HWND found = nullptr;
};

BOOL CALLBACK matchBox(HWND w, LPARAM lp) {
    auto* search = reinterpret_cast<BoxSearch*>(lp);
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) != "#32770" || !IsWindowVisible(w)) return TRUE;
    for (HWND c : children(w)) {
        if (textOf(c).rfind(search->prefix, 0) == 0) {
            search->found = w;
            return FALSE;
        }
    }
    return TRUE;
}

HWND findBox(const std::string& prefix) {
    BoxSearch search{prefix};
    EnumWindows(matchBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits for the box, prints its text and where its (first) button is.
int box(const char* prefix, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (HWND b = findBox(prefix)) {
            RECT r{};
            for (HWND c : children(b)) {
                char cls[64] = {};
                GetClassNameA(c, cls, sizeof cls);
                if (std::string(cls) == "Button" && GetWindowRect(c, &r)) break;
            }
            std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
            for (HWND c : children(b))
                if (!textOf(c).empty()) std::fprintf(stderr, "box: %s\n", textOf(c).c_str());
            return 0;
        }
        Sleep(100);
    }
    return fault(std::string("no box \"") + prefix + "\"");
}

int text(const char* title, int id) {
    HWND dlg = findTop(title);
    HWND c = dlg ? GetDlgItem(dlg, id) : nullptr;
    if (!c) return fault("no control " + std::to_string(id));
    std::printf("%s\n", textOf(c).c_str());
    return 0;
}

// Waits until the control is enabled.
int enabled(const char* title, int id, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        HWND dlg = findTop(title);
        HWND c = dlg ? GetDlgItem(dlg, id) : nullptr;
        if (c && IsWindowEnabled(c)) return 0;
        Sleep(100);
    }
    return fault("not enabled: " + std::to_string(id));
}

struct OwnedHandle {
    HANDLE h;
    ~OwnedHandle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

// Holds a COM port open without sharing, as a terminal program would; says "held" once it is.
int hold(const char* port, int seconds) {
    const std::string device = std::string("\\\\.\\") + port;
    OwnedHandle held{CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr)};
    if (held.h == INVALID_HANDLE_VALUE) return fault("cannot open " + device);
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(DWORD(seconds) * 1000);
    return 0;
}

// The class of the window Wine's console host opens for a console that has one.
constexpr char kConsoleWindowClass[] = "WineConsoleClass";
constexpr DWORD kConsoleWatchPollMs = 50;
constexpr DWORD kConsoleWatchMaxMs = 120000;

BOOL CALLBACK countConsoleWindow(HWND w, LPARAM count) {
    char cls[sizeof kConsoleWindowClass + 1] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::strcmp(cls, kConsoleWindowClass) == 0 && IsWindowVisible(w))
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// The most console windows shown at once until the file STOP exists: a console child started
// without CREATE_NO_WINDOW shows one for as long as it runs, which a look every 50 ms catches.
int watchConsoles(const char* stop) {
    std::printf("watching\n");
    std::fflush(stdout);
    int most = 0;
    for (DWORD waited = 0; waited < kConsoleWatchMaxMs; waited += kConsoleWatchPollMs) {
        int shown = 0;
        EnumWindows(countConsoleWindow, reinterpret_cast<LPARAM>(&shown));
        most = shown > most ? shown : most;
        if (GetFileAttributesA(stop) != INVALID_FILE_ATTRIBUTES) {
            std::printf("%d\n", most);
            return 0;
        }
        Sleep(kConsoleWatchPollMs);
    }
    return fault(std::string("no ") + stop);
}

using CreateSymbolicLink = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, UNICODE_STRING*);
// The rights to make a symbolic link object (SYMBOLIC_LINK_ALL_ACCESS, not in every header).
constexpr ACCESS_MASK kLinkAllAccess = STANDARD_RIGHTS_REQUIRED | 0x1;
// Room for "\??\COM256" and "\Device\COM256".
constexpr size_t kNtNameSize = 32;

UNICODE_STRING unicodeOf(const wchar_t* text) {
    const USHORT bytes = USHORT(wcslen(text) * sizeof(wchar_t));
    return UNICODE_STRING{bytes, USHORT(bytes + sizeof(wchar_t)), const_cast<wchar_t*>(text)};
}

// \??\COMn, what QueryDosDevice reads, for SECONDS or until this program is ended: a port that
// came with a device goes with it. Opening the port is Wine's dosdevices link's job, made by the
// caller; this is the system's word that it is there, which a station in auto mode waits for.
int plug(const char* port, int seconds) {
    wchar_t name[kNtNameSize], target[kNtNameSize];
    swprintf(name, kNtNameSize, L"\\??\\%hs", port);
    // Where the link leads is the driver's business: only its being there is read.
    swprintf(target, kNtNameSize, L"\\Device\\%hs", port);
    UNICODE_STRING nameU = unicodeOf(name), targetU = unicodeOf(target);
    OBJECT_ATTRIBUTES attr;
    InitializeObjectAttributes(&attr, &nameU, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    auto create = reinterpret_cast<CreateSymbolicLink>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject")));
    OwnedHandle link{INVALID_HANDLE_VALUE};
    if (!create || create(&link.h, kLinkAllAccess, &attr, &targetU) != 0)
        return fault(std::string("cannot announce ") + port);
    std::printf("plugged\n");
    std::fflush(stdout);
    Sleep(DWORD(seconds) * 1000);
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "zt_dialog_probe wait TITLE SECONDS | gone TITLE SECONDS | check-main |\n"
                 "                center TITLE ID | shot TITLE FILE.png | text TITLE ID |\n"
                 "                enabled TITLE ID SECONDS | box TEXT-PREFIX SECONDS |\n"
                 "                hold COMn SECONDS | consoles STOP-FILE | plug COMn SECONDS\n");
    return 2;
}

int waitGone(const char* title, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (!findTop(title)) return 0;
        Sleep(100);
    }
    return fault(std::string("still open: ") + title);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "wait" && argc == 4) return waitFor(argv[2], std::atoi(argv[3]));
    if (cmd == "gone" && argc == 4) return waitGone(argv[2], std::atoi(argv[3]));
    if (cmd == "check-main") return checkMain();
    if (cmd == "center" && argc == 4) return center(argv[2], std::atoi(argv[3]));
    if (cmd == "shot" && argc == 4) return shot(argv[2], argv[3]);
    if (cmd == "text" && argc == 4) return text(argv[2], std::atoi(argv[3]));
    if (cmd == "enabled" && argc == 5)
        return enabled(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (cmd == "box" && argc == 4) return box(argv[2], std::atoi(argv[3]));
    if (cmd == "hold" && argc == 4) return hold(argv[2], std::atoi(argv[3]));
    if (cmd == "consoles" && argc == 3) return watchConsoles(argv[2]);
    if (cmd == "plug" && argc == 4) return plug(argv[2], std::atoi(argv[3]));
    return usage();
}
