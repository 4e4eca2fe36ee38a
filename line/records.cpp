#include "line/records.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_set>

namespace {

using nlohmann::json;

enum class Kind { Text, Bytes, Seconds, Attempt };

struct Field {
    const char* name;
    Kind kind;
    std::string LogRecord::*text;  // for Kind::Text
};

// The log's columns; `id` is read apart, as it is checked and required.
constexpr Field kFields[] = {
    {"time_utc", Kind::Text, &LogRecord::timeUtc},
    {"host", Kind::Text, &LogRecord::host},
    {"port", Kind::Text, &LogRecord::port},
    {"device", Kind::Text, &LogRecord::device},
    {"data_file", Kind::Text, &LogRecord::dataFile},
    {"data_sha256", Kind::Text, &LogRecord::dataSha256},
    {"data_bytes", Kind::Bytes, nullptr},
    {"options", Kind::Text, &LogRecord::options},
    {"result", Kind::Text, &LogRecord::result},
    {"sum", Kind::Text, &LogRecord::sum},
    {"expected_sum", Kind::Text, &LogRecord::expectedSum},
    {"seconds", Kind::Seconds, nullptr},
    {"step", Kind::Text, &LogRecord::step},
    {"reason", Kind::Text, &LogRecord::reason},
    {"version", Kind::Text, &LogRecord::version},
    {"attempt", Kind::Attempt, nullptr},
    {"unit", Kind::Text, &LogRecord::unit},
};

// Where the dashes of a UUID's text are.
constexpr size_t kUuidTextSize = 36;
constexpr size_t kUuidDashAt[] = {8, 13, 18, 23};
// A record's attempt is small; this keeps it far from what an integer column holds.
constexpr uint64_t kMaxAttempt = 1000;
// The largest data size a bigint column holds.
constexpr uint64_t kMaxBytes = uint64_t(std::numeric_limits<int64_t>::max());

std::string lowercase(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A field's value from JSON into the record; empty, or why it cannot be taken.
std::string takeField(const Field& f, const json& value, LogRecord& r) {
    const std::string wrong = std::string("field ") + f.name + " must be ";
    switch (f.kind) {
        case Kind::Text:
            if (!value.is_string()) return wrong + "a string";
            r.*f.text = value.get<std::string>();
            // A NUL ends a text parameter early: the row would hold less than was sent.
            if ((r.*f.text).find('\0') != std::string::npos) return wrong + "without NUL";
            return "";
        case Kind::Bytes:
            if (!value.is_number_unsigned() || value.get<uint64_t>() > kMaxBytes)
                return wrong + "a whole number of bytes";
            r.dataBytes = value.get<uint64_t>();
            return "";
        case Kind::Seconds:
            if (!value.is_number()) return wrong + "a number";
            r.seconds = value.get<double>();
            return "";
        case Kind::Attempt:
            if (!value.is_number_unsigned() || value.get<uint64_t>() < 1 ||
                value.get<uint64_t>() > kMaxAttempt)
                return wrong + "a whole number from 1";
            r.attempt = value.get<int>();
            return "";
    }
    return "";
}

std::string takeRecord(const json& item, size_t index, LogRecord& r) {
    const std::string where = "record " + std::to_string(index) + ": ";
    if (!item.is_object()) return where + "not an object";
    const auto id = item.find("id");
    if (id == item.end() || !id->is_string() || !isUuid(id->get<std::string>()))
        return where + "id must be a UUID";
    r.id = lowercase(id->get<std::string>());
    for (const Field& f : kFields) {
        const auto value = item.find(f.name);
        if (value == item.end()) continue;
        if (std::string why = takeField(f, *value, r); !why.empty()) return where + why;
    }
    if (!item.contains("time_utc")) return where + "time_utc is required";
    return "";
}

json recordJson(const LogRecord& r) {
    json j = json::object();
    for (const Field& f : kFields) {
        if (f.kind == Kind::Text) j[f.name] = r.*f.text;
    }
    j["data_bytes"] = r.dataBytes;
    j["seconds"] = r.seconds;
    j["attempt"] = r.attempt;
    j["id"] = r.id;
    return j;
}

// The table's columns in the order of kFields, then id and station.
std::string columnList() {
    std::string list;
    for (const Field& f : kFields) list += std::string(f.name) + ", ";
    return list + "id, station";
}

std::string columnTypes() {
    std::string list;
    for (const Field& f : kFields) {
        const char* type = f.kind == Kind::Text      ? "text"
                           : f.kind == Kind::Bytes   ? "bigint"
                           : f.kind == Kind::Attempt ? "integer"
                                                     : "double precision";
        list += std::string(f.name) + " " +
                (f.name == std::string("time_utc") ? "timestamptz" : type) + ", ";
    }
    return list + "id uuid";
}

// The whole batch goes as one JSON parameter and is unpacked by the server into rows: one
// statement whatever the batch's size, and no value ever part of the SQL text.
const std::string& insertSql() {
    static const std::string sql =
        "WITH added AS (INSERT INTO records (" + columnList() + ") SELECT " + columnList() +
        " FROM jsonb_to_recordset($1::jsonb) AS r(" + columnTypes() +
        ") CROSS JOIN (SELECT $2::text AS station) s"
        " ON CONFLICT (id) DO NOTHING RETURNING 1) SELECT count(*) FROM added";
    return sql;
}

// The time as it is shown (the log's own form) and as a page's cursor holds it (exact).
constexpr const char* kShownTime = R"(to_char(time_utc, 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"'))";
constexpr const char* kCursorTime = R"(to_char(time_utc, 'YYYY-MM-DD"T"HH24:MI:SS.US"Z"'))";
// Separates a cursor's time from its id; neither ever holds it.
constexpr char kCursorMark = '_';

std::string selectSql() {
    std::string sql = "SELECT ";
    for (const Field& f : kFields)
        sql += f.name == std::string("time_utc") ? std::string(kShownTime) + ", "
                                                 : std::string(f.name) + ", ";
    return sql + "id, station, " + kCursorTime + " FROM records";
}

std::string parseLimit(const std::string& text, size_t& limit) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), limit);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || limit < 1 ||
        limit > kMaxPageRecords)
        return "limit must be 1 to " + std::to_string(kMaxPageRecords);
    return "";
}

