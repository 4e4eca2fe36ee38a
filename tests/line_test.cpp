// zemtabulo-line against a real PostgreSQL 15 cluster started for this program: the server as
// a process, spoken to over HTTP as a station would.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "line/pg.h"
#include "line/schema.h"
#include "line_server.h"
#include "pg_cluster_environment.h"
#include "platform/hash.h"
#include "station/log.h"
#include "temp_dir.h"

namespace {

using nlohmann::json;

ProgramResult line(std::vector<std::string> args) {
    args.insert(args.begin(), ZT_LINE_PATH);
    return runProgram(args);
}

// A record as a station sends it; `n` tells the records of a test apart.
json record(int n, const std::string& time = "2026-12-07T15:04:05.123Z") {
    char id[40];
    std::snprintf(id, sizeof id, "0b9c6f6a-1111-4222-8333-%012d", n);
    return {{"id", id},
            {"time_utc", time},
            {"host", "line7-pc"},
            {"port", "COM" + std::to_string(n % 4 + 1)},
            {"device", "/dev/ttyUSB0"},
            {"data_file", "screens.v3"},
            {"data_sha256", std::string(64, 'a')},
            {"data_bytes", 204800},
            {"options", "--vertical"},
            {"result", "ok"},
            {"sum", "5A3C"},
            {"expected_sum", ""},
            {"seconds", 61.25},
            {"step", "sb"},
            {"reason", ""},
            {"version", "1.5.0"}};
}

json batch(int first, int count) {
    json records = json::array();
    for (int n = first; n < first + count; ++n) records.push_back(record(n));
    return {{"records", records}};
}

class LineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(gCluster, nullptr);
        db_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : db_) c = char(std::tolower(static_cast<unsigned char>(c)));
        ASSERT_TRUE(gCluster->createDatabase(db_));
        const ProgramResult init = line({"init", "--db", conninfo()});
        ASSERT_EQ(init.status, 0) << init.err;
        token_ = addToken("station-7");
        server_ = std::make_unique<LineServer>(ZT_LINE_PATH, conninfo());
        ASSERT_GT(server_->port(), 0) << server_->errors();
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
    }

    std::string conninfo() const { return gCluster->conninfo(db_); }
    std::string addToken(const std::string& station) {
        const ProgramResult r = line({"token", "add", station, "--db", conninfo()});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string out = r.out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out.substr(out.rfind('\n') + 1);
    }
    httplib::Result post(const std::string& body, const std::string& token) {
        httplib::Headers headers;
        if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
        return client_->Post("/api/v1/records", headers, body, "application/json");
    }
    std::string sql(const std::string& query) {
        PgConnection c(conninfo());
        const PgResult r = c.exec(query);
        return r.rows() ? r.text(0, 0) : "";
    }
    int stored() { return std::stoi(sql("SELECT count(*) FROM records")); }
    json list(const std::string& query) {
        const auto r = client_->Get("/api/v1/records" + query);
        EXPECT_TRUE(r && r->status == 200) << (r ? r->body : "no answer");
        return r ? json::parse(r->body) : json();
    }

    std::string db_, token_;
    std::unique_ptr<LineServer> server_;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(LineTest, InitTwiceChangesNothingAndTheRolesHoldTheirRights) {
    const std::string schema =
        "SELECT string_agg(indexname, ',' ORDER BY indexname) FROM pg_indexes "
        "WHERE schemaname = 'public'";
    const std::string before = sql(schema);
    const ProgramResult again = line({"init", "--db", conninfo()});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("already the newest"), std::string::npos) << again.out;
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(sql(schema), before);
    EXPECT_EQ(sql("SELECT count(*) FROM schema_version"), std::to_string(newestSchemaVersion()));
    for (const char* index : {"records_station_time", "records_result_time", "records_port_time",
                              "records_data_sha256"})
        EXPECT_NE(before.find(index), std::string::npos) << index;

    PgConnection c(conninfo());
    c.exec("SET ROLE zemtabulo_line_reader");
    EXPECT_NO_THROW(c.exec("SELECT count(*) FROM records"));
    try {
        c.exec("DELETE FROM records");
        ADD_FAILURE() << "the report role may change records";
    } catch (const PgError& e) {
        EXPECT_EQ(e.sqlState, "42501");
    }
    c.exec("RESET ROLE");
    c.exec("SET ROLE zemtabulo_line_writer");
    EXPECT_THROW(c.exec("DELETE FROM records"), PgError);
    EXPECT_NO_THROW(c.exec("SELECT station FROM station_tokens"));
    EXPECT_THROW(c.exec("DELETE FROM station_tokens"), PgError);
}

