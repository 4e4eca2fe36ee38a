// zemtabulo: the desktop program.
#include <QApplication>

#include "app/job_log.h"
#include "app/startup.h"
#include "platform/qt/program.h"
#include "platform/qt/qt_ui.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setUpDesktopProgram();
    // A log that does not open is told at the first Start, which it refuses.
    if (const std::string log = logArgument(argc, argv); !log.empty()) useJobLog(log);
    // Exit may end the main dialog while a write job runs; the program ends at once then,
    // without tearing down what the job's threads still use.
    qtLeaveProgram(zemtabuloMain());
}
