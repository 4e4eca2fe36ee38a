#include <initializer_list>
#include <string>

#include "app/dialogs.h"
#include "app/main_dialog_ids.h"
#include "app/settings_controls.h"
#include "app/templates.h"
#include "export/update_file.h"

namespace {

// The eight controls that follow the Transfer settings box.
constexpr int kSettingsControls[] = {IDC_STARTUP_CHECK,  IDC_KEEP_SRAM,   IDC_LATIN,
                                     IDC_RS422,          IDC_LINE_SPEED,  IDC_LINE_SPEED_LABEL,
                                     IDC_RESPONSE_CHECK, IDC_FLOW_CONTROL};

// Filter block: shown text and pattern pairs, each ended by NUL, the block by one more.
std::string filterBlock(std::initializer_list<const char*> parts) {
    std::string block;
    for (const char* p : parts) {
        block += p;
        block += '\0';
    }
    block += '\0';
    return block;
}

const std::string kDataFilter = filterBlock({"V3データファイル files(*.*)", "*.*"});
const std::string kGaijiFilter =
    filterBlock({"外字ファイル files(*.txt)", "*.txt", "All Files(*.*)", "*.*"});

void initMainDialog(Window dlg) {
    desktopOf(dlg).dlg = dlg;
    showSettings(dlg, WriteSettings{});
}

// Chooser for one of the two paths; the label shows the path whenever there is one.
void choosePath(Window dlg, std::string& path, const std::string& filter, const char* title,
                int labelId) {
    if (chooseOpenFile(dlg, path, kPathBufSize, filter, title)) invalidateWindow(dlg);
    if (!path.empty()) setWindowText(dlgItem(dlg, labelId), path);
}

void followTransferSettings(Window dlg) {
    const bool on = buttonState(dlg, IDC_TRANSFER_SETTINGS) != kUnchecked;
    for (int id : kSettingsControls) enableWindow(dlgItem(dlg, id), on);
    updateWindow(dlg);
}

}  // namespace

bool mainDlgProc(Window dlg, unsigned msg, int id) {
    if (msg == kMsgInitDialog) {
        initMainDialog(dlg);
        return true;
    }
    if (msg != kMsgCommand) return false;
    Desktop& d = desktopOf(dlg);
    switch (id) {
        case IDC_EXIT:
            endDialog(dlg, IDC_EXIT);
            break;
        case IDC_GAIJI_FILE:
            choosePath(dlg, d.gaijiFilePath, kGaijiFilter, "外字ファイルの指定", IDC_GAIJI_PATH);
            break;
        case IDC_DATA_FILE:
            choosePath(dlg, d.dataFilePath, kDataFilter, "画面データの指定", IDC_DATA_PATH);
            break;
        case IDC_ABOUT:
            dialogBox(kAboutTemplate, dlg, aboutDlgProc, &d);
            break;
        case IDC_PORT_SETTINGS:
            dialogBox(kPortSettingsTemplate, dlg, portSettingsDlgProc, &d);
            break;
        case IDC_TRANSFER_SETTINGS:
            followTransferSettings(dlg);
            break;
        case IDC_EXPORT:
            exportCommand(d);
            break;
        case IDC_START:
            startCommand(d);
            break;
        case IDC_V2:
        case IDC_V3:
            checkRadioButton(dlg, IDC_V2, IDC_V3, id);
            break;
        default:
            break;  // check boxes and the list change by themselves
    }
    return true;
}
