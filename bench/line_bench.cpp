// zemtabulo-line against a PostgreSQL 15 cluster of its own (fsync on, as in a plant): records
// a second from 32 stations sending batches at once, the acknowledgement's latency at a
// plant's pace (10 records a second, one per request), and the server's peak memory.
// With --dashboard N: N records loaded by one generated INSERT (tools/line-sample.sql's
// pattern), each dashboard view timed, then 100 dashboard clients at once while 8 senders ingest.
//   line_bench [--senders N] [--batches N] [--paced-seconds S] [--dashboard N]
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "line/pg.h"
#include "line_server.h"
#include "pg_cluster.h"

namespace {

using nlohmann::json;

constexpr int kBatchRecords = 50;
constexpr double kPacedRate = 10;  // records a second
constexpr double kPercentile = 0.99;

std::string program() {
    return bench::binDir() + "/zemtabulo-line";
}

json recordJson(long long n) {
    char id[40];
    std::snprintf(id, sizeof id, "6f1d2c3b-0000-4000-8000-%012lld", n);
    return {{"id", id},
            {"time_utc", "2026-12-07T15:04:05.123Z"},
            {"host", "line7-pc"},
            {"port", "COM3"},
            {"device", "/dev/serial/by-id/usb-FTDI-if00-port0"},
            {"data_file", "/home/line/screens.v3"},
            {"data_sha256", std::string(64, 'e')},
            {"data_bytes", 204800},
            {"options", "--vertical --transfer-settings"},
            {"result", "ok"},
            {"sum", "5A3C"},
            {"expected_sum", "5A3C"},
            {"seconds", 61.042},
            {"step", "sb"},
            {"reason", ""},
            {"version", "1.5.0"}};
}

std::string batchBody(long long first, int count) {
    json records = json::array();
    for (long long n = first; n < first + count; ++n) records.push_back(recordJson(n));
    return json{{"records", records}}.dump();
}

bool send(httplib::Client& c, const std::string& token, const std::string& body) {
    const auto r =
        c.Post("/api/v1/records", {{"Authorization", "Bearer " + token}}, body, "application/json");
    return r && r->status == 200;
}

long serverPeakKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double ingestRate(int port, const std::string& token, int senders, int batches) {
    std::atomic<int> failed{0};
    const double start = bench::now();
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s)
        threads.emplace_back([&, s] {
            httplib::Client c("127.0.0.1", port);
            for (int b = 0; b < batches; ++b) {
                const long long first = (long long)(s * batches + b) * kBatchRecords;
                if (!send(c, token, batchBody(first, kBatchRecords))) ++failed;
            }
        });
    for (std::thread& t : threads) t.join();
    const double seconds = bench::now() - start;
    if (failed) std::printf("  %d batches not acknowledged\n", failed.load());
    return double(senders) * batches * kBatchRecords / seconds;
}

double pacedP99Ms(int port, const std::string& token, double seconds) {
    httplib::Client c("127.0.0.1", port);
    std::vector<double> ms;
    const double start = bench::now();
    const long long base = 1000000000;
    for (long long n = 0; n < (long long)(seconds * kPacedRate); ++n) {
        const double due = start + double(n) / kPacedRate;
        while (bench::now() < due) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::string body = batchBody(base + n, 1);
        const double t0 = bench::now();
        if (send(c, token, body)) ms.push_back((bench::now() - t0) * 1000);
    }
    if (ms.empty()) return -1;
    std::sort(ms.begin(), ms.end());
    return ms[std::min(ms.size() - 1, size_t(double(ms.size()) * kPercentile))];
}

constexpr int kDashboardClients = 100, kDashboardSenders = 8;
// A browser's page loads its views at once, then refreshes the wall every 15 s; the clients here
// load the whole page again every second, fifteen times harsher.
constexpr auto kDashboardPause = std::chrono::seconds(1);

// Records as a plant's eight stations of four ports make them, one every 5 s back from now.
void loadRecords(const std::string& db, long long count) {
    PgConnection c(db);
    c.exec(
        "INSERT INTO records (id, station, time_utc, host, port, device, data_file,"
        " data_sha256, data_bytes, options, result, sum, expected_sum, seconds, step, reason,"
        " version) SELECT gen_random_uuid(), 'station-' || (i % 8 + 1),"
        " now() - i * interval '5 seconds', 'pc', 'COM' || (i / 8 % 4 + 1), '/dev/ttyUSB0',"
        " 'screens-' || (i % 3) || '.v3', repeat(md5((i % 3)::text), 2), 204800, '',"
        " CASE WHEN i % 23 = 0 THEN 'failed' ELSE 'ok' END, '5A3C', '', 61,"
        " CASE WHEN i % 23 = 0 THEN 'erase' ELSE '' END,"
        " CASE WHEN i % 23 = 0 THEN 'no reply ' || i % 7 ELSE '' END, '1.5.0'"
        " FROM generate_series(1, $1::bigint) AS i",
        {std::to_string(count)});
    c.exec("VACUUM ANALYZE records");
}

