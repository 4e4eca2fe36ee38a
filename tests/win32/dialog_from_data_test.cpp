// The Win32 backend on a dialog that the program holds no resource of, built from its template
// data as the station window is: an edit box, a large coloured result field, a button pressed
// by its mnemonic, the default button pressed by Enter, commands posted from another thread,
// and the Yes/No question. A display is needed (tools/wine-tests.sh runs this under Xvfb).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui.h"

namespace {

enum : int {
    kDialogId = 4000,  // not in zemtabulo.rc
    kSerial = 4001,
    kResult,
    kRun,
    kClose,
    kHiddenNote,
    kPosted,
    kSync,
    kGiveUp,
};

constexpr ControlTemplate kControls[] = {
    {kSerial, ControlKind::Edit, "", 7, 7, 120, 12, kTabStop | kGroup},
    {kResult, ControlKind::StaticText, "OK", 7, 24, 120, 40, kLargeText},
    {kRun, ControlKind::PushButton, "開始(&1)", 7, 70, 50, 14, kTabStop | kGroup},
    {kClose, ControlKind::DefPushButton, "終了", 70, 70, 50, 14, kTabStop},
    {kHiddenNote, ControlKind::StaticText, "", 7, 88, 50, 8, kHidden},
};
const DialogTemplate kStation{kDialogId, "書込みステーション", 0, 0,        140, 100,
                              true,      "ＭＳ Ｐゴシック",    9, kControls};
const wchar_t kStationTitle[] = L"書込みステーション";

// The commands the procedure got, in order; it runs on the dialog thread.
std::mutex g_lock;
std::vector<int> g_commands;

bool stationProc(Window dlg, unsigned msg, int id) {
    if (msg == kMsgInitDialog) return true;  // the focus goes to the edit box
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_commands.push_back(id);
    }
    if (id == kClose) endDialog(dlg, kClose);
    if (id == kGiveUp) endDialog(dlg, kGiveUp);
    return true;
}

std::vector<int> commands() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_commands;
}

bool seen(int id) {
    const auto c = commands();
    return std::find(c.begin(), c.end(), id) != c.end();
}

// Posted messages are handled in order: once the command posted after them has arrived,
// they have been too.
bool sync(Window dlg) {
    postCommand(dlg, kSync);
    for (int i = 0; i < 250; ++i) {
        if (seen(kSync)) {
            std::lock_guard<std::mutex> lock(g_lock);
            std::erase(g_commands, int(kSync));
            return true;
        }
        Sleep(20);
    }
    return false;
}

HWND waitForWindow(const wchar_t* title) {
    for (int i = 0; i < 300; ++i) {
        HWND w = FindWindowW(nullptr, title);
        if (w && IsWindowVisible(w)) return w;
        Sleep(20);
    }
    return nullptr;
}

HWND hwndOf(Window w) {
    return reinterpret_cast<HWND>(w);
}

std::wstring wideText(HWND w) {
    wchar_t buf[256] = {};
    GetWindowTextW(w, buf, int(std::size(buf)));
    return buf;
}

HWND focusOf(HWND dlg) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &info);
    return info.hwndFocus;
}

void focus(HWND dlg, HWND ctl) {
    SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ctl), TRUE);
}

COLORREF pixelOf(HWND w) {
    UpdateWindow(w);
    HDC dc = GetDC(w);
    const COLORREF c = GetPixel(dc, 3, 3);
    ReleaseDC(w, dc);
    return c;
}

struct Seen {
    std::wstring caption, runCaption, serialWide;
    LONG_PTR dialogStyle = 0, resultStyle = 0;
    bool hiddenShown = true;
    LOGFONTW resultFont{};
    int resultHeight = 0;
    std::string serial, serialAfterKey;
    uint32_t colourBefore = 0, colourSet = 0, colourCleared = 0;
    COLORREF painted = 0, paintedCleared = 0;
    bool posted = false, runByKeyInEdit = true, runByKey = false, synced = true;
};

void look(HWND dlg, Seen& s) {
    s.caption = wideText(dlg);
    s.dialogStyle = GetWindowLongPtrW(dlg, GWL_STYLE);
    s.runCaption = wideText(GetDlgItem(dlg, kRun));
    s.hiddenShown = isWindowVisible(dlgItem(reinterpret_cast<Window>(dlg), kHiddenNote));
    HWND result = GetDlgItem(dlg, kResult);
    s.resultStyle = GetWindowLongPtrW(result, GWL_STYLE);
    auto font = reinterpret_cast<HFONT>(SendMessageW(result, WM_GETFONT, 0, 0));
    GetObjectW(font, sizeof s.resultFont, &s.resultFont);
    RECT r{};
    GetClientRect(result, &r);
    s.resultHeight = r.bottom - r.top;
}

void colour(Window dlg, Seen& s) {
    Window result = dlgItem(dlg, kResult);
    s.colourBefore = controlColour(result);
    setControlColour(result, 0x00C000);
    s.colourSet = controlColour(result);
    s.painted = pixelOf(hwndOf(result));
    setControlColour(result, kNoColour);
    s.colourCleared = controlColour(result);
    s.paintedCleared = pixelOf(hwndOf(result));
}

