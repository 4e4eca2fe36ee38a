#include "station/auto_slot.h"

const char* autoStateText(AutoState state) {
    switch (state) {
        case AutoState::Off:
            return "";
        case AutoState::Waiting:
            return "待機";
        case AutoState::Detected:
            return "検出";
        case AutoState::Writing:
            return "書込み中";
        case AutoState::Remove:
        case AutoState::Leaving:
            break;
    }
    return "取り外してください";
}

const char* autoStateName(AutoState state) {
    switch (state) {
        case AutoState::Off:
            return "";
        case AutoState::Waiting:
            return "waiting";
        case AutoState::Detected:
            return "detected";
        case AutoState::Writing:
            return "writing";
        case AutoState::Remove:
        case AutoState::Leaving:
            break;
    }
    return "remove";
}

AutoStep autoStep(const AutoSlotState& current, bool present,
                  std::chrono::steady_clock::time_point now, std::chrono::milliseconds debounce) {
    AutoStep step{current, AutoAction::None, std::nullopt};
    switch (current.state) {
        case AutoState::Off:
            break;
        case AutoState::Waiting:
            if (!present) break;
            step.next = {AutoState::Detected, now};
            return autoStep(step.next, present, now, debounce);
        case AutoState::Detected:
            if (!present) {
                step.next = {AutoState::Waiting, now};
            } else if (now - current.since >= debounce) {
                step.next = {AutoState::Writing, now};
                step.action = AutoAction::Start;
            } else {
                step.recheckAt = current.since + debounce;
            }
            break;
        case AutoState::Writing:
            if (!present) step.action = AutoAction::Abort;
            break;
        case AutoState::Remove:
            if (present) break;
            step.next = {AutoState::Leaving, now};
            return autoStep(step.next, present, now, debounce);
        case AutoState::Leaving:
            // Back before it was gone long enough: the same device, still on the slot.
            if (present) {
                step.next = {AutoState::Remove, now};
            } else if (now - current.since >= debounce) {
                step.next = {AutoState::Waiting, now};
            } else {
                step.recheckAt = current.since + debounce;
            }
            break;
    }
    return step;
}

AutoSlotState autoJobEnded(const AutoSlotState& current,
                           std::chrono::steady_clock::time_point now) {
    if (current.state != AutoState::Writing) return current;
    return {AutoState::Remove, now};
}
