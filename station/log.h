// The record of every device written: one CSV line (RFC 4180) per job and port, appended to a
// file that several programs may share. A written record is on the disk before the call
// returns; records never interleave; the header is written once, when the file is new or empty.
// Columns are only ever added at the end: a file begun by an older version keeps its header and
// gets the columns it names.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>

#include "platform/files.h"

struct LogRecord {
    std::string timeUtc;  // see utcTimestamp
    std::string host;
    std::string port;    // as given
    std::string device;  // the resolved device path, and its by-id or by-path name
    std::string dataFile;
    std::string dataSha256;
    uint64_t dataBytes = 0;
    std::string options;  // the settings flags, as given on the command line
    std::string result;   // ok, failed, sum-mismatch, sum-unreadable, interrupted
    std::string sum;
    std::string expectedSum;
    double seconds = 0;
    std::string step;
    std::string reason;
    std::string version;
    // Made with the record (newRecordId), so that a record sent again is known as the same one.
    std::string id;
    // 1 for a device's first job, 2 for its first retry, and so on.
    int attempt = 1;
    // The serial on the device's label (station/unit.h); empty when none was given.
    std::string unit;
};

// How many columns the header has.
constexpr size_t kLogColumns = 18;
// The header line's fields, comma separated, without a line end.
extern const std::string kLogHeader;
// The header line of the first `columns` columns: that of the version that had no more.
std::string logHeaderOf(size_t columns);
// Begins a new log, so that a spreadsheet reads its Japanese reasons as UTF-8 rather than as
// the system's code page.
constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";
// The header's first name as read back, without the mark a new log begins with.
inline void dropUtf8Bom(std::string& firstName) {
    if (firstName.rfind(kUtf8Bom, 0) == 0)
        firstName.erase(0, std::char_traits<char>::length(kUtf8Bom));
}

// A random UUID (version 4), lowercase: unique however many stations make them.
std::string newRecordId();
// The UUID (version 8) a record without an id of its own gets from the SHA-256 (lowercase hex)
// of what it holds: the same however often it is read. Empty for a digest too short.
std::string digestRecordId(const std::string& sha256Hex);
// Longest record id a log's reader (and appendOnce) takes: a UUID has 36 characters, an id made
// without random bytes (host, time, count) a few more.
constexpr size_t kMaxRecordIdSize = 256;
// Whether `id` can be written and found again as it is: 1 to kMaxRecordIdSize printable ASCII
// characters without a quote or a comma, whose field a reader takes back unchanged.
bool usableRecordId(const std::string& id);

// 2026-12-07T15:04:05.123Z
std::string utcTimestamp(std::chrono::system_clock::time_point when);

// One field as RFC 4180 wants it: quoted (quotes doubled) when it holds a comma, a quote, CR
// or LF; as it is otherwise.
std::string csvField(const std::string& text);
// A field a spreadsheet would take for a formula (it begins with = + - @, a tab or a CR) with an
// apostrophe before it, so that it is shown as text; one that begins with an apostrophe gets one
// more too, so that a reader removes exactly one leading apostrophe from any field.
std::string formulaGuarded(const std::string& text);
// The record as one line of its first `columns` fields (each guarded, then quoted as needed),
// ended by CR LF.
std::string logLine(const LogRecord& record, size_t columns = kLogColumns);

class LogFile {
  public:
    // Opens (creating) the file for appending and reads its header. 0 on success, else the
    // system's error code, or kErrInvalidData when the first line is no header of this log:
    // records of ours under someone else's header would spoil their file.
    int open(const std::string& path);
    bool isOpen() const;
    // Appends the record (the BOM and the header first when the file is empty; a line end first
    // when the last line was left without one, closing a quoted field it left open), with the
    // columns the file's header names: fewer under an older header, empty ones for those a newer
    // version added. 0 on success, else as open. Not movable: the file holds a mutex.
    int append(const LogRecord& record);
    // Appends the record only when no record with its id is in the file yet, deciding under
    // the same lock as append: of two programs that both try (a slot's parent and its child),
    // exactly one writes. 0 when the record is in the file, whether written now or before
    // (`written` tells which); else as append. A log whose header has no `id` column (begun by
    // an older version) cannot tell records apart: the record is appended.
    int appendOnce(const LogRecord& record, bool* written = nullptr);
    // Whether a record with this id is in the file; false for a log without an `id` column.
    // Each call reads only what was appended since the last.
    bool hasRecord(const std::string& id);
    // Whether the file's header has the `id` column, by which records are told apart.
    bool knowsIds() const;
    const std::string& path() const { return path_; }
    // False when the file's header is an older one, which leaves out some of the record's fields.
    bool keepsAllFields() const { return columns_ >= kLogColumns; }
    // The names of the columns left out, comma separated; empty when all are kept.
    std::string columnsLeftOut() const;
    // Called after each record this object wrote is on the disk (the line's sender is woken).
    // Set before the file is shared with other threads.
    void onAppended(std::function<void()> appended) { appended_ = std::move(appended); }
    // The same with the record written, for what keeps a summary of the log up to date without
    // reading it again (the units recorded ok). Set before the file is shared.
    void onRecord(std::function<void(const LogRecord&)> written) { written_ = std::move(written); }
    // Whether the file's header has the column of this name.
    bool keepsColumn(const std::string& name) const;
    // What went wrong, for an error code of open or append.
    std::string errorText(int err) const;

  private:
    // Under the file's lock: the header line, written when the file is new; the columns the
    // file takes into `columns_` and those to leave empty into `padding_`. 0 or an error code.
    int readHeader(uint64_t size, std::string& lead);

    // Where the reading of the records' ids stands: the bytes looked at, and the record being
    // read when they end inside one.
    struct IdScan {
        uint64_t offset = 0;
        bool inQuotes = false;
        bool header = true;  // the first line is the header, not a record
        size_t field = 0;    // the field being read
        std::string id;      // the `id` field so far
        bool overlong = false;
    };
    // Under the file's lock: the ids of the records appended since the last call into ids_.
    void scanIds(uint64_t size);
    void scanByte(char c);
    // Under the lock: the bytes that append the record (`lead` first, else the end of a torn
    // last line), with the columns the file takes.
    std::string recordBytes(const LogRecord& record, uint64_t size, int lastByte, std::string lead);
    // A record of this object's is on the disk: its listeners are told.
    void told(const LogRecord& record);

    std::string path_;
    AppendFile file_;
    IdScan scan_;
    std::unordered_set<std::string> ids_;
    size_t columns_ = kLogColumns;
    size_t padding_ = 0;
    bool foreign_ = false;  // the last error was a header not ours
    std::function<void()> appended_;
    std::function<void(const LogRecord&)> written_;
};
