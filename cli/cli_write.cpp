// zemtabulo-cli write: the Start command on the headless dialog, reported line by line.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/dialogs.h"
#include "app/job_log.h"
#include "app/startup.h"
#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "platform/headless/headless.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/serial.h"
#include "cli/write_run.h"
#include "platform/process.h"
#include "writer/job_report.h"
#include "writer/options.h"

namespace {

using Clock = std::chrono::steady_clock;

// Terminal progress of the data phase: bytes sent, rate, time left. The phase runs from the
// status text that announces it to the next status text.
constexpr const char* kDataPhaseText = "ﾃﾞｰﾀ書き込み中";
constexpr const char* kBadDataText = "画面ﾃﾞｰﾀ異常";

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

struct JobWatch {
    std::mutex m;
    std::string lastPrinted;  // the sum box and the status line that repeats it print once
    std::string lastStatus;   // with --json: the last status event's text
    std::condition_variable cv;
    bool started = false;  // Start was disabled: a job (or its announcement) is under way
    bool ended = false;
    bool finished = false;  // the end reported: nothing more is printed
    ProgressLine progress;
    // With --json: events instead of lines.
    WriteRun* run = nullptr;
    std::string port;
    ProgressThrottle throttle;
    Clock::time_point jobStarted;
};

void finishJob(JobWatch& watch);

bool isPortErrorCaption(const std::string& caption) {
    return caption == "commGetc" || caption == "commPutc";
}

// The data progress the job has reached, once more than what was last told.
void emitProgress(JobWatch& watch, bool force) {
    const JobSnapshot snap = jobReportSnapshot();
    if (snap.total == 0 && snap.sent == 0) return;
    if (!watch.throttle.due(snap.sent, snap.total, force)) return;
    watch.run->events->emit(progressEvent(watch.port, snap.sent, snap.total));
}

void onStatusText(JobWatch& watch, const std::string& text) {
    if (watch.run->events) {
        emitProgress(watch, true);  // the data's end is told before what follows it
        // Every text in order; the Start command's passes may repeat one.
        if (text != watch.lastStatus) watch.run->events->emit(statusEvent(watch.port, text));
        watch.lastStatus = text;
        return;
    }
    watch.progress.end();
    if (text == watch.lastPrinted) return;
    watch.lastPrinted = text;
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    if (text == kDataPhaseText) watch.progress.begin();
}

void onBox(JobWatch& watch, const std::string& text, const std::string& caption) {
    if (isPortErrorCaption(caption)) jobReportFail(caption + ": " + text);
    if (watch.run->events) {
        // The sum box: the only one without a caption, shown once the sum is read.
        const JobSnapshot snap = jobReportSnapshot();
        if (caption.empty() && snap.sumState != SumState::None)
            watch.run->events->emit(sumEvent(watch.port, snap.sum));
        return;
    }
    watch.progress.end();
    watch.lastPrinted = text;
    if (caption.empty()) {
        std::printf("%s\n", text.c_str());
    } else {
        std::printf("[%s] %s\n", caption.c_str(), text.c_str());
    }
    std::fflush(stdout);
}

void installHooks(JobWatch& watch, Window start) {
    HeadlessHooks hooks;
    hooks.onText = [&watch](Window ctl, const std::string& text) {
        if (ctl != mainChannel.statusWnd || text.empty()) return;
        std::lock_guard<std::mutex> lock(watch.m);
        if (!watch.finished) onStatusText(watch, text);
    };
    hooks.onProgress = [&watch](Window, int, int high, int pos) {
        std::lock_guard<std::mutex> lock(watch.m);
        if (watch.finished) return;
        if (watch.run->events) {
            emitProgress(watch, false);
        } else {
            watch.progress.update(high, pos);
        }
    };
    hooks.onMessageBox = [&watch](Window, const std::string& text, const std::string& caption) {
        std::lock_guard<std::mutex> lock(watch.m);
        if (watch.finished) return;
        onBox(watch, text, caption);
        // The port error stop ends the program right after its box: the job's end is told now.
        if (isPortErrorCaption(caption)) finishJob(watch);
    };
    hooks.onEnable = [&watch, start](Window ctl, bool enabled) {
        if (ctl != start) return;
        std::lock_guard<std::mutex> lock(watch.m);
        if (!enabled) watch.started = true;
        if (enabled && watch.started) watch.ended = true;
        watch.cv.notify_all();
    };
    headlessSetHooks(std::move(hooks));
}

bool loadPort(const CliOptions& o) {
    if (!o.ports.empty()) {
        portName = o.ports.front();
        return true;
    }
    const std::string dir = workingDirectory(kIniPathBufSize);
    switch (loadConfiguration(dir)) {
        case StartupResult::Ready: return true;
        case StartupResult::TooDeep: std::fprintf(stderr, "%s\n", resString(11).c_str()); return false;
        case StartupResult::NoIniFile:
            std::fprintf(stderr, "SCI.INI cannot be created in %s\n", dir.c_str());
            return false;
    }
    return false;
}

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Tells the end once: the end event or a line for a sum that is wrong, and the log record.
// Runs with the watch locked. The exit status: the job's, or 1 when its record was lost.
int tellEnd(JobWatch& watch, const EndInfo& end, const std::string& sum) {
    watch.finished = true;
    watch.progress.end();
    int status = end.exit;
    if (!logSlot(*watch.run, watch.port, end, sum) && status != kExitInterrupted)
        status = kExitSomeFailed;
    if (watch.run->events) {
        EndInfo told = end;
        told.exit = status;
        watch.run->events->emit(endEvent(watch.port, told));
    } else if (end.result != SlotResult::Ok && end.result != SlotResult::Failed) {
        std::fprintf(stderr, "%s: %s%s%s\n", watch.port.c_str(), slotResultName(end.result),
                     end.reason.empty() ? "" : ": ", end.reason.c_str());
    }
    return status;
}

// Runs with the watch locked.
void finishJob(JobWatch& watch) {
    std::string sum;
    const EndInfo end = jobEndOf(jobReportSnapshot(), "", watch.run->expectSum,
                                 secondsSince(watch.jobStarted), sum);
    const int status = tellEnd(watch, end, sum);
    if (watch.run->events && !watch.run->slotMode) watch.run->events->emit(doneEvent(status));
    portErrorExitStatus.store(status);
}

}  // namespace

