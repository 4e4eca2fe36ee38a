// zemtabulo-line against a PostgreSQL 15 cluster of its own (fsync on, as in a plant): records
// a second from 32 stations sending batches at once, the acknowledgement's latency at a
// plant's pace (10 records a second, one per request), and the server's peak memory.
//   line_bench [--senders N] [--batches N] [--paced-seconds S]
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "bench_util.h"
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

}  // namespace

int main(int argc, char** argv) {
    int senders = 32, batches = 40;
    double pacedSeconds = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--senders")) senders = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--batches")) batches = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--paced-seconds")) pacedSeconds = std::atof(argv[i + 1]);
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
