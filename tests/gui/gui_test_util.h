// Shared by the GUI tests: a fresh working directory per test and the program's globals reset.
#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <filesystem>

#include "../temp_dir.h"
#include "app/main_dialog_ids.h"
#include "app/settings_controls.h"
#include "app/startup.h"
#include "gui_driver.h"
#include "programs/desktop_qt.h"

// Each test starts like a fresh run of the program in a directory of its own.
inline void resetProgram() { gui::freshDesktop(); }

// The settings the main dialog shows now.
inline WriteSettings shownSettings() { return settingsFromDialog(gui::mainDlg()); }

// The desktop program's set-up, once per test process; Qt's saved settings (the choosers'
// columns among them) in a folder of the process's own, not the user's.
inline void setUpOnce() {
    static TempDir settings;
    static bool done = false;
    if (done) return;
    done = true;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path.c_str());
    setUpDesktopProgram();
}
