// Reply wait benchmark of the Windows build, real clock, on two COM ports joined to each other
// (bench/wine_bench.sh maps them to the two ends of a socat link under Wine):
//  1. a wait with no reply: processor time of the process (GetProcessTimes);
//  2. the delay from a reply's CR written at the peer end to the wait's return, the link's own
//     transit included.
// Usage: wait_bench PORT PEER [seconds-of-silent-wait (default 30)] [delay samples (default 50)]
#include <windows.h>

#include <cstdlib>

#include "bench/wait_bench_run.h"

namespace {

double seconds(const FILETIME& t) {
    return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;  // 100 ns units
}

double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wait_bench PORT PEER [seconds] [samples]\n");
        return 2;
    }
    const unsigned silentSeconds = argc > 3 ? unsigned(atoi(argv[3])) : 30;
    const int samples = argc > 4 ? atoi(argv[4]) : 50;
    Channel peer;
    if (commOpen(argv[2], &peer) != 0) return 1;
    const auto reply = [&peer] { commPuts(bench::kSumReply, &peer); };
    return bench::runWaitBench(argv[1], reply, cpuSeconds, silentSeconds, samples);
}
