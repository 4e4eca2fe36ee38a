// zemtabulo-cli write with one port: the write job run on this thread, reported line by line
// (or as events with --json).
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "app/startup.h"
#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "cli/write_run.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/serial.h"
#include "writer/job.h"

namespace {

using Clock = std::chrono::steady_clock;

// The end box of the desktop program, printed as the line that ends a job.
constexpr const char* kEndCaption = "ZemScrivana";

// Terminal progress of the data phase: bytes sent, rate, time left. The phase runs from the
// status text that announces it to the next status text.
struct ProgressLine {
    bool onTerminal = false;
    bool active = false;
    bool shown = false;
    int high = 0;
    int pos = 0;
    Clock::time_point started;
    Clock::time_point lastDrawn;

    void begin() {
        active = true;
        pos = 0;
        started = Clock::now();
        draw(true);
    }
    void update(int newHigh, int newPos) {
        high = newHigh;
        pos = newPos;
        if (active) draw(false);
    }
    // Before any other output: the bar's last state, and its line ended.
    void end() {
        if (active && shown) {
            draw(true);
            std::fputc('\n', stdout);
        }
        active = shown = false;
    }

  private:
    void draw(bool force) {
        if (!onTerminal || high <= 0) return;
        auto now = Clock::now();
        if (!force && shown && now - lastDrawn < std::chrono::milliseconds(100)) return;
        lastDrawn = now;
        double secs = std::chrono::duration<double>(now - started).count();
        double rate = secs > 0.2 ? pos / secs : 0;
        int left = rate > 0 ? int((high - pos) / rate) : 0;
        const int width = 30;
        std::string bar(size_t(double(pos) / high * width), '#');
        bar.resize(width, '.');
        std::printf("\r[%s] %3d%%  %d/%d bytes  %.0f B/s  %d:%02d left ", bar.c_str(),
                    int(100.0 * pos / high), pos, high, rate, left / 60, left % 60);
        std::fflush(stdout);
        shown = true;
    }
};

// How long an interrupt waits for the end of a job whose device has answered the sum: well
// within the grace a station gives a stopped slot before it kills it.
constexpr std::chrono::milliseconds kAnsweredEndWait{500};

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The job's progress as lines on stdout, or as events with --json; its end told once, with
// its record. The job's thread reports; an interrupt may end it from another thread.
class CliJob : public JobObserver {
  public:
    CliJob(WriteRun& run, std::string port, bool onTerminal) : run_(run), port_(std::move(port)) {
        progress_.onTerminal = onTerminal;
        started_ = Clock::now();
    }

    void status(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_);
        lastStatus_ = text;
        if (finished_ || text.empty()) return;
        if (run_.events) {
            emitProgress(true);  // the data's end is told before what follows it
            // Every text in order; the open's passes may repeat one.
            if (text != lastEvent_) run_.events->emit(statusEvent(port_, text));
            lastEvent_ = text;
            return;
        }
        progress_.end();
        if (text == lastPrinted_) return;
        lastPrinted_ = text;
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        if (text == jobtext::kDataPhase) progress_.begin();
    }
    void progressRange(int32_t high) override { progressBar(high, 0); }
    void progressPos(int32_t pos) override { progressBar(high_, pos); }
    void step(const char* step) override {
        std::lock_guard<std::mutex> lock(m_);
        if (step_ == step) return;
        step_ = step;
        if (run_.events && !finished_) run_.events->emit(stepEvent(port_, step_));
    }
    void dataProgress(uint64_t sent, uint64_t total) override {
        std::lock_guard<std::mutex> lock(m_);
        sent_ = sent;
        total_ = total;
    }
    void sumRead(const std::string& text, const char* sum) override {
        std::lock_guard<std::mutex> lock(m_);
        sumAnswered_ = true;
        if (finished_) return;
        if (run_.events) {
            run_.events->emit(sumEvent(port_, sum ? sum : ""));
            return;
        }
        printBox(text, "");
    }

    // A box of the job's end, as the desktop program shows it: on a line of its own.
    void box(const std::string& text, const std::string& caption) {
        std::lock_guard<std::mutex> lock(m_);
        if (!finished_ && !run_.events) printBox(text, caption);
    }

