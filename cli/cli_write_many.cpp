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
#include "cli/station_output.h"
#include "cli/write_run.h"
#include "platform/process.h"
#include "station/station_run.h"

namespace {

class CliStation : public StationView {
  public:
    CliStation(const CliOptions& o, WriteRun& run)
        : run_(run),
          retries_(o.retries),
          retrySum_(o.retrySum),
          station_(run.ports.size(), selfExecutablePath(), o.trace) {
        liveTable_ = !run.events && stdoutIsTerminal();
    }

    int run();
    // From the interrupt's thread: the run stops; returns once every device is recorded.
    void interrupt(int signal);

    void slotEvent(size_t index, const Json& event) override;
    void slotEnded(size_t index) override;
    void slotRetrying(size_t index) override;

  private:
    void printLine(size_t index, const std::string& text);

    // An event of the slot's, with its attempt when the run retries.
    void emit(size_t index, Json event);

    WriteRun& run_;
    int retries_ = 0;
    bool retrySum_ = false;
    StationRun station_;
    bool liveTable_ = false;
    LiveTable table_;
    StopGate gate_;
};

void CliStation::interrupt(int signal) {
    gate_.interrupt(signal);
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
    if (kind == "status") emit(index, statusEvent(port, s.status));
    if (kind == "step") emit(index, stepEvent(port, s.step));
    if (kind == "progress") emit(index, progressEvent(port, s.sent, s.total));
    if (kind == "sum") emit(index, sumEvent(port, s.sum));
}

void CliStation::emit(size_t index, Json event) {
    if (!run_.events) return;
    if (retries_ > 0) event["attempt"] = station_.slot(index).attempt;
    run_.events->emit(std::move(event));
}

void CliStation::slotEnded(size_t index) {
    const StationSlot& s = station_.slot(index);
    emit(index, withUnit(endEvent(s.start.port, s.end), s.start.unit, s.start.rework));
    printLine(index, resultText(s) + (s.end.reason.empty() ? "" : ": " + s.end.reason));
}

void CliStation::slotRetrying(size_t index) {
    const StationSlot& s = station_.slot(index);
    Json retry = withUnit(endEvent(s.start.port, s.end), s.start.unit, s.start.rework);
    retry["event"] = "retry";
    emit(index, std::move(retry));
    printLine(index, std::string(slotResultName(s.end.result)) + ": " + s.end.reason +
                         ", attempt " + std::to_string(s.attempt + 1) + " follows");
}

int CliStation::run() {
    if (run_.events)
        run_.events->emit(startEvent(
            {programVersion(), run_.ports, run_.data, run_.sha256, run_.bytes, run_.units}));
    for (size_t i = 0; i < run_.ports.size(); ++i) {
        SlotStart start{
            run_.ports[i],  run_.data,
            run_.sha256,    run_.bytes,
            run_.flags,     run_.expectSum.empty() ? SumRule::Majority : SumRule::Expected,
            run_.expectSum, run_.log,
            retries_,       retrySum_,
            run_.units[i],  run_.reworks[i]};
        station_.start(i, std::move(start), *this);
    }
    while (station_.anyRunning()) {
        if (const int signal = gate_.signal(); signal != 0) station_.stopAll(signal, *this);
        station_.waitAndPump(kRedrawInterval, *this);
        if (liveTable_) table_.draw(station_, false);
    }
    if (liveTable_) table_.draw(station_, true);
    station_.finishRun(*this);
    int status = exitStatusOf(station_.outcomes());
    // A device written without its record cannot be traced: that is no success.
    if (station_.anyRecordLost() && status != kExitInterrupted) status = kExitSomeFailed;
    if (run_.events) {
        run_.events->emit(doneEvent(status));
    } else {
        printStationSummary(station_, status, retries_ > 0);
    }
    gate_.done();
    return status;
}

}  // namespace

int cliWriteMany(const CliOptions& o) {
    WriteRun run;
    if (const int status = prepareSlotsRun(o, run); status != 0) return status;
    // Shared with the interrupt's thread, which may outlive this call.
    auto station = std::make_shared<CliStation>(o, run);
    onInterrupt([station](int signal) { station->interrupt(signal); });
    const int status = station->run();
    finishSending(run);
    return status;
}
