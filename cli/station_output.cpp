#include "cli/station_output.h"

#include <algorithm>
#include <cstdio>

#include "cli/terminal_text.h"
#include "cli/write_run.h"

namespace {

using Clock = std::chrono::steady_clock;

// Width of the live table's bar, in characters.
constexpr int kBarWidth = 20;
// Width of the status column.
constexpr size_t kStatusWidth = 24;
constexpr size_t kResultWidth = 14;

size_t portWidth(const StationRun& run) {
    size_t width = 4;  // "port"
    for (size_t i = 0; i < run.size(); ++i)
        width = std::max(width, displayWidth(run.slot(i).start.port));
    return width;
}

// Width of the unit column; 0 when no slot has a unit, and the column is left out.
size_t unitWidth(const StationRun& run) {
    size_t width = 0;
    for (size_t i = 0; i < run.size(); ++i)
        width = std::max(width, displayWidth(run.slot(i).start.unit));
    return width == 0 ? 0 : std::max(width, displayWidth("unit"));
}

// The port, and the unit when the run has units: the summary's first columns.
std::string deviceColumns(const std::string& port, const std::string& unit, size_t portW,
                          size_t unitW) {
    return padded(port, portW) + (unitW ? "  " + padded(unit.empty() ? "-" : unit, unitW) : "");
}

}  // namespace

void LiveTable::draw(const StationRun& run, bool force) {
    const auto now = Clock::now();
    if (!force && now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    if (drawnRows_ > 0) std::printf("\x1b[%zuF", drawnRows_);
    const size_t width = portWidth(run);
    for (size_t i = 0; i < run.size(); ++i) {
        const StationSlot& s = run.slot(i);
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
        const std::string status = s.running ? s.status : resultText(s);
        std::printf("\x1b[2K%s  %s [%s] %3.0f%% %6.0f B/s %5.0f s\n",
                    padded(s.start.port, width).c_str(), padded(status, kStatusWidth).c_str(),
                    bar.c_str(), pct, rate, elapsed);
    }
    drawnRows_ = run.size();
    std::fflush(stdout);
}

std::string resultText(const StationSlot& s) {
    const std::string name = slotResultName(s.end.result);
    return s.attempt > 1 ? name + " (" + std::to_string(s.attempt) + "回目)" : name;
}

void printStationSummary(const StationRun& run, int status, bool retries) {
    const size_t width = portWidth(run);
    const size_t unitW = unitWidth(run);
    std::printf("\n%s  %s %-8s %8s  %s\n", deviceColumns("port", "unit", width, unitW).c_str(),
                padded("result", kResultWidth).c_str(), "sum", "seconds", "reason");
    bool erased = false;
    size_t firstPass = 0;
    for (size_t i = 0; i < run.size(); ++i) {
        const StationSlot& s = run.slot(i);
        std::printf("%s  %s %-8s %8.1f  %s\n",
                    deviceColumns(s.start.port, s.start.unit, width, unitW).c_str(),
                    padded(resultText(s), kResultWidth).c_str(),
                    s.sum.empty() ? "-" : s.sum.c_str(), s.end.seconds, s.end.reason.c_str());
        firstPass += s.end.result == SlotResult::Ok && s.attempt == 1;
        const bool cutShort = s.end.result == SlotResult::Interrupted || s.vanished;
        erased = erased || (cutShort && erasedByStep(s.end.step));
    }
    if (erased) std::printf("%s\n", kErasedWarning);
    if (retries)
        std::printf("first-pass yield: %zu of %zu devices ok at their first attempt\n", firstPass,
                    run.size());
    std::printf("exit %d: %s\n", status, exitStatusMeaning(status));
    std::fflush(stdout);
}

void tallyEnd(PortTally& tally, const StationSlot& slot) {
    ++tally.jobs;
    if (slot.end.result == SlotResult::Ok) {
        ++tally.ok;
    } else {
        ++tally.ng;
    }
}

Json autoStateEvent(const std::string& port, AutoState state) {
    return Json{{"event", "state"},
                {"port", port},
                {"state", autoStateName(state)},
                {"text", autoStateText(state)}};
}

Json tallyEvent(const std::string& port, const PortTally& tally) {
    return Json{{"event", "tally"},
                {"port", port},
                {"jobs", tally.jobs},
                {"ok", tally.ok},
                {"ng", tally.ng}};
}

void printTallies(const std::vector<std::string>& ports, const std::vector<PortTally>& tallies,
                  int status) {
    size_t width = displayWidth("total");
    for (const std::string& port : ports) width = std::max(width, displayWidth(port));
    std::printf("\n%s  %6s %6s %6s\n", padded("port", width).c_str(), "jobs", "ok", "NG");
    PortTally total;
    for (size_t i = 0; i < ports.size() && i < tallies.size(); ++i) {
        const PortTally& t = tallies[i];
        std::printf("%s  %6zu %6zu %6zu\n", padded(ports[i], width).c_str(), t.jobs, t.ok, t.ng);
        total.jobs += t.jobs;
        total.ok += t.ok;
        total.ng += t.ng;
    }
    std::printf("%s  %6zu %6zu %6zu\n", padded("total", width).c_str(), total.jobs, total.ok,
                total.ng);
    std::printf("exit %d: %s\n", status, exitStatusMeaning(status));
    std::fflush(stdout);
}
