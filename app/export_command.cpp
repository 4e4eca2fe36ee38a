// The Export command of the main dialog: the update file for a USB stick, with the settings
// the dialog shows when the folder has been chosen.
#include "app/dialogs.h"
#include "app/main_dialog_ids.h"
#include "app/settings_controls.h"
#include "export/update_file.h"

namespace {

void showFault(Window dlg, const ExportFault& fault) {
    messageBox(dlg, faultText(fault), kExportCaption, kMbOk);
}

bool transferGaiji(Window dlg) {
    return buttonState(dlg, IDC_TRANSFER_GAIJI) == kChecked;
}

}  // namespace

void exportCommand(Desktop& d) {
    Window dlg = d.dlg;
    const std::string& dataPath = d.dataFilePath;
    const std::string& gaijiPath = d.gaijiFilePath;
    if (dataPath.empty()) {
        messageBox(dlg, kNoDataText, kExportCaption, kMbOk);
        return;
    }
    ExportFault fault = checkInputPaths(dataPath, gaijiPath);
    if (fault.failed()) return showFault(dlg, fault);
    if (transferGaiji(dlg) && gaijiPath.empty())
        messageBox(dlg, kNoGaijiText, kExportCaption, kMbOk);  // the export goes on

    std::string folder;
    if (!browseForFolder(dlg, kBrowseTitle, folder)) return;
    std::string updateDest, gaijiDest;
    fault = exportDestinations(folder, updateDest, gaijiDest);
    // The settings as they stand now: the operator may have changed them while choosing.
    if (!fault.failed())
        fault = writeUpdateFile(dataPath, updateDest, settingsFromDialog(dlg),
                                dlgItem(dlg, IDC_PROGRESS));
    if (!fault.failed() && transferGaiji(dlg) && !gaijiPath.empty())
        fault = copyGaiji(gaijiPath, gaijiDest);
    if (fault.failed()) return showFault(dlg, fault);
    messageBox(nullptr, kExportDoneText, "", kMbOk);
}
