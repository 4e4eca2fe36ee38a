#include "station/log.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/hash.h"
#include "platform/host.h"
#include "platform/serial.h"

namespace {

// A double in fixed notation with 3 decimals: up to 309 integer digits, sign, point.
constexpr size_t kSecondsBufSize = 320;

// Not snprintf: the desktop program runs under the user's locale, whose decimal separator
// may be a comma.
std::string fixed3(double value) {
    char buf[kSecondsBufSize];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string();
}

struct Column {
    const char* name;
    std::string (*field)(const LogRecord&);
};

// In the order of the header. A new column goes at the end, and the count of the one before it
// joins kOlderColumnCounts, so that the files that version began are still continued.
constexpr Column kColumns[] = {
    {"time_utc", [](const LogRecord& r) { return r.timeUtc; }},
    {"host", [](const LogRecord& r) { return r.host; }},
    {"port", [](const LogRecord& r) { return r.port; }},
    {"device", [](const LogRecord& r) { return r.device; }},
    {"data_file", [](const LogRecord& r) { return r.dataFile; }},
    {"data_sha256", [](const LogRecord& r) { return r.dataSha256; }},
    {"data_bytes", [](const LogRecord& r) { return std::to_string(r.dataBytes); }},
    {"options", [](const LogRecord& r) { return r.options; }},
    {"result", [](const LogRecord& r) { return r.result; }},
    {"sum", [](const LogRecord& r) { return r.sum; }},
    {"expected_sum", [](const LogRecord& r) { return r.expectedSum; }},
    {"seconds", [](const LogRecord& r) { return fixed3(r.seconds); }},
    {"step", [](const LogRecord& r) { return r.step; }},
    {"reason", [](const LogRecord& r) { return r.reason; }},
    {"version", [](const LogRecord& r) { return r.version; }},
    {"id", [](const LogRecord& r) { return r.id; }},
    {"attempt", [](const LogRecord& r) { return std::to_string(r.attempt); }},
    {"unit", [](const LogRecord& r) { return r.unit; }},
};
static_assert(std::size(kColumns) == kLogColumns);
// The headers of earlier versions: 15 columns, before `id`; 16, before `attempt`; 17, before
// `unit`.
constexpr size_t kOlderColumnCounts[] = {15, 16, 17};

constexpr const char* kLineEnd = "\r\n";
constexpr std::string_view kBom = kUtf8Bom;
// Our header is some 200 bytes; a first line not ended within this is no header of ours.
constexpr size_t kMaxHeaderBytes = 4096;
// What a spreadsheet takes for the start of a formula, and the guard's own mark.
constexpr const char* kFormulaStarts = "=+-@\t\r";
constexpr char kGuard = '\'';
// A UUID: 16 bytes, of which the version and the variant take a few bits.
constexpr size_t kUuidBytes = 16;
constexpr size_t kUuidVersionByte = 6, kUuidVariantByte = 8;
constexpr unsigned char kUuidVersion4 = 0x40, kUuidVersion8 = 0x80, kUuidVariantRfc = 0x80;
// Where the UUID's hex digits are cut by dashes: after 8, 12, 16 and 20 of them.
constexpr size_t kUuidDashes[] = {8, 12, 16, 20};
// "2026-12-07T15:04:05.123Z" and its NUL, with room for years of more than four digits.
constexpr size_t kTimestampBufSize = 40;
// Bytes read per step when a torn last line is looked at.
constexpr size_t kScanBufSize = 64 * 1024;

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

// What goes before a record so that it starts on a line of its own: for a torn last line, its
// end (closing an open quote first, so that the torn field does not swallow the records after
// it).
std::string tornLineEnd(AppendFile& file, uint64_t size, int lastByte) {
    if (lastByte == '\n') return std::string();
    if (endsInsideQuotes(file, size)) return std::string("\"") + kLineEnd;
    return lastByte == '\r' ? "\n" : kLineEnd;
}

// The file's first line without its BOM and line end; false when it is not ended within
// kMaxHeaderBytes (a file of one line without an end is that line).
bool firstLine(AppendFile& file, uint64_t size, std::string& line) {
    line.assign(size_t(std::min<uint64_t>(size, kMaxHeaderBytes)), '\0');
    const long long got = file.readAt(0, line.data(), line.size());
    line.resize(got > 0 ? size_t(got) : 0);
    if (line.compare(0, kBom.size(), kBom) == 0) line.erase(0, kBom.size());
    const size_t end = line.find('\n');
    if (end == std::string::npos && size > kMaxHeaderBytes) return false;
    line.resize(std::min(end, line.size()));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// The columns a file with this header line takes, and how many a newer version added after
// ours (left empty); false for a header that is not ours.
bool headerColumns(const std::string& line, size_t& columns, size_t& padding) {
    if (line == kLogHeader) return true;
    for (size_t older : kOlderColumnCounts)
        if (line == logHeaderOf(older)) return columns = older, true;
    if (line.compare(0, kLogHeader.size() + 1, kLogHeader + ",") != 0) return false;
    padding = size_t(std::count(line.begin() + std::ptrdiff_t(kLogHeader.size()), line.end(), ','));
    return true;
}

// The column by which records are told apart.
size_t idColumn() {
    for (size_t i = 0; i < kLogColumns; ++i)
        if (std::strcmp(kColumns[i].name, "id") == 0) return i;
    return kLogColumns;
}

// A field as its readers take it: one guarding apostrophe removed.
std::string unguarded(const std::string& field) {
    return !field.empty() && field[0] == kGuard ? field.substr(1) : field;
}

// An id for when the system gives no random bytes: the host, the time in nanoseconds and a
// count within the program tell the records apart as long as the stations' names differ.
std::string fallbackRecordId() {
    static std::atomic<uint64_t> count{0};
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return hostName() + "-" +
           std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) + "-" +
           std::to_string(++count);
}

}  // namespace