int cliWrite(const CliOptions& o) {
    if (o.ports.size() > 1) return cliWriteMany(o);
    portErrorExitStatus.store(kExitFailed);
    if (!loadPort(o)) return kExitFailed;

    Window dlg = cliMainDialog(o);
    WriteRun run;
    run.ports = {portName};
    run.slotMode = o.slot;
    if (const int status = prepareRun(o, checkedSettingsFlags(), run, false); status != 0) {
        headlessDestroy(dlg);
        return status;
    }
    if (o.json) {
        run.events = std::make_unique<EventWriter>(stdout);
        if (!o.slot)
            run.events->emit(startEvent({programVersion(), run.ports, run.data, run.sha256, run.bytes}));
    }

    JobWatch watch;
    watch.run = &run;
    watch.port = portName;
    watch.progress.onTerminal = !o.json && stdoutIsTerminal();
    onInterrupt([&watch](int signal) {
        std::unique_lock<std::mutex> lock(watch.m);
        if (watch.finished) return;
        const JobSnapshot snap = jobReportSnapshot();
        const int status = tellEnd(watch, interruptedEnd(snap.step, secondsSince(watch.jobStarted), signal), "");
        if (watch.run->events) {
            if (!watch.run->slotMode) watch.run->events->emit(doneEvent(status));
        } else if (erasedByStep(snap.step)) {
            std::fprintf(stderr, "%s\n", kErasedWarning);
        }
        std::fflush(stdout);
        std::fflush(stderr);
        serialReleaseLocksForExit();  // _Exit runs no exit handlers
        std::_Exit(kExitInterrupted);
    });
    Window start = dlgItem(dlg, IDC_START);
    installHooks(watch, start);
    dataFilePath = o.data;
    setWindowText(dlgItem(dlg, IDC_DATA_PATH), dataFilePath);

    watch.jobStarted = Clock::now();
    headlessClick(dlg, IDC_START);
    std::unique_lock<std::mutex> lock(watch.m);
    // Start refused without a job (no data file) leaves the button as it was.
    if (watch.started) watch.cv.wait(lock, [&watch] { return watch.ended; });

    const std::string status = windowText(mainChannel.statusWnd);
    if (status == kPortUnusableText) {
        const int err = commLastOpenError.load();
        const std::string device = portDeviceName(portName);
        std::fprintf(stderr, "%s: %s\n", device.empty() ? portName.c_str() : device.c_str(),
                     systemErrorText(err).c_str());
        const std::string hint = openHint(err, device);
        if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
    }
    // Which file, and why: the status line cannot say.
    const std::string reason = jobReportSnapshot().reason;
    if (status == kBadDataText && !reason.empty()) std::fprintf(stderr, "%s\n", reason.c_str());
    std::string sum;
    const EndInfo end = jobEndOf(jobReportSnapshot(), status, run.expectSum,
                                 secondsSince(watch.jobStarted), sum);
    const int exitStatus = tellEnd(watch, end, sum);
    if (run.events && !o.slot) run.events->emit(doneEvent(exitStatus));
    lock.unlock();
    headlessSetHooks({});
    headlessDestroy(dlg);
    return exitStatus;
}
