#include "app/settings_controls.h"

WriteSettings settingsFromDialog(Window dlg, const WriteSettings& base) {
    WriteSettings s = base;
    for (const SettingRow& row : kSettingRows) {
        Window ctl = dlgItem(dlg, row.controlId);
        if (!ctl) continue;
        if (row.member)
            s.*row.member = buttonState(dlg, row.controlId) == kChecked;
        else
            s.lineSpeed = comboSel(ctl);
    }
    return s;
}

void showSettings(Window dlg, const WriteSettings& settings) {
    for (const SettingRow& row : kSettingRows) {
        Window ctl = dlgItem(dlg, row.controlId);
        if (!ctl) continue;
        if (row.member) {
            setButtonState(dlg, row.controlId, settings.*row.member ? kChecked : kUnchecked);
            continue;
        }
        if (comboCount(ctl) == 0)
            for (const char* text : kLineSpeedTexts) comboAdd(ctl, text);
        comboSetSel(ctl, settings.lineSpeed);
    }
}
