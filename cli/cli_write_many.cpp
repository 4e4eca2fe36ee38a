// zemtabulo-cli write with several ports: a station run of one slot per port, shown as a live
// table on a terminal, a line per change otherwise, or the events with --json; then a summary.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "cli/terminal_text.h"
#include "cli/write_run.h"
#include "platform/process.h"
#include "station/station_run.h"

namespace {

using Clock = std::chrono::steady_clock;

// An interrupt waits this long at most for every device to be recorded: Windows ends the
// program when the handler of a console close returns, and allows it about five seconds.
constexpr std::chrono::milliseconds kRecordWait{4500};
// The live table is redrawn at most this often.
constexpr std::chrono::milliseconds kRedrawInterval{200};
// Width of the live table's bar, in characters.
constexpr int kBarWidth = 20;

class CliStation : public StationView {
  public:
    CliStation(const CliOptions& o, WriteRun& run)
        : run_(run), station_(run.ports.size(), selfExecutablePath(), o.trace) {
        liveTable_ = !run.events && stdoutIsTerminal();
        for (const std::string& p : run.ports) portWidth_ = std::max(portWidth_, displayWidth(p));
    }

    int run();
    // From the interrupt's thread: the run stops; returns once every device is recorded.
    void interrupt(int signal);

    void slotEvent(size_t index, const Json& event) override;
    void slotEnded(size_t index) override;

  private:
    void printLine(size_t index, const std::string& text);
    void drawTable(bool force);
    void printSummary(int status);

