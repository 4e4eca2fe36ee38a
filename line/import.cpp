#include "line/import.h"

#include <charconv>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

#include "line/records.h"
#include "platform/hash.h"

namespace {

// Records per insert: a few hundred kilobytes of JSON, whatever the file's size.
constexpr size_t kImportBatch = 1000;
// A record's field is at most this long: a line that is not ended (no log of ours) stops here.
constexpr size_t kMaxFieldBytes = 1024 * 1024;
// Joins the fields a made id is digested over; no field of a log holds it unquoted.
constexpr char kUnitSeparator = '\x1f';

// Reads one CSV record (RFC 4180, ended by CR LF or LF). False at the end of the file or at a
// field over kMaxFieldBytes (`overlong`).
bool readRecord(std::istream& in, std::vector<std::string>& fields, bool& overlong) {
    fields.assign(1, std::string());
    bool quoted = false, any = false;
    for (int c; (c = in.get()) != EOF;) {
        any = true;
        std::string& field = fields.back();
        if (field.size() > kMaxFieldBytes) return !(overlong = true);
        if (quoted) {
            if (c != '"')
                field += char(c);
            else if (in.peek() == '"')
                field += char(in.get());
            else
                quoted = false;
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            if (!field.empty() && field.back() == '\r') field.pop_back();
            return true;
        } else {
            field += char(c);
        }
    }
    return any;
}

// One guarding apostrophe goes, as the log's readers are told (see formulaGuarded).
void unguard(std::vector<std::string>& fields) {
    for (std::string& f : fields)
        if (!f.empty() && f[0] == '\'') f.erase(0, 1);
}

std::string madeId(const std::string& station, const std::vector<std::string>& fields) {
    Sha256 digest;
    digest.update(station.data(), station.size());
    for (const std::string& f : fields) {
        digest.update(&kUnitSeparator, 1);
        digest.update(f.data(), f.size());
    }
    return digestRecordId(digest.finish());
}

template <typename Number>
bool number(const std::string& text, Number& out) {
    out = 0;
    if (text.empty()) return true;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// The columns a header names, by the log's names; -1 for those it lacks.
struct Columns {
    std::vector<std::string> names;
    std::string at(const std::vector<std::string>& fields, const char* name) const {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return fields[i];
        return "";
    }
};

std::string toRecord(const Columns& c, const std::vector<std::string>& fields,
                     const std::string& station, LogRecord& r) {
    r.timeUtc = c.at(fields, "time_utc");
    r.host = c.at(fields, "host");
    r.port = c.at(fields, "port");
    r.device = c.at(fields, "device");
    r.dataFile = c.at(fields, "data_file");
    r.dataSha256 = c.at(fields, "data_sha256");
    r.options = c.at(fields, "options");
    r.result = c.at(fields, "result");
    r.sum = c.at(fields, "sum");
    r.expectedSum = c.at(fields, "expected_sum");
    r.step = c.at(fields, "step");
    r.reason = c.at(fields, "reason");
    r.version = c.at(fields, "version");
    r.unit = c.at(fields, "unit");
    if (!number(c.at(fields, "data_bytes"), r.dataBytes)) return "data_bytes is not a number";
    if (!number(c.at(fields, "seconds"), r.seconds)) return "seconds is not a number";
    if (const std::string a = c.at(fields, "attempt"); !a.empty() && !number(a, r.attempt))
        return "attempt is not a number";
    r.id = c.at(fields, "id");
    // An id that is no UUID (made without random bytes) still names its record: made into one.
    r.id = isUuid(r.id) ? r.id : madeId(station, fields);
    for (char& ch : r.id) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return r.id.empty() ? "no id could be made" : "";
}

std::string readHeader(std::istream& in, Columns& columns) {
    bool overlong = false;
    if (!readRecord(in, columns.names, overlong)) return "the file is empty";
    std::string& first = columns.names.front();
    dropUtf8Bom(first);
    if (first != "time_utc") return "the first line is not the header of a device log";
    return "";
}

}  // namespace

std::string importLog(PgConnection& db, const std::string& path, const std::string& station,
                      ImportCount& count) {
    count = ImportCount();
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot open " + path;
    Columns columns;
    if (std::string why = readHeader(in, columns); !why.empty()) return path + ": " + why;
    PgTransaction tx(db);
    std::vector<LogRecord> batch;
    std::vector<std::string> fields;
    bool overlong = false;
    try {
        for (size_t line = 2; readRecord(in, fields, overlong); ++line) {
            if (fields.size() != columns.names.size()) {
                ++count.skipped;
                continue;
            }
            unguard(fields);
            LogRecord r;
            if (std::string why = toRecord(columns, fields, station, r); !why.empty())
                return path + ": record " + std::to_string(line - 1) + ": " + why;
            batch.push_back(std::move(r));
            ++count.records;
            if (batch.size() == kImportBatch) {
                count.added += insertRecords(db, station, batch);
                batch.clear();
            }
        }
        if (overlong) return path + ": a field longer than any log's";
        count.added += insertRecords(db, station, batch);
    } catch (const PgError& e) {
        return path + ": " + e.what();
    } catch (const nlohmann::json::exception& e) {
        return path + ": a field is not UTF-8 text";
    }
    tx.commit();
    return "";
}
