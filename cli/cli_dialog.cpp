#include "app/dialogs.h"
#include "app/templates.h"
#include "cli/cli.h"
#include "platform/headless/headless.h"
#include "writer/options.h"

namespace {

int speedIndex(int speed) {
    switch (speed) {
        case 4800: return 0;
        case 9600: return 1;
        case 19200: return 2;
        default: return 3;
    }
}

}  // namespace

Window cliMainDialog(const CliOptions& o) {
    Window dlg = headlessCreateDialog(kMainTemplate, mainDlgProc);
    const struct {
        int id;
        bool on;
    } boxes[] = {
        {IDC_VERTICAL, o.vertical},         {IDC_INVERT, o.invert},
        {IDC_STARTUP_CHECK, o.startupCheck}, {IDC_KEEP_SRAM, o.keepSram},
        {IDC_LATIN, o.latin},               {IDC_RS422, o.rs422},
        {IDC_RESPONSE_CHECK, o.responseCheck}, {IDC_FLOW_CONTROL, o.flowControl},
        {IDC_SKIP_BITMAPS, o.skipBitmaps},  {IDC_TRANSFER_GAIJI, o.transferGaiji},
    };
    for (const auto& b : boxes) setButtonState(dlg, b.id, b.on ? kChecked : kUnchecked);
    comboSetSel(dlgItem(dlg, IDC_LINE_SPEED), speedIndex(o.speed));
    // Clicked like the operator would, so that the dependent controls follow it.
    if (o.transferSettings) headlessClick(dlg, IDC_TRANSFER_SETTINGS);
    return dlg;
}
