#include "station/station_run.h"

#include <algorithm>
#include <csignal>

#include "platform/serial.h"

namespace {

using Clock = std::chrono::steady_clock;

// While stopping, the queue is looked at this often for children that have ended.
constexpr std::chrono::milliseconds kStopPoll{50};
// The queue's index of an item for every armed slot.
constexpr size_t kEveryArmedSlot = size_t(-1);

}  // namespace

// The queue's item that starts a slot's retry, from the retry clock.
constexpr const char* kRetryDueEvent = "retry-due";
// The queue's items of armed slots: their ports may have come or gone (from the watch), a
// debounce ran out (from the timer clock), a job asked to stop for its removal is due its kill.
constexpr const char* kPresenceEvent = "presence";
constexpr const char* kAutoCheckEvent = "auto-check";
constexpr const char* kRemovalKillEvent = "removal-kill";

bool retryMends(const EndInfo& end, bool retrySum) {
    switch (end.result) {
        case SlotResult::Ok:
        case SlotResult::Interrupted:
            return false;
        case SlotResult::SumMismatch:
        case SlotResult::SumUnreadable:
            return retrySum;
        case SlotResult::Failed:
            break;
    }
    if (end.step.empty() || end.step == jobstep::kOpen) return false;
    return end.reason.find("data file changed") == std::string::npos;
}

std::string correctsText(const std::string& id) {
    return " (corrects record " + id + ")";
}

void markSumMismatch(EndInfo& end, const std::string& reason) {
    end.result = SlotResult::SumMismatch;
    end.exit = kExitSumsWrong;
    end.step = "sb";
    end.reason = reason;
}

StationRun::StationRun(size_t slots, std::string program, bool childErrors)
    : program_(std::move(program)),
      childErrors_(childErrors),
      slots_(slots),
      jobs_(slots),
      endSeen_(slots, false),
      told_(slots, false),
      armed_(slots),
      nextUnits_(slots),
      debounce_(slots, kDefaultDebounce) {}

StationRun::~StationRun() {
    watch_.reset();  // its thread queues no more
    {
        std::lock_guard<std::mutex> g(inbox_->m);
        closing_ = true;
    }
    inbox_->cv.notify_all();
    if (timerThread_.joinable()) timerThread_.join();
    for (auto& job : jobs_)
        if (job && job->started()) job->terminate();
    jobs_.clear();  // each waited for, after its grace; the readers joined
}

bool StationRun::anyRunning() const {
    return std::any_of(slots_.begin(), slots_.end(),
                       [](const StationSlot& s) { return s.running; });
}

std::optional<SameDevice> sameDevice(std::vector<std::pair<size_t, std::string>> taken,
                                     const std::vector<std::pair<size_t, std::string>>& ports) {
    for (const auto& [index, port] : ports) {
        if (port.empty()) continue;
        const std::string device = portIdentity(port);
        for (const auto& [other, dev] : taken)
            if (dev == device) return SameDevice{other, index, device};
        taken.emplace_back(index, device);
    }
    return std::nullopt;
}

std::optional<SameDevice> StationRun::sameDevice(
    const std::vector<std::pair<size_t, std::string>>& ports) const {
    std::vector<std::pair<size_t, std::string>> taken;
    for (size_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].running) taken.emplace_back(i, slots_[i].device);
    return ::sameDevice(std::move(taken), ports);
}

double StationRun::secondsOf(const StationSlot& s) const {
    return std::chrono::duration<double>(Clock::now() - s.started).count();
}

bool StationRun::start(size_t index, SlotStart start, StationView& view) {
    StationSlot& s = slots_.at(index);
    if (start.unitRequired && start.unit.empty()) return false;
    const AutoSlotState armedState = s.autoState;
    s = StationSlot{};
    s.autoState = armedState;
    s.start = std::move(start);
    s.device = s.start.port.empty() ? std::string() : portIdentity(s.start.port);
    launch(index, view);
    return true;
}