const std::string kLogHeader = logHeaderOf(kLogColumns);

std::string logHeaderOf(size_t columns) {
    std::string header;
    for (size_t i = 0; i < std::min(columns, kLogColumns); ++i)
        header += (i ? "," : "") + std::string(kColumns[i].name);
    return header;
}

namespace {

// The 16 bytes as a UUID's text, marked with `version` and the RFC variant.
std::string uuidText(unsigned char (&b)[kUuidBytes], unsigned char version) {
    b[kUuidVersionByte] = (b[kUuidVersionByte] & 0x0f) | version;
    b[kUuidVariantByte] = (b[kUuidVariantByte] & 0x3f) | kUuidVariantRfc;
    std::string id = hexOf(b, sizeof b);
    for (auto at = std::rbegin(kUuidDashes); at != std::rend(kUuidDashes); ++at)
        id.insert(*at, 1, '-');
    return id;
}

}  // namespace

std::string newRecordId() {
    unsigned char b[kUuidBytes];
    if (randomBytes(b, sizeof b) != 0) return fallbackRecordId();
    return uuidText(b, kUuidVersion4);
}

std::string digestRecordId(const std::string& sha256Hex) {
    if (sha256Hex.size() < 2 * kUuidBytes) return "";
    unsigned char b[kUuidBytes];
    for (size_t i = 0; i < kUuidBytes; ++i)
        b[i] = (unsigned char)std::stoi(sha256Hex.substr(2 * i, 2), nullptr, 16);
    return uuidText(b, kUuidVersion8);
}

bool usableRecordId(const std::string& id) {
    if (id.empty() || id.size() > kMaxRecordIdSize) return false;
    return std::all_of(id.begin(), id.end(),
                       [](char c) { return c > ' ' && c <= '~' && c != '"' && c != ','; });
}

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

std::string formulaGuarded(const std::string& text) {
    if (text.empty() || (text[0] != kGuard && !std::strchr(kFormulaStarts, text[0]))) return text;
    return kGuard + text;
}

std::string logLine(const LogRecord& record, size_t columns) {
    std::string line;
    for (size_t i = 0; i < std::min(columns, kLogColumns); ++i) {
        if (i) line += ',';
        line += csvField(formulaGuarded(kColumns[i].field(record)));
    }
    return line + kLineEnd;
}

int LogFile::readHeader(uint64_t size, std::string& lead) {
    columns_ = kLogColumns;
    padding_ = 0;
    foreign_ = false;
    if (size == 0) {
        lead = std::string(kBom) + kLogHeader + kLineEnd;
        return 0;
    }
    std::string line;
    const bool ended = firstLine(file_, size, line);
    if (ended && size == kBom.size() && line.empty()) {  // made by an editor that saves a BOM
        lead = kLogHeader + kLineEnd;
        return 0;
    }
    if (ended && headerColumns(line, columns_, padding_)) return 0;
    foreign_ = true;
    return kErrInvalidData;
}