    // Tells the end once: the end event or a line for a sum that is wrong, and the log
    // record; then the done event unless the job is one slot of several. The exit status:
    // the job's, or 1 when its record was lost.
    int end(const JobResult& result, const std::string& expectSum) {
        std::lock_guard<std::mutex> lock(m_);
        std::string sum;
        const EndInfo end = jobEndOf(result, lastStatus_, expectSum, secondsSince(started_), sum);
        // An interrupt told the end first; the program is ending there.
        if (finished_) return kExitInterrupted;
        return tell(end, sum, kParentRecordWait);
    }
    // The interrupted end at the step the job had reached; nullopt when the end was told.
    // A device that has answered the sum has done all it does, and what is left (the port's
    // close, the record) takes milliseconds: that end is waited for, here, since a closed
    // Windows console ends the program as soon as its handler returns.
    std::optional<int> interrupted(int signal, bool& erased) {
        std::unique_lock<std::mutex> lock(m_);
        if (sumAnswered_) told_.wait_for(lock, kAnsweredEndWait, [this] { return finished_; });
        if (finished_) return std::nullopt;
        erased = erasedByStep(step_);
        return tell(interruptedEnd(step_, secondsSince(started_), signal), "",
                    kInterruptedRecordWait);
    }

  private:
    // The record goes out before the end event, so that whoever reads the end finds it, except
    // in a slot whose parent records it: then after, once the parent has had the end.
    int tell(const EndInfo& end, const std::string& sum, std::chrono::milliseconds recordWait) {
        finished_ = true;
        progress_.end();
        int status = end.exit;
        const bool byParent = parentRecords(run_);
        if (!byParent && !logSlot(run_, port_, end, sum)) status = failedUnlessInterrupted(status);
        if (run_.events) {
            EndInfo told = end;
            told.exit = status;
            run_.events->emit(withUnit(endEvent(port_, told), run_.units[0], run_.reworks[0]));
            if (!run_.slotMode) run_.events->emit(doneEvent(status));
        } else if (end.result != SlotResult::Ok && end.result != SlotResult::Failed) {
            std::fprintf(stderr, "%s: %s%s%s\n", port_.c_str(), slotResultName(end.result),
                         end.reason.empty() ? "" : ": ", end.reason.c_str());
        }
        if (byParent && !recordUnlessParentDoes(run_, port_, end, sum, recordWait))
            status = failedUnlessInterrupted(status);
        told_.notify_all();
        return status;
    }
    static int failedUnlessInterrupted(int status) {
        return status == kExitInterrupted ? status : kExitSomeFailed;
    }
    void progressBar(int32_t high, int32_t pos) {
        std::lock_guard<std::mutex> lock(m_);
        high_ = high;
        if (finished_) return;
        if (run_.events) {
            emitProgress(false);
        } else {
            progress_.update(high, pos);
        }
    }
    // The data progress the job has reached, once more than what was last told.
    void emitProgress(bool force) {
        if (total_ == 0 && sent_ == 0) return;
        if (!throttle_.due(sent_, total_, force)) return;
        run_.events->emit(progressEvent(port_, sent_, total_));
    }
    void printBox(const std::string& text, const std::string& caption) {
        progress_.end();
        lastPrinted_ = text;
        if (caption.empty()) {
            std::printf("%s\n", text.c_str());
        } else {
            std::printf("[%s] %s\n", caption.c_str(), text.c_str());
        }
        std::fflush(stdout);
    }

    std::mutex m_;
    WriteRun& run_;
    const std::string port_;
    Clock::time_point started_;
    std::string lastPrinted_;  // the sum box and the status line that repeats it print once
    std::string lastEvent_;    // with --json: the last status event's text
    std::string lastStatus_;   // the status line as it stands
    std::string step_;
    uint64_t sent_ = 0, total_ = 0;
    int32_t high_ = 0;
    bool finished_ = false;         // the end told: nothing more goes out
    bool sumAnswered_ = false;      // the device's last reply is in
    std::condition_variable told_;  // the end told, its record written
    ProgressLine progress_;
    ProgressThrottle throttle_;
};

