// zemtabulo-cli write with several ports: one child process of the single-port write for each
// port, its events read from its pipe; a live table (or a line per change), the sums checked
// against each other or the expected one, a record of each device, a summary.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "cli/write_run.h"
#include "platform/process.h"
#include "platform/serial.h"
#include "station/slot_job.h"

namespace {

using Clock = std::chrono::steady_clock;

// An interrupt waits this long at most for every device to be recorded: Windows ends the
// program when the handler of a console close returns, and allows it about five seconds.
constexpr std::chrono::milliseconds kRecordWait{4500};
// The live table is redrawn at most this often.
constexpr std::chrono::milliseconds kRedrawInterval{200};
struct Slot {
    std::string port;
    SlotJob job;
    std::string status;
    std::string step;  // the last step its job reported
    uint64_t sent = 0, total = 0;
    Clock::time_point dataStarted{};
    std::string sum;
    bool ended = false;  // its output closed and the child waited for
    bool told = false;   // its end event and record went out
    bool endSeen = false;
    bool vanished = false;  // its job ended without telling how (killed, crashed)
    std::string recordId;   // its record, once written before its verdict was final
    EndInfo end;
};

// Events from the children's pipes; nullopt when a child's output ended.
struct Inbox {
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::pair<size_t, std::optional<Json>>> items;

    void put(size_t slot, std::optional<Json> event) {
        std::lock_guard<std::mutex> lock(m);
        items.emplace_back(slot, std::move(event));
        cv.notify_one();
    }
};

void markMismatch(Slot& slot, const std::string& reason) {
    slot.end.result = SlotResult::SumMismatch;
    slot.end.exit = kExitSumsWrong;
    slot.end.step = "sb";
    slot.end.reason = reason;
}

// Columns a text takes on a terminal: East Asian wide characters take two.
size_t displayWidth(const std::string& s) {
    size_t width = 0;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = c;
        size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (len > 1 && i + len <= s.size()) {
            cp = c & (0x3F >> (len - 1));
            for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6);
        width += wide ? 2 : 1;
        i += len;
    }
    return width;
}

std::string padded(const std::string& s, size_t width) {
    const size_t w = displayWidth(s);
    return w >= width ? s : s + std::string(width - w, ' ');
}

class Supervisor {
public:
    Supervisor(const CliOptions& o, WriteRun& run) : o_(o), run_(run) {
        liveTable_ = !run.events && stdoutIsTerminal();
        for (const std::string& p : run.ports) {
            slots_.emplace_back();
            slots_.back().port = p;
        }
        for (const Slot& s : slots_) portWidth_ = std::max(portWidth_, displayWidth(s.port));
    }

    int run();
    void interrupt(int signal);

private:
    void startAll();
    void handle(size_t index, const std::optional<Json>& event);
    void onEvent(Slot& slot, const Json& event);
    void onOutputEnded(Slot& slot);
    void tellIfFinal(Slot& slot, bool runOver);
    void stopChildrenIfAsked();
    void printLine(const Slot& slot, const std::string& text);
    void drawTable(bool force);
    void printSummary(int status);
    std::vector<SlotOutcome> outcomes() const;

    const CliOptions& o_;
    WriteRun& run_;
    std::deque<Slot> slots_;  // stable addresses for the reader threads
    Inbox inbox_;
    bool liveTable_ = false;
    size_t portWidth_ = 4;
    size_t drawnRows_ = 0;
    Clock::time_point lastDrawn_{};
    Clock::time_point started_ = Clock::now();
    std::atomic<int> signal_{0};  // the interrupt, once one came
    bool recordLost_ = false;
    bool stopping_ = false;
    Clock::time_point stopAsked_{};
    // Set once every device is recorded and the end told.
    std::mutex doneLock_;
    std::condition_variable doneChanged_;
    bool done_ = false;
};

void Supervisor::interrupt(int signal) {
    signal_.store(signal);
    inbox_.put(SIZE_MAX, std::nullopt);  // wakes the loop
    std::unique_lock<std::mutex> lock(doneLock_);
    doneChanged_.wait_for(lock, kRecordWait, [this] { return done_; });
}

