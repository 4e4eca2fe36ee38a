// How a station window's row shows its slot: the status line and the bar as events come, the
// result field, the status line and a sound at the slot's end.
#include "app/station_state.h"
#include "app/station_texts.h"

namespace {

constexpr const char* kOkSound = "end.wav";
constexpr const char* kNgSound = "";  // a name no file has: the system's alert sound
// Between an auto slot's state and the job's own words, as wide as a kana.
constexpr const char* kStateGap = "\u3000";

}  // namespace

void showResult(Station& st, size_t slot, const std::string& text, uint32_t colour) {
    Window field = st.slotItem(slot, kSlotResult);
    setControlColour(field, colour);
    setWindowText(field, text);
}

void showStatus(Station& st, size_t slot, const std::string& text) {
    st.rows[slot].said = text;
    const std::string state = autoStateText(st.run.slot(slot).autoState.state);
    const char* gap = state.empty() || text.empty() ? "" : kStateGap;
    setWindowText(st.slotItem(slot, kSlotStatus), state + gap + text);
}

void clearRow(Station& st, size_t slot) {
    const AutoState state = st.rows[slot].autoState;
    st.rows[slot] = RowShown{0, std::string(), std::string(), state};
    showStatus(st, slot, "");
    progressSetPos(st.slotItem(slot, kSlotProgress), 0);
    showResult(st, slot, "0%", kNoColour);
}

void followRow(Station& st, size_t slot) {
    const StationSlot& s = st.run.slot(slot);
    const bool armed = s.autoState.state != AutoState::Off;
    enableWindow(st.slotItem(slot, kSlotStart), !s.running && !armed);
    enableWindow(st.slotItem(slot, kSlotPort), !st.locked && !s.running && !armed);
    enableWindow(st.slotItem(slot, kSlotAuto), armed || !s.running);
}

void Station::slotEvent(size_t slot, const Json&) {
    const StationSlot& s = run.slot(slot);
    RowShown& shown = rows[slot];
    if (s.status != shown.status) {
        shown.status = s.status;
        showStatus(*this, slot, s.status);
    }
    // Held at 100 for a file that grew while it was sent.
    const uint64_t sent = std::min(s.sent, s.total);
    const int percent = s.total ? int(sent * 100 / s.total) : 0;
    if (percent != shown.percent) {
        shown.percent = percent;
        progressSetPos(slotItem(slot, kSlotProgress), percent);
        showResult(*this, slot, std::to_string(percent) + "%", kNoColour);
    }
}

void Station::slotRetrying(size_t slot) {
    const StationSlot& s = run.slot(slot);
    rows[slot] = RowShown{};
    showStatus(*this, slot,
               "再試行 (" + std::to_string(s.attempt + 1) + "回目): " + failureText(s.end));
}

void Station::sumLearned(const std::string& sum) {
    setWindowText(item(IDC_ST_EXPECT), sum);
}

void Station::slotEnded(size_t slot) {
    const StationSlot& s = run.slot(slot);
    const EndInfo& end = s.end;
    const bool ok = end.result == SlotResult::Ok && s.recorded;
    if (ok) {
        progressSetPos(slotItem(slot, kSlotProgress), 100);
        const std::string nth = s.attempt > 1 ? " (" + std::to_string(s.attempt) + "回目)" : "";
        showResult(*this, slot, "OK " + s.sum + nth, kOkColour);
        showStatus(*this, slot, "完了 " + std::to_string(int(end.seconds + 0.5)) + "秒");
    } else if (!s.recorded) {
        showResult(*this, slot, "NG 記録不可", kNgColour);
        showStatus(*this, slot, "ログに記録できませんでした: " + s.start.log->path());
    } else {
        showResult(*this, slot, "NG " + ngWords(end, s.start.port, s.vanished), kNgColour);
        const std::string where =
            s.vanished && !end.step.empty() ? " [" + stepName(end.step) + "]" : "";
        showStatus(*this, slot, failureText(end) + where);
    }
    if (!stopping) sounds.play(ok ? kOkSound : kNgSound);
    followRow(*this, slot);
    unitRowEnded(*this, slot);
}
