// The Win32 backend: dialogs from the program's dialog resources, or built in memory from the
// template data when the program has no resource of that id; controls addressed by their
// window handles, the system's message boxes, choosers and sound. A Window is an HWND.
//
// Calls from the write worker and the watcher go to the dialog thread's windows as
// synchronous messages (SendMessageA and the calls built on it), which that thread carries
// out while it dispatches messages.
//
// Texts: the program's strings are UTF-8, and the manifest makes UTF-8 the code page of the
// ...A calls. Templates built in memory are UTF-16 (converted here), so their captions do not
// depend on that code page.
// <windows.h> comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <imm.h>
#include <mmsystem.h>
#include <shlobj.h>
// clang-format on

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/ui.h"
#include "platform/win32/dialog_template_win32.h"
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

// Messages of the trampoline's own, sent to a dialog so that its thread keeps the colours.
// kMsgSetColour: wParam the colour (0xRRGGBB or kNoColour), lParam the control.
// kMsgGetColour: wParam the control, lParam where to put its colour.
constexpr UINT kMsgSetColour = WM_APP + 0x5A0;
constexpr UINT kMsgGetColour = WM_APP + 0x5A1;

// The large face's character height, in tenths of its control's height.
constexpr int kLargeTextTenths = 6;

struct GdiDeleter {
    void operator()(HGDIOBJ h) const { DeleteObject(h); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;

// What a running dialog needs besides its window: kept on dialogBox's stack while it runs, so
// the fonts and brushes outlive the dialog's windows and go when dialogBox returns. Touched on
// the dialog thread only.
struct DialogRun {
    DlgProc proc;
    const DialogTemplate* tmpl;
    void* data = nullptr;
    bool ended = false;
    std::vector<Font> largeFaces{};
    std::map<HWND, uint32_t> colours{};   // controls given a background, 0xRRGGBB
    std::map<uint32_t, Brush> brushes{};  // one per colour in use
};

DialogRun* runOf(HWND dlg) {
    return reinterpret_cast<DialogRun*>(GetWindowLongPtrW(dlg, DWLP_USER));
}

COLORREF colorRef(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

void revealControls(HWND dlg, int templateId) {
    auto it = g_revealed.find(templateId);
    if (it == g_revealed.end()) return;
    for (int id : it->second)
        if (HWND c = GetDlgItem(dlg, id)) ShowWindow(c, SW_SHOW);
}

// The result fields: a bold face of the template's font, as high as their size asks.
void makeLargeFaces(HWND dlg, DialogRun& run) {
    const std::wstring face = win32Wide(run.tmpl->font);
    for (const ControlTemplate& c : run.tmpl->controls) {
        if (c.kind != ControlKind::StaticText || !(c.style & kLargeText)) continue;
        HWND w = GetDlgItem(dlg, c.id);
        RECT r{};
        if (!w || !GetClientRect(w, &r)) continue;
        LOGFONTW lf{};
        lf.lfHeight = -MulDiv(r.bottom - r.top, kLargeTextTenths, 10);
        lf.lfWeight = FW_BOLD;
        lf.lfCharSet = DEFAULT_CHARSET;
        face.copy(lf.lfFaceName, LF_FACESIZE - 1);
        Font font(CreateFontIndirectW(&lf));
        if (!font) continue;
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
        run.largeFaces.push_back(std::move(font));
    }
}

// The subclass id of a scan field's procedure.
constexpr UINT_PTR kScanFieldSubclass = 0x5A5C;

// A scan field's Enter is its own command (posted, as the dialog's other commands may be):
// the dialog manager asks the control whether it wants the key before pressing the default
// button with it, and the character that follows is not beeped at.
LRESULT CALLBACK scanFieldProc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    switch (msg) {
        case WM_GETDLGCODE:
            if (wp == VK_RETURN) return DefSubclassProc(w, msg, wp, lp) | DLGC_WANTALLKEYS;
            break;
        case WM_KEYDOWN:
            if (wp == VK_RETURN) {
                PostMessageW(GetParent(w), WM_COMMAND, MAKEWPARAM(WORD(GetDlgCtrlID(w)), 0), 0);
                return 0;
            }
            break;
        case WM_CHAR:
            if (wp == '\r') return 0;
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(w, scanFieldProc, kScanFieldSubclass);
            break;
        default:
            break;
    }
    return DefSubclassProc(w, msg, wp, lp);
}

// Scan fields get no input method context (the scanner's keys reach the box as typed) and
// their own Enter.
void makeScanFields(HWND dlg, const DialogRun& run) {
    for (const ControlTemplate& c : run.tmpl->controls) {
        if (c.kind != ControlKind::Edit || !(c.style & kScanField)) continue;
        HWND edit = GetDlgItem(dlg, c.id);
        if (!edit) continue;
        ImmAssociateContextEx(edit, nullptr, 0);
        SetWindowSubclass(edit, scanFieldProc, kScanFieldSubclass, 0);
    }
}

BOOL initDialog(HWND dlg, DialogRun* run) {
    SetWindowLongPtrW(dlg, DWLP_USER, reinterpret_cast<LONG_PTR>(run));
    revealControls(dlg, run->tmpl->id);
    makeLargeFaces(dlg, *run);
    makeScanFields(dlg, *run);
    return run->proc(windowOf(dlg), kMsgInitDialog, 0) ? TRUE : FALSE;
}

// Brushes of colours no control has any more go: at most one per control is kept.
void storeColour(DialogRun& run, HWND ctl, uint32_t rgb) {
    if (rgb == kNoColour)
        run.colours.erase(ctl);
    else
        run.colours[ctl] = rgb;
    std::erase_if(run.brushes, [&run](const auto& b) {
        for (const auto& [w, used] : run.colours)
            if (used == b.first) return false;
        return true;
    });
    InvalidateRect(ctl, nullptr, TRUE);
}

uint32_t colourOf(const DialogRun& run, HWND ctl) {
    auto it = run.colours.find(ctl);
    return it == run.colours.end() ? kNoColour : it->second;
}

// Edit boxes notify their dialog of every change and focus move. The program reads them when
// it needs their text: their notifications are not commands.
bool fromEditBox(const DialogRun& run, WPARAM wp, LPARAM lp) {
    if (lp == 0) return false;  // a posted command or an accelerator
    for (const ControlTemplate& c : run.tmpl->controls)
        if (c.kind == ControlKind::Edit && WORD(c.id) == LOWORD(wp)) return true;
    return false;
}

// A coloured static text: black on its colour. Others keep the dialog's look.
INT_PTR paintColour(DialogRun& run, HDC dc, HWND ctl) {
    const uint32_t rgb = colourOf(run, ctl);
    if (rgb == kNoColour) return FALSE;
    Brush& brush = run.brushes[rgb];
    if (!brush) brush.reset(CreateSolidBrush(colorRef(rgb)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, colorRef(rgb));
    return reinterpret_cast<INT_PTR>(brush.get());
}

// The dialog procedure of every dialog: hands initialisation and commands to the program's
// procedure, paints the coloured controls and leaves everything else to the system's dialog
// handling (which also presses buttons by their mnemonics and the default one by Enter).
INT_PTR CALLBACK dialogTrampoline(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) return initDialog(dlg, reinterpret_cast<DialogRun*>(lp));
    DialogRun* run = runOf(dlg);
    if (!run) return FALSE;
    switch (msg) {
        case WM_COMMAND:
            // Commands still queued when the dialog ended (posted ones too) are dropped. A
            // command is known by the control id alone; the notification code is not looked at.
            if (run->ended || fromEditBox(*run, wp, lp)) return TRUE;
            return run->proc(windowOf(dlg), kMsgCommand, LOWORD(wp)) ? TRUE : FALSE;
        case WM_CTLCOLORSTATIC:
            return paintColour(*run, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        case kMsgSetColour:
            storeColour(*run, reinterpret_cast<HWND>(lp), uint32_t(wp));
            return TRUE;
        case kMsgGetColour:
            *reinterpret_cast<uint32_t*>(lp) = colourOf(*run, reinterpret_cast<HWND>(wp));
            return TRUE;
        default:
            return FALSE;
    }
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

// The program's own dialogs are resources (zemtabulo.rc); others are built from their data.
bool hasDialogResource(HINSTANCE self, int id) {
    return id > 0 && id <= 0xFFFF &&
           FindResourceA(self, MAKEINTRESOURCEA(id), RT_DIALOG) != nullptr;
}

}  // namespace

void win32ShowHiddenControls(int dialogId, std::initializer_list<int> ids) {
    g_revealed[dialogId] = std::vector<int>(ids);
}

void* dialogData(Window dlg) {
    const DialogRun* run = dlg ? runOf(hwndOf(dlg)) : nullptr;
    return run ? run->data : nullptr;
}

int dialogBox(const DialogTemplate& tmpl, Window owner, DlgProc proc, void* data) {
    static const bool controlsReady = registerCommonControls();
    (void)controlsReady;
    DialogRun run{proc, &tmpl, data};
    HINSTANCE self = GetModuleHandleW(nullptr);
    const LPARAM param = reinterpret_cast<LPARAM>(&run);
    if (hasDialogResource(self, tmpl.id))
        return int(DialogBoxParamA(self, MAKEINTRESOURCEA(tmpl.id), hwndOf(owner), dialogTrampoline,
                                   param));
    const std::vector<WORD> built = win32DialogTemplate(tmpl);
    if (built.empty()) return -1;
    return int(DialogBoxIndirectParamW(self, reinterpret_cast<const DLGTEMPLATE*>(built.data()),
                                       hwndOf(owner), dialogTrampoline, param));
}

// Called by the dialog's procedure, on its thread.
void endDialog(Window dlg, int result) {
    HWND h = hwndOf(dlg);
    if (DialogRun* run = runOf(h);
        run && GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId())
        run->ended = true;
    EndDialog(h, result);
}

// A posted message: the system drops it with the window when the dialog is gone first.
void postCommand(Window dlg, int id) {
    if (dlg) PostMessageW(hwndOf(dlg), WM_COMMAND, MAKEWPARAM(WORD(id), 0), 0);
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

// Through the dialog manager, so that the default button and an edit box's selection follow.
void setFocus(Window w) {
    if (w) SendMessageW(GetParent(hwndOf(w)), WM_NEXTDLGCTL, WPARAM(hwndOf(w)), TRUE);
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

// Kept by the control's dialog, on its thread; the control is repainted.
void setControlColour(Window w, uint32_t rgb) {
    if (!w) return;
    HWND ctl = hwndOf(w);
    if (HWND dlg = GetParent(ctl))
        SendMessageW(dlg, kMsgSetColour, WPARAM(rgb), reinterpret_cast<LPARAM>(ctl));
}

uint32_t controlColour(Window w) {
    uint32_t rgb = kNoColour;
    if (!w) return rgb;
    HWND ctl = hwndOf(w);
    if (HWND dlg = GetParent(ctl))
        SendMessageW(dlg, kMsgGetColour, reinterpret_cast<WPARAM>(ctl),
                     reinterpret_cast<LPARAM>(&rgb));
    return rgb;
}

void messageBox(Window owner, const std::string& text, const std::string& caption, unsigned flags) {
    MessageBoxA(hwndOf(owner), text.c_str(), caption.c_str(), MB_OK | flags);
}

bool askYesNo(Window owner, const std::string& text, const std::string& caption) {
    return MessageBoxA(hwndOf(owner), text.c_str(), caption.c_str(),
                       MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES;
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
