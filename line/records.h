// Device records between JSON, the stations' CSV columns and the records table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/pg.h"
#include "station/log.h"

// A request body the server takes at most; a station sends a few hundred records at a time.
constexpr size_t kMaxBatchBytes = 4 * 1024 * 1024;
// Records a listing gives when not asked, and at most.
constexpr size_t kDefaultPageRecords = 100;
constexpr size_t kMaxPageRecords = 1000;

// Whether `id` is a UUID in its 8-4-4-4-12 hex form (either case).
bool isUuid(const std::string& id);

// Reads `{"records":[{...},...]}` into records, their ids in lowercase. Keys are the log's
// column names; `data_bytes`, `seconds` and `attempt` numbers, the others strings; `id` and
// `time_utc` required; keys not known (a newer station's columns, `station`) are ignored. Empty on
// success, else why the body was refused.
// `"waiting"`, when the body has it, is how many records the station still holds after these
// (a whole number; anything else refuses the body); left as it is when the body has none.
std::string parseBatch(const std::string& body, std::vector<LogRecord>& records,
                       std::optional<uint64_t>* waiting = nullptr);

// Keeps what the station said it still holds, for the live wall. Throws as insertRecords.
void noteStationQueue(PgConnection& db, const std::string& station, uint64_t waiting);

// Inserts the records as the station's; a record whose id is stored already is left as it was.
// One statement, so all or nothing. Returns how many were new. Throws PgError (class 22 for a
// value the table cannot take, such as a time that is no time) or PgUnavailable.
size_t insertRecords(PgConnection& db, const std::string& station,
                     const std::vector<LogRecord>& records);

// What a listing asks for; unset filters do not filter.
struct RecordQuery {
    std::optional<std::string> station, from, to, result, port, dataSha256;
    // The unit id, whole: a device's records, its reworks among them.
    std::optional<std::string> unit;
    // Parts of the data file's name and of the reason, in any case.
    std::optional<std::string> dataFile, reason;
    size_t limit = kDefaultPageRecords;
    // The `next` of the page before: records older than that one's last.
    std::optional<std::string> beforeTime, beforeId;
};

// The query from a request's parameters (`before` is a page's `next`). Empty on success, else
// what is wrong.
std::string parseRecordQuery(const std::vector<std::pair<std::string, std::string>>& params,
                             RecordQuery& query);

// `{"records":[...],"next":CURSOR or null}`, newest first. Throws as insertRecords.
std::string listRecordsJson(PgConnection& db, const RecordQuery& query);

// The log's columns the records table keeps (all of them, `attempt` and `unit` included): a CSV
// of them reads back as a log of that width.
constexpr size_t kStoredLogColumns = 18;
// One page of the listing as lines of a station's log (CR LF ended), the station as one more
// field, appended to `lines`. True when more pages follow, with `query` moved on to the next.
// Throws as insertRecords.
bool listRecordsCsv(PgConnection& db, RecordQuery& query, std::string& lines);