bool loadPort(const CliOptions& o, std::string& port) {
    if (!o.ports.empty()) {
        port = o.ports.front();
        return true;
    }
    const std::string dir = workingDirectory(kIniPathBufSize);
    PortConfig config;
    switch (loadConfiguration(dir, config)) {
        case StartupResult::Ready:
            port = config.portName;
            return true;
        case StartupResult::TooDeep:
            std::fprintf(stderr, "%s\n", resString(kStrWorkDirTooDeep).c_str());
            return false;
        case StartupResult::NoIniFile:
            std::fprintf(stderr, "SCI.INI cannot be created in %s\n", dir.c_str());
            return false;
    }
    return false;
}

// The port that did not open: the system's reason on stderr and what the operator can do.
void tellOpenFailure(const std::string& port, int err) {
    const std::string device = portDeviceName(port);
    if (device.empty()) {
        std::fprintf(stderr, "%s\n", portNameRefusal(port).c_str());
        return;
    }
    std::fprintf(stderr, "%s: %s\n", device.c_str(), systemErrorText(err).c_str());
    const std::string hint = openHint(err, device);
    if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
}

// The job from the open to the sum, as the desktop program's Start runs it; the end box's
// seconds on the job's clock.
JobResult runJob(CliJob& out, const CliOptions& o, const std::string& port, const WriteRun& run) {
    const uint32_t startTick = tickCount();
    JobResult result;
    if (o.data.empty()) {
        out.box(resString(kStrNoDataFile), resString(kStrAppName));
        return result;
    }
    // Not the file the parent meant: no device is touched for it.
    if (const std::string changed = changedSinceParent(run); !changed.empty()) {
        result.step = jobstep::kData;
        result.reason = changed;
        out.step(jobstep::kData);
        out.status(jobtext::kBadData);
        return result;
    }
    Channel channel;
    if (openJobPort(channel, port, out, result) == 0)
        result = runWriteJob(channel, o.settings, o.data, out, dataAtStart(run));
    if (result.portFault()) {
        out.box(systemErrorText(result.portFaultError), result.portFaultOp);
        return result;
    }
    const uint32_t seconds = (tickCount() - startTick) / 1000u;
    out.box("書込みが終了しました\n書き込み時間は" + std::to_string(seconds) + "秒です",
            kEndCaption);
    return result;
}

}  // namespace

int cliWrite(const CliOptions& o) {
    // Retries are the station run's: one port with them is a run of one slot.
    // So are the unit ids' checks: one port with them is a run of one slot, unless it is one.
    const bool units = !o.units.empty() || o.unitRequired;
    if (o.ports.size() > 1 || (!o.slot && (o.retries > 0 || units))) return cliWriteMany(o);
    std::string port;
    if (!loadPort(o, port)) return kExitFailed;

    // Shared with the interrupt's thread, which outlives this call.
    auto run = std::make_shared<WriteRun>();
    run->ports = {port};
    run->slotMode = o.slot;
    takeSlotUnit(o, *run);
    if (const int status = prepareRun(o, writeSettingsFlags(o.settings), *run, false); status != 0)
        return status;
    if (o.json) {
        run->events = std::make_unique<EventWriter>(stdout);
        if (!o.slot)
            run->events->emit(
                startEvent({programVersion(), run->ports, run->data, run->sha256, run->bytes, {}}));
    }

    auto out = std::make_shared<CliJob>(*run, port, !o.json && stdoutIsTerminal());
    onInterrupt([out, run](int signal) {
        bool erased = false;
        if (!out->interrupted(signal, erased)) return;
        if (!run->events && erased) std::fprintf(stderr, "%s\n", kErasedWarning);
        std::fflush(stdout);
        std::fflush(stderr);
        // The job may be inside a write to the port: the program ends here, its ports' lock
        // files given back first, since _Exit runs no exit handlers.
        serialReleaseLocksForExit();
        std::_Exit(kExitInterrupted);
    });

    const JobResult result = runJob(*out, o, port, *run);
    if (result.openError != 0) tellOpenFailure(port, result.openError);
    // A data file refused or broken off: which file, and why, which the status line cannot say.
    if (result.step == jobstep::kData && !result.reason.empty() && !result.portFault())
        std::fprintf(stderr, "%s\n", result.reason.c_str());
    const int status = out->end(result, run->expectSum);
    finishSending(*run);
    return status;
}