TEST_F(LineTest, TokenIsShownOnceAndOnlyItsDigestIsKept) {
    EXPECT_EQ(token_.size(), 64u);
    Sha256 digest;
    digest.update(token_.data(), token_.size());
    EXPECT_EQ(
        sql("SELECT station FROM station_tokens WHERE token_sha256 = '" + digest.finish() + "'"),
        "station-7");
    EXPECT_EQ(sql("SELECT count(*) FROM station_tokens WHERE token_sha256 = '" + token_ + "'"),
              "0");
    EXPECT_NE(addToken("station-8"), token_);
    EXPECT_EQ(line({"token", "add", "", "--db", conninfo()}).status, 1);
}

TEST_F(LineTest, BatchSentTwiceIsStoredOnceAndAcknowledgedBothTimes) {
    json body = batch(0, 50);
    body["records"].push_back(record(7));  // the same record twice in one batch
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto r = post(body.dump(), token_);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
        const json ack = json::parse(r->body)["acknowledged"];
        ASSERT_EQ(ack.size(), 50u);
        EXPECT_EQ(ack[0], record(0)["id"]);
        EXPECT_EQ(ack[49], record(49)["id"]);
    }
    EXPECT_EQ(stored(), 50);
    // An id in capitals is the same UUID.
    json upper = record(3);
    upper["id"] = "0B9C6F6A-1111-4222-8333-000000000003";
    const auto r = post(json{{"records", {upper}}}.dump(), token_);
    ASSERT_TRUE(r);
    EXPECT_EQ(json::parse(r->body)["acknowledged"][0], record(3)["id"]);
    EXPECT_EQ(stored(), 50);
}

TEST_F(LineTest, RefusedRequestsStoreNothing) {
    const std::string good = batch(0, 3).dump();
    const auto expectRefused = [&](const std::string& body, const std::string& token, int status,
                                   const std::string& what) {
        const auto r = post(body, token);
        ASSERT_TRUE(r) << what;
        EXPECT_EQ(r->status, status) << what << ": " << r->body;
        const json answer = json::parse(r->body, nullptr, false);
        EXPECT_TRUE(answer.is_object() && answer.contains("error")) << what << ": " << r->body;
    };
    expectRefused(good, "", 401, "no token");
    expectRefused(good, token_ + "0", 401, "wrong token");
    expectRefused(good, std::string(300, 'a'), 401, "overlong token");
    expectRefused(std::string(4 * 1024 * 1024 + 1, ' '), token_, 413, "over 4 MB");
    expectRefused("{\"records\":[", token_, 400, "cut JSON");
    expectRefused("[]", token_, 400, "no records member");
    const auto withField = [](const char* key, const json& value) {
        json b = batch(0, 3);
        b["records"][2][key] = value;
        return b.dump();
    };
    expectRefused(withField("id", "not-a-uuid"), token_, 400, "id no UUID");
    expectRefused(withField("id", 12), token_, 400, "id a number");
    expectRefused(withField("data_bytes", "204800"), token_, 400, "data_bytes a string");
    expectRefused(withField("data_bytes", -1), token_, 400, "data_bytes negative");
    expectRefused(withField("seconds", "1.5"), token_, 400, "seconds a string");
    expectRefused(withField("result", 1), token_, 400, "result a number");
    expectRefused(withField("reason", std::string("a\0b", 3)), token_, 400, "NUL in text");
    expectRefused(withField("time_utc", "yesterday noon"), token_, 400, "time no time");
    json noId = batch(0, 3);
    noId["records"][1].erase("id");
    expectRefused(noId.dump(), token_, 400, "no id");
    json noTime = batch(0, 3);
    noTime["records"][1].erase("time_utc");
    expectRefused(noTime.dump(), token_, 400, "no time");
    json negative = batch(0, 3);
    negative["waiting"] = -1;
    expectRefused(negative.dump(), token_, 400, "waiting negative");
    EXPECT_EQ(stored(), 0);
    EXPECT_EQ(post(good, token_)->status, 200);
    EXPECT_EQ(stored(), 3);
}