    WriteRun& run_;
    StationRun station_;
    bool liveTable_ = false;
    size_t portWidth_ = 4;
    size_t drawnRows_ = 0;
    Clock::time_point lastDrawn_{};
    Clock::time_point started_ = Clock::now();
    std::atomic<int> signal_{0};
    std::mutex doneLock_;
    std::condition_variable doneChanged_;
    bool done_ = false;
};

void CliStation::interrupt(int signal) {
    signal_.store(signal);
    std::unique_lock<std::mutex> lock(doneLock_);
    doneChanged_.wait_for(lock, kRecordWait, [this] { return done_; });
}

void CliStation::printLine(size_t index, const std::string& text) {
    if (run_.events || liveTable_) return;
    std::printf("%s: %s\n", station_.slot(index).start.port.c_str(), text.c_str());
    std::fflush(stdout);
}

void CliStation::slotEvent(size_t index, const Json& event) {
    const StationSlot& s = station_.slot(index);
    const std::string kind = eventText(event, "event");
    const std::string& port = s.start.port;
    if (kind == "status") printLine(index, s.status);
    if (!run_.events) return;
    if (kind == "status") run_.events->emit(statusEvent(port, s.status));
    if (kind == "step") run_.events->emit(stepEvent(port, s.step));
    if (kind == "progress") run_.events->emit(progressEvent(port, s.sent, s.total));
    if (kind == "sum") run_.events->emit(sumEvent(port, s.sum));
}

void CliStation::slotEnded(size_t index) {
    const StationSlot& s = station_.slot(index);
    if (run_.events) run_.events->emit(endEvent(s.start.port, s.end));
    printLine(index, std::string(slotResultName(s.end.result)) +
                         (s.end.reason.empty() ? "" : ": " + s.end.reason));
}

int CliStation::run() {
    if (run_.events)
        run_.events->emit(
            startEvent({programVersion(), run_.ports, run_.data, run_.sha256, run_.bytes}));
    for (size_t i = 0; i < run_.ports.size(); ++i) {
        SlotStart start{
            run_.ports[i],  run_.data,
            run_.sha256,    run_.bytes,
            run_.flags,     run_.expectSum.empty() ? SumRule::Majority : SumRule::Expected,
            run_.expectSum, run_.log};
        station_.start(i, std::move(start), *this);
    }
    while (station_.anyRunning()) {
        if (const int signal = signal_.load(); signal != 0) station_.stopAll(signal, *this);
        station_.waitAndPump(kRedrawInterval, *this);
        drawTable(false);
    }
    drawTable(true);
    station_.finishRun(*this);
    int status = exitStatusOf(station_.outcomes());
    // A device written without its record cannot be traced: that is no success.
    if (station_.anyRecordLost() && status != kExitInterrupted) status = kExitSomeFailed;
    if (run_.events) {
        run_.events->emit(doneEvent(status));
    } else {
        printSummary(status);
    }
    {
        std::lock_guard<std::mutex> lock(doneLock_);
        done_ = true;
    }
    doneChanged_.notify_all();
    return status;
}

void CliStation::drawTable(bool force) {
    if (!liveTable_) return;
    const auto now = Clock::now();
    if (!force && now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    if (drawnRows_ > 0) std::printf("\x1b[%zuF", drawnRows_);
    for (size_t i = 0; i < station_.size(); ++i) {
        const StationSlot& s = station_.slot(i);
        // A file that grew while it was sent has sent past its size at the open: every figure
        // stays within its bounds.
        const uint64_t sent = std::min(s.sent, s.total);
        const double pct = s.total ? 100.0 * double(sent) / double(s.total) : 0;
        const int filled = std::clamp(int(pct * kBarWidth / 100), 0, kBarWidth);
        const std::string bar =
            std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '.');
        const double dataSecs = s.dataStarted == Clock::time_point{}
                                    ? 0
                                    : std::chrono::duration<double>(now - s.dataStarted).count();
        const double rate = dataSecs > 0.5 ? double(sent) / dataSecs : 0;
        const double elapsed = std::chrono::duration<double>(now - started_).count();
        const std::string status = s.running ? s.status : slotResultName(s.end.result);
        std::printf("\x1b[2K%s  %s [%s] %3.0f%% %6.0f B/s %5.0f s\n",
                    padded(s.start.port, portWidth_).c_str(), padded(status, 24).c_str(),
                    bar.c_str(), pct, rate, elapsed);
    }
    drawnRows_ = station_.size();
    std::fflush(stdout);
}

void CliStation::printSummary(int status) {
    std::printf("\n%s  %-14s %-8s %8s  %s\n", padded("port", portWidth_).c_str(), "result", "sum",
                "seconds", "reason");
    bool erased = false;
    for (size_t i = 0; i < station_.size(); ++i) {
        const StationSlot& s = station_.slot(i);
        std::printf("%s  %-14s %-8s %8.1f  %s\n", padded(s.start.port, portWidth_).c_str(),
                    slotResultName(s.end.result), s.sum.empty() ? "-" : s.sum.c_str(),
                    s.end.seconds, s.end.reason.c_str());
        const bool cutShort = s.end.result == SlotResult::Interrupted || s.vanished;
        erased = erased || (cutShort && erasedByStep(s.end.step));
    }
    if (erased) std::printf("%s\n", kErasedWarning);
    std::printf("exit %d: %s\n", status, exitStatusMeaning(status));
    std::fflush(stdout);
}

}  // namespace

int cliWriteMany(const CliOptions& o) {
    WriteRun run;
    run.ports = o.ports;
    // Two names of one device would have two jobs fight over it: refused before anything starts.
    std::vector<std::pair<size_t, std::string>> named;
    for (size_t i = 0; i < o.ports.size(); ++i) named.emplace_back(i, o.ports[i]);
    if (const auto same = sameDevice({}, named)) {
        std::fprintf(stderr, "%s and %s are the same device (%s)\n", o.ports[same->first].c_str(),
                     o.ports[same->second].c_str(), same->device.c_str());
        return kExitUsage;
    }
    if (const int status = prepareRun(o, writeSettingsFlags(o.settings), run, true); status != 0)
        return status;
    if (o.json) run.events = std::make_unique<EventWriter>(stdout);
    // Shared with the interrupt's thread, which may outlive this call.
    auto station = std::make_shared<CliStation>(o, run);
    onInterrupt([station](int signal) { station->interrupt(signal); });
    return station->run();
}
