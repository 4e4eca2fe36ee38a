#include "writer/options.h"

#include <cstdint>

Window mainDlg = nullptr;

namespace {
int checked(int id) { return buttonState(mainDlg, id) == kChecked ? 1 : 0; }
}  // namespace

int optTransferSettings() { return checked(IDC_TRANSFER_SETTINGS); }
int optVertical() { return checked(IDC_VERTICAL); }
int optStartupCheck() { return checked(IDC_STARTUP_CHECK); }
int optKeepSram() { return checked(IDC_KEEP_SRAM); }
int optLatin() { return checked(IDC_LATIN); }
int optRs422() { return checked(IDC_RS422); }
int optResponseCheck() { return checked(IDC_RESPONSE_CHECK); }
int optFlowControl() { return checked(IDC_FLOW_CONTROL); }
int optSkipBitmaps() { return checked(IDC_SKIP_BITMAPS); }
int optInvert() { return checked(IDC_INVERT); }
int optTransferGaiji() { return checked(IDC_TRANSFER_GAIJI); }
int optLineSpeed() { return comboSel(dlgItem(mainDlg, IDC_LINE_SPEED)); }

void setStatusText(const std::string& text, Window wnd) { setWindowText(wnd, text); }
void setProgressRange(int32_t low, int32_t high, Window wnd) { progressSetRange(wnd, low, high); }
void setProgressPos(int32_t pos, Window wnd) { progressSetPos(wnd, pos); }
void enableStart() { enableWindow(dlgItem(mainDlg, IDC_START), true); }
void disableStart() { enableWindow(dlgItem(mainDlg, IDC_START), false); }

int lineSpeedValue(int index) {
    static constexpr int kValues[] = {0, 64, 128, 192};
    return index >= 0 && index < 4 ? kValues[index] : -1;
}

int progressShift(uint64_t total) {
    int shift = 0;
    while ((total >> shift) > uint64_t(INT32_MAX)) ++shift;
    return shift;
}
