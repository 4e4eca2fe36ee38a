// What the single-port and the multi-port write share: the data file's identity, the log, the
// expected sum, and the events on stdout.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "station/events.h"
#include "station/line_sender.h"
#include "station/log.h"
#include "station/slot_job.h"
#include "station/unit.h"
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
    std::string givenSha256;  // the data file's digest as a slot's parent took it, if it did
    std::string recordId;     // the record's id when the parent gave one; else each has its own
    int attempt = 1;
    intptr_t parentId = 0;               // the parent process at the start (0: not known)
    std::unique_ptr<LineSender> sender;  // with --line: the log's records to the line server
    std::vector<std::string> units;      // each port's unit id ("" for none), as ports
    std::vector<bool> reworks;           // each port's unit recorded ok before, confirmed
};

// The unit ids of `o.units` (PORT=ID) for the run's ports, checked: the pattern, each id's
// form and match, a port named twice or not written, one id on two ports, a port without an id
// when required, and (with a log) a unit recorded ok there without --rework. On a refusal says
// why on stderr and returns kExitUsage; 0 when the run can go on. Before the log is opened
// (`log` null) only what needs no log is checked.
int checkUnits(const CliOptions& o, WriteRun& run, const LogFile* log);
// A slot's child takes its unit as its parent checked it.
void takeSlotUnit(const CliOptions& o, WriteRun& run);

// The parent has this long after the end event to write the device's first record before the
// slot's child stops waiting for it (and leaves it to the parent, which says the record is lost).
constexpr std::chrono::milliseconds kParentRecordWait{10000};
// The same for an interrupted job, which still holds its port: it gives the port back soon.
constexpr std::chrono::milliseconds kInterruptedRecordWait{1000};
// How often a waiting child looks for the record and sends an empty line, whose failure is how
// a parent gone shows on every system.
constexpr std::chrono::milliseconds kKeepAliveInterval{100};

// Two names of one device would have two jobs fight over it: refused (true, said on stderr)
// before anything starts.
bool sameDeviceRefused(const std::vector<std::string>& ports);

// Fills the run from the options and the dialog's settings flags: the data file's hash and size
// (when events or a log need them, or `always`), the log opened. On failure says why on stderr
// and returns the exit status; 0 when the run can go on.
int prepareRun(const CliOptions& opt, const std::vector<std::string>& flags, WriteRun& run,
               bool always);

// With --line: the sender started on the log, woken by each record the run appends. On failure
// says why on stderr and returns the exit status; 0 when the run can go on.
int startSending(const CliOptions& opt, WriteRun& run);
// With a sender: waits at most kSendExitWait for the records not yet sent, then says on stderr
// how many are left for the next start.
void finishSending(WriteRun& run);

// The data file as the run found it at its start, for the job to compare with what it reads.
DataIdentity dataAtStart(const WriteRun& run);
// Why the job must not start: the file is no longer the one the parent hashed; empty when it is
// (or the parent gave no digest).
std::string changedSinceParent(const WriteRun& run);

// What the slot's record holds besides its end.
SlotRecordInfo recordInfo(const WriteRun& run);

// What a run of several slots checks and opens before any port: two names of one device
// refused, the data file and the log (prepareRun), the events with --json. 0 when the run can go
// on, else the exit status.
int prepareSlotsRun(const CliOptions& opt, WriteRun& run);

// Appends the slot's record to the log, when there is one (once, under the id the parent gave),
// and gives its id in `id` (when asked). False (with the reason on stderr) when it could not be
// written.
bool logSlot(WriteRun& run, const std::string& port, const EndInfo& end, const std::string& sum,
             std::string* id = nullptr);

// Whether the record of a slot's device is its parent's to write: the parent gave its id.
bool parentRecords(const WriteRun& run);
// After a slot's end event: waits (at most `bound`) for the parent's record with the slot's id,
// and writes the record itself when the parent is gone (its pipe broken, or on POSIX another
// process became the parent). False when that record could not be written.
bool recordUnlessParentDoes(WriteRun& run, const std::string& port, const EndInfo& end,
                            const std::string& sum, std::chrono::milliseconds bound);

constexpr const char* kErasedWarning =
    "Warning: a device interrupted after its erase holds no data until it is written again.";
