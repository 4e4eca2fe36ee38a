// The Win32 backend: dialogs from the program's dialog resources, controls addressed by their
// window handles, the system's message boxes, choosers and sound. A Window is an HWND.
//
// Calls from the write worker and the watcher go to the dialog thread's windows as
// synchronous messages (SendMessageA and the calls built on it), which that thread carries
// out while it dispatches messages.
// <windows.h> comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <shlobj.h>
// clang-format on

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/win32/win32_ui.h"

namespace {

HWND hwndOf(Window w) {
    return reinterpret_cast<HWND>(w);
}
Window windowOf(HWND h) {
    return reinterpret_cast<Window>(h);
}

// Dialog id -> the control ids shown although the template hides them.
std::map<int, std::vector<int>> g_revealed;

// What a running dialog needs besides its window: kept on dialogBox's stack while it runs.
struct DialogRun {
    DlgProc proc;
    int templateId;
};

void revealControls(HWND dlg, int templateId) {
    auto it = g_revealed.find(templateId);
    if (it == g_revealed.end()) return;
    for (int id : it->second)
        if (HWND c = GetDlgItem(dlg, id)) ShowWindow(c, SW_SHOW);
}

// The dialog procedure of every dialog: hands initialisation and commands to the program's
// procedure and leaves everything else to the system's dialog handling.
INT_PTR CALLBACK dialogTrampoline(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* run = reinterpret_cast<DialogRun*>(lp);
        SetWindowLongPtrA(dlg, DWLP_USER, lp);
        revealControls(dlg, run->templateId);
        return run->proc(windowOf(dlg), kMsgInitDialog, 0) ? TRUE : FALSE;
    }
    auto* run = reinterpret_cast<DialogRun*>(GetWindowLongPtrA(dlg, DWLP_USER));
    if (!run || msg != WM_COMMAND) return FALSE;
    // A command is known by the control id alone; the notification code is not looked at.
    return run->proc(windowOf(dlg), kMsgCommand, LOWORD(wp)) ? TRUE : FALSE;
}

std::string textOf(HWND w) {
    const int n = GetWindowTextLengthA(w);
    if (n <= 0) return std::string();
    std::string text(size_t(n) + 1, '\0');
    const int got = GetWindowTextA(w, text.data(), n + 1);
    text.resize(size_t(got > 0 ? got : 0));
    return text;
}

LRESULT send(Window w, UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
    return SendMessageA(hwndOf(w), msg, wp, lp);
}

// The progress bar's class comes from the common controls, registered once before the
// first dialog.
bool registerCommonControls() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&controls) != FALSE;
}

}  // namespace

void win32ShowHiddenControls(int dialogId, std::initializer_list<int> ids) {
    g_revealed[dialogId] = std::vector<int>(ids);
}

int dialogBox(const DialogTemplate& tmpl, Window owner, DlgProc proc) {
    static const bool controlsReady = registerCommonControls();
    (void)controlsReady;
    DialogRun run{proc, tmpl.id};
    return int(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(tmpl.id), hwndOf(owner),
                               dialogTrampoline, reinterpret_cast<LPARAM>(&run)));
}

void endDialog(Window dlg, int result) {
    EndDialog(hwndOf(dlg), result);
}

Window dlgItem(Window dlg, int id) {
    return dlg ? windowOf(GetDlgItem(hwndOf(dlg), id)) : nullptr;
}

void setWindowText(Window w, const std::string& text) {
    if (w) SetWindowTextA(hwndOf(w), text.c_str());
}

std::string windowText(Window w) {
    return w ? textOf(hwndOf(w)) : std::string();
}

void enableWindow(Window w, bool enable) {
    if (w) EnableWindow(hwndOf(w), enable ? TRUE : FALSE);
}

bool isWindowEnabled(Window w) {
    return w && IsWindowEnabled(hwndOf(w));
}

// Shown by its own style, whether or not its dialog is on the screen yet.
bool isWindowVisible(Window w) {
    return w && (GetWindowLongPtrA(hwndOf(w), GWL_STYLE) & WS_VISIBLE) != 0;
}

void updateWindow(Window w) {
    if (w) UpdateWindow(hwndOf(w));
}

void invalidateWindow(Window w) {
    if (w) InvalidateRect(hwndOf(w), nullptr, TRUE);
}

int buttonState(Window dlg, int id) {
    return dlg ? int(IsDlgButtonChecked(hwndOf(dlg), id)) : 0;
}

int checkState(Window button) {
    return button ? int(send(button, BM_GETCHECK)) : kUnchecked;
}

void setButtonState(Window dlg, int id, int state) {
    if (dlg) CheckDlgButton(hwndOf(dlg), id, UINT(state));
}

void checkRadioButton(Window dlg, int first, int last, int check) {
    if (dlg) CheckRadioButton(hwndOf(dlg), first, last, check);
}

int comboAdd(Window combo, const std::string& text) {
    return int(send(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int comboCount(Window combo) {
    return int(send(combo, CB_GETCOUNT));
}

void comboSetSel(Window combo, int index) {
    send(combo, CB_SETCURSEL, WPARAM(index));
}

int comboSel(Window combo) {
    return combo ? int(send(combo, CB_GETCURSEL)) : -1;
}

std::string comboText(Window combo, int index) {
    const LRESULT n = send(combo, CB_GETLBTEXTLEN, WPARAM(index));
    if (n == CB_ERR) return std::string();
    std::string text(size_t(n) + 1, '\0');
    const LRESULT got =
        send(combo, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR ? 0 : size_t(got));
    return text;
}

int comboFindPrefix(Window combo, int start, const std::string& text) {
    return int(send(combo, CB_FINDSTRING, WPARAM(start), reinterpret_cast<LPARAM>(text.c_str())));
}

void progressSetRange(Window bar, int32_t low, int32_t high) {
    send(bar, PBM_SETRANGE32, WPARAM(low), LPARAM(high));
}

void progressSetPos(Window bar, int32_t pos) {
    send(bar, PBM_SETPOS, WPARAM(pos));
}

void messageBox(Window owner, const std::string& text, const std::string& caption, unsigned flags) {
    MessageBoxA(hwndOf(owner), text.c_str(), caption.c_str(), MB_OK | flags);
}

bool chooseOpenFile(Window owner, std::string& path, size_t capacity, const std::string& filter,
                    const std::string& title) {
    if (capacity == 0) return false;
    std::vector<char> buf(capacity, '\0');
    path.copy(buf.data(), capacity - 1);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwndOf(owner);
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = buf.data();
    ofn.nMaxFile = DWORD(capacity);
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&ofn)) return false;
    path = buf.data();
    return true;
}

// A folder the system cannot give as a path (a printer, a network neighbourhood) comes back
// as an empty folder, which the export reports.
bool browseForFolder(Window owner, const std::string& title, std::string& folder) {
    char name[MAX_PATH] = {};
    BROWSEINFOA bi{};
    bi.hwndOwner = hwndOf(owner);
    bi.pszDisplayName = name;
    bi.lpszTitle = title.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&bi);
    if (!item) return false;
    char path[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDListA(item, path) != FALSE;
    CoTaskMemFree(item);
    folder = ok ? path : "";
    return true;
}

// The job's threads end with the process; streams are flushed first.
void exitProgram(int status) {
    std::fflush(nullptr);
    ExitProcess(UINT(status));
}

// Synchronous, by file name; a missing file plays the system's default sound.
void playSound(const std::string& file) {
    PlaySoundA(file.c_str(), nullptr, SND_FILENAME);
}
