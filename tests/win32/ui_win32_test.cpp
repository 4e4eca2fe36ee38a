// The Win32 backend with the program's own dialog procedures on real dialogs (a display is
// needed: tools/wine-tests.sh runs this under Xvfb). The dialog thread is the test's; an
// operator thread acts on the open dialog through the backend's calls, which reach the
// dialog's windows as synchronous messages, and closes it with a click.
#include <windows.h>
// clang-format off
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "app/dialogs.h"
#include "app/main_dialog_ids.h"
#include "app/startup.h"
#include "app/templates.h"
#include "platform/resources.h"
#include "platform/win32/win32_ui.h"
#include "temp_dir.h"

namespace {

Window windowOf(HWND h) {
    return reinterpret_cast<Window>(h);
}
HWND hwndOf(Window w) {
    return reinterpret_cast<HWND>(w);
}

// The dialog is shown once its initialisation is done.
HWND waitForWindow(const char* title) {
    for (int i = 0; i < 300; ++i) {
        HWND w = FindWindowA(nullptr, title);
        if (w && IsWindowVisible(w)) return w;
        Sleep(20);
    }
    return nullptr;
}

void click(Window dlg, int id) {
    SendMessageA(hwndOf(dlgItem(dlg, id)), BM_CLICK, 0, 0);
}

// Runs `tmpl` modally on this thread while `operate` acts on it from another; returns the
// dialog's result.
int runDialog(const DialogTemplate& tmpl, DlgProc proc, std::function<void(Window)> operate,
              Desktop* desktop = nullptr) {
    std::thread op([&tmpl, &operate] {
        HWND dlg = waitForWindow(tmpl.title);
        if (!dlg) return;
        operate(windowOf(dlg));
    });
    const int result = dialogBox(tmpl, nullptr, proc, desktop);
    op.join();
    return result;
}

struct MainSeen {
    int lineSpeed = -2, vertical = -1, startupEnabled = -1, keepSramShown = -1;
    int startShown = -1, stillOpenAfterCancel = -1, progressLow = -1, progressHigh = -1;
    int progressPos = -1;
    std::string status;
};

}  // namespace

TEST(Win32Ui, MainDialogRunsTheProgramsProcedure) {
    win32ShowHiddenControls(IDD_MAIN, {IDC_START, IDC_ABOUT, IDC_PORT_SETTINGS});
    MainSeen seen;
    Desktop desktop;
    const int result = runDialog(kMainTemplate, mainDlgProc, [&seen](Window dlg) {
        seen.lineSpeed = comboSel(dlgItem(dlg, IDC_LINE_SPEED));
        setButtonState(dlg, IDC_VERTICAL, kChecked);
        seen.vertical = buttonState(dlg, IDC_VERTICAL);
        click(dlg, IDC_TRANSFER_SETTINGS);
        seen.startupEnabled = isWindowEnabled(dlgItem(dlg, IDC_STARTUP_CHECK));
        seen.keepSramShown = isWindowVisible(dlgItem(dlg, IDC_KEEP_SRAM));
        seen.startShown = isWindowVisible(dlgItem(dlg, IDC_START));
        // The cancel command (Escape) is not handled: the dialog stays.
        SendMessageA(hwndOf(dlg), WM_COMMAND, IDCANCEL, 0);
        seen.stillOpenAfterCancel = IsWindow(hwndOf(dlg));
        Window status = dlgItem(dlg, IDC_STATUS);
        setWindowText(status, "ﾃﾞｰﾀ書き込み中");
        seen.status = windowText(status);
        Window bar = dlgItem(dlg, IDC_PROGRESS);
        progressSetRange(bar, 0, 70000);
        progressSetPos(bar, 12345);
        PBRANGE range{};
        SendMessageA(hwndOf(bar), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        seen.progressLow = range.iLow;
        seen.progressHigh = range.iHigh;
        seen.progressPos = int(SendMessageA(hwndOf(bar), PBM_GETPOS, 0, 0));
        click(dlg, IDC_EXIT);
    }, &desktop);
    EXPECT_EQ(result, IDC_EXIT);
    EXPECT_EQ(seen.lineSpeed, 3);
    EXPECT_EQ(seen.vertical, kChecked);
    EXPECT_EQ(seen.startupEnabled, 1);
    EXPECT_EQ(seen.keepSramShown, 0);  // enabled, but the template hides it
    EXPECT_EQ(seen.startShown, 1);
    EXPECT_EQ(seen.stillOpenAfterCancel, 1);
    EXPECT_EQ(seen.status, "ﾃﾞｰﾀ書き込み中");
    EXPECT_EQ(seen.progressLow, 0);
    EXPECT_EQ(seen.progressHigh, 70000);
    EXPECT_EQ(seen.progressPos, 12345);
}

TEST(Win32Ui, PortSettingsPreselectsFromThePortName) {
    const struct {
        const char* name;
        const char* selected;
    } cases[] = {{"COM3 ", "COM3 "}, {"COM12", "COM12"}, {"com2", "COM2 "},
                 {"COM1", "COM1 "},  {"COM30", "COM30"}, {"LPT1", ""}};
    for (const auto& c : cases) {
        Desktop desktop;
        desktop.portName = c.name;
        std::string selected = "?";
        const int result = runDialog(
            kPortSettingsTemplate, portSettingsDlgProc,
            [&selected](Window dlg) {
                Window list = dlgItem(dlg, IDC_PORT_LIST);
                selected = comboText(list, comboSel(list));
                click(dlg, IDC_CANCEL);
            },
            &desktop);
        EXPECT_EQ(result, IDC_CANCEL) << c.name;
        EXPECT_EQ(selected, c.selected) << c.name;
        EXPECT_EQ(desktop.portName, c.name);
    }
}

TEST(Win32Ui, PortSettingsOkWritesTheChoiceWithCrLf) {
    TempDir dir;
    Desktop desktop;
    desktop.iniPath = dir.file("SCI.INI");
    desktop.portName = "COM1";
    const int result = runDialog(
        kPortSettingsTemplate, portSettingsDlgProc,
        [](Window dlg) {
            comboSetSel(dlgItem(dlg, IDC_PORT_LIST), 6);
            click(dlg, IDC_OK);
        },
        &desktop);
    EXPECT_EQ(result, IDC_OK);
    EXPECT_EQ(desktop.portName, "COM7 ");
    EXPECT_EQ(dir.read("SCI.INI"), "COM7 \r\n");
}

TEST(Win32Ui, AboutShowsTheLogoAndEntry7) {
    std::string note;
    bool logo = false;
    const int result = runDialog(kAboutTemplate, aboutDlgProc, [&](Window dlg) {
        note = windowText(dlgItem(dlg, IDC_ABOUT_NOTE));
        logo =
            SendMessageA(hwndOf(dlgItem(dlg, IDC_ABOUT_LOGO)), STM_GETIMAGE, IMAGE_BITMAP, 0) != 0;
        click(dlg, IDC_OK);
    });
    EXPECT_EQ(result, IDC_OK);
    EXPECT_EQ(note, resString(7));
    EXPECT_TRUE(logo);
}
