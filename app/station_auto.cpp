// The station window's auto mode: a row whose 自動 box is checked is an armed slot of the run
// (StationRun::arm), which starts its job each time its device is plugged in. The run's own timer
// and port watch post their news to the window as the jobs' events come, so that the window,
// which has no clock, follows the states on its dialog thread.
#include <chrono>

#include "app/station_state.h"

namespace {

bool boxChecked(const Station& st, size_t slot) {
    return buttonState(st.dlg, slotControlId(int(slot), kSlotAuto)) == kChecked;
}

void checkBox(Station& st, size_t slot, bool on) {
    setButtonState(st.dlg, slotControlId(int(slot), kSlotAuto), on ? kChecked : kUnchecked);
}

// A slot armed on a device another armed or running slot has: both would write it.
bool sharesADevice(Station& st, size_t slot, const std::string& port) {
    std::vector<std::pair<size_t, std::string>> ports;
    for (size_t s = 0; s < size_t(st.slots); ++s)
        if (s != slot && st.run.slot(s).autoState.state != AutoState::Off)
            ports.emplace_back(s, st.run.slot(s).start.port);
    ports.emplace_back(slot, port);
    return refusedSameDevice(st, ports);
}

// Arms the row with what a Start now would start with; false after a box saying why not, the
// box unchecked.
bool armSlot(Station& st, size_t slot) {
    const std::string port = st.slotPort(slot);
    std::optional<SlotStart> start;
    if (port.empty())
        st.box(windowText(st.slotItem(slot, kSlotName)) + " のポートが未設定です");
    else
        start = startNow(st);
    if (!start || sharesADevice(st, slot, port)) {
        checkBox(st, slot, false);
        return false;
    }
    start->port = port;
    // Each device's id is scanned into the row's field; where one is required, a device that
    // settles waits for it.
    start->unitRequired = st.config.unitRequired;
    st.run.arm(slot, std::move(*start), std::chrono::milliseconds(st.config.debounceMs), st);
    return true;
}

}  // namespace

void autoBoxClicked(Station& st, size_t slot) {
    if (!boxChecked(st, slot)) {
        st.run.disarm(slot, st);
        return;
    }
    if (armSlot(st, slot)) saveConfig(st);
}

void armSavedSlots(Station& st) {
    for (size_t s = 0; s < size_t(st.slots); ++s) {
        if (!st.config.slots[s].autoMode) continue;
        checkBox(st, s, true);
        // One box for what every row lacks: the rows after are left unarmed.
        if (!armSlot(st, s)) break;
    }
}

void disarmAll(Station& st) {
    for (size_t s = 0; s < size_t(st.slots); ++s) st.run.disarm(s, st);
}

void shownAutoModes(const Station& st, StationConfig& c) {
    for (size_t s = 0; s < size_t(st.slots); ++s) c.slots[s].autoMode = boxChecked(st, s);
}

void Station::slotStateChanged(size_t slot) {
    const AutoState state = run.slot(slot).autoState.state;
    RowShown& shown = rows[slot];
    // A device that settled: a new job, on a row cleared as Start clears it.
    const bool jobBegins = state == AutoState::Writing && shown.autoState == AutoState::Detected;
    shown.autoState = state;
    if (jobBegins) {
        clearRow(*this, slot);
        unitRowStarted(*this, slot);
    }
    // The words of the last job go with its device; its result field stays until the next.
    if (state == AutoState::Waiting) shown.said.clear();
    showStatus(*this, slot, shown.said);
    checkBox(*this, slot, state != AutoState::Off);
    followRow(*this, slot);
}
