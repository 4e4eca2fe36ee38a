// zemtabulo-cli write: the Start command on the headless dialog, reported line by line.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/dialogs.h"
#include "app/startup.h"
#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "platform/headless/headless.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/serial.h"
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
    std::condition_variable cv;
    bool started = false;  // Start was disabled: a job (or its announcement) is under way
    bool ended = false;
    ProgressLine progress;
};

void installHooks(JobWatch& watch, Window start) {
    HeadlessHooks hooks;
    hooks.onText = [&watch](Window ctl, const std::string& text) {
        if (ctl != mainChannel.statusWnd || text.empty()) return;
        std::lock_guard<std::mutex> lock(watch.m);
        watch.progress.end();
        if (text == watch.lastPrinted) return;
        watch.lastPrinted = text;
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        if (text == kDataPhaseText) watch.progress.begin();
    };
    hooks.onProgress = [&watch](Window, int, int high, int pos) {
        std::lock_guard<std::mutex> lock(watch.m);
        watch.progress.update(high, pos);
    };
    hooks.onMessageBox = [&watch](Window, const std::string& text, const std::string& caption) {
        std::lock_guard<std::mutex> lock(watch.m);
        watch.progress.end();
        watch.lastPrinted = text;
        if (caption.empty()) {
            std::printf("%s\n", text.c_str());
        } else {
            std::printf("[%s] %s\n", caption.c_str(), text.c_str());
        }
        std::fflush(stdout);
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
    if (!o.port.empty()) {
        portName = o.port;
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

}  // namespace

int cliWrite(const CliOptions& o) {
    portErrorExitStatus.store(kExitFailed);
    if (!loadPort(o)) return kExitFailed;

    JobWatch watch;
    watch.progress.onTerminal = stdoutIsTerminal();
    Window dlg = cliMainDialog(o);
    Window start = dlgItem(dlg, IDC_START);
    installHooks(watch, start);
    dataFilePath = o.data;
    setWindowText(dlgItem(dlg, IDC_DATA_PATH), dataFilePath);

    headlessClick(dlg, IDC_START);
    {
        std::unique_lock<std::mutex> lock(watch.m);
        // Start refused without a job (no data file) leaves the button as it was.
        if (!watch.started) return kExitFailed;
        watch.cv.wait(lock, [&watch] { return watch.ended; });
    }

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
    headlessSetHooks({});
    headlessDestroy(dlg);
    return status.rfind("データ sum=", 0) == 0 ? kExitOk : kExitFailed;
}
