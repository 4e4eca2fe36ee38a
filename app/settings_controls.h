// The settings as a dialog shows them: one check box per setting and the Line speed list, at
// the control ids of the settings table. Used by the main dialog and the station window; a
// setting whose control a dialog does not have keeps the value it is given.
#pragma once

#include "platform/ui.h"
#include "writer/settings.h"

// The settings the dialog's controls show now (a box counts when it is exactly checked);
// those it has no control for come from `base`.
WriteSettings settingsFromDialog(Window dlg, const WriteSettings& base = {});

// Checks the boxes and selects the Line speed of the settings; fills the Line speed list first
// when it is empty.
void showSettings(Window dlg, const WriteSettings& settings);