std::vector<std::string> dashboardPaths() {
    const std::time_t yesterday = std::time(nullptr) - 24 * 3600;
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", std::gmtime(&yesterday));
    const std::string d = day;
    return {
        "/api/v1/stations",
        "/api/v1/yield?day=" + d + "&tz=Asia/Tokyo",
        "/api/v1/files?day=" + d + "&tz=Asia/Tokyo",
        "/api/v1/failures?day=" + d + "&tz=Asia/Tokyo",
        "/api/v1/records?limit=100&reason=reply&from=" + d + "T00:00:00Z",
        "/api/v1/records.csv?station=station-3&from=" + d + "T00:00:00Z&to=" + d + "T06:00:00Z"};
}

void benchDashboard(int port, const std::string& token) {
    httplib::Client c("127.0.0.1", port);
    for (const std::string& path : dashboardPaths()) {
        double best = 1e9;
        for (int i = 0; i < 3; ++i) {
            const double t0 = bench::now();
            const auto r = c.Get(path);
            if (!r || r->status != 200) std::printf("  %s: failed\n", path.c_str());
            best = std::min(best, bench::now() - t0);
        }
        std::printf("  %-70s %6.1f ms (target <= 200)\n", path.c_str(), best * 1000);
    }
    std::atomic<int> errors{0};
    std::atomic<bool> reading{true};
    std::atomic<int> pages{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < kDashboardClients; ++i)
        readers.emplace_back([&] {
            httplib::Client rc("127.0.0.1", port);
            const auto paths = dashboardPaths();
            while (reading) {
                for (size_t p = 0; p + 1 < paths.size(); ++p) {
                    const auto r = rc.Get(paths[p]);
                    if (!r || r->status != 200) ++errors;
                }
                ++pages;
                std::this_thread::sleep_for(kDashboardPause);
            }
        });
    const double rate = ingestRate(port, token, kDashboardSenders, 40);
    reading = false;
    for (std::thread& t : readers) t.join();
    std::printf(
        "  %d dashboard clients with %d senders: ingest %.0f records/s (target >= 2000), "
        "%d pages read, %d failed reads\n",
        kDashboardClients, kDashboardSenders, rate, pages.load(), errors.load());
}

}  // namespace

int main(int argc, char** argv) {
    int senders = 32, batches = 40;
    double pacedSeconds = 30;
    long long dashboardRecords = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--senders")) senders = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--batches")) batches = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--paced-seconds")) pacedSeconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--dashboard")) dashboardRecords = std::atoll(argv[i + 1]);
    }
    PgCluster cluster(/*durable=*/true);
    if (!cluster.error().empty() || !cluster.createDatabase("bench")) {
        std::fprintf(stderr, "no cluster: %s\n", cluster.error().c_str());
        return 1;
    }
    const std::string db = cluster.conninfo("bench");
    runProgram({program(), "init", "--db", db});
    std::string token = runProgram({program(), "token", "add", "bench", "--db", db}).out;
    token.pop_back();
    token = token.substr(token.rfind('\n') + 1);
    if (dashboardRecords > 0) {
        const double t0 = bench::now();
        loadRecords(db, dashboardRecords);
        std::printf("zemtabulo-line dashboard, %lld records loaded in %.0f s\n", dashboardRecords,
                    bench::now() - t0);
        LineServer server(program(), db, {"--threads", "32"});
        benchDashboard(server.port(), token);
        std::printf("  server peak memory: %.1f MB (target <= 64)\n",
                    double(serverPeakKb(server.pid())) / 1024);
        return 0;
    }
    LineServer server(program(), db, {"--threads", std::to_string(senders)});
    if (server.port() <= 0) {
        std::fprintf(stderr, "the server did not start: %s\n", server.errors().c_str());
        return 1;
    }
    std::printf("zemtabulo-line, PostgreSQL 15 (fsync on), %d senders x %d batches of %d\n",
                senders, batches, kBatchRecords);
    std::printf("  ingest: %.0f records/s (target >= 2000)\n",
                ingestRate(server.port(), token, senders, batches));
    std::printf("  acknowledgement at %.0f records/s for %.0f s: p99 %.1f ms (target <= 100)\n",
                kPacedRate, pacedSeconds, pacedP99Ms(server.port(), token, pacedSeconds));
    std::printf("  server peak memory: %.1f MB (target <= 64)\n",
                double(serverPeakKb(server.pid())) / 1024);
    return 0;
}
