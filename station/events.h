// The event stream of a write job: JSON Lines, one object a line, written on the job's
// standard output and read back by a supervisor (the multi-port write, the station window).
// Every object has "event" and "t" (seconds since the writer started, never going back); all
// but "start" and "done" name their "port" as given on the command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "station/log.h"
#include "station/verdict.h"
#include "writer/job.h"

using Json = nlohmann::json;

constexpr int kEventSchema = 1;
// A longer line is no event of ours: it is dropped whole, never taken in part.
constexpr size_t kMaxEventLine = 64 * 1024;
// Progress events of one port come at most this often.
constexpr std::chrono::milliseconds kProgressInterval{100};

struct StartInfo {
    std::string version;
    std::vector<std::string> ports;
    std::string data;
    std::string sha256;
    uint64_t bytes = 0;
    std::vector<std::string> units{};  // each port's unit id, as ports; "units" when any is given
};

struct EndInfo {
    SlotResult result = SlotResult::Failed;
    int exit = 1;
    double seconds = 0;
    std::string step;
    std::string reason;
    // The data file as the job read and sent it, when it read it to its end: its SHA-256 and
    // size, which the record gives in place of those taken at the start. Empty and 0 when the
    // job stopped short of the file's end (or an older child did not tell).
    std::string dataSha256;
    uint64_t dataBytes = 0;
};

Json startEvent(const StartInfo& info);
Json statusEvent(const std::string& port, const std::string& text);
// The step the job has reached (open, data, fws, ...), so that a job that dies without its
// end event is still known to have reached it.
Json stepEvent(const std::string& port, const std::string& step);
Json progressEvent(const std::string& port, uint64_t sent, uint64_t total);
// An empty sum is the unreadable reply (null).
Json sumEvent(const std::string& port, const std::string& sum);
Json endEvent(const std::string& port, const EndInfo& info);
Json doneEvent(int exit);
// A port's event (end, retry) with the unit of its device and, for a confirmed rework,
// "rework": true; as it was without a unit.
Json withUnit(Json event, const std::string& unit, bool rework);

// Version of the programs, as the events and the log give it.
const char* programVersion();

// The device a port name reaches, for telling two names of one device apart and for the log.
std::string portIdentity(const std::string& port);

// The log record of a job's end, stamped now on this host, with the port's device and an id of
// its own; the data file's fields and the options are the caller's to fill.
LogRecord jobRecord(const std::string& port, const EndInfo& end, const std::string& sum);

// What a slot's record holds besides its end, the same for its parent and its child: whichever
// of them writes the device's first record (LogFile::appendOnce) writes the same one.
struct SlotRecordInfo {
    std::string recordId;    // made by the parent (newRecordId) and given to the child
    std::string dataFile;    // as given
    std::string dataSha256;  // taken at the start; the end's own, when it has one, wins
    uint64_t dataBytes = 0;
    std::string options;      // the settings flags, space separated
    std::string expectedSum;  // empty for none
    int attempt = 1;          // the job's attempt at the device
    std::string unit{};       // the device's unit id; empty for none
    bool rework = false;      // a unit recorded ok before, written again as confirmed
};

// The record of a slot's end: jobRecord with the slot's id and data file, the digest and size
// of the data the job sent when the end tells them, else those of the start.
LogRecord slotRecord(const std::string& port, const EndInfo& end, const std::string& sum,
                     const SlotRecordInfo& info);

// What a single job came to, from its report: the sum it read (empty when the reply could not
// be read, or none came) into `sum`; the reason of a failure, else the job's last status text;
// the expected sum, empty for none.
EndInfo jobEndOf(const JobResult& report, const std::string& status, const std::string& expected,
                 double seconds, std::string& sum);

// Writes events as lines on a stream, each whole and flushed, from any thread. A write that
// fails (the reader went away: a broken pipe) is the end of the events, never of the writer:
// later ones are dropped, and broken() tells it.
class EventWriter {
  public:
    explicit EventWriter(std::FILE* out) : out_(out), started_(std::chrono::steady_clock::now()) {}
    // False when the event could not be written (now or before).
    bool emit(Json event);
    // An empty line, which readers drop: written only to learn whether anyone still reads.
    bool keepAlive();
    bool broken() const;
    double seconds() const;

  private:
    bool writeLine(const std::string& line);

    mutable std::mutex lock_;
    std::FILE* out_;
    std::chrono::steady_clock::time_point started_;
    double lastT_ = 0;
    bool broken_ = false;
};

// One event parsed from a line: an object with a text "event". Anything else is nullopt.
std::optional<Json> parseEvent(const std::string& line);
// The fields of an end event; false when it is not a well-formed one.
bool readEndInfo(const Json& event, EndInfo& out);
// Text field of an event, or "" when absent or not a text.
std::string eventText(const Json& event, const char* key);

// Cuts a byte stream (a child's output read in pieces) into lines, without their line ends.
// A line over kMaxEventLine bytes is dropped.
class LineSplitter {
  public:
    void feed(const char* data, size_t n, const std::function<void(const std::string&)>& line);

  private:
    std::string partial_;
    bool overlong_ = false;
};

// Lets a port's progress through at most every kProgressInterval, the last one (and a forced
// one) always; never the same figure twice.
class ProgressThrottle {
  public:
    bool due(uint64_t sent, uint64_t total, bool force = false);

  private:
    std::chrono::steady_clock::time_point last_{};
    uint64_t lastSent_ = UINT64_MAX;
};
