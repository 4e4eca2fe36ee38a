// The station window's state: what the window shows and the station run it is a view of. Owned
// by stationMain and reached through the dialog's data.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/sound_queue.h"
#include "app/station_window.h"
#include "app/station_window_ini.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "station/line_sender.h"
#include "station/station_run.h"
#include "station/unit.h"

// What a row shows, so that an event that changes nothing repaints nothing.
struct RowShown {
    int percent = -1;
    std::string status;
    std::string said;                      // the status line's text after the auto state
    AutoState autoState = AutoState::Off;  // the state it last showed
};

class Station : public StationView {
  public:
    Station(StationConfig config, bool locked)
        : config(std::move(config)),
          locked(locked),
          slots(int(this->config.slots.size())),
          run(size_t(slots), stationJobProgram(), false),
          rows(size_t(slots)) {}

    void slotEvent(size_t slot, const Json& event) override;
    void slotEnded(size_t slot) override;
    void sumLearned(const std::string& sum) override;
    void slotRetrying(size_t slot) override;
    void slotStateChanged(size_t slot) override;

    Window dlg = nullptr;
    StationConfig config;
    bool locked = false;
    int slots = 0;
    StationRun run;
    std::vector<RowShown> rows;
    std::string dataPath;
    std::shared_ptr<LogFile> log;  // the log of the last Start, kept open while it is the same
    // With line= in STATION.INI: the log's records to the line server. A log left for another
    // keeps its sender (its appends wake it) until the slots that write to it are gone.
    std::shared_ptr<LineSender> sender;
    bool iniFailTold = false;
    bool lineFailTold = false;
    bool stopping = false;
    SoundQueue sounds;
    // Unit ids (app/station_units.cpp): the pattern of STATION.INI, why it is none (told at
    // the start and at each Start), and the units recorded ok in `log`, read when a Start
    // first needs them and kept up to date as the log is written.
    UnitPattern unitPattern;
    std::string unitPatternError;
    std::shared_ptr<UnitLedger> units;
    const LogFile* unitsLog = nullptr;  // the log `units` was read from

    Window item(int id) const { return dlgItem(dlg, id); }
    Window slotItem(size_t slot, SlotPart part) const {
        return item(slotControlId(int(slot), part));
    }
    void box(const std::string& text) const {
        messageBox(dlg, text, resString(kStrAppName), kMbOk);
    }
    std::string slotPort(size_t slot) const {
        Window combo = slotItem(slot, kSlotPort);
        return comboText(combo, comboSel(combo));
    }
};

// Unit ids. At the window's start: the pattern, a box when it is none.
void initUnits(Station& st);
// Each of `slots`' unit id into its SlotStart (in `starts`, as `slots`), checked: a box says
// why an id is refused, a unit recorded ok asks whether this is a rework. False when one is
// refused (or the rework is not confirmed): then nothing starts.
bool takeUnits(Station& st, const std::vector<size_t>& slots, std::vector<SlotStart>& starts);
// A row started: its field emptied for the next label and held until the slot ends.
void unitRowStarted(Station& st, size_t slot);
void unitRowEnded(Station& st, size_t slot);
// The scanner's Enter in a row's field: the row starts (when idle and its id passes), and the
// focus goes on to the next row whose field is free.
void unitEntered(Station& st, size_t slot);
// Starts the slots (idle ones) as their buttons do.
void startSlots(Station& st, const std::vector<size_t>& wanted);

// The result field of a slot: its text and colour.
void showResult(Station& st, size_t slot, const std::string& text, uint32_t colour);
// The status line of a slot: in auto mode its state comes first.
void showStatus(Station& st, size_t slot, const std::string& text);
// A row as a job starts: no status, the bar empty, 0%.
void clearRow(Station& st, size_t slot);
// Which of a row's controls work: its port and Start while it is idle and not armed; its auto
// box unless a job started by hand runs (an armed slot's job is the device's, so that it may be
// disarmed meanwhile).
void followRow(Station& st, size_t slot);

// Slots whose ports (slot, port) name one device between them: true after a box naming them.
bool refusedSameDevice(Station& st, const std::vector<std::pair<size_t, std::string>>& ports);
// What every slot started now is started with; nullopt after a box that says what is missing.
std::optional<SlotStart> startNow(Station& st);
// STATION.INI as the window shows it; a box, once, when it cannot be written.
StationConfig shownConfig(const Station& st);
void saveConfig(Station& st);

// Auto mode (app/station_auto.cpp). The row's auto box was clicked: armed or disarmed.
void autoBoxClicked(Station& st, size_t slot);
// The rows STATION.INI arms, as the window opens.
void armSavedSlots(Station& st);
// Exit: no slot starts by itself any more.
void disarmAll(Station& st);
// The rows' auto boxes into the configuration to keep.
void shownAutoModes(const Station& st, StationConfig& c);
