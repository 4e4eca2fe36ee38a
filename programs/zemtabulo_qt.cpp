// zemtabulo: the desktop program.
#include <QApplication>
#include <cstdio>

#include "app/job_log.h"
#include "app/startup.h"
#include "platform/debug.h"
#include "platform/qt/qt_ui.h"
#include "programs/desktop_qt.h"
#include "programs/version_arg.h"

int main(int argc, char** argv) {
    // Before the QApplication: it would need a display.
    if (versionAsked(argc, argv)) {
        std::puts(desktopVersionLine().c_str());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // The serial line's bytes and the sound system's complaints go to stderr only when asked.
    setTracing(argGiven(argc, argv, "--trace"));
    QApplication app(argc, argv);
    setUpDesktopProgram();
    // A log that does not open is told at the first Start, which it refuses.
    Desktop desktop;
    if (const std::string log = logArgument(argc, argv); !log.empty()) useJobLog(desktop.log, log);
    // Exit may end the main dialog while a write job runs; the program ends at once then,
    // without tearing down what the job's threads still use.
    qtLeaveProgram(zemtabuloMain(desktop));
}
