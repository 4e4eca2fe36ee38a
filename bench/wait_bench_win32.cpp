// Reply wait benchmark of the Windows build, real clock, on two COM ports joined to each other
// (bench/wine_bench.sh maps them to the two ends of a socat link under Wine):
//  1. a wait with no reply: processor time of the process (GetProcessTimes);
//  2. the delay from a reply's CR written at the peer end to the wait's return, the link's own
//     transit included.
// Usage: wait_bench PORT PEER [seconds-of-silent-wait (default 30)] [delay samples (default 50)]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "app/dialogs.h"
#include "app/startup.h"
#include "app/templates.h"
#include "platform/headless/headless.h"
#include "writer/reply.h"

namespace {

// STX 1234 ETX, its check digits and the CR (octal escapes: a hex one would take the digits).
constexpr char kSumReply[] = "\0021234\00304\r";

double seconds(const FILETIME& t) {
    return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;  // 100 ns units
}

double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return seconds(kernel) + seconds(user);
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wait_bench PORT PEER [seconds] [samples]\n");
        return 2;
    }
    const unsigned silentSeconds = argc > 3 ? unsigned(atoi(argv[3])) : 30;
    const int samples = argc > 4 ? atoi(argv[4]) : 50;

    Window dlg = headlessCreateDialog(kMainTemplate, mainDlgProc);
    Channel ch, peer;
    if (!commOpen(argv[1], &ch) || !commOpen(argv[2], &peer)) return 1;
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
        commOpen(argv[1], &ch);
        double sent = 0;
        std::thread device([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(3000 + (i * 7919) % 9000));
            sent = nowSeconds();
            commPuts(kSumReply, &peer);
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
