// The record of every device written: one CSV line (RFC 4180) per job and port, appended to a
// file that several programs may share. A written record is on the disk before the call
// returns; records never interleave; the header is written once, when the file is new or empty.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

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
};

// The header line's fields, comma separated, without a line end.
extern const char* const kLogHeader;

// 2026-12-07T15:04:05.123Z
std::string utcTimestamp(std::chrono::system_clock::time_point when);

// One field as RFC 4180 wants it: quoted (quotes doubled) when it holds a comma, a quote, CR
// or LF; as it is otherwise.
std::string csvField(const std::string& text);
// The record as one line, ended by CR LF.
std::string logLine(const LogRecord& record);

class LogFile {
public:
    // Opens (creating) the file for appending. 0 on success, else the system's error code.
    int open(const std::string& path);
    bool isOpen() const;
    // Appends the record (the header first when the file is empty; a line end first when the
    // last line was left without one, closing a quoted field it left open). 0 on success, else
    // the system's error code. Not movable: the file holds a mutex.
    int append(const LogRecord& record);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    AppendFile file_;
};