// The slot's job (its attempt s.attempt) started afresh.
void StationRun::launch(size_t index, StationView& view) {
    StationSlot& s = slots_[index];
    s.started = Clock::now();
    s.dataStarted = {};
    s.status.clear();
    s.step.clear();
    s.sent = s.total = 0;
    s.sum.clear();
    s.end = EndInfo{};
    s.vanished = s.final = s.recorded = s.retryDue = s.removed = false;
    s.expectedUsed.clear();
    s.running = true;
    endSeen_[index] = false;
    told_[index] = false;
    jobs_[index] = std::make_unique<SlotJob>();
    // The child is given the record's id and the log: should this program end before the
    // device's record is written, the child writes that record, and never a second one.
    s.recordId = s.start.log ? newRecordId() : std::string();
    int err = 0;
    if (!s.start.port.empty()) {
        SlotJobExtras extras;
        if (s.start.log) extras = {s.start.log->path(), s.recordId, s.start.dataSha256, ""};
        if (s.start.rule == SumRule::Expected) extras.expectSum = s.start.expectSum;
        extras.attempt = s.attempt;
        extras.unit = s.start.unit;
        extras.rework = s.start.rework;
        err = jobs_[index]->start(
            slotJobArgs(program_, s.start.port, s.start.dataPath, s.start.flags, extras),
            !childErrors_, [this, index](const std::optional<Json>& event) {
                {
                    std::lock_guard<std::mutex> g(inbox_->m);
                    inbox_->items.emplace_back(index, event);
                }
                inbox_->cv.notify_all();
                if (wake_) wake_(index);
            });
        if (err == 0) return;
    }
    // Never started: ended here, at the open.
    s.end.step = "open";
    s.end.seconds = secondsOf(s);
    s.end.reason =
        s.start.port.empty() ? "no port chosen" : "cannot start the job: " + systemErrorText(err);
    endSeen_[index] = true;
    s.final = true;
    record(s, std::string());
    s.running = false;
    tell(index, view);
}

void StationRun::pump(StationView& view) {
    std::deque<std::pair<size_t, std::optional<Json>>> batch;
    {
        std::lock_guard<std::mutex> g(inbox_->m);
        batch.swap(inbox_->items);
    }
    for (const auto& [index, event] : batch) {
        if (index != kEveryArmedSlot) {
            take(index, event, view);
            continue;
        }
        for (size_t i = 0; i < slots_.size(); ++i) look(i, view);
    }
}

void StationRun::waitAndPump(std::chrono::milliseconds timeout, StationView& view) {
    {
        std::unique_lock<std::mutex> g(inbox_->m);
        inbox_->cv.wait_for(g, timeout, [this] { return !inbox_->items.empty(); });
    }
    pump(view);
}

void StationRun::take(size_t index, const std::optional<Json>& event, StationView& view) {
    StationSlot& s = slots_.at(index);
    const std::string item = event ? eventText(*event, "event") : std::string();
    if (item == kPresenceEvent || item == kAutoCheckEvent) {
        look(index, view);
        return;
    }
    if (!s.running) return;
    if (item == kRemovalKillEvent) {
        if (s.removed && jobs_[index]) jobs_[index]->kill();
        return;
    }
    if (item == kRetryDueEvent) {
        if (!s.retryDue) return;
        ++s.attempt;
        launch(index, view);
        return;
    }
    if (!event) {
        jobEnded(index, view);
        return;
    }
    const std::string kind = eventText(*event, "event");
    if (kind == "status") {
        s.status = eventText(*event, "text");
    } else if (kind == "step") {
        s.step = eventText(*event, "step");
    } else if (kind == "progress") {
        s.sent = event->value("sent", uint64_t(0));
        s.total = event->value("total", uint64_t(0));
        if (s.dataStarted == Clock::time_point{}) s.dataStarted = Clock::now();
    } else if (kind == "sum") {
        s.sum = eventText(*event, "sum");
    } else if (kind == "end") {
        // Recorded now, not when the child has gone: a parent ended in between would lose it.
        if (endSeen_[index] || !readEndInfo(*event, s.end)) return;
        endSeen_[index] = true;
        markRemoved(s);
        settle(s, view);
        return;
    } else {
        return;
    }
    view.slotEvent(index, *event);
}

void StationRun::jobEnded(size_t index, StationView& view) {
    StationSlot& s = slots_[index];
    const int status = jobs_[index]->finish();
    if (!endSeen_[index]) {
        // Killed, crashed, or stopped by us before it could tell: at the step it last told.
        endSeen_[index] = true;
        s.vanished = true;
        s.end = vanishedEnd(status, secondsOf(s), stopSignal_ != 0, stopSignal_, s.step);
        markRemoved(s);
        settle(s, view);
    }
    if (s.retryDue) {
        later(index, Clock::now() + kRetryDelay, kRetryDueEvent);
        view.slotRetrying(index);
        return;
    }
    s.running = false;
    tell(index, view);
}

void StationRun::judge(StationSlot& s, StationView& view) {
    s.final = true;
    // The child judges an expected sum itself (so that its own record, if it writes one, is the
    // same): its end may be a mismatch already.
    if (s.start.rule == SumRule::Expected) s.expectedUsed = s.start.expectSum;
    if (s.end.result != SlotResult::Ok) return;
    std::string expected;
    switch (s.start.rule) {
        case SumRule::None:
            return;
        case SumRule::Majority:
            s.final = false;
            return;
        case SumRule::Expected:
            expected = s.start.expectSum;
            break;
        case SumRule::FirstDevice:
            if (learnedSum_.empty() && !s.sum.empty()) {
                learnedSum_ = s.sum;
                view.sumLearned(learnedSum_);
            }
            expected = learnedSum_;
            break;
    }
    if (expected.empty()) return;
    s.expectedUsed = expected;
    if (!sameSum(s.sum, expected))
        markSumMismatch(s.end, "sum " + s.sum + ", expected " + expected);
}