void Supervisor::startAll() {
    size_t index = 0;
    for (Slot& s : slots_) {
        const int err = s.job.start(
            slotJobArgs(selfExecutablePath(), s.port, run_.data, run_.flags), !o_.trace,
            [this, index](const std::optional<Json>& event) { inbox_.put(index, event); });
        if (err != 0) {
            s.ended = s.endSeen = true;
            s.end.reason = "cannot start the job: " + systemErrorText(err);
            s.end.step = "open";
        }
        ++index;
    }
}

void Supervisor::printLine(const Slot& slot, const std::string& text) {
    if (run_.events || liveTable_) return;
    std::printf("%s: %s\n", slot.port.c_str(), text.c_str());
    std::fflush(stdout);
}

void Supervisor::onEvent(Slot& slot, const Json& event) {
    const std::string kind = eventText(event, "event");
    if (kind == "status") {
        slot.status = eventText(event, "text");
        printLine(slot, slot.status);
        if (run_.events) run_.events->emit(statusEvent(slot.port, slot.status));
    } else if (kind == "step") {
        slot.step = eventText(event, "step");
        if (run_.events) run_.events->emit(stepEvent(slot.port, slot.step));
    } else if (kind == "progress") {
        slot.sent = event.value("sent", uint64_t(0));
        slot.total = event.value("total", uint64_t(0));
        if (slot.dataStarted == Clock::time_point{}) slot.dataStarted = Clock::now();
        if (run_.events) run_.events->emit(progressEvent(slot.port, slot.sent, slot.total));
    } else if (kind == "sum") {
        slot.sum = eventText(event, "sum");
        if (run_.events) run_.events->emit(sumEvent(slot.port, slot.sum));
    } else if (kind == "end") {
        slot.endSeen = readEndInfo(event, slot.end);
    }
}

void Supervisor::onOutputEnded(Slot& slot) {
    const int status = slot.job.finish();
    slot.ended = true;
    if (slot.endSeen) return;
    // A job that ended without telling how: killed, or it crashed.
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    slot.end = vanishedEnd(status, seconds, stopping_, signal_.load(), slot.step);
    slot.endSeen = true;
    slot.vanished = true;
}

void Supervisor::handle(size_t index, const std::optional<Json>& event) {
    if (index >= slots_.size()) return;  // the interrupt's wake-up
    Slot& slot = slots_[index];
    if (!event) {
        onOutputEnded(slot);
        tellIfFinal(slot, false);
        return;
    }
    onEvent(slot, *event);
}

// A slot's end goes out when nothing can change it any more: at once when it failed, was
// interrupted or has an expected sum to meet; when sums are compared with each other, at the
// end of the run. Its record is not held back that long: a good device is recorded as it ends,
// and a verdict of the run's end that differs is a second record that names the first.
void Supervisor::tellIfFinal(Slot& slot, bool runOver) {
    if (slot.told || !slot.ended) return;
    const bool final = runOver || !run_.expectSum.empty() || slot.end.result != SlotResult::Ok;
    if (!final) {
        if (slot.recordId.empty() && !logSlot(run_, slot.port, slot.end, slot.sum, &slot.recordId))
            recordLost_ = true;
        return;
    }
    slot.told = true;
    if (!run_.expectSum.empty()) {
        std::vector<SlotOutcome> one{{slot.end.result, slot.sum}};
        applySumVerdicts(one, run_.expectSum);
        if (one[0].result == SlotResult::SumMismatch)
            markMismatch(slot, "sum " + slot.sum + ", expected " + run_.expectSum);
    }
    if (slot.recordId.empty() || slot.end.result != SlotResult::Ok) {
        EndInfo recorded = slot.end;
        if (!slot.recordId.empty()) recorded.reason += correctsText(slot.recordId);
        if (!logSlot(run_, slot.port, recorded, slot.sum)) recordLost_ = true;
    }
    if (run_.events) run_.events->emit(endEvent(slot.port, slot.end));
    printLine(slot, std::string(slotResultName(slot.end.result)) +
                        (slot.end.reason.empty() ? "" : ": " + slot.end.reason));
}

void Supervisor::stopChildrenIfAsked() {
    if (signal_.load() == 0) return;
    if (!stopping_) {
        stopping_ = true;
        stopAsked_ = Clock::now();
        for (Slot& s : slots_)
            if (!s.ended) s.job.terminate();
    } else if (Clock::now() - stopAsked_ > kStopGrace) {
        for (Slot& s : slots_)
            if (!s.ended) s.job.kill();
    }
}

