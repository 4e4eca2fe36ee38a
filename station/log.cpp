#include "station/log.h"

#include <charconv>
#include <cstdio>

const char* const kLogHeader =
    "time_utc,host,port,device,data_file,data_sha256,data_bytes,options,result,sum,expected_sum,"
    "seconds,step,reason,version";

namespace {

constexpr const char* kLineEnd = "\r\n";
// "2026-12-07T15:04:05.123Z" and its NUL, with room for years of more than four digits.
constexpr size_t kTimestampBufSize = 40;
// A double in fixed notation with 3 decimals: up to 309 integer digits, sign, point.
constexpr size_t kSecondsBufSize = 320;
// Bytes read per step when a torn last line is looked at.
constexpr size_t kScanBufSize = 64 * 1024;

// Not snprintf: the desktop program runs under the user's locale, whose decimal separator
// may be a comma.
std::string fixed3(double value) {
    char buf[kSecondsBufSize];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string();
}

// Whether the file ends inside a quoted field. Every whole record holds an even number of
// quotes, so the count over the file tells it. Only looked at when the last line is torn.
bool endsInsideQuotes(AppendFile& file, uint64_t size) {
    std::string buf(kScanBufSize, '\0');
    uint64_t quotes = 0;
    for (uint64_t at = 0; at < size;) {
        const long long got = file.readAt(at, buf.data(), buf.size());
        if (got <= 0) break;
        for (long long i = 0; i < got; ++i) quotes += buf[size_t(i)] == '"';
        at += uint64_t(got);
    }
    return quotes % 2 == 1;
}

// What goes before a record so that it starts on a line of its own: the header for an empty
// file; for a torn last line, its end (closing an open quote first, so that the torn field
// does not swallow the records after it).
std::string lead(AppendFile& file, uint64_t size, int lastByte) {
    if (size == 0) return std::string(kLogHeader) + kLineEnd;
    if (lastByte == '\n') return std::string();
    if (endsInsideQuotes(file, size)) return std::string("\"") + kLineEnd;
    return lastByte == '\r' ? "\n" : kLineEnd;
}

}  // namespace

std::string utcTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(when);
    const auto day = floor<days>(ms);
    const year_month_day date(day);
    const hh_mm_ss time(ms - day);
    char buf[kTimestampBufSize];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()),
                  int(time.subseconds().count()));
    return buf;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string logLine(const LogRecord& r) {
    const std::string fields[] = {r.timeUtc,
                                  r.host,
                                  r.port,
                                  r.device,
                                  r.dataFile,
                                  r.dataSha256,
                                  std::to_string(r.dataBytes),
                                  r.options,
                                  r.result,
                                  r.sum,
                                  r.expectedSum,
                                  fixed3(r.seconds),
                                  r.step,
                                  r.reason,
                                  r.version};
    std::string line;
    for (const std::string& f : fields) {
        if (&f != fields) line += ',';
        line += csvField(f);
    }
    return line + kLineEnd;
}

int LogFile::open(const std::string& path) {
    path_ = path;
    return file_.open(path);
}

bool LogFile::isOpen() const {
    return file_.isOpen();
}

int LogFile::append(const LogRecord& record) {
    const std::string line = logLine(record);
    return file_.append(
        [&](uint64_t size, int lastByte) { return lead(file_, size, lastByte) + line; });
}