void StationRun::settle(StationSlot& s, StationView& view) {
    judge(s, view);
    s.retryDue = s.final && stopSignal_ == 0 && !s.removed && s.attempt <= s.start.retries &&
                 retryMends(s.end, s.start.retrySum);
    if (s.retryDue) s.end.reason += kRetriedReason;
    record(s, std::string());
}

void StationRun::later(size_t index, Clock::time_point at, const char* kind) {
    {
        std::lock_guard<std::mutex> g(inbox_->m);
        timers_.push_back({at, index, kind});
    }
    inbox_->cv.notify_all();
    if (!timerThread_.joinable()) timerThread_ = std::thread([this] { timerClock(); });
}

void StationRun::timerClock() {
    std::unique_lock<std::mutex> g(inbox_->m);
    while (!closing_) {
        if (timers_.empty()) {
            inbox_->cv.wait(g);
            continue;
        }
        const auto next = std::min_element(timers_.begin(), timers_.end());
        // A copy: the wait lets other threads add timers, which may move the vector's items.
        const Clock::time_point at = next->at;
        if (Clock::now() < at) {
            inbox_->cv.wait_until(g, at);
            continue;
        }
        const Timer due = *next;
        timers_.erase(next);
        inbox_->items.emplace_back(due.index, Json{{"event", due.kind}});
        inbox_->cv.notify_all();
        g.unlock();
        if (wake_) wake_(due.index);
        g.lock();
    }
}

void StationRun::queue(size_t index, Json item) {
    {
        std::lock_guard<std::mutex> g(inbox_->m);
        inbox_->items.emplace_back(index, std::move(item));
    }
    inbox_->cv.notify_all();
    if (wake_) wake_(index == kEveryArmedSlot ? 0 : index);
}

void StationRun::arm(size_t index, SlotStart start, std::chrono::milliseconds debounce,
                     StationView& view) {
    StationSlot& s = slots_.at(index);
    armed_[index] = start;
    debounce_[index] = debounce;
    if (!s.running) s.start = std::move(start);
    // Armed while a job of its own runs (started by hand, or of an earlier arming): that job is
    // this device's, which must go before the next.
    s.autoState = {s.running ? AutoState::Writing : AutoState::Waiting, Clock::now()};
    if (!watch_)
        watch_ = std::make_unique<PortWatch>([this] {
            queue(kEveryArmedSlot, Json{{"event", kPresenceEvent}});
        });
    watch_->add(armed_[index].port);
    view.slotStateChanged(index);
    look(index, view);
}

void StationRun::disarm(size_t index, StationView& view) {
    StationSlot& s = slots_.at(index);
    if (s.autoState.state == AutoState::Off) return;
    // Its debounce timers, still queued, find it Off and do nothing.
    s.autoState = {AutoState::Off, Clock::now()};
    view.slotStateChanged(index);
}

// An armed slot looks at its port: what the device did since decides its next state.
void StationRun::look(size_t index, StationView& view) {
    StationSlot& s = slots_.at(index);
    if (s.autoState.state == AutoState::Off || stopSignal_ != 0) return;
    const AutoState before = s.autoState.state;
    AutoStep step =
        autoStep(s.autoState, portPresent(armed_[index].port), Clock::now(), debounce_[index]);
    // A settled device whose unit id is not scanned yet stays detected: the scan looks again.
    if (step.action == AutoAction::Start && armed_[index].unitRequired &&
        nextUnits_[index].unit.empty())
        step = AutoStep{s.autoState, AutoAction::None, std::nullopt};
    s.autoState = step.next;
    if (step.recheckAt) later(index, *step.recheckAt, kAutoCheckEvent);
    // Leaving looks as Remove does: the operator is told of what they see change only.
    if (std::string(autoStateText(step.next.state)) != autoStateText(before))
        view.slotStateChanged(index);
    if (step.action == AutoAction::Start) {
        // Each device its own id: the one scanned goes with this job alone.
        SlotStart job = armed_[index];
        job.unit = std::move(nextUnits_[index].unit);
        job.rework = nextUnits_[index].rework;
        nextUnits_[index] = NextUnit{};
        start(index, std::move(job), view);
    }
    if (step.action == AutoAction::Abort) portGone(index, view);
}

void StationRun::setNextUnit(size_t index, std::string unit, bool rework, StationView& view) {
    nextUnits_.at(index) = NextUnit{std::move(unit), rework};
    look(index, view);
}

