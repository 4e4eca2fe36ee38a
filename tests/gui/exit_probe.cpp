// Shows a dialog and has a worker thread end the program with the status given as the first
// argument, as the port error stop does. The test checks the exit status.
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdlib>
#include <thread>

#include "platform/ui.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int status = argc > 1 ? std::atoi(argv[1]) : 0;
    QDialog dialog;
    dialog.show();
    QTimer::singleShot(0, &dialog,
                       [status] { std::thread([status] { exitProgram(status); }).detach(); });
    app.exec();
    return 99;  // only when exitProgram did not end the program
}
