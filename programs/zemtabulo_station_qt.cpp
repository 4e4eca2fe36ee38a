// zemtabulo-station: the station window, several devices at once.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/station_window.h"
#include "platform/debug.h"
#include "programs/desktop_qt.h"
#include "programs/version_arg.h"

int main(int argc, char** argv) {
    // Before the QApplication: it would need a display.
    if (versionAsked(argc, argv)) {
        std::puts(desktopVersionLine("zemtabulo-station").c_str());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // The serial line's bytes and the sound system's complaints go to stderr only when asked.
    setTracing(argGiven(argc, argv, "--trace"));
    QApplication app(argc, argv);
    setUpDesktopProgram();
    QApplication::setDesktopFileName("org.zemtabulo.ZemTabulo.Station");
    return stationMain(std::vector<std::string>(argv + 1, argv + argc));
}
