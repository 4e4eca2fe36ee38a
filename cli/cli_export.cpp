// zemtabulo-cli export: the Export command on the headless main dialog, its settings boxes
// checked from the flags; --to answers the folder browser. Every message box is printed.
#include <cstdio>
#include <string>

#include "app/desktop.h"
#include "app/dialogs.h"
#include "app/main_dialog_ids.h"
#include "app/settings_controls.h"
#include "app/templates.h"
#include "cli/cli.h"
#include "export/update_file.h"
#include "platform/headless/headless.h"

namespace {

void printBox(const std::string& text, const std::string& caption) {
    if (caption.empty()) {
        std::printf("%s\n", text.c_str());
    } else {
        std::printf("[%s] %s\n", caption.c_str(), text.c_str());
    }
    std::fflush(stdout);
}

// The file choosers take no path longer than their buffer; neither does the command line.
bool pathsFit(const CliOptions& o) {
    for (const std::string* p : {&o.data, &o.gaiji}) {
        if (p->size() < kPathBufSize) continue;
        std::fprintf(stderr, "Path longer than %zu bytes: %s\n", kPathBufSize - 1, p->c_str());
        return false;
    }
    return true;
}

}  // namespace

int cliExport(const CliOptions& o) {
    if (!pathsFit(o)) return kExitUsage;
    bool done = false;
    HeadlessHooks hooks;
    hooks.onMessageBox = [&done](Window owner, const std::string& text,
                                 const std::string& caption) {
        printBox(text, caption);
        if (owner == nullptr && text == kExportDoneText) done = true;
    };
    hooks.onBrowseFolder = [&o](std::string& folder, const std::string&) {
        folder = o.to;
        return true;
    };
    headlessSetHooks(std::move(hooks));

    Desktop desktop;
    Window dlg = headlessCreateDialog(kMainTemplate, mainDlgProc, &desktop);
    showSettings(dlg, o.settings);
    desktop.dataFilePath = o.data;
    desktop.gaijiFilePath = o.gaiji;
    setWindowText(dlgItem(dlg, IDC_DATA_PATH), o.data);
    if (!o.gaiji.empty()) setWindowText(dlgItem(dlg, IDC_GAIJI_PATH), o.gaiji);
    headlessClick(dlg, IDC_EXPORT);

    headlessSetHooks({});
    headlessDestroy(dlg);
    return done ? kExitOk : kExitFailed;
}
