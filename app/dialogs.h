// Dialog procedures of the main dialog, Port settings and About, and the commands of the main
// dialog. Each works on the Desktop the dialog was opened with (desktopOf).
#pragma once

#include <string>

#include "app/desktop.h"
#include "platform/ui.h"

bool mainDlgProc(Window dlg, unsigned msg, int id);
bool portSettingsDlgProc(Window dlg, unsigned msg, int id);
bool aboutDlgProc(Window dlg, unsigned msg, int id);

// Command 1003: checks the data file and the log, opens the port (up to eight tries) and
// starts the write worker and the completion watcher.
void startCommand(Desktop& desktop);

// The end of a Start: waits while the job holds the channel (the first sounds once the data is
// written), then records the job, plays the closing sounds, shows the end box with the seconds
// since the Start and enables Start again. Runs on a thread of its own.
void completionWatcher(Desktop& desktop);

// Command 1061: the update file and the external character file into a folder the operator
// picks, with the settings the dialog shows.
void exportCommand(Desktop& desktop);

// The status line's text when the job's threads could not be started.
inline constexpr const char* kThreadFailedText = "書込みを開始できませんでした";

// Index of the Port settings entry to preselect for `name`: the entry equal to it (trailing
// blanks and letter case ignored), else the list's prefix search; -1 when none.
int portPreselection(Window list, const std::string& name);
