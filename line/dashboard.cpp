#include "line/dashboard.h"

#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

namespace {

using nlohmann::json;

// Times as the log writes them, and exact ones for a range's bounds (the records' times have
// microseconds: a bound cut to milliseconds would let one slip out).
std::string shownTime(const std::string& expr) {
    return "to_char(" + expr + R"(, 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"'))";
}
std::string exactTime(const std::string& expr) {
    return "to_char(" + expr + R"(, 'YYYY-MM-DD"T"HH24:MI:SS.US"Z"'))";
}

std::optional<std::string> param(const QueryParams& params, const char* name) {
    for (const auto& [key, value] : params)
        if (key == name) return value;
    return std::nullopt;
}

std::string zoneOf(const QueryParams& params) {
    return param(params, "tz").value_or("UTC");
}

long long number(const PgResult& r, int row, int col) {
    return r.isNull(row, col) ? 0 : std::stoll(r.text(row, col));
}

double seconds(const PgResult& r, int row, int col) {
    return r.isNull(row, col) ? 0 : std::stod(r.text(row, col));
}

// Each slot (station and port) that ever sent a record, stepped through on the index from one
// to the next rather than read from every row, and its newest record.
const std::string& lastPerSlotSql() {
    static const std::string sql =
        "WITH RECURSIVE slots AS ("
        " (SELECT station, port FROM records ORDER BY station, port LIMIT 1)"
        " UNION ALL"
        " SELECT n.station, n.port FROM slots s CROSS JOIN LATERAL"
        "  (SELECT station, port FROM records r WHERE (r.station, r.port) > (s.station, s.port)"
        "   ORDER BY station, port LIMIT 1) n)"
        " SELECT s.station, s.port, l.result, " +
        shownTime("l.time_utc") +
        ", extract(epoch FROM now() - l.time_utc), l.data_file, l.step, l.reason, l.device, " +
        shownTime("now()") +
        " FROM slots s CROSS JOIN LATERAL"
        "  (SELECT result, time_utc, data_file, step, reason, device FROM records r"
        "   WHERE r.station = s.station AND r.port = s.port"
        "   ORDER BY time_utc DESC, id DESC LIMIT 1) l"
        " ORDER BY s.station, s.port";
    return sql;
}

json slotJson(const PgResult& r, int row) {
    return {{"port", r.text(row, 1)},      {"result", r.text(row, 2)},
            {"time_utc", r.text(row, 3)},  {"age_s", seconds(r, row, 4)},
            {"data_file", r.text(row, 5)}, {"step", r.text(row, 6)},
            {"reason", r.text(row, 7)},    {"device", r.text(row, 8)}};
}

// The station's newest record is that of its most recent slot.
void closeStation(json& station) {
    double newest = -1;
    for (const json& slot : station["slots"]) {
        const double age = slot["age_s"].get<double>();
        if (newest < 0 || age < newest) {
            newest = age;
            station["last_time"] = slot["time_utc"];
        }
    }
    station["age_s"] = newest;
    station["silent"] = newest > kSilentAfterSeconds;
}

json causesJson(const PgResult& r, long long failed) {
    json causes = json::array();
    long long running = 0;
    for (int row = 0; row < r.rows(); ++row) {
        const long long n = number(r, row, 2);
        running += n;
        causes.push_back({{"step", r.text(row, 0)},
                          {"reason", r.text(row, 1)},
                          {"count", n},
                          {"cumulative", failed ? double(running) / double(failed) : 0.0}});
    }
    return causes;
}

// What each station last said it still holds (stations that never said: no key).
void addQueues(PgConnection& db, json& stations) {
    const PgResult q = db.exec(
        "SELECT station, waiting, extract(epoch FROM now() - reported_at) FROM station_queues");
    for (int row = 0; row < q.rows(); ++row)
        for (json& station : stations)
            if (station["station"] == q.text(row, 0)) {
                station["waiting"] = number(q, row, 1);
                station["waiting_age_s"] = seconds(q, row, 2);
            }
}

}  // namespace

std::string stationsJson(PgConnection& db) {
    const PgResult r = db.exec(lastPerSlotSql());
    json out = {{"silent_after_s", kSilentAfterSeconds}, {"stations", json::array()}};
    out["now"] = r.rows() ? json(r.text(0, 9)) : json(nullptr);
    json* station = nullptr;
    for (int row = 0; row < r.rows(); ++row) {
        if (!station || (*station)["station"] != r.text(row, 0)) {
            if (station) closeStation(*station);
            out["stations"].push_back({{"station", r.text(row, 0)}, {"slots", json::array()}});
            station = &out["stations"].back();
        }
        (*station)["slots"].push_back(slotJson(r, row));
    }
    if (station) closeStation(*station);
    addQueues(db, out["stations"]);
    return out.dump();
}

TimeRange resolveRange(PgConnection& db, const QueryParams& params) {
    if (const auto day = param(params, "day")) {
        const PgResult r =
            db.exec("SELECT " + exactTime("$1::date::timestamp AT TIME ZONE $2") + ", " +
                        exactTime("($1::date + 1)::timestamp AT TIME ZONE $2"),
                    {*day, zoneOf(params)});
        return {r.text(0, 0), r.text(0, 1)};
    }
    const PgParam from = param(params, "from"), to = param(params, "to");
    const PgResult r =
        db.exec("SELECT " +
                    exactTime("coalesce($1::timestamptz, coalesce($2::timestamptz, now()) - "
                              "interval '24 hours')") +
                    ", " + exactTime("coalesce($2::timestamptz, now())"),
                {from, to});
    return {r.text(0, 0), r.text(0, 1)};
}