// The keys as the keyboard gives them to the focused control.
void keys(HWND dlg, Seen& s) {
    Window dw = reinterpret_cast<Window>(dlg);
    HWND serial = GetDlgItem(dlg, kSerial);
    // In the edit box "1" is typed (over the text, selected when the focus came), not a
    // mnemonic.
    focus(dlg, serial);
    PostMessageW(focusOf(dlg), WM_CHAR, '1', 1);
    s.synced = sync(dw) && s.synced;
    s.serialAfterKey = windowText(dlgItem(dw, kSerial));
    s.runByKeyInEdit = seen(kRun);
    focus(dlg, GetDlgItem(dlg, kRun));
    PostMessageW(focusOf(dlg), WM_CHAR, '1', 1);
    s.synced = sync(dw) && s.synced;
    s.runByKey = seen(kRun);
    // Enter in the edit box: the default button, which ends the dialog.
    focus(dlg, serial);
    PostMessageW(focusOf(dlg), WM_KEYDOWN, VK_RETURN, 1);
    for (int i = 0; i < 250 && IsWindow(dlg); ++i) Sleep(20);
    if (IsWindow(dlg)) postCommand(dw, kGiveUp);
}

void operate(Seen& s) {
    HWND dlg = waitForWindow(kStationTitle);
    if (!dlg) return;
    Window dw = reinterpret_cast<Window>(dlg);
    look(dlg, s);
    Window serial = dlgItem(dw, kSerial);
    setWindowText(serial, "ｼﾘｱﾙ番号①");
    s.serial = windowText(serial);
    s.serialWide = wideText(hwndOf(serial));
    colour(dw, s);
    postCommand(dw, kPosted);
    s.synced = sync(dw);
    s.posted = seen(kPosted);
    keys(dlg, s);
}

}  // namespace

TEST(Win32Ui, DialogWithoutResourceIsBuiltFromItsData) {
    g_commands.clear();
    Seen s;
    std::thread op([&s] { operate(s); });
    const int result = dialogBox(kStation, nullptr, stationProc);
    op.join();

    EXPECT_EQ(s.caption, kStationTitle);
    EXPECT_EQ(s.runCaption, L"開始(&1)");
    EXPECT_EQ(s.dialogStyle & (WS_CAPTION | WS_SYSMENU), WS_CAPTION);  // no close box
    EXPECT_FALSE(s.hiddenShown);
    EXPECT_EQ(s.resultStyle & (SS_TYPEMASK | SS_CENTERIMAGE), SS_CENTER | SS_CENTERIMAGE);
    EXPECT_EQ(s.resultFont.lfWeight, FW_BOLD);
    EXPECT_NEAR(std::abs(s.resultFont.lfHeight), s.resultHeight * 0.6, 1.0);
    EXPECT_GT(s.resultHeight, 0);

    EXPECT_EQ(s.serial, "ｼﾘｱﾙ番号①");
    EXPECT_EQ(s.serialWide, L"ｼﾘｱﾙ番号①");
    EXPECT_EQ(s.colourBefore, kNoColour);
    EXPECT_EQ(s.colourSet, 0x00C000u);
    EXPECT_EQ(s.painted, RGB(0, 0xC0, 0));
    EXPECT_EQ(s.colourCleared, kNoColour);
    EXPECT_NE(s.paintedCleared, RGB(0, 0xC0, 0));

    EXPECT_TRUE(s.synced);
    EXPECT_TRUE(s.posted);
    EXPECT_EQ(s.serialAfterKey, "1");
    EXPECT_FALSE(s.runByKeyInEdit);
    EXPECT_TRUE(s.runByKey);
    EXPECT_EQ(result, kClose);
    // The edit box's notifications (focus, change) are no commands.
    EXPECT_EQ(commands(), (std::vector<int>{kPosted, kRun, kClose}));
}

// The question's buttons: Yes answers true; Enter takes No, the default.
TEST(Win32Ui, AskYesNoDefaultsToNo) {
    for (const bool yes : {true, false}) {
        std::thread op([yes] {
            HWND box = waitForWindow(L"確認");
            if (!box) return;
            if (!yes) {
                PostMessageW(focusOf(box), WM_KEYDOWN, VK_RETURN, 1);
                for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);
            }
            // Yes, or Enter left the box open: the answer shows it.
            if (IsWindow(box)) SendMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
        });
        const bool answer = askYesNo(nullptr, "書き込みを中止しますか?", "確認");
        op.join();
        EXPECT_EQ(answer, yes);
    }
}

// A coordinate beyond the template's 16-bit fields: no dialog, the failure DialogBox reports.
TEST(Win32Ui, DialogDataTooLargeForATemplateIsRefused) {
    constexpr ControlTemplate wide[] = {{1, ControlKind::Edit, "", 40000, 0, 10, 10, 0}};
    DialogTemplate t = kStation;
    t.controls = wide;
    EXPECT_EQ(dialogBox(t, nullptr, stationProc), -1);
}
