// Several devices at once against v3sim at the real line rate (3840 B/s), real clock:
//  1. one slot: zemtabulo-cli write with one port;
//  2. N slots in one program: zemtabulo-cli write with N ports; its processor time and that of
//     its children together, and the peak memory of the program and its children per slot;
//  3. N separate single-port programs started at once;
// then the wall times against one slot, and devices per hour.
// Usage: station_bench [KB (default 200)] [slots (default 8)]
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "bench_util.h"

namespace {

using namespace bench;

struct Run {
    double wall = 0, cpu = 0;
    long peakPssKb = 0;  // the program and its children together
    int status = -1;
};

// Proportional set size: the process's own pages, and its share of those it shares with others
// (the program's code, the libraries), so that a tree of processes adds up to what it costs.
// A file under /proc, read with plain system calls: a process that ends while its file is read
// makes the read fail (ESRCH), which a stream would throw as an error; here it is simply gone.
std::string procFile(pid_t pid, const char* name) {
    std::string text;
    const int fd = open(("/proc/" + std::to_string(pid) + "/" + name).c_str(), O_RDONLY);
    if (fd < 0) return text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    close(fd);
    return n < 0 ? std::string() : text;
}

long pssKb(pid_t pid) {
    std::istringstream in(procFile(pid, "smaps_rollup"));
    std::string key;
    while (in >> key) {
        if (key == "Pss:") {
            long kb = 0;
            in >> kb;
            return kb;
        }
    }
    return 0;
}

pid_t parentOf(pid_t pid) {
    const std::string text = procFile(pid, "stat");
    size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    char state;
    int ppid = 0;
    std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid);
    return ppid;
}

// Memory of a process and its children.
long treePssKb(pid_t root) {
    long total = pssKb(root);
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    while (dirent* e = readdir(proc.get())) {
        const pid_t pid = pid_t(std::atol(e->d_name));
        if (pid > 0 && parentOf(pid) == root) total += pssKb(pid);
    }
    return total;
}

Run runCli(std::vector<std::string> args) {
    Run r;
    const int devNull = open("/dev/null", O_WRONLY);
    const double t0 = now();
    args.insert(args.begin(), {binDir() + "/zemtabulo-cli", "write"});
    const pid_t pid = spawn(args, devNull);
    close(devNull);
    int st = 0;
    rusage ru{};
    // Sampled while it runs: the children come and go with the program.
    while (wait4(pid, &st, WNOHANG, &ru) == 0) {
        r.peakPssKb = std::max(r.peakPssKb, treePssKb(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    r.wall = now() - t0;
    // wait4 counts the children the program waited for with the program itself.
    r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::vector<std::unique_ptr<Sim>> rated(int n) {
    std::vector<std::unique_ptr<Sim>> sims;
    for (int i = 0; i < n; ++i) sims.push_back(std::make_unique<Sim>(std::vector<std::string>{"--rate", "3840"}));
    return sims;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t kb = argc > 1 ? size_t(atol(argv[1])) : 200;
    const int slots = argc > 2 ? atoi(argv[2]) : 8;
    const std::string dir = "/tmp/zt-station-bench-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    const std::string data = makeData(dir + "/data.v3", kb * 1000);

    Run one;
    {
        auto sims = rated(1);
        one = runCli({"--data", data, "--port", sims[0]->port});
    }
    Run many;
    {
        auto sims = rated(slots);
        std::vector<std::string> args{"--data", data};
        for (const auto& s : sims) args.insert(args.end(), {"--port", s->port});
        many = runCli(args);
    }
    double separateWall = 0;
    int separateFailed = 0;
    {
        auto sims = rated(slots);
        std::vector<std::thread> runs;
        std::vector<Run> results(static_cast<size_t>(slots));
        const double t0 = now();
        for (int i = 0; i < slots; ++i)
            runs.emplace_back([&, i] { results[size_t(i)] = runCli({"--data", data, "--port", sims[size_t(i)]->port}); });
        for (auto& t : runs) t.join();
        separateWall = now() - t0;
        for (const Run& r : results) separateFailed += r.status != 0;
    }

    std::printf("one slot, %zu KB at 3840 B/s: %.2f s wall, exit %d\n", kb, one.wall, one.status);
    std::printf("%d slots in one program: %.2f s wall = %.3f x one slot (target <= 1.05), exit %d\n",
                slots, many.wall, many.wall / one.wall, many.status);
    std::printf("%d separate programs at once: %.2f s wall = %.3f x one slot, %d failed; "
                "the one program takes %.3f x their time\n",
                slots, separateWall, separateWall / one.wall, separateFailed,
                many.wall / separateWall);
    std::printf("cpu of the program and its children: %.2f s = %.2f %% of one core "
                "(target <= 5 %%)\n",
                many.cpu, 100.0 * many.cpu / many.wall);
    std::printf("peak memory (proportional set size): %ld KB for the program and its children "
                "= %ld KB per slot (target <= 8192 KB)\n",
                many.peakPssKb, many.peakPssKb / slots);
    std::printf("devices per hour on this file: one slot %.0f, %d slots %.0f\n", 3600.0 / one.wall,
                slots, 3600.0 * slots / many.wall);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