std::string parseCursor(const std::string& text, RecordQuery& q) {
    const size_t mark = text.rfind(kCursorMark);
    if (mark == std::string::npos || !isUuid(text.substr(mark + 1)))
        return "before must be a page's next";
    q.beforeTime = text.substr(0, mark);
    q.beforeId = text.substr(mark + 1);
    return "";
}

json rowJson(const PgResult& r, int row) {
    json j = json::object();
    int col = 0;
    for (const Field& f : kFields) {
        const std::string text = r.text(row, col++);
        if (f.kind == Kind::Text) {
            j[f.name] = text;
        } else if (f.kind == Kind::Bytes || f.kind == Kind::Attempt) {
            uint64_t n = 0;
            std::from_chars(text.data(), text.data() + text.size(), n);
            j[f.name] = n;
        } else {
            double d = 0;
            std::from_chars(text.data(), text.data() + text.size(), d);
            j[f.name] = d;
        }
    }
    j["id"] = r.text(row, col++);
    j["station"] = r.text(row, col);
    return j;
}

}  // namespace

bool isUuid(const std::string& id) {
    if (id.size() != kUuidTextSize) return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const bool dash =
            std::find(std::begin(kUuidDashAt), std::end(kUuidDashAt), i) != std::end(kUuidDashAt);
        if (dash ? id[i] != '-' : !std::isxdigit(static_cast<unsigned char>(id[i]))) return false;
    }
    return true;
}

std::string parseBatch(const std::string& body, std::vector<LogRecord>& records,
                       std::optional<uint64_t>* waiting) {
    records.clear();
    const json doc = json::parse(body, nullptr, false);
    if (doc.is_discarded()) return "the body is not JSON";
    if (!doc.is_object() || !doc.contains("records") || !doc["records"].is_array())
        return "the body must be {\"records\":[...]}";
    if (const auto w = doc.find("waiting"); w != doc.end()) {
        if (!w->is_number_unsigned()) return "waiting must be a whole number of records";
        if (waiting) *waiting = w->get<uint64_t>();
    }
    for (const json& item : doc["records"]) {
        LogRecord r;
        if (std::string why = takeRecord(item, records.size(), r); !why.empty()) return why;
        records.push_back(std::move(r));
    }
    return "";
}

size_t insertRecords(PgConnection& db, const std::string& station,
                     const std::vector<LogRecord>& records) {
    if (records.empty()) return 0;
    json rows = json::array();
    for (const LogRecord& r : records) rows.push_back(recordJson(r));
    const PgResult r = db.exec(insertSql(), {rows.dump(), station});
    return size_t(std::stoull(r.text(0, 0)));
}

void noteStationQueue(PgConnection& db, const std::string& station, uint64_t waiting) {
    db.exec(
        "INSERT INTO station_queues (station, waiting) VALUES ($1, $2::bigint)"
        " ON CONFLICT (station) DO UPDATE SET waiting = EXCLUDED.waiting, reported_at = now()",
        {station, std::to_string(waiting)});
}

