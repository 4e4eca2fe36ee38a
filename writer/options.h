// The main dialog as the write job and the export see it: its control ids, the option
// readers (each asks its control at the moment of the call) and the status/progress setters.
#pragma once

#include <cstdint>
#include <string>

#include "app/main_dialog_ids.h"
#include "platform/ui.h"


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
