// The station window's unit ids: a field per row that the label's scanner types into, the ids
// checked (station/unit.h) before any slot starts, a rework confirmed by the operator.
#include <algorithm>

#include "app/station_state.h"
#include "app/station_texts.h"

namespace {

std::string slotName(const Station& st, size_t slot) {
    return windowText(st.slotItem(slot, kSlotName));
}

std::string unitTyped(const Station& st, size_t slot) {
    return trimmed(windowText(st.slotItem(slot, kSlotUnit)));
}

bool logUnreadable(Station& st, int err) {
    st.box("ログファイルを読めません\n" + st.log->path() + "\n" + systemErrorText(err));
    return false;
}

// The units recorded ok in the log the slots write to: read once per log, then what other
// programs writing to the same log have added since.
bool unitsOfLog(Station& st) {
    if (st.units && st.unitsLog == st.log.get()) {
        const int err = st.units->catchUp();
        return err == 0 || logUnreadable(st, err);
    }
    auto units = std::make_shared<UnitLedger>();
    if (const int err = units->read(st.log->path()); err != 0) return logUnreadable(st, err);
    st.log->onRecord([units](const LogRecord& r) { units->note(r); });
    st.units = std::move(units);
    st.unitsLog = st.log.get();
    return true;
}

// Another row of this Start, or a slot still writing, with the same id.
std::optional<size_t> sameUnit(const Station& st, const std::vector<size_t>& slots, size_t upTo,
                               const std::string& id) {
    for (size_t k = 0; k < upTo; ++k)
        if (unitTyped(st, slots[k]) == id) return slots[k];
    for (size_t s = 0; s < size_t(st.slots); ++s)
        if (st.run.slot(s).running && st.run.slot(s).start.unit == id) return s;
    return std::nullopt;
}

// One row's id into its start; false after a box (or a rework not confirmed).
bool takeUnit(Station& st, const std::vector<size_t>& slots, size_t k, SlotStart& start) {
    const size_t slot = slots[k];
    const std::string id = unitTyped(st, slot);
    const bool recordedOk = !id.empty() && st.units->recordedOk(id);
    const UnitVerdict verdict = checkUnit(id, st.config.unitRequired, st.unitPattern, recordedOk);
    start.unit = id;
    start.unitRequired = st.config.unitRequired;
    if (verdict == UnitVerdict::RecordedOk) {
        start.rework =
            askYesNo(st.dlg, reworkQuestion(slotName(st, slot), id), resString(kStrAppName));
        if (!start.rework) setWindowText(st.slotItem(slot, kSlotUnit), "");
        return start.rework;
    }
    if (verdict != UnitVerdict::Ok) {
        st.box(unitRefusalText(verdict, slotName(st, slot), id, st.unitPattern.text));
        // The next scan goes into an empty field, not after the refused id.
        setWindowText(st.slotItem(slot, kSlotUnit), "");
        return false;
    }
    if (const auto other = id.empty() ? std::nullopt : sameUnit(st, slots, k, id)) {
        st.box(sameUnitText(slotName(st, slot), id, slotName(st, *other)));
        return false;
    }
    return true;
}

}  // namespace

void initUnits(Station& st) {
    st.unitPatternError = compileUnitPattern(st.config.unitPattern, st.unitPattern);
    if (!st.unitPatternError.empty()) st.box(unitPatternText(st.unitPatternError));
}

bool takeUnits(Station& st, const std::vector<size_t>& slots, std::vector<SlotStart>& starts) {
    if (!st.unitPatternError.empty()) {
        st.box(unitPatternText(st.unitPatternError));
        return false;
    }
    const bool any = st.config.unitRequired ||
                     std::any_of(slots.begin(), slots.end(),
                                 [&st](size_t s) { return !unitTyped(st, s).empty(); });
    if (!any) return true;
    // A log that leaves the column out would lose the ids and could not tell a rework.
    if (!st.log->keepsColumn("unit")) {
        st.box(unitColumnMissingText(st.log->path()));
        return false;
    }
    if (!unitsOfLog(st)) return false;
    for (size_t k = 0; k < slots.size(); ++k)
        if (!takeUnit(st, slots, k, starts[k])) return false;
    return true;
}

void unitRowStarted(Station& st, size_t slot) {
    setWindowText(st.slotItem(slot, kSlotUnit), "");
    enableWindow(st.slotItem(slot, kSlotUnit), false);
}

void unitRowEnded(Station& st, size_t slot) {
    enableWindow(st.slotItem(slot, kSlotUnit), true);
}

void unitEntered(Station& st, size_t slot) {
    if (st.run.slot(slot).running) return;
    if (st.run.slot(slot).autoState.state != AutoState::Off) {
        // An armed row: the id waits in its field for the next device, which takes it.
        std::vector<SlotStart> starts(1);
        if (takeUnits(st, {slot}, starts))
            st.run.setNextUnit(slot, starts[0].unit, starts[0].rework, st);
        return;
    }
    startSlots(st, {slot});
    if (!st.run.slot(slot).running) return;
    // The operator scans the fixtures in any order; the focus offers the next free one.
    for (size_t k = 1; k < size_t(st.slots); ++k) {
        const size_t next = (slot + k) % size_t(st.slots);
        if (!st.run.slot(next).running) {
            setFocus(st.slotItem(next, kSlotUnit));
            return;
        }
    }
}
