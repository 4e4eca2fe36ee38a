// The desktop program's record of every job (zemtabulo --log FILE): one CSV record per Start,
// the same as zemtabulo-cli write --log gives.
#pragma once

#include <string>
#include <vector>

#include "platform/ui.h"

// Opens the log and records each job from now on. 0 on success, else the system's error code;
// a log that did not open refuses every Start (see jobLogReady).
int useJobLog(const std::string& path);

// The file of "--log FILE" or "--log=FILE" on the program's command line; empty without one.
std::string logArgument(int argc, char** argv);

// The main dialog's checked settings in the words of zemtabulo-cli write's flags, as the log
// records them and a multi-port write passes them on to each port's job.
std::vector<std::string> checkedSettingsFlags();
// The same for any dialog that has the main dialog's settings controls (the station window).
std::vector<std::string> settingsFlagsOf(Window dlg);

// Called by Start: true when no log is asked for or it can be written; else a box says why and
// no write starts, since a device written without its record could not be traced.
bool jobLogReady();