std::string yieldJson(PgConnection& db, const QueryParams& params) {
    const TimeRange range = resolveRange(db, params);
    const std::string zone = zoneOf(params);
    const PgResult r = db.exec(
        "SELECT station, extract(hour FROM time_utc AT TIME ZONE $3)::int,"
        " count(*) FILTER (WHERE result = 'ok'), count(*),"
        // Each device has one first attempt: the first-pass yield counts those alone.
        " count(*) FILTER (WHERE result = 'ok' AND attempt = 1),"
        " count(*) FILTER (WHERE attempt = 1)"
        " FROM records WHERE time_utc >= $1 AND time_utc < $2 GROUP BY 1, 2 ORDER BY 1, 2",
        {range.from, range.to, zone});
    // The counts from the query's third column on, summed per station and over all.
    const char* const counts[] = {"ok", "total", "first_pass_ok", "devices"};
    json out = {{"day", param(params, "day") ? json(*param(params, "day")) : json(nullptr)},
                {"tz", zone},
                {"from", range.from},
                {"to", range.to},
                {"stations", json::array()}};
    for (const char* key : counts) out[key] = 0;
    for (int row = 0; row < r.rows(); ++row) {
        json& stations = out["stations"];
        if (stations.empty() || stations.back()["station"] != r.text(row, 0)) {
            json station = {{"station", r.text(row, 0)}, {"hours", json::array()}};
            for (const char* key : counts) station[key] = 0;
            stations.push_back(std::move(station));
        }
        json& station = stations.back();
        station["hours"].push_back(
            {{"hour", number(r, row, 1)}, {"ok", number(r, row, 2)}, {"total", number(r, row, 3)}});
        for (int k = 0; k < int(std::size(counts)); ++k) {
            const long long n = number(r, row, 2 + k);
            station[counts[k]] = station[counts[k]].get<long long>() + n;
            out[counts[k]] = out[counts[k]].get<long long>() + n;
        }
    }
    return out.dump();
}

std::string filesJson(PgConnection& db, const QueryParams& params) {
    const TimeRange range = resolveRange(db, params);
    // The name is looked up by the newest record's exact time, which the time index finds.
    const PgResult r = db.exec(
        "SELECT f.data_sha256, n.data_file, f.ok, f.total, " + shownTime("f.first") + ", " +
            shownTime("f.last") +
            " FROM (SELECT data_sha256, count(*) FILTER (WHERE result = 'ok') AS ok,"
            "  count(*) AS total, min(time_utc) AS first, max(time_utc) AS last FROM records"
            "  WHERE time_utc >= $1 AND time_utc < $2 GROUP BY data_sha256) f"
            " CROSS JOIN LATERAL (SELECT data_file FROM records r"
            "  WHERE r.time_utc = f.last AND r.data_sha256 = f.data_sha256 LIMIT 1) n"
            " ORDER BY f.total DESC, f.data_sha256",
        {range.from, range.to});
    json files = json::array();
    for (int row = 0; row < r.rows(); ++row)
        files.push_back({{"data_sha256", r.text(row, 0)},
                         {"data_file", r.text(row, 1)},
                         {"ok", number(r, row, 2)},
                         {"total", number(r, row, 3)},
                         {"first", r.text(row, 4)},
                         {"last", r.text(row, 5)}});
    return json{{"from", range.from}, {"to", range.to}, {"files", files}}.dump();
}

std::string failuresJson(PgConnection& db, const QueryParams& params) {
    const TimeRange range = resolveRange(db, params);
    // An unset station or port filters nothing; the values stay parameters either way.
    const std::vector<PgParam> values = {range.from, range.to, param(params, "station"),
                                         param(params, "port")};
    const std::string where =
        " WHERE time_utc >= $1 AND time_utc < $2 AND ($3::text IS NULL OR station = $3)"
        " AND ($4::text IS NULL OR port = $4)";
    const PgResult slots = db.exec(
        "SELECT station, port, count(*) FILTER (WHERE result <> 'ok'), count(*) FROM records" +
            where + " GROUP BY 1, 2 ORDER BY 3 DESC, 1, 2",
        values);
    json slotList = json::array();
    long long failed = 0, total = 0;
    for (int row = 0; row < slots.rows(); ++row) {
        failed += number(slots, row, 2);
        total += number(slots, row, 3);
        slotList.push_back({{"station", slots.text(row, 0)},
                            {"port", slots.text(row, 1)},
                            {"failed", number(slots, row, 2)},
                            {"total", number(slots, row, 3)}});
    }
    std::vector<PgParam> causeValues = values;
    causeValues.push_back(std::to_string(kMaxCauses));
    const PgResult causes =
        db.exec("SELECT step, reason, count(*) FROM records" + where +
                    " AND result <> 'ok' GROUP BY 1, 2 ORDER BY 3 DESC, 1, 2 LIMIT $5",
                causeValues);
    return json{{"from", range.from},
                {"to", range.to},
                {"failed", failed},
                {"total", total},
                {"causes", causesJson(causes, failed)},
                {"slots", slotList}}
        .dump();
}
