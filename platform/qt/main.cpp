// zemtabulo: the desktop program.
#include <QApplication>

#include "app/startup.h"
#include "platform/qt/program.h"
#include "platform/qt/qt_ui.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setUpDesktopProgram();
    // Exit may end the main dialog while a write job runs; the program ends at once then,
    // without tearing down what the job's threads still use.
    qtLeaveProgram(zemtabuloMain());
}
