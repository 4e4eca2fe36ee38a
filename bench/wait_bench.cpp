// Reply wait benchmark on a pseudo-terminal, real clock:
//  1. a 30 s wait with no reply: processor time used by the process;
//  2. the delay from a reply's CR reaching the port to the wait's return.
// Usage: wait_bench [seconds-of-silent-wait (default 30)] [delay samples (default 50)]
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>

#include "bench/wait_bench_run.h"

namespace {

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned silentSeconds = argc > 1 ? unsigned(atoi(argv[1])) : 30;
    const int samples = argc > 2 ? atoi(argv[2]) : 50;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    const auto reply = [master] {
        (void)!write(master, bench::kSumReply, std::strlen(bench::kSumReply));
    };
    return bench::runWaitBench(ptsname(master), reply, cpuSeconds, silentSeconds, samples);
}