TEST_F(LineTest, HostileTextIsStoredVerbatimUnderTheTokensStation) {
    json r = record(1);
    r["reason"] = "'); DROP TABLE records; --";
    r["options"] = "=HYPERLINK(\"http://x\",\"y\")";
    r["port"] = "+COM1";
    r["sum"] = "@A1";
    r["device"] = "治具1 \"quoted\", with comma\r\nand lines";
    r["station"] = "someone-else";
    r["attempt"] = 2;
    r["unit"] = "-SN'0001";
    r["fixture_serial"] = "F-17";  // a later station's column
    r["lot"] = json::object();
    const auto answer = post(json{{"records", {r}}}.dump(), token_);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
    const json got = list("")["records"];
    ASSERT_EQ(got.size(), 1u);
    for (const char* key : {"reason", "options", "port", "sum", "device", "id", "time_utc",
                            "data_bytes", "seconds", "data_sha256", "attempt", "unit"})
        EXPECT_EQ(got[0][key], r[key]) << key;
    EXPECT_EQ(got[0]["station"], "station-7");
    EXPECT_FALSE(got[0].contains("fixture_serial"));
}

TEST_F(LineTest, QueryFiltersAndPagesNewestFirst) {
    // 25 records: times from 10:00 on, a few sharing a time (the id orders those).
    json records = json::array();
    for (int n = 0; n < 25; ++n) {
        char time[32];
        std::snprintf(time, sizeof time, "2026-12-07T10:%02d:00.000Z", n / 2);
        json r = record(n, time);
        r["result"] = n % 5 == 0 ? "sum-mismatch" : "ok";
        if (n == 24) r["data_sha256"] = std::string(64, 'b');
        records.push_back(r);
    }
    ASSERT_EQ(post(json{{"records", records}}.dump(), token_)->status, 200);
    ASSERT_EQ(post(batch(100, 2).dump(), addToken("station-9"))->status, 200);

    std::vector<std::string> seen;
    std::string query = "?station=station-7&limit=10";
    for (int page = 0; page < 5 && !query.empty(); ++page) {
        const json got = list(query);
        for (const json& r : got["records"]) seen.push_back(r["id"]);
        query = got["next"].is_null()
                    ? ""
                    : "?station=station-7&limit=10&before=" + got["next"].get<std::string>();
    }
    ASSERT_EQ(seen.size(), 25u);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(seen[size_t(i)], record(24 - i)["id"]) << i;

    EXPECT_EQ(list("")["records"].size(), 27u);
    EXPECT_EQ(list("?result=sum-mismatch")["records"].size(), 5u);
    EXPECT_EQ(list("?port=COM1&station=station-7")["records"].size(), 7u);
    EXPECT_EQ(list("?data_sha256=" + std::string(64, 'B'))["records"].size(), 1u);
    EXPECT_EQ(list("?from=2026-12-07T10:03:00Z&to=2026-12-07T10:05:00Z")["records"].size(), 4u);
    EXPECT_EQ(list("?station=nobody")["records"].size(), 0u);
    for (const char* bad :
         {"?limit=0", "?limit=1001", "?limit=ten", "?before=junk", "?from=not-a-time"})
        EXPECT_EQ(client_->Get(std::string("/api/v1/records") + bad)->status, 400) << bad;
}

