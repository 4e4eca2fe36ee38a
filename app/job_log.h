// The desktop program's record of every job (zemtabulo --log FILE): one CSV record per Start,
// the same as zemtabulo-cli write --log gives.
#pragma once

#include <string>

#include "app/desktop.h"

// Opens the log and records each job from now on. 0 on success, else the system's error code;
// a log that did not open refuses every Start (see jobLogReady).
int useJobLog(DesktopLog& log, const std::string& path);

// The file of "--log FILE" or "--log=FILE" on the program's command line; empty without one.
std::string logArgument(int argc, char** argv);

// Called by Start: true when no log is asked for or it can be written; else a box says why and
// no write starts, since a device written without its record could not be traced.
bool jobLogReady(Desktop& desktop);

// Appends the record of the job that has just ended (nothing without a log); a box says so
// when it cannot be written.
void recordJob(Desktop& desktop);
