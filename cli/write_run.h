// What the single-port and the multi-port write share: the data file's identity, the log, the
// expected sum, and the events on stdout.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "station/events.h"
#include "station/log.h"
#include "station/slot_job.h"
#include "station/verdict.h"

struct WriteRun {
    std::vector<std::string> ports;
    std::string data;
    std::string sha256;
    uint64_t bytes = 0;
    std::string expectSum;
    std::vector<std::string> flags;  // the settings flags, as each port's job is given them
    std::string options;             // the same, space separated, for the log
    std::shared_ptr<LogFile> log;
    std::unique_ptr<EventWriter> events;  // with --json
    bool slotMode = false;                // events of the port only: no start, no done
};

// Fills the run from the options and the dialog's settings flags: the data file's hash and size
// (when events or a log need them, or `always`), the log opened. On failure says why on stderr
// and returns the exit status; 0 when the run can go on.
int prepareRun(const CliOptions& opt, const std::vector<std::string>& flags, WriteRun& run,
               bool always);

// Appends the slot's record to the log, when there is one, and gives its id in `id` (when
// asked). False (with the reason on stderr) when it could not be written.
bool logSlot(WriteRun& run, const std::string& port, const EndInfo& end, const std::string& sum,
             std::string* id = nullptr);

constexpr const char* kErasedWarning =
    "Warning: a device interrupted after its erase holds no data until it is written again.";
