// Dialog procedures of the main dialog, Port settings and About, and the Start command.
#pragma once

#include <string>

#include "platform/ui.h"

bool mainDlgProc(Window dlg, unsigned msg, int id);
bool portSettingsDlgProc(Window dlg, unsigned msg, int id);
bool aboutDlgProc(Window dlg, unsigned msg, int id);

// Command 1003: checks the data file, opens the port (up to eight tries) and starts the write
// worker and the completion watcher.
void startCommand();

// Texts of the status line shown by the Start command.
inline constexpr const char* kPortUnusableText = "ﾎﾟｰﾄが使用できません";
inline constexpr const char* kThreadFailedText = "書込みを開始できませんでした";

// Index of the Port settings entry to preselect for `name`: the entry equal to it (trailing
// blanks and letter case ignored), else the list's prefix search; -1 when none.
int portPreselection(Window list, const std::string& name);
