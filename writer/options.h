// The main dialog as the write job and the export see it: its control ids, the option
// readers (each asks its control at the moment of the call) and the status/progress setters.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"

// Control ids of the main dialog.
enum MainDialogId : int {
    IDC_EXIT = 8,
    IDC_START = 1003,
    IDC_ABOUT = 1008,
    IDC_PROGRESS = 1009,
    IDC_V2 = 1026,
    IDC_MODEL_LABEL = 1028,
    IDC_V3 = 1029,
    IDC_STATUS = 1030,
    IDC_KLT103 = 1031,
    IDC_PORT_SETTINGS = 1038,
    IDC_DATA_FILE = 1039,
    IDC_NOT_USED = 1040,
    IDC_VERTICAL = 1041,
    IDC_STARTUP_CHECK = 1042,
    IDC_KEEP_SRAM = 1043,
    IDC_LATIN = 1044,
    IDC_RS422 = 1045,
    IDC_LINE_SPEED = 1046,
    IDC_RESPONSE_CHECK = 1047,
    IDC_DATA_PATH = 1050,
    IDC_FLOW_CONTROL = 1058,
    IDC_TRANSFER_SETTINGS = 1059,
    IDC_SKIP_BITMAPS = 1060,
    IDC_EXPORT = 1061,
    IDC_LINE_SPEED_LABEL = 1062,
    IDC_INVERT = 1063,
    IDC_TRANSFER_GAIJI = 1064,
    IDC_GAIJI_FILE = 1065,
    IDC_GAIJI_PATH = 1066,
};

// The main dialog; set when it initialises.
extern Window mainDlg;

// 1 when the box is exactly checked, else 0.
int optTransferSettings();
int optVertical();
int optStartupCheck();
int optKeepSram();
int optLatin();
int optRs422();
int optResponseCheck();
int optFlowControl();
int optSkipBitmaps();
int optInvert();
int optTransferGaiji();
// The Line speed list's items, and the one selected at first.
inline constexpr const char* kLineSpeedTexts[] = {"4800", "9600", "19200", "38400"};
inline constexpr int kLineSpeedCount = 4;
inline constexpr int kDefaultLineSpeed = 3;
// Index of the selected Line speed item (0 "4800" .. 3 "38400"), -1 when none is selected.
int optLineSpeed();

void setStatusText(const std::string& text, Window wnd);
void setProgressRange(int32_t low, int32_t high, Window wnd);
void setProgressPos(int32_t pos, Window wnd);
void enableStart();
void disableStart();

// The register value of a Line speed index: 0, 64, 128, 192; -1 for no selection.
int lineSpeedValue(int index);

// The progress bar takes signed 32-bit values; a larger total is shifted right by this many
// bits (and every position with it), so the bar still runs from empty to full.
int progressShift(uint64_t total);
