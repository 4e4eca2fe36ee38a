// An armed slot's steps against a fake clock: an adapter that chatters on its way in and out
// gives one job per insertion, and only once it has settled.
#include "station/auto_slot.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kDebounce = 500ms;

// A slot and its fake clock; each call is the port as the watch would report it.
struct Slot {
    AutoSlotState state{AutoState::Waiting, {}};
    Clock::time_point now{};
    int starts = 0, aborts = 0;

    void see(bool present, std::chrono::milliseconds after) {
        now += after;
        const AutoStep step = autoStep(state, present, now, kDebounce);
        // A recheck is never due before the step that asked for it.
        if (step.recheckAt) {
            EXPECT_GT(*step.recheckAt, now);
        }
        state = step.next;
        starts += step.action == AutoAction::Start;
        aborts += step.action == AutoAction::Abort;
    }
    // Bounces: `times` short presences and absences, none as long as the debounce.
    void chatter(int times) {
        for (int i = 0; i < times; ++i) {
            see(true, 20ms);
            see(false, 40ms);
        }
    }
};

TEST(AutoSlot, ThousandChatteringInsertionsAreThousandJobs) {
    Slot slot;
    for (int cycle = 0; cycle < 1000; ++cycle) {
        slot.chatter(5);
        slot.see(true, 10ms);
        slot.see(true, 499ms);  // not yet settled
        ASSERT_EQ(slot.state.state, AutoState::Detected) << cycle;
        slot.see(true, 1ms);
        ASSERT_EQ(slot.starts, cycle + 1);
        slot.see(true, 300ms);  // the job runs; nothing starts it again
        slot.state = autoJobEnded(slot.state, slot.now);
        // Dropouts of the device still in its socket start nothing, however many.
        for (int i = 0; i < 3; ++i) {
            slot.see(false, 100ms);
            slot.see(true, 50ms);
        }
        slot.see(true, 2s);
        ASSERT_EQ(slot.state.state, AutoState::Remove);
        slot.chatter(5);
        slot.see(false, 10ms);
        slot.see(false, 500ms);
        ASSERT_EQ(slot.state.state, AutoState::Waiting) << cycle;
    }
    EXPECT_EQ(slot.starts, 1000);
    EXPECT_EQ(slot.aborts, 0);
}

TEST(AutoSlot, DeviceGoneMidJobIsAnAbortAndTheSlotArmsOnlyAfterItStaysAway) {
    Slot slot;
    slot.see(true, 0ms);
    EXPECT_EQ(slot.state.state, AutoState::Detected);
    slot.see(true, kDebounce);
    ASSERT_EQ(slot.starts, 1);
    slot.see(false, 100ms);
    EXPECT_EQ(slot.aborts, 1);
    EXPECT_EQ(slot.state.state, AutoState::Writing);  // until its job has ended
    slot.state = autoJobEnded(slot.state, slot.now);
    slot.see(false, 0ms);
    EXPECT_EQ(slot.state.state, AutoState::Leaving);
    slot.see(true, 100ms);  // back too soon: the same insertion
    slot.see(true, 5s);
    EXPECT_EQ(slot.starts, 1);
    slot.see(false, 0ms);
    slot.see(false, kDebounce);
    slot.see(true, 0ms);
    slot.see(true, kDebounce);
    EXPECT_EQ(slot.starts, 2);
}

TEST(AutoSlot, ZeroDebounceStartsAtOnceAndWordsMatchTheWindow) {
    AutoStep step = autoStep({AutoState::Waiting, {}}, true, Clock::time_point{} + 1s, 0ms);
    EXPECT_EQ(step.action, AutoAction::Start);
    EXPECT_STREQ(autoStateText(AutoState::Waiting), "待機");
    EXPECT_STREQ(autoStateText(AutoState::Detected), "検出");
    EXPECT_STREQ(autoStateText(AutoState::Writing), "書込み中");
    EXPECT_STREQ(autoStateText(AutoState::Leaving), autoStateText(AutoState::Remove));
    EXPECT_STREQ(autoStateText(AutoState::Remove), "取り外してください");
    // A slot started by hand never starts by itself.
    step = autoStep({AutoState::Off, {}}, true, Clock::time_point{} + 1s, 0ms);
    EXPECT_EQ(step.action, AutoAction::None);
}

}  // namespace
