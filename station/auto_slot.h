// A slot that starts by itself when its device is plugged in. What it does next depends on its
// state, whether its port is present and the time alone: a pure function, so that an adapter's
// chatter can be played against it under any clock.
#pragma once

#include <chrono>
#include <optional>

// A device must stay present this long before its job starts: a plug that bounces, or udev
// making a node and then its links, starts nothing until it has settled.
constexpr std::chrono::milliseconds kDefaultDebounce{500};
// The longest debounce a station accepts; a minute of waiting is a mistake, not a choice.
constexpr std::chrono::milliseconds kMaxDebounce{60000};

enum class AutoState {
    Off,       // started by hand only
    Waiting,   // 待機: no device
    Detected,  // 検出: a device, not yet present for the debounce time
    Writing,   // 書込み中: its job runs (or waits for its retry)
    Remove,    // 取り外してください: the job is over; the device must go before the next
    Leaving,   // 取り外してください still: gone, but not yet for the debounce time
};

// The operator's words for a state; "" for Off.
const char* autoStateText(AutoState state);
// The state's name in events: "waiting", "detected", "writing", "remove"; "" for Off.
const char* autoStateName(AutoState state);

struct AutoSlotState {
    AutoState state = AutoState::Off;
    std::chrono::steady_clock::time_point since{};  // of the presence (or absence) being timed
};

enum class AutoAction {
    None,
    Start,  // the device settled: start its job
    Abort,  // the device went while its job ran
};

struct AutoStep {
    AutoSlotState next;
    AutoAction action = AutoAction::None;
    // Look again at this time even when nothing is heard of the port: a debounce runs out.
    std::optional<std::chrono::steady_clock::time_point> recheckAt;
};

// The slot's next state on what it sees of its port now.
AutoStep autoStep(const AutoSlotState& current, bool present,
                  std::chrono::steady_clock::time_point now, std::chrono::milliseconds debounce);

// A job's end: the device must be taken away before the slot arms again, whether or not it is
// still there (autoStep says).
AutoSlotState autoJobEnded(const AutoSlotState& current, std::chrono::steady_clock::time_point now);
