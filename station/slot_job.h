// One device's write as a child process of the single-device job (zemtabulo-cli write --slot
// --json): started with its port, its events read on a thread of its own and handed to the
// owner (a StationRun) as they come.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "station/events.h"

// Children still running this long after they were asked to stop are ended at once.
constexpr std::chrono::milliseconds kStopGrace{800};

// What a slot's child is told besides its port, data file and settings, each left out when
// empty. With `log` and `recordId` the child writes the device's record itself when its parent
// is gone by its end (the parent writes the first record with the same id: slotRecord and
// LogFile::appendOnce). `dataSha256` is the data file's digest as the parent took it: a file
// changed since fails the job. `expectSum` gives the child's own end its verdict.
struct SlotJobExtras {
    std::string log;
    std::string recordId;
    std::string dataSha256;
    std::string expectSum;
    int attempt = 1;      // told when above 1
    std::string unit{};   // the device's unit id, for the record
    bool rework = false;  // the record is a confirmed rework's
};

// The arguments of the job of one port: `cli` is the single-device program.
std::vector<std::string> slotJobArgs(const std::string& cli, const std::string& port,
                                     const std::string& data, const std::vector<std::string>& flags,
                                     const SlotJobExtras& extras = {});

// "SIGINT", "SIGHUP" or "SIGTERM" (the name for any other interrupt).
const char* signalName(int signal);

// Whether a device cut short at `step` may have lost its data: its erase had begun.
bool erasedByStep(const std::string& step);
// The words a cut-short end's reason ends with at such a step, so that the record names the
// device that holds no data.
constexpr const char* kErasedReason = "; erased, the device holds no data";

// The interrupted end of a slot that was at `step`, stopped by `signal`.
EndInfo interruptedEnd(const std::string& step, double seconds, int signal);

// The end of a job whose output ended without an end event: killed, crashed, or stopped by
// us (`stopping`, then interrupted); at `step`, the last one it reported.
EndInfo vanishedEnd(int exitStatus, double seconds, bool stopping, int signal,
                    const std::string& step);

class SlotJob {
  public:
    // Told each event, and nullopt once when the output ends; on the reader thread.
    using Listener = std::function<void(const std::optional<Json>& event)>;

    SlotJob() = default;
    SlotJob(const SlotJob&) = delete;
    SlotJob& operator=(const SlotJob&) = delete;
    // A job still running is ended (see stop) and waited for.
    ~SlotJob();

    // 0 on success, else the system's error code. The child's standard error is the null
    // device with `quietErrors`.
    int start(const std::vector<std::string>& args, bool quietErrors, Listener listener);
    bool started() const { return child_.started(); }

    // Asks the child to stop as an interrupt would; kill ends it at once.
    void terminate() { child_.terminate(); }
    void kill() { child_.kill(); }
    // Once the output has ended: the reader joined and the child waited for. Its exit status.
    int finish();
    // Asks the child to stop and ends it after kStopGrace; then finish.
    int stop();

  private:
    void read();

    ChildProcess child_;
    std::thread reader_;
    Listener listener_;
    mutable std::mutex lock_;
    std::condition_variable closedChanged_;
    bool closed_ = false;  // the child's output has ended
    bool finished_ = false;
    int exit_ = -1;
};
