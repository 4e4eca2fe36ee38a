#include <cctype>
#include <string>

#include "app/dialogs.h"
#include "app/startup.h"
#include "app/templates.h"
#include "platform/resources.h"

namespace {

constexpr int kPortCount = 30;
// The selected entry's text is fetched into a buffer of this size.
constexpr size_t kPortEntryBufSize = 12;

// "COM1 " .. "COM9 " keep a trailing blank so that every entry has five characters.
std::string portEntry(int n) {
    std::string s = "COM" + std::to_string(n);
    if (s.size() < kPortNameMax) s += ' ';
    return s;
}

std::string normalised(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void savePortChoice(Window dlg) {
    Window list = dlgItem(dlg, IDC_PORT_LIST);
    const int sel = comboSel(list);
    // No entry chosen: nothing to store, the port stays as it was.
    if (sel < 0) {
        endDialog(dlg, IDC_OK);
        return;
    }
    std::string name = comboText(list, sel);
    if (name.size() > kPortEntryBufSize - 1) name.resize(kPortEntryBufSize - 1);
    Desktop& d = desktopOf(dlg);
    d.portName = name;
    if (!writePortName(d.iniPath, d.portName)) {
        messageBox(dlg, "設定ファイルに書き込めません: " + d.iniPath, "シリアルポートの設定",
                   kMbOk);
        return;  // the dialog stays open
    }
    endDialog(dlg, IDC_OK);
}

}  // namespace

int portPreselection(Window list, const std::string& name) {
    const std::string want = normalised(name);
    const int count = comboCount(list);
    for (int i = 0; i < count; ++i) {
        if (!want.empty() && normalised(comboText(list, i)) == want) return i;
    }
    return comboFindPrefix(list, 0, name);
}

bool portSettingsDlgProc(Window dlg, unsigned msg, int id) {
    if (msg == kMsgInitDialog) {
        Window list = dlgItem(dlg, IDC_PORT_LIST);
        for (int n = 1; n <= kPortCount; ++n) comboAdd(list, portEntry(n));
        comboSetSel(list, portPreselection(list, desktopOf(dlg).portName));
        return true;
    }
    if (msg != kMsgCommand) return false;
    if (id == IDC_OK) {
        savePortChoice(dlg);
        return true;
    }
    if (id == IDC_CANCEL) {
        endDialog(dlg, IDC_CANCEL);
        return true;
    }
    return false;
}

bool aboutDlgProc(Window dlg, unsigned msg, int id) {
    if (msg == kMsgInitDialog) {
        setWindowText(dlgItem(dlg, IDC_ABOUT_NOTE), resString(kStrAboutNote));
        return true;
    }
    if (msg == kMsgCommand && (id == IDC_OK || id == IDC_CANCEL)) {
        endDialog(dlg, id);
        return true;
    }
    return false;
}
