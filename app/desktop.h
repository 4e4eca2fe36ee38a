// The desktop program's state: what it read at start-up, the files the operator chose, the
// write in progress and the log. One object, owned by the program's main and reached by the
// dialog procedures through the dialog's data.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ui.h"
#include "serial/channel.h"
#include "station/log.h"
#include "writer/job.h"
#include "writer/settings.h"

// The write the Start command began, between its worker and its completion watcher.
struct DesktopJob {
    Channel channel;
    // 1 while a worker owns the channel: set by Start, cleared once the job has ended (the
    // port closed). The watcher polls it from its own thread.
    std::atomic<int> busy{0};
    // 1 once the screen data and the settings are in the device.
    std::atomic<int> written{0};
    // Tick count at the accepted Start; the end box gives the seconds since it.
    std::atomic<uint32_t> startTick{0};
    // What the job was started with: the job and its record use these alone.
    WriteSettings settings;
    std::string dataPath;
    std::string portName;
    // How the last job ended, for the watcher's thread and the record.
    JobResult lastResult() const {
        std::lock_guard<std::mutex> lock(resultLock);
        return result;
    }
    void setResult(const JobResult& r) {
        std::lock_guard<std::mutex> lock(resultLock);
        result = r;
    }

  private:
    mutable std::mutex resultLock;
    JobResult result;
};

// zemtabulo --log FILE: one CSV record per Start, the same as zemtabulo-cli write --log gives.
struct DesktopLog {
    std::string path;  // empty: no log asked for
    int openError = 0;
    std::unique_ptr<LogFile> file;
};

struct Desktop {
    std::string iniPath;   // SCI.INI in the working directory
    std::string portName;  // from SCI.INI, changed by Port settings
    // The V3 data file and the external character file; empty until chosen.
    std::string dataFilePath;
    std::string gaijiFilePath;
    Window dlg = nullptr;  // the main dialog, while it is open
    DesktopJob job;
    DesktopLog log;
};

// The program's state behind one of its dialogs.
inline Desktop& desktopOf(Window dlg) {
    return *static_cast<Desktop*>(dialogData(dlg));
}