// Senders go on sending while the database stops and starts again: each batch is resent until
// acknowledged, as a station does, and in the end every record is stored exactly once.
TEST_F(LineTest, SurvivesADatabaseRestartDuringIngest) {
    constexpr int kBatches = 40, kBatchRecords = 25;
    std::atomic<int> unavailable{0}, other{0}, acknowledged{0};
    std::thread sender([&] {
        httplib::Client c("127.0.0.1", server_->port());
        httplib::Headers auth{{"Authorization", "Bearer " + token_}};
        for (int b = 0; b < kBatches; ++b) {
            const std::string body = batch(b * kBatchRecords, kBatchRecords).dump();
            for (;;) {
                const auto r = c.Post("/api/v1/records", auth, body, "application/json");
                if (r && r->status == 200) break;
                (r && r->status == 503 ? unavailable : other)++;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ++acknowledged;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    while (acknowledged < 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(gCluster->stop());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto health = client_->Get("/api/v1/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 503);
    EXPECT_TRUE(gCluster->start());
    sender.join();
    EXPECT_GT(unavailable.load(), 0);
    EXPECT_EQ(other.load(), 0);
    EXPECT_EQ(stored(), kBatches * kBatchRecords);
    EXPECT_EQ(sql("SELECT count(DISTINCT id) FROM records"),
              std::to_string(kBatches * kBatchRecords));
    const auto after = client_->Get("/api/v1/health");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
    EXPECT_EQ(json::parse(after->body)["schema_version"], newestSchemaVersion());
    EXPECT_EQ(server_->stop(), 0) << "the server ends cleanly on SIGTERM";
}

LogRecord logRecord(int n) {
    LogRecord r;
    r.timeUtc = "2026-12-07T11:00:0" + std::to_string(n) + ".500Z";
    r.host = "line7-pc";
    r.port = "COM" + std::to_string(n);
    r.device = "/dev/ttyUSB" + std::to_string(n);
    r.dataFile = "C:\\screens, new.v3";
    r.dataSha256 = std::string(64, 'c');
    r.dataBytes = 1000 + uint64_t(n);
    r.options = "--vertical";
    r.result = "failed";
    r.seconds = 12.5;
    r.step = "erase";
    r.reason = "=1+1 \"no answer\" 'quoted'";
    r.version = "1.5.0";
    r.id = newRecordId();
    r.unit = "SN-" + std::to_string(n);
    return r;
}

TEST_F(LineTest, ImportedLogsAreStoredOnceWithOrWithoutIds) {
    TempDir dir;
    {
        LogFile log;
        ASSERT_EQ(log.open(dir.file("new.csv")), 0);
        for (int n = 1; n <= 3; ++n) ASSERT_EQ(log.append(logRecord(n)), 0);
    }
    // A log an older version began: its header has no id, and its records keep to it.
    dir.write("old.csv", std::string(kUtf8Bom) + logHeaderOf(15) + "\r\n");
    {
        LogFile log;
        ASSERT_EQ(log.open(dir.file("old.csv")), 0);
        for (int n = 4; n <= 5; ++n) ASSERT_EQ(log.append(logRecord(n)), 0);
    }
    dir.write("torn.csv", dir.read("old.csv") + "2026-12-07T11:00:09.000Z,line7-pc,CO");
    for (int round = 0; round < 2; ++round) {
        const ProgramResult r = line({"import", dir.file("new.csv"), dir.file("old.csv"),
                                      "--station", "station-7", "--db", conninfo()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(round ? "3 records, 0 new" : "3 records, 3 new"), std::string::npos)
            << r.out;
        EXPECT_EQ(stored(), 5);
    }
    const ProgramResult torn =
        line({"import", dir.file("torn.csv"), "--station", "station-7", "--db", conninfo()});
    EXPECT_EQ(torn.status, 0) << torn.err;
    EXPECT_NE(torn.out.find("2 records, 0 new, 2 already stored, 1 torn lines skipped"),
              std::string::npos)
        << torn.out;
    EXPECT_EQ(stored(), 5);

    const json got = list("?port=COM4")["records"];
    ASSERT_EQ(got.size(), 1u);
    const LogRecord want = logRecord(4);
    EXPECT_EQ(got[0]["reason"], want.reason) << "the guard's apostrophe is taken off";
    EXPECT_EQ(got[0]["data_file"], want.dataFile);
    EXPECT_EQ(got[0]["time_utc"], want.timeUtc);
    EXPECT_EQ(got[0]["data_bytes"], want.dataBytes);
    EXPECT_EQ(got[0]["seconds"], want.seconds);
    // A unit is found by its id; the older log kept none.
    const json unit = list("?unit=SN-2")["records"];
    ASSERT_EQ(unit.size(), 1u);
    EXPECT_EQ(unit[0]["port"], "COM2");
    EXPECT_EQ(list("?unit=SN-4")["records"].size(), 0u);
    EXPECT_EQ(got[0]["unit"], "");

    // Not a log: refused whole, nothing stored.
    dir.write("other.csv", "name,value\r\na,1\r\n");
    dir.write("badtime.csv", dir.read("new.csv") + std::string(kLogColumns - 1, ',') + "\r\n");
    for (const char* file : {"other.csv", "badtime.csv"})
        EXPECT_EQ(line({"import", dir.file(file), "--station", "s", "--db", conninfo()}).status, 1)
            << file;
    EXPECT_EQ(stored(), 5);
}

}  // namespace

// The dashboard's views against records whose counts are known: a day in Tokyo's zone starts
// at 15:00 UTC the day before, the newest record of each slot wins, and a station whose newest
// record is old is silent.
TEST_F(LineTest, DashboardViewsCountWhatIsStored) {
    json records = json::array();
    for (int n = 0; n < 12; ++n) {
        // 14:30Z (the day before in Tokyo) for n < 4, then 15:30Z and 16:30Z.
        char time[32];
        std::snprintf(time, sizeof time, "2026-12-07T%02d:30:00.000Z",
                      14 + (n < 4 ? 0 : n % 2 + 1));
        json r = record(n, time);
        r["result"] = n % 3 == 0 ? "failed" : "ok";
        r["step"] = n % 3 == 0 ? (n % 2 ? "erase" : "data") : "";
        r["reason"] = n % 3 == 0 ? "no reply" : "";
        // The newest (16:30Z) records name the file anew.
        r["data_file"] = n >= 4 && n % 2 ? "renamed.v3" : "screens.v3";
        if (n == 5) r["attempt"] = 2;  // its device's second attempt: not first-pass
        records.push_back(r);
    }
    // The station says what it still holds behind the batch.
    ASSERT_EQ(post(json{{"records", records}, {"waiting", 7}}.dump(), token_)->status, 200);
    const auto view = [&](const std::string& path) {
        const auto r = client_->Get("/api/v1/" + path);
        EXPECT_TRUE(r && r->status == 200) << path << ": " << (r ? r->body : "no answer");
        return r ? json::parse(r->body) : json();
    };

    const json yield = view("yield?day=2026-12-08&tz=Asia/Tokyo");
    EXPECT_EQ(yield["from"], "2026-12-07T15:00:00.000000Z");
    ASSERT_EQ(yield["stations"].size(), 1u);
    EXPECT_EQ(yield["total"], 8);  // n = 4 to 11
    EXPECT_EQ(yield["ok"], 6);     // less 6 and 9
    EXPECT_EQ(yield["devices"], 7);
    EXPECT_EQ(yield["first_pass_ok"], 5);
    EXPECT_EQ(yield["stations"][0]["hours"][0]["hour"], 0);
    EXPECT_EQ(yield["stations"][0]["hours"][1]["hour"], 1);

    const json wall = view("stations");
    ASSERT_EQ(wall["stations"].size(), 1u);
    EXPECT_TRUE(wall["stations"][0]["silent"]);
    EXPECT_EQ(wall["stations"][0]["waiting"], 7);
    ASSERT_EQ(wall["stations"][0]["slots"].size(), 4u);
    for (const json& slot : wall["stations"][0]["slots"])
        EXPECT_TRUE(slot["time_utc"].get<std::string>().rfind("2026-12-07T16:30", 0) == 0 ||
                    slot["time_utc"].get<std::string>().rfind("2026-12-07T15:30", 0) == 0)
            << slot;

    const json failures = view("failures?from=2026-12-07T00:00:00Z&to=2026-12-08T00:00:00Z");
    EXPECT_EQ(failures["failed"], 4);
    ASSERT_EQ(failures["causes"].size(), 2u);
    EXPECT_EQ(failures["causes"][1]["cumulative"], 1.0);
    EXPECT_EQ(
        view("failures?from=2026-12-07T00:00:00Z&to=2026-12-08T00:00:00Z&port=COM1")["failed"],
        1);  // of 0, 4 and 8 (COM1), 0 failed

    const json files = view("files?from=2026-12-07T00:00:00Z&to=2026-12-08T00:00:00Z");
    ASSERT_EQ(files["files"].size(), 1u);
    EXPECT_EQ(files["files"][0]["total"], 12);
    EXPECT_EQ(files["files"][0]["data_file"], "renamed.v3");  // the newest record's name

    for (const char* bad :
         {"yield?day=2026-13-01", "yield?day=2026-12-08&tz=Mars/Base", "files?from=someday"})
        EXPECT_EQ(client_->Get(std::string("/api/v1/") + bad)->status, 400) << bad;
    // Read-only: the views take no writes.
    EXPECT_NE(client_->Post("/api/v1/stations", "{}", "application/json")->status, 200);
    EXPECT_EQ(stored(), 12);
}

// The CSV of a listing longer than a page: every record once, under the log's header, and a
// field a spreadsheet would run as a formula guarded.
TEST_F(LineTest, CsvHoldsEveryPageUnderTheLogsHeader) {
    constexpr int kRecords = 2500;
    for (int first = 0; first < kRecords; first += 500) {
        json b = batch(first, 500);
        if (first == 0) b["records"][0]["reason"] = "=HYPERLINK(\"x\")";
        ASSERT_EQ(post(b.dump(), token_)->status, 200);
    }
    const auto r = client_->Get("/api/v1/records.csv?station=station-7");
    ASSERT_TRUE(r && r->status == 200);
    EXPECT_EQ(r->get_header_value("Content-Type").rfind("text/csv", 0), 0u);
    const std::string& body = r->body;
    EXPECT_EQ(body.rfind(std::string(kUtf8Bom) + kLogHeader + ",station\r\n", 0), 0u);
    size_t lines = 0;
    for (size_t at = body.find("\r\n"); at != std::string::npos; at = body.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, size_t(kRecords) + 1);
    EXPECT_NE(body.find(",\"'=HYPERLINK(\"\"x\"\")\","), std::string::npos);
    EXPECT_EQ(client_->Get("/api/v1/records.csv?from=not-a-time")->status, 400);
}

TEST_F(LineTest, ServesThePageAndChartJs) {
    const auto page = client_->Get("/");
    ASSERT_TRUE(page && page->status == 200);
    EXPECT_NE(page->body.find("dashboard.js"), std::string::npos);
    EXPECT_EQ(client_->Get("/dashboard.js")->status, 200);
    LineServer other(ZT_LINE_PATH, conninfo(), {"--chart-js", "/nonexistent/chart.js"});
    httplib::Client c("127.0.0.1", other.port());
    EXPECT_EQ(c.Get("/chart.js")->status, 404);
    EXPECT_EQ(c.Get("/api/v1/health")->status, 200);
}
