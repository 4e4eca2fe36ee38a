// A station's run: several devices written at once, each by a child process of the
// single-device job (a crash or a hang stays in its slot; the system frees its port and lock).
// The rules every front end shares live here once: two slots never on one device, the sum
// verdicts (expected, first device, majority), each device's record the moment its outcome is
// known, the stop of every slot and its interrupted end. The command line's table and lines and
// the station window are views of it.
//
// The run is driven from one thread, its owner's: the children's events are queued by their
// reader threads and taken by pump() (or waitAndPump()), which tells the view.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/port_watch.h"
#include "station/auto_slot.h"
#include "station/events.h"
#include "station/log.h"
#include "station/slot_job.h"
#include "station/verdict.h"

// Most retries a slot may be given.
constexpr int kMaxRetries = 9;
// A job that failed in a way a retry can mend is run again this long after its end: the device
// gets a moment to settle, the operator to see it.
constexpr std::chrono::milliseconds kRetryDelay{1000};
// The words a record's reason ends with when its job is run again: the device's final record is
// a later attempt's.
constexpr const char* kRetriedReason = "; retried";
// The reason of a job whose device went while it wrote (or before its retry began).
constexpr const char* kRemovedReason = "the device was removed";

// Whether running the job again can mend its end: a failure after the port was opened (no
// answer, the line lost, a crash) can; a port missing or held cannot (it fails at the open), nor
// an interruption, nor a data file that changed; a sum that differs or cannot be read only
// with `retrySum`, since a retry would hide a device that writes wrongly.
bool retryMends(const EndInfo& end, bool retrySum);

// How a slot's sum is judged.
enum class SumRule {
    None,         // not at all: a device that wrote its data is ok
    Expected,     // against SlotStart::expectSum, at the slot's end
    FirstDevice,  // the first good device's sum becomes the expected one for every later slot
    Majority,     // against the sum most slots of the run gave, at the run's end (finishRun)
};

// What a slot was started with. Its verdict and its record use this alone, whatever the
// operator changes while it writes.
struct SlotStart {
    std::string port;  // as given; empty for none chosen
    std::string dataPath;
    std::string dataSha256;  // taken at start; the job's own, of the bytes it sent, is recorded
    uint64_t dataBytes = 0;
    std::vector<std::string> flags;  // the settings flags the job is given
    SumRule rule = SumRule::None;
    std::string expectSum;         // with SumRule::Expected
    std::shared_ptr<LogFile> log;  // null: no record is kept
    int retries = 0;               // jobs run again after an end a retry can mend (retryMends)
    bool retrySum = false;
    std::string unit{};         // the device's unit id (station/unit.h), checked by the front end
    bool rework = false;        // its unit was recorded ok and the operator confirmed a rework
    bool unitRequired = false;  // the slot never starts without a unit
};

// A slot as the views read it.
struct StationSlot {
    SlotStart start;
    std::string device;    // the device its port reaches
    bool running = false;  // its job not yet over (or its verdict not final)
    std::string status;    // the job's last status text
    std::string step;      // the last step it reported
    uint64_t sent = 0, total = 0;
    std::chrono::steady_clock::time_point started{}, dataStarted{};
    std::string sum;           // as the device answered; empty when none was read
    EndInfo end;               // once the job is over; its verdict once final
    bool vanished = false;     // its job ended without telling how (killed, crashed)
    bool final = false;        // its verdict can change no more
    bool recorded = false;     // its (last) record is on the disk
    std::string recordId;      // its first record
    std::string expectedUsed;  // the expected sum its verdict used; empty for none
    int attempt = 1;           // its job's attempt at the device
    bool retryDue = false;     // its job ended and runs again after kRetryDelay
    AutoSlotState autoState;   // Off unless armed: see arm()
    bool removed = false;      // its device went while its job ran
};

// Two slots that would reach one device.
struct SameDevice {
    size_t first = 0, second = 0;
    std::string device;
};

// The first two of `ports` (slot, port) that reach one device, or one that reaches a device
// of `taken` (slot, device).
std::optional<SameDevice> sameDevice(std::vector<std::pair<size_t, std::string>> taken,
                                     const std::vector<std::pair<size_t, std::string>>& ports);

class StationView {
  public:
    virtual ~StationView() = default;
    // An event of a slot's job (status, step, progress, sum), after the slot took it in.
    virtual void slotEvent(size_t slot, const Json& event) = 0;
    // A slot's verdict is final and recorded (or its record lost: !recorded).
    virtual void slotEnded(size_t slot) = 0;
    // The first good device's sum, now expected of every later slot with SumRule::FirstDevice.
    virtual void sumLearned(const std::string&) {}
    // A slot's job ended (recorded) and runs again, as attempt slot.attempt + 1, in a moment.
    virtual void slotRetrying(size_t) {}
    // An armed slot's state (slot.autoState) changed.
    virtual void slotStateChanged(size_t) {}
};

class StationRun {
  public:
    // `program` is the single-device job's program; its errors go to the null device unless
    // `childErrors`.
    StationRun(size_t slots, std::string program, bool childErrors);
    StationRun(const StationRun&) = delete;
    StationRun& operator=(const StationRun&) = delete;
    // Slots still running are stopped as an interrupt would (SIGTERM), without telling a view.
    ~StationRun();

