// The dashboard's read-only views of the records: the live wall, a day's yield, the data files
// and the failures, each as JSON.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "line/pg.h"

using QueryParams = std::vector<std::pair<std::string, std::string>>;

// A station whose newest record is older than this is shown as silent.
constexpr int kSilentAfterSeconds = 10 * 60;
// Causes of failure a Pareto lists at most; the rest are summed as one.
constexpr int kMaxCauses = 30;

// `{"now","silent_after_s","stations":[{"station","last_time","age_s","silent",
// "slots":[{"port","result","time_utc","age_s","data_file","step","reason","device"}]}]}`.
std::string stationsJson(PgConnection& db);

// What a view counts over: `day` (YYYY-MM-DD) with `tz` (an IANA zone, UTC when not given), or
// `from` and `to` (times); the last 24 hours when neither. Throws PgError (class 22) for a day,
// zone or time the database cannot read.
struct TimeRange {
    std::string from, to;  // 2026-12-07T15:00:00.000Z
};
TimeRange resolveRange(PgConnection& db, const QueryParams& params);

// `{"day","tz","from","to","ok","total","stations":[{"station","ok","total",
// "hours":[{"hour","ok","total"}]}]}`: the records of the day's local hours.
std::string yieldJson(PgConnection& db, const QueryParams& params);

// `{"from","to","files":[{"data_sha256","data_file","ok","total","first","last"}]}`, the most
// written first; `data_file` is the name the newest record gave.
std::string filesJson(PgConnection& db, const QueryParams& params);

// `{"from","to","failed","total","causes":[{"step","reason","count","cumulative"}],
// "slots":[{"station","port","failed","total"}]}`: the Pareto of the records that are not ok,
// optionally of one `station` and `port`.
std::string failuresJson(PgConnection& db, const QueryParams& params);
