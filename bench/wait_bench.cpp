// Reply wait benchmark on a pseudo-terminal, real clock:
//  1. a 30 s wait with no reply: processor time used by the waiting thread;
//  2. the delay from a reply's CR reaching the port to the wait's return.
// Usage: wait_bench [seconds-of-silent-wait (default 30)] [delay samples (default 50)]
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/dialogs.h"
#include "app/startup.h"
#include "app/templates.h"
#include "platform/headless/headless.h"
#include "writer/reply.h"

namespace {

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned silentSeconds = argc > 1 ? unsigned(atoi(argv[1])) : 30;
    const int samples = argc > 2 ? atoi(argv[2]) : 50;

    Window dlg = headlessCreateDialog(kMainTemplate, mainDlgProc);
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    Channel ch;
    if (!commOpen(ptsname(master), &ch)) return 1;
    ch.statusWnd = mainChannel.statusWnd;

    // 1. Silence.
    DeviceCommand silent = device::kSumQuery;
    silent.timeoutMs = silentSeconds * 1000;
    char buf[kLineBufSize];
    double c0 = cpuSeconds(), t0 = nowSeconds();
    try {
        waitReply(&ch, silent, buf, sizeof buf);
    } catch (const WriteAborted&) {
    }
    double cpu = cpuSeconds() - c0, wall = nowSeconds() - t0;
    std::printf("silent wait: %.1f s wall, %.3f s cpu = %.3f %% of one core (target <= 1 %%)\n",
                wall, cpu, 100.0 * cpu / wall);

    // 2. Reply delay.
    std::vector<double> delays;
    for (int i = 0; i < samples; ++i) {
        commOpen(ptsname(master), &ch);
        double sent = 0;
        std::thread device([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(3000 + (i * 7919) % 9000));
            sent = nowSeconds();
            (void)!write(master, "\x02" "1234\x03" "04\r", 9);
        });
        waitReply(&ch, device::kSumQuery, buf, sizeof buf);
        double got = nowSeconds();
        device.join();
        delays.push_back((got - sent) * 1000.0);
    }
    std::sort(delays.begin(), delays.end());
    std::printf("reply delay over %d replies: median %.3f ms, max %.3f ms (target <= 2 ms)\n",
                samples, delays[delays.size() / 2], delays.back());
    headlessDestroy(dlg);
    return 0;
}
