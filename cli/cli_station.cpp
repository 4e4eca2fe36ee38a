// zemtabulo-cli station --auto: a slot per port that writes each device as it is plugged in,
// until an interrupt; a line per change of a slot (or the events with --json), then the jobs of
// each port.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/station_output.h"
#include "cli/write_run.h"
#include "platform/process.h"
#include "station/station_run.h"

namespace {

// Between events the run looks for an interrupt this often.
constexpr std::chrono::milliseconds kSignalPoll{100};

class AutoStation : public StationView {
  public:
    AutoStation(const CliOptions& o, WriteRun& run)
        : run_(run),
          options_(o),
          station_(run.ports.size(), selfExecutablePath(), o.trace),
          tallies_(run.ports.size()) {}

    int run();
    // From the interrupt's thread: the run stops; returns once every device is recorded.
    void interrupt(int signal);

    void slotEvent(size_t index, const Json& event) override;
    void slotEnded(size_t index) override;
    void slotRetrying(size_t index) override;
    void slotStateChanged(size_t index) override;

  private:
    void printLine(size_t index, const std::string& text);
    void emit(size_t index, Json event);
    void finish(int status);

    WriteRun& run_;
    const CliOptions& options_;
    StationRun station_;
    std::vector<PortTally> tallies_;
    StopGate gate_;
};

void AutoStation::interrupt(int signal) {
    gate_.interrupt(signal);
}

void AutoStation::printLine(size_t index, const std::string& text) {
    if (run_.events) return;
    std::printf("%s: %s\n", run_.ports[index].c_str(), text.c_str());
    std::fflush(stdout);
}

void AutoStation::emit(size_t index, Json event) {
    if (!run_.events) return;
    event["jobs"] = tallies_[index].started;  // the port's jobs begun so far
    if (options_.retries > 0) event["attempt"] = station_.slot(index).attempt;
    run_.events->emit(std::move(event));
}

void AutoStation::slotEvent(size_t index, const Json& event) {
    const StationSlot& s = station_.slot(index);
    const std::string kind = eventText(event, "event");
    const std::string& port = run_.ports[index];
    if (kind == "status") emit(index, statusEvent(port, s.status));
    if (kind == "step") emit(index, stepEvent(port, s.step));
    if (kind == "progress") emit(index, progressEvent(port, s.sent, s.total));
    if (kind == "sum") emit(index, sumEvent(port, s.sum));
}

void AutoStation::slotEnded(size_t index) {
    const StationSlot& s = station_.slot(index);
    emit(index, withUnit(endEvent(run_.ports[index], s.end), s.start.unit, s.start.rework));
    tallyEnd(tallies_[index], s);
    std::string line = resultText(s);
    if (!s.sum.empty()) line += " " + s.sum;
    if (!s.end.reason.empty()) line += ": " + s.end.reason;
    printLine(index, line);
}

void AutoStation::slotRetrying(size_t index) {
    const StationSlot& s = station_.slot(index);
    Json retry = withUnit(endEvent(run_.ports[index], s.end), s.start.unit, s.start.rework);
    retry["event"] = "retry";
    emit(index, std::move(retry));
    printLine(index, std::string(slotResultName(s.end.result)) + ": " + s.end.reason +
                         ", attempt " + std::to_string(s.attempt + 1) + " follows");
}

void AutoStation::slotStateChanged(size_t index) {
    const AutoState state = station_.slot(index).autoState.state;
    if (state == AutoState::Writing) ++tallies_[index].started;
    emit(index, autoStateEvent(run_.ports[index], state));
    printLine(index, autoStateText(state));
}

int AutoStation::run() {
    if (run_.events)
        run_.events->emit(startEvent(
            {programVersion(), run_.ports, run_.data, run_.sha256, run_.bytes, run_.units}));
    const SumRule rule = run_.expectSum.empty() ? SumRule::None : SumRule::Expected;
    for (size_t i = 0; i < run_.ports.size(); ++i) {
        SlotStart start{run_.ports[i],     run_.data,     run_.sha256,
                        run_.bytes,        run_.flags,    rule,
                        run_.expectSum,    run_.log,      options_.retries,
                        options_.retrySum, run_.units[i], run_.reworks[i]};
        station_.arm(i, std::move(start), std::chrono::milliseconds(options_.debounceMs), *this);
    }
    int signal = 0;
    while ((signal = gate_.signal()) == 0) station_.waitAndPump(kSignalPoll, *this);
    station_.stopAll(signal, *this);
    int status = station_.anyRecordLost() ? kExitSomeFailed : kExitInterrupted;
    finish(status);
    return status;
}

void AutoStation::finish(int status) {
    if (run_.events) {
        for (size_t i = 0; i < run_.ports.size(); ++i)
            run_.events->emit(tallyEvent(run_.ports[i], tallies_[i]));
        run_.events->emit(doneEvent(status));
    } else {
        printTallies(run_.ports, tallies_, status);
    }
    gate_.done();
}

}  // namespace

int cliStation(const CliOptions& o) {
    // A port's every job would record the one id given at the start, though each is another
    // device: ids are scanned per device in the station window instead.
    if (!o.units.empty() || o.unitRequired || o.rework) {
        std::fprintf(
            stderr,
            "station: a unit id names one device, and a station writes one device after "
            "another on each port; scan the ids into the station window (unit=required)\n");
        return kExitUsage;
    }
    WriteRun run;
    if (const int status = prepareSlotsRun(o, run); status != 0) return status;
    // Shared with the interrupt's thread, which may outlive this call. The interrupt is set up
    // before the run's threads start, so that they leave the signals to its thread.
    auto station = std::make_shared<AutoStation>(o, run);
    onInterrupt([station](int signal) { station->interrupt(signal); });
    return station->run();
}