// The device of a running slot went: its job is stopped (killed after kStopGrace) and ends
// failed; a retry not yet begun never begins, and that attempt is recorded too.
void StationRun::portGone(size_t index, StationView& view) {
    StationSlot& s = slots_[index];
    if (!s.running || s.removed) return;
    s.removed = true;
    if (!s.retryDue) {
        if (jobs_[index]) jobs_[index]->terminate();
        later(index, Clock::now() + kStopGrace, kRemovalKillEvent);
        return;
    }
    ++s.attempt;
    s.retryDue = false;
    s.end = EndInfo{};
    s.end.reason = std::string(kRemovedReason) + " before its retry began";
    s.recordId = s.start.log ? newRecordId() : std::string();
    s.sum.clear();
    s.final = true;
    record(s, std::string());
    s.running = false;
    tell(index, view);
}

// A job that did not end well while its device is gone ended for that: its reason says so (the
// child saw a line that broke, or our stop), and names a device left erased.
void StationRun::markRemoved(StationSlot& s) {
    if (s.autoState.state != AutoState::Writing) return;
    if (!s.removed && (s.end.result == SlotResult::Ok || portPresent(s.start.port))) return;
    s.removed = true;
    std::string cause = s.end.result == SlotResult::Failed ? s.end.reason : std::string();
    if (const size_t erased = cause.find(kErasedReason); erased != std::string::npos)
        cause.erase(erased);
    if (s.end.step.empty()) s.end.step = s.step;
    s.end.result = SlotResult::Failed;
    s.end.exit = kExitSomeFailed;
    s.end.reason = std::string(kRemovedReason) + (cause.empty() ? "" : " (" + cause + ")") +
                   (erasedByStep(s.end.step) ? kErasedReason : "");
}

void StationRun::record(StationSlot& s, const std::string& correcting) {
    if (!s.start.log) {
        s.recorded = true;
        return;
    }
    SlotRecordInfo info{correcting.empty() ? s.recordId : newRecordId(),
                        s.start.dataPath,
                        s.start.dataSha256,
                        s.start.dataBytes,
                        std::string(),
                        s.expectedUsed,
                        s.attempt,
                        s.start.unit,
                        s.start.rework};
    for (const std::string& flag : s.start.flags)
        info.options += (info.options.empty() ? "" : " ") + flag;
    LogRecord r = slotRecord(s.start.port, s.end, s.sum, info);
    if (!correcting.empty()) r.reason += correctsText(correcting);
    // The first record may be the child's already, when it took this program for gone.
    const int err = correcting.empty() ? s.start.log->appendOnce(r) : s.start.log->append(r);
    s.recorded = err == 0;
    if (!s.recorded) recordLost_ = true;
}

void StationRun::tell(size_t index, StationView& view) {
    const StationSlot& s = slots_[index];
    if (told_[index] || s.running || !s.final) return;
    told_[index] = true;
    view.slotEnded(index);
    if (s.autoState.state != AutoState::Writing) return;
    slots_[index].autoState = autoJobEnded(s.autoState, Clock::now());
    view.slotStateChanged(index);
    look(index, view);
}

void StationRun::stopAll(int signal, StationView& view) {
    stopSignal_ = signal;
    for (size_t i = 0; i < slots_.size(); ++i) {
        StationSlot& s = slots_[i];
        if (s.running && s.retryDue) {
            // The retry its record announced never begins: that attempt is recorded too.
            ++s.attempt;
            s.retryDue = false;
            s.end = interruptedEnd(std::string(), 0, signal);
            s.end.reason += " before its retry began";
            s.recordId = s.start.log ? newRecordId() : std::string();
            s.sum.clear();
            s.final = true;
            record(s, std::string());
            s.running = false;
            tell(i, view);
        } else if (s.running && jobs_[i]) {
            jobs_[i]->terminate();
        }
    }
    const auto deadline = Clock::now() + kStopGrace;
    bool killed = false;
    while (anyRunning()) {
        if (!killed && Clock::now() >= deadline) {
            killed = true;
            for (size_t i = 0; i < slots_.size(); ++i)
                if (slots_[i].running && jobs_[i]) jobs_[i]->kill();
        }
        waitAndPump(kStopPoll, view);
    }
}

void StationRun::finishRun(StationView& view) {
    std::vector<SlotOutcome> verdicts = outcomes();
    applySumVerdicts(verdicts, std::string());
    for (size_t i = 0; i < slots_.size(); ++i) {
        StationSlot& s = slots_[i];
        if (s.final || s.running) continue;
        s.final = true;
        if (verdicts[i].result == SlotResult::SumMismatch) {
            markSumMismatch(s.end, "sum " + s.sum + " differs from the other devices'");
            record(s, s.recordId);
        }
        tell(i, view);
    }
}

std::vector<SlotOutcome> StationRun::outcomes() const {
    std::vector<SlotOutcome> out;
    for (const StationSlot& s : slots_) out.push_back({s.end.result, s.sum});
    return out;
}
