// The desktop program's ends, in a process of their own:
//   zt_gui_exit_probe worker STATUS   a worker thread ends the program with STATUS, as the
//                                     port error stop does
//   zt_gui_exit_probe write DATA      a write of DATA starts (COM1 as COMPORTS.INI maps it) and
//                                     Exit is pressed during the data transfer
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <thread>

#include "gui_driver.h"
#include "platform/qt/qt_ui.h"
#include "programs/desktop_qt.h"
#include "writer/options.h"

namespace {

bool inDataTransfer() {
    return windowText(dlgItem(mainDlg, IDC_STATUS)) == "ﾃﾞｰﾀ書き込み中";
}

[[noreturn]] void exitDuringWrite(const std::string& data) {
    setUpDesktopProgram();
    // As main() of the program: the main dialog's end is the program's.
    qtLeaveProgram(gui::runProgram([data] {
        gui::whenShown([](QWidget* w) { return w->windowTitle() == "画面データの指定"; },
                       [data](QWidget* w) { gui::chooseFile(w, data); });
        gui::click(mainDlg, IDC_DATA_FILE);
        gui::click(mainDlg, IDC_START);
        if (!gui::waitFor(inDataTransfer)) qtLeaveProgram(3);
        gui::click(mainDlg, IDC_EXIT);
    }));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "write") exitDuringWrite(argv[2]);
    const int status = argc > 2 ? std::atoi(argv[2]) : 0;
    QDialog dialog;
    dialog.show();
    QTimer::singleShot(0, &dialog,
                       [status] { std::thread([status] { exitProgram(status); }).detach(); });
    app.exec();
    return 99;  // only when exitProgram did not end the program
}