int LogFile::open(const std::string& path) {
    path_ = path;
    if (const int err = file_.open(path); err != 0) return err;
    // Read under the append's lock, so that a header another program is writing is seen whole.
    int err = 0;
    const int appendErr = file_.append([&](uint64_t size, int) {
        std::string lead;
        err = readHeader(size, lead);
        return std::string();
    });
    if (appendErr != 0 || err != 0) file_.close();
    return appendErr != 0 ? appendErr : err;
}

bool LogFile::isOpen() const {
    return file_.isOpen();
}

std::string LogFile::recordBytes(const LogRecord& record, uint64_t size, int lastByte,
                                 std::string lead) {
    if (lead.empty()) lead = tornLineEnd(file_, size, lastByte);
    std::string line = logLine(record, columns_);
    line.insert(line.size() - std::strlen(kLineEnd), padding_, ',');
    return lead + line;
}

int LogFile::append(const LogRecord& record) {
    int err = 0;
    const int appendErr = file_.append([&](uint64_t size, int lastByte) {
        std::string lead;
        if ((err = readHeader(size, lead)) != 0) return std::string();
        return recordBytes(record, size, lastByte, lead);
    });
    if (appendErr == 0 && err == 0) told(record);
    return appendErr != 0 ? appendErr : err;
}

int LogFile::appendOnce(const LogRecord& record, bool* written) {
    int err = 0;
    bool composed = false;
    const int appendErr = file_.append([&](uint64_t size, int lastByte) {
        std::string lead;
        if ((err = readHeader(size, lead)) != 0) return std::string();
        if (knowsIds()) {
            scanIds(size);
            if (ids_.count(record.id) != 0) return std::string();
        }
        composed = true;
        return recordBytes(record, size, lastByte, lead);
    });
    if (written) *written = composed && appendErr == 0 && err == 0;
    if (composed && appendErr == 0 && err == 0) told(record);
    return appendErr != 0 ? appendErr : err;
}

void LogFile::told(const LogRecord& record) {
    if (written_) written_(record);
    if (appended_) appended_();
}

bool LogFile::keepsColumn(const std::string& name) const {
    for (size_t i = 0; i < columns_; ++i)
        if (name == kColumns[i].name) return true;
    return false;
}

bool LogFile::hasRecord(const std::string& id) {
    bool found = false;
    // Under the lock, so that a record being appended is seen whole or not at all.
    file_.append([&](uint64_t size, int) {
        std::string lead;
        if (readHeader(size, lead) == 0 && knowsIds()) {
            scanIds(size);
            found = ids_.count(id) != 0;
        }
        return std::string();
    });
    return found;
}

bool LogFile::knowsIds() const {
    return columns_ > idColumn();
}

void LogFile::scanIds(uint64_t size) {
    if (size < scan_.offset) {  // the file was cut or replaced: read afresh
        scan_ = IdScan();
        ids_.clear();
    }
    std::string buf(kScanBufSize, '\0');
    while (scan_.offset < size) {
        const size_t want = size_t(std::min<uint64_t>(buf.size(), size - scan_.offset));
        const long long got = file_.readAt(scan_.offset, buf.data(), want);
        if (got <= 0) return;
        for (long long i = 0; i < got; ++i) scanByte(buf[size_t(i)]);
        scan_.offset += uint64_t(got);
    }
}

// Quotes only switch the field's state: an id holds none, so the text between them need not
// be kept exactly. A record's id counts once its line has ended.
void LogFile::scanByte(char c) {
    IdScan& s = scan_;
    const bool inId = s.field == idColumn();
    if (c == '"') {
        s.inQuotes = !s.inQuotes;
    } else if (!s.inQuotes && c == ',') {
        ++s.field;
    } else if (!s.inQuotes && c == '\n') {
        if (!s.header && s.field >= idColumn() && !s.overlong && !s.id.empty())
            ids_.insert(unguarded(s.id));
        const uint64_t at = s.offset;
        s = IdScan();
        s.offset = at;
        s.header = false;
    } else if (inId && (s.inQuotes || c != '\r')) {
        s.overlong = s.overlong || s.id.size() >= kMaxRecordIdSize + 1;
        if (!s.overlong) s.id += c;
    }
}

std::string LogFile::columnsLeftOut() const {
    std::string names;
    for (size_t i = columns_; i < kLogColumns; ++i)
        names += (names.empty() ? "" : ", ") + std::string(kColumns[i].name);
    return names;
}

std::string LogFile::errorText(int err) const {
    if (foreign_ && err == kErrInvalidData)
        return "its first line is not the header of this log; records are not added to it";
    return systemErrorText(err);
}
