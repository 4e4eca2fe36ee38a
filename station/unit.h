// Unit ids: the serial on a device's label, typed by a keyboard-wedge scanner, tied to the
// device's record. The checks are here once for the command line and the station window: the
// id's form, the station's pattern, and an id whose device is recorded ok already, which only a
// confirmed rework may write again (its record then marked).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <unordered_map>

#include "station/log.h"

// Longest id taken: a label's serial is a few dozen characters; more is no scan of one.
constexpr size_t kMaxUnitIdSize = 64;
// The reason of a rework's record begins with this word (alone, or followed by "; " and the
// job's own reason), so that a reader finds reworks by the reason's start, a line server's
// search by a part of it.
constexpr const char* kReworkReason = "rework";

// The station's pattern for ids (ECMAScript, matched against the whole id). No text: any id.
struct UnitPattern {
    std::string text;
    std::shared_ptr<const std::regex> re;
};

// The pattern from its text. Empty on success, else why it is no pattern (a configuration
// error, told before anything starts).
std::string compileUnitPattern(const std::string& text, UnitPattern& out);

// What a slot's id comes to before its job may start.
enum class UnitVerdict {
    Ok,
    Missing,     // the slot requires an id and has none
    Unusable,    // not 1 to kMaxUnitIdSize printable ASCII characters without blanks
    NoMatch,     // not matched whole by the pattern
    RecordedOk,  // its device is recorded ok in the log: a rework, to be confirmed
};

// The checks of an id (empty for none) in their order.
UnitVerdict checkUnit(const std::string& id, bool required, const UnitPattern& pattern,
                      bool recordedOk);

// Why the id is refused, in English for the command line; empty for UnitVerdict::Ok.
std::string unitRefusal(UnitVerdict verdict, const std::string& id, const UnitPattern& pattern);

// The reason a rework's record gives: kReworkReason before the job's own reason.
std::string reworkReason(const std::string& reason);

// Which units a log holds as ok: those with a record of result ok that no later record
// corrects (README: the final verdict). Read once from the file, then kept up to date with
// each record written (note) and what other programs append (catchUp), so that a log of
// 100,000 records is read once per program. Used on one thread.
class UnitLedger {
  public:
    // Reads the log at `path`; a missing or empty file holds no unit, a header without `unit`
    // neither. 0 on success, else the system's error code.
    int read(const std::string& path);
    // Takes the records appended to the log since it was last read, whoever wrote them; a
    // record still being written waits for its line end. Same contract as read.
    int catchUp();
    void note(const LogRecord& record);
    bool recordedOk(const std::string& unit) const;

  private:
    void take(const std::string& unit, const std::string& result, const std::string& id,
              const std::string& reason);

    // Where the header's columns are; `read` false until the header is in.
    struct Columns {
        bool read = false;
        size_t count = 0, unit = 0, result = 0, id = 0, reason = 0;
    };
    std::string path_;
    uint64_t offset_ = 0;  // the end of the last whole record taken
    Columns columns_;

    std::unordered_map<std::string, std::string> okRecords_;  // record id -> its unit
    std::unordered_map<std::string, size_t> okUnits_;         // unit -> its ok records
};