std::vector<SlotOutcome> Supervisor::outcomes() const {
    std::vector<SlotOutcome> out;
    for (const Slot& s : slots_) out.push_back({s.end.result, s.sum});
    return out;
}

int Supervisor::run() {
    if (run_.events)
        run_.events->emit(startEvent({programVersion(), run_.ports, run_.data, run_.sha256, run_.bytes}));
    startAll();
    auto allEnded = [this] {
        return std::all_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.ended; });
    };
    for (Slot& s : slots_) tellIfFinal(s, false);
    while (!allEnded()) {
        std::deque<std::pair<size_t, std::optional<Json>>> batch;
        {
            std::unique_lock<std::mutex> lock(inbox_.m);
            inbox_.cv.wait_for(lock, kRedrawInterval, [this] { return !inbox_.items.empty(); });
            batch.swap(inbox_.items);
        }
        for (const auto& [index, event] : batch) handle(index, event);
        stopChildrenIfAsked();
        drawTable(false);
    }
    drawTable(true);

    // Sums compared now that every slot has told its own.
    std::vector<SlotOutcome> verdicts = outcomes();
    applySumVerdicts(verdicts, run_.expectSum);
    for (size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = slots_[i];
        if (s.told) continue;
        if (verdicts[i].result == SlotResult::SumMismatch)
            markMismatch(s, "sum " + s.sum + " differs from the other devices'");
        tellIfFinal(s, true);
    }
    int status = exitStatusOf(outcomes());
    // A device written without its record cannot be traced: that is no success.
    if (recordLost_ && status != kExitInterrupted) status = kExitSomeFailed;
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

void Supervisor::drawTable(bool force) {
    if (!liveTable_) return;
    const auto now = Clock::now();
    if (!force && now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    if (drawnRows_ > 0) std::printf("\x1b[%zuF", drawnRows_);
    for (const Slot& s : slots_) {
        // A file that grew while it was sent has sent past its size at the open: the bar stays
        // full rather than running past its end.
        const uint64_t sent = std::min(s.sent, s.total);
        const double pct = s.total ? 100.0 * double(sent) / double(s.total) : 0;
        const int filled = int(pct / 5);
        std::string bar = std::string(size_t(filled), '#') + std::string(size_t(20 - filled), '.');
        const double dataSecs =
            s.dataStarted == Clock::time_point{}
                ? 0
                : std::chrono::duration<double>(now - s.dataStarted).count();
        const double rate = dataSecs > 0.5 ? double(s.sent) / dataSecs : 0;
        const double elapsed = std::chrono::duration<double>(now - started_).count();
        std::string status = s.ended ? std::string(slotResultName(s.end.result)) : s.status;
        std::printf("\x1b[2K%s  %s [%s] %3.0f%% %6.0f B/s %5.0f s\n",
                    padded(s.port, portWidth_).c_str(), padded(status, 24).c_str(), bar.c_str(),
                    pct, rate, elapsed);
    }
    drawnRows_ = slots_.size();
    std::fflush(stdout);
}

void Supervisor::printSummary(int status) {
    std::printf("\n%s  %-14s %-8s %8s  %s\n", padded("port", portWidth_).c_str(), "result", "sum",
                "seconds", "reason");
    bool erased = false;
    for (const Slot& s : slots_) {
        std::printf("%s  %-14s %-8s %8.1f  %s\n", padded(s.port, portWidth_).c_str(),
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
    // Two names of one device would have two jobs fight over it.
    std::map<std::string, std::string> seen;
    for (const std::string& port : o.ports) {
        const std::string device = portIdentity(port);
        auto [it, fresh] = seen.emplace(device, port);
        if (!fresh) {
            std::fprintf(stderr, "%s and %s are the same device (%s)\n", it->second.c_str(),
                         port.c_str(), device.c_str());
            return kExitUsage;
        }
    }
    // The settings in the words each port's job is given.
    const std::vector<std::string> flags = writeSettingsFlags(o.settings);
    WriteRun run;
    run.ports = o.ports;
    if (const int status = prepareRun(o, flags, run, true); status != 0) return status;
    if (o.json) run.events = std::make_unique<EventWriter>(stdout);
    // Shared with the interrupt's thread, which may outlive this call.
    auto supervisor = std::make_shared<Supervisor>(o, run);
    onInterrupt([supervisor](int signal) { supervisor->interrupt(signal); });
    return supervisor->run();
}
