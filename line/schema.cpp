#include "line/schema.h"

#include <iterator>
#include <string>
#include <vector>

namespace {

// A migration is a list of single statements (a parameterised call takes one at a time). A
// released one is never changed: a change is a new migration at the end.
using Migration = std::vector<const char*>;

const std::vector<Migration>& migrations() {
    static const std::vector<Migration> all = {
        {
            // The record of one device, as the stations' CSV log has it; the id made by the
            // station keeps a record sent twice a single row.
            R"(CREATE TABLE records (
                 id uuid PRIMARY KEY,
                 station text NOT NULL,
                 time_utc timestamptz NOT NULL,
                 host text NOT NULL,
                 port text NOT NULL,
                 device text NOT NULL,
                 data_file text NOT NULL,
                 data_sha256 text NOT NULL,
                 data_bytes bigint NOT NULL,
                 options text NOT NULL,
                 result text NOT NULL,
                 sum text NOT NULL,
                 expected_sum text NOT NULL,
                 seconds double precision NOT NULL,
                 step text NOT NULL,
                 reason text NOT NULL,
                 version text NOT NULL,
                 received_at timestamptz NOT NULL DEFAULT now()))",
            // Newest first by (time, id) is the order every listing pages in.
            "CREATE INDEX records_time ON records (time_utc DESC, id DESC)",
            "CREATE INDEX records_station_time ON records (station, time_utc DESC, id DESC)",
            "CREATE INDEX records_result_time ON records (result, time_utc DESC, id DESC)",
            "CREATE INDEX records_port_time ON records (port, time_utc DESC, id DESC)",
            "CREATE INDEX records_data_sha256 ON records (data_sha256)",
            // Only the digest of a token is kept: a copy of the table lets no one send records.
            R"(CREATE TABLE station_tokens (
                 token_sha256 text PRIMARY KEY,
                 station text NOT NULL,
                 created_at timestamptz NOT NULL DEFAULT now()))",
            // Roles belong to the whole cluster: another database's init may have made them.
            R"(DO $$ BEGIN
                 CREATE ROLE zemtabulo_line_writer NOLOGIN;
               EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL;
               END $$)",
            R"(DO $$ BEGIN
                 CREATE ROLE zemtabulo_line_reader NOLOGIN;
               EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL;
               END $$)",
            "GRANT SELECT, INSERT ON records TO zemtabulo_line_writer",
            "GRANT SELECT ON station_tokens, schema_version TO zemtabulo_line_writer",
            "GRANT SELECT ON records, schema_version TO zemtabulo_line_reader",
        },
        {
            // A device's job may run again after a failure: each run is a record of its own.
            "ALTER TABLE records ADD COLUMN attempt integer NOT NULL DEFAULT 1",
        },
        {
            // The live wall: each slot's last record, found by skipping from slot to slot.
            "CREATE INDEX records_station_port_time ON records (station, port, time_utc DESC, "
            "id DESC)",
            // A day's yield and its data files are counted from the index alone, without the
            // table's rows.
            "CREATE INDEX records_time_counts ON records (time_utc) INCLUDE (station, port, "
            "result, data_sha256)",
            // Failures are few among many: their own small index, with what the Pareto groups by.
            "CREATE INDEX records_failed_time ON records (time_utc) INCLUDE (station, port, "
            "step, reason) WHERE result <> 'ok'",
        },
        {
            // The serial on the device's label; older stations send none.
            "ALTER TABLE records ADD COLUMN unit text NOT NULL DEFAULT ''",
            // A unit's history is looked up by its id; most records of older stations have
            // none and stay out of the index.
            "CREATE INDEX records_unit_time ON records (unit, time_utc DESC, id DESC) "
            "WHERE unit <> ''",
        },
        {
            // How many records each station still held when it last sent: the live wall's
            // "records waiting", which only the station can know.
            R"(CREATE TABLE station_queues (
                 station text PRIMARY KEY,
                 waiting bigint NOT NULL,
                 reported_at timestamptz NOT NULL DEFAULT now()))",
            "GRANT SELECT, INSERT, UPDATE ON station_queues TO zemtabulo_line_writer",
            "GRANT SELECT ON station_queues TO zemtabulo_line_reader",
        },
    };
    return all;
}

constexpr const char* kVersionTable = R"(CREATE TABLE IF NOT EXISTS schema_version (
    version integer PRIMARY KEY,
    applied_at timestamptz NOT NULL DEFAULT now()))";

// Applies migration `version` unless the database has it. The lock keeps a second init waiting
// until the first has committed, after which it sees the version and does nothing.
bool applyMigration(PgConnection& db, int version, const Migration& statements) {
    PgTransaction tx(db);
    db.exec("LOCK TABLE schema_version IN SHARE ROW EXCLUSIVE MODE");
    if (db.exec("SELECT 1 FROM schema_version WHERE version = $1", {std::to_string(version)})
            .rows() > 0)
        return false;
    for (const char* sql : statements) db.exec(sql);
    db.exec("INSERT INTO schema_version (version) VALUES ($1)", {std::to_string(version)});
    tx.commit();
    return true;
}

}  // namespace

int newestSchemaVersion() {
    return int(migrations().size());
}

int migrateSchema(PgConnection& db) {
    db.exec(kVersionTable);
    int applied = 0;
    for (size_t i = 0; i < migrations().size(); ++i)
        applied += applyMigration(db, int(i + 1), migrations()[i]) ? 1 : 0;
    return applied;
}

int schemaVersion(PgConnection& db) {
    if (db.exec("SELECT to_regclass('schema_version') IS NOT NULL").text(0, 0) != "t") return 0;
    const PgResult r = db.exec("SELECT coalesce(max(version), 0) FROM schema_version");
    return std::stoi(r.text(0, 0));
}
