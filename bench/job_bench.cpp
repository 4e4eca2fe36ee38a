// Whole write jobs through zemtabulo-cli against v3sim, real clock:
//  1. the data phase against a device reading at the real line rate (3840 B/s) with a 200 KB
//     file: line time of the bytes sent against the measured data phase;
//  2. processor time of the CLI over its wall time for that job;
//  3. peak memory of the CLI with a 1 KB and a 100 MB data file (device without a rate limit);
//  4. the data check that reads the 100 MB file before anything is sent, against that job.
// Usage: job_bench [KB for part 1 (default 200)] [MB for part 3 (default 100)]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "writer/text_stream.h"

namespace {

using namespace bench;

struct CliRun {
    double wall = 0, cpu = 0, dataPhase = 0;
    long maxRssKb = 0;
    int status = -1;
};

// Runs the CLI write, timing the data phase by the status lines it prints.
CliRun runCli(const std::string& port, const std::string& data) {
    int fds[2];
    CliRun r;
    if (pipe(fds) != 0) return r;
    double t0 = now();
    pid_t pid = spawn({binDir() + "/zemtabulo-cli", "write", "--port", port, "--data", data}, fds[1]);
    close(fds[1]);
    std::string line;
    double dataStart = 0;
    char c;
    while (read(fds[0], &c, 1) == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (std::getenv("ZT_BENCH_ECHO")) std::fprintf(stderr, "cli: %s\n", line.c_str());
        if (line == "ﾃﾞｰﾀ書き込み中") dataStart = now();
        if (line == "ﾃﾞｰﾀ書込み終了") r.dataPhase = now() - dataStart;
        line.clear();
    }
    close(fds[0]);
    int st = 0;
    rusage ru{};
    wait4(pid, &st, 0, &ru);
    r.wall = now() - t0;
    r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.maxRssKb = ru.ru_maxrss;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t kb = argc > 1 ? size_t(atol(argv[1])) : 200;
    const size_t mb = argc > 2 ? size_t(atol(argv[2])) : 100;
    const std::string dir = "/tmp/zt-job-bench-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);

    const size_t bytes = kb * 1000;
    const std::string rated = makeData(dir + "/rated.v3", bytes);
    CliRun r;
    {
        Sim sim({"--rate", "3840"});
        r = runCli(sim.port, rated);
    }
    const double lineTime = double(bytes) / 3840.0;
    std::printf("data phase: %zu bytes, line time %.2f s, measured %.2f s: %.3f of the line rate "
                "(target >= 0.99), exit %d\n",
                bytes, lineTime, r.dataPhase, lineTime / r.dataPhase, r.status);
    std::printf("cli job: %.2f s wall, %.3f s cpu = %.2f %% (target <= 2 %%)\n", r.wall, r.cpu,
                100.0 * r.cpu / r.wall);

    CliRun small, big;
    {
        Sim sim({});
        small = runCli(sim.port, makeData(dir + "/small.v3", 1000));
    }
    {
        Sim sim({});
        big = runCli(sim.port, makeData(dir + "/big.v3", mb * 1000 * 1000));
    }
    std::printf("peak memory: 1 KB file %ld KB, %zu MB file %ld KB, difference %ld KB "
                "(target < 1024 KB); %zu MB written in %.1f s\n",
                small.maxRssKb, mb, big.maxRssKb, big.maxRssKb - small.maxRssKb, mb, big.wall);
    const double t0 = now();
    const bool clean = checkDataFile(dir + "/big.v3").ok();
    const double check = now() - t0;
    std::printf("data check of the %zu MB file: %.3f s%s = %.2f %% of its job\n", mb, check,
                clean ? "" : " (refused!)", 100.0 * check / big.wall);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
