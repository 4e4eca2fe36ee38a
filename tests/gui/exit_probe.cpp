// The desktop program's ends, in a process of their own:
//   zt_gui_exit_probe worker STATUS   a worker thread ends the program with STATUS, as the
//                                     port error stop does, while a sound plays on another
//                                     thread for 300 ms more, which then waits for ever; the
//                                     probe prints "heard" when the sound has ended
//   zt_gui_exit_probe write DATA      a write of DATA starts (COM1 as COMPORTS.INI maps it) and
//                                     Exit is pressed during the data transfer
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "app/main_dialog_ids.h"
#include "gui_driver.h"
#include "platform/qt/qt_ui.h"
#include "programs/desktop_qt.h"

namespace {

bool inDataTransfer() {
    return windowText(dlgItem(gui::mainDlg(), IDC_STATUS)) == "ﾃﾞｰﾀ書き込み中";
}

[[noreturn]] void exitDuringWrite(const std::string& data) {
    setUpDesktopProgram();
    // As main() of the program: the main dialog's end is the program's.
    qtLeaveProgram(gui::runProgram([data] {
        gui::whenShown([](QWidget* w) { return w->windowTitle() == "画面データの指定"; },
                       [data](QWidget* w) { gui::chooseFile(w, data); });
        gui::click(gui::mainDlg(), IDC_DATA_FILE);
        gui::click(gui::mainDlg(), IDC_START);
        if (!gui::waitFor(inDataTransfer)) qtLeaveProgram(3);
        gui::click(gui::mainDlg(), IDC_EXIT);
    }));
}

// What is left of the sound when the end begins (`leaving`).
constexpr auto kSoundLeft = std::chrono::milliseconds(300);
std::atomic<bool> g_playing{false}, g_leaving{false};

// The observer stands for the sound.
void playUntilAfterTheEnd() {
    qtSetSoundObserver([](const std::string&) {
        g_playing = true;
        while (!g_leaving) std::this_thread::yield();
        std::this_thread::sleep_for(kSoundLeft);
        std::puts("heard");
    });
    std::thread([] {
        playSound("end.wav");
        std::promise<void>().get_future().wait();  // never told: not a thread to wait for
    }).detach();
    gui::waitFor([] { return g_playing.load(); });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "write") exitDuringWrite(argv[2]);
    const int status = argc > 2 ? std::atoi(argv[2]) : 0;
    QDialog dialog;
    dialog.show();
    QTimer::singleShot(0, &dialog, [status] {
        playUntilAfterTheEnd();
        g_leaving = true;
        std::thread([status] { exitProgram(status); }).detach();
    });
    app.exec();
    return 99;  // only when exitProgram did not end the program
}