    // Called from a reader thread with the slot each time its child has something new (the
    // window posts itself a command); may be empty. Set before the first start.
    void onWake(std::function<void(size_t slot)> wake) { wake_ = std::move(wake); }

    size_t size() const { return slots_.size(); }
    const StationSlot& slot(size_t i) const { return slots_.at(i); }
    bool anyRunning() const;
    const std::string& learnedSum() const { return learnedSum_; }
    // Two of `ports` (slot, port), or one of them and a running slot, on one device.
    std::optional<SameDevice> sameDevice(
        const std::vector<std::pair<size_t, std::string>>& ports) const;

    // Starts the slot's job. A slot without a port, or whose job cannot be started, ends at
    // once (told to the view, recorded as failed at "open"). False, and the slot left as it
    // was, when it requires a unit and `start` has none: no job, no record.
    bool start(size_t slot, SlotStart start, StationView& view);
    // The slot starts `start` by itself each time its port's device is plugged in and has stayed
    // for `debounce`; after the job it waits for the device to go (for `debounce` too) before it
    // arms again: one insertion, one job. A device gone mid-job ends it failed within
    // kStopGrace, its reason kRemovedReason. Retries, verdicts and records are as for start().
    void arm(size_t slot, SlotStart start, std::chrono::milliseconds debounce, StationView& view);
    // The slot starts by hand only again; a job it runs goes on to its end, and a device pulled
    // out meanwhile is no longer noticed.
    void disarm(size_t slot, StationView& view);
    // An armed slot's next device's unit id, scanned before or while the device is in: its job
    // takes it (and a job of a slot armed with unitRequired waits for one). Replaces an id not
    // yet taken; checking it is the caller's.
    void setNextUnit(size_t slot, std::string unit, bool rework, StationView& view);
    // The id the armed slot's next job takes; empty when none waits.
    const std::string& nextUnit(size_t slot) const { return nextUnits_.at(slot).unit; }
    // Takes every event queued so far.
    void pump(StationView& view);
    // Waits up to `timeout` for events, then takes them.
    void waitAndPump(std::chrono::milliseconds timeout, StationView& view);
    // Every running slot asked to stop as `signal` would, ended after kStopGrace, each recorded
    // as the child told or as interrupted at its last step.
    void stopAll(int signal, StationView& view);
    // With every slot's job over: the majority verdicts. A good device already recorded whose
    // sum differs gets a second record, sum-mismatch, whose reason names the first.
    void finishRun(StationView& view);

    // Each slot's result and sum, for the exit status.
    std::vector<SlotOutcome> outcomes() const;
    // A device written without its record: no success.
    bool anyRecordLost() const { return recordLost_; }

  private:
    struct Inbox {
        std::mutex m;
        std::condition_variable cv;
        std::deque<std::pair<size_t, std::optional<Json>>> items;
    };

    void take(size_t index, const std::optional<Json>& event, StationView& view);
    void launch(size_t index, StationView& view);
    void later(size_t index, std::chrono::steady_clock::time_point at, const char* kind);
    void timerClock();
    void queue(size_t index, Json item);
    void look(size_t index, StationView& view);
    void portGone(size_t index, StationView& view);
    void markRemoved(StationSlot& s);
    void jobEnded(size_t index, StationView& view);
    void judge(StationSlot& s, StationView& view);
    void settle(StationSlot& s, StationView& view);
    void record(StationSlot& s, const std::string& correcting);
    void tell(size_t index, StationView& view);
    double secondsOf(const StationSlot& s) const;

    std::string program_;
    bool childErrors_;
    std::vector<StationSlot> slots_;
    std::vector<std::unique_ptr<SlotJob>> jobs_;
    std::vector<bool> endSeen_;  // the slot's job sent its end event
    std::vector<bool> told_;     // the view was told its end
    bool recordLost_ = false;
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
    std::function<void(size_t)> wake_;
    std::string learnedSum_;
    int stopSignal_ = 0;  // once stopAll was asked
    // Retries and debounces come due on a thread of their own, as an item in the queue: the
    // window has no other clock than its posted commands.
    struct Timer {
        std::chrono::steady_clock::time_point at;
        size_t index;
        const char* kind;
        bool operator<(const Timer& o) const { return at < o.at; }
    };
    std::vector<Timer> timers_;
    bool closing_ = false;  // under the queue's lock, like timers_
    std::thread timerThread_;
    // Armed slots: what each starts, how long its device must stay, and the watch of their ports.
    std::vector<SlotStart> armed_;
    struct NextUnit {
        std::string unit;
        bool rework = false;
    };
    std::vector<NextUnit> nextUnits_;
    std::vector<std::chrono::milliseconds> debounce_;
    std::unique_ptr<PortWatch> watch_;
};

// The words a correcting record's reason ends with: the id of the record it corrects. A reader
// takes the last record of a device's job as its final one.
std::string correctsText(const std::string& id);

// "sum 1A2B differs from the other devices'" and the like: the reason a verdict gives.
void markSumMismatch(EndInfo& end, const std::string& reason);
