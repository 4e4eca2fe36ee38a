// The station window (zemtabulo-station): up to 16 devices written at once from the desktop,
// one row per fixture position, each row's job a child process of zemtabulo-cli write.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"

constexpr int IDD_STATION = 300;
constexpr int kMaxStationSlots = 16;
constexpr int kDefaultStationSlots = 4;

// Controls of the station window. The settings boxes and the Line speed list keep the main
// dialog's ids (app/main_dialog_ids.h, from the settings table), so that both give the same
// settings flags.
enum StationControlId : int {
    IDC_ST_EXIT = 8,
    IDC_ST_START_ALL = 3001,
    IDC_ST_DATA_FILE = 3002,
    IDC_ST_DATA_PATH = 3003,
    IDC_ST_EXPECT_LABEL = 3004,
    IDC_ST_EXPECT = 3005,
    IDC_ST_FIRST_SUM = 3006,
    IDC_ST_LOG_LABEL = 3007,
    IDC_ST_LOG = 3008,
    IDC_ST_LINE_STATUS = 3009,  // how many records wait for the line server
    IDC_ST_LINE_EVENT = 3010,   // not a control: the command the sender's news is posted as
    kSlotIdBase = 3100,         // each slot's controls from here, kSlotIdStride apart
    kSlotIdStride = 10,
};

// The controls of slot `slot` (0-based).
enum SlotPart : int {
    kSlotName = 0,
    kSlotPort = 1,
    kSlotStatus = 2,
    kSlotProgress = 3,
    kSlotResult = 4,
    kSlotStart = 5,
    kSlotUnit = 8,   // the unit id, typed by the label's scanner
    kSlotAuto = 6,   // the check box that arms the slot: auto mode
    kSlotEvent = 9,  // not a control: the command its job's events are posted as
};
constexpr int slotControlId(int slot, SlotPart part) {
    return kSlotIdBase + slot * kSlotIdStride + part;
}

// The station window's template for `slots` rows (clamped to 1..16); the rows grow lower
// when there are few of them.
struct StationTemplate {
    std::vector<ControlTemplate> controls;
    DialogTemplate dialog;
};
std::unique_ptr<StationTemplate> stationTemplate(int slots);

// Colours of the result field.
constexpr uint32_t kOkColour = 0x33CC33;
constexpr uint32_t kNgColour = 0xFF3333;

// The program: STATION.INI in the working directory, then the window, modally. `args` are the
// program's arguments (--locked). Returns the exit status.
int stationMain(const std::vector<std::string>& args);

bool stationDlgProc(Window dlg, unsigned msg, int id);

// The single-device job's program that each slot runs: beside this program.
std::string stationJobProgram();