std::string parseRecordQuery(const std::vector<std::pair<std::string, std::string>>& params,
                             RecordQuery& q) {
    q = RecordQuery();
    for (const auto& [name, value] : params) {
        std::string why;
        if (name == "station")
            q.station = value;
        else if (name == "from")
            q.from = value;
        else if (name == "to")
            q.to = value;
        else if (name == "result")
            q.result = value;
        else if (name == "port")
            q.port = value;
        else if (name == "data_sha256")
            q.dataSha256 = lowercase(value);
        else if (name == "data_file")
            q.dataFile = value;
        else if (name == "reason")
            q.reason = value;
        else if (name == "unit")
            q.unit = value;
        else if (name == "limit")
            why = parseLimit(value, q.limit);
        else if (name == "before")
            why = parseCursor(value, q);
        if (!why.empty()) return why;
        if (value.find('\0') != std::string::npos) return name + " holds a NUL";
    }
    return "";
}

namespace {

// The page's rows, one more than asked when a next page exists; the cursor is the last column.
PgResult fetchPage(PgConnection& db, const RecordQuery& q) {
    std::vector<PgParam> params;
    std::string where;
    // Only the placeholders' numbers go into the text; the values are parameters.
    const auto add = [&](const char* condition, const std::optional<std::string>& value,
                         const char* after = "") {
        if (!value) return;
        params.push_back(*value);
        where += (where.empty() ? " WHERE " : " AND ") + std::string(condition) + "$" +
                 std::to_string(params.size()) + after;
    };
    add("station = ", q.station);
    add("time_utc >= ", q.from);
    add("time_utc < ", q.to);
    add("result = ", q.result);
    add("port = ", q.port);
    add("data_sha256 = ", q.dataSha256);
    add("unit = ", q.unit);
    // strpos rather than LIKE: a % or _ typed into the search is meant as itself.
    add("strpos(lower(data_file), lower(", q.dataFile, ")) > 0");
    add("strpos(lower(reason), lower(", q.reason, ")) > 0");
    if (q.beforeTime && q.beforeId) {
        params.push_back(*q.beforeTime);
        params.push_back(*q.beforeId);
        const std::string t = std::to_string(params.size() - 1), i = std::to_string(params.size());
        where += (where.empty() ? " WHERE " : " AND ") + std::string("(time_utc, id) < ($") + t +
                 "::timestamptz, $" + i + "::uuid)";
    }
    // One more than asked tells whether a next page exists.
    params.push_back(std::to_string(q.limit + 1));
    return db.exec(selectSql() + where + " ORDER BY time_utc DESC, id DESC LIMIT $" +
                       std::to_string(params.size()),
                   params);
}

// The cursor after the page's last shown row; empty when no row follows.
std::string nextCursor(const PgResult& r, int shown) {
    if (r.rows() <= shown) return "";
    const int cursorCol = int(std::size(kFields)) + 2;
    return r.text(shown - 1, cursorCol) + kCursorMark + r.text(shown - 1, cursorCol - 2);
}

LogRecord rowRecord(const PgResult& r, int row) {
    LogRecord rec;
    int col = 0;
    for (const Field& f : kFields) {
        const std::string text = r.text(row, col++);
        if (f.kind == Kind::Text)
            rec.*f.text = text;
        else if (f.kind == Kind::Bytes)
            std::from_chars(text.data(), text.data() + text.size(), rec.dataBytes);
        else if (f.kind == Kind::Attempt)
            std::from_chars(text.data(), text.data() + text.size(), rec.attempt);
        else
            std::from_chars(text.data(), text.data() + text.size(), rec.seconds);
    }
    rec.id = r.text(row, col);
    return rec;
}

}  // namespace

std::string listRecordsJson(PgConnection& db, const RecordQuery& q) {
    const PgResult r = fetchPage(db, q);
    json out = {{"records", json::array()}, {"next", nullptr}};
    const int shown = std::min(r.rows(), int(q.limit));
    for (int row = 0; row < shown; ++row) out["records"].push_back(rowJson(r, row));
    if (const std::string next = nextCursor(r, shown); !next.empty()) out["next"] = next;
    return out.dump();
}

bool listRecordsCsv(PgConnection& db, RecordQuery& q, std::string& lines) {
    const PgResult r = fetchPage(db, q);
    const int shown = std::min(r.rows(), int(q.limit));
    const int stationCol = int(std::size(kFields)) + 1;
    for (int row = 0; row < shown; ++row) {
        std::string line = logLine(rowRecord(r, row), kStoredLogColumns);
        line.insert(line.size() - 2, "," + csvField(formulaGuarded(r.text(row, stationCol))));
        lines += line;
    }
    const std::string next = nextCursor(r, shown);
    return !next.empty() && parseCursor(next, q).empty();
}
