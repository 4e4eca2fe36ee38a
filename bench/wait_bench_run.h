// The two measurements of the reply wait benchmark, the same on every system; each program
// gives its port, how its peer end sends a reply, and how it reads its processor time.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "writer/reply.h"

namespace bench {

// STX 1234 ETX, its check digits and the CR (octal escapes: a hex one would take the digits).
inline constexpr char kSumReply[] = "\0021234\00304\r";

inline double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

//  1. a wait of `silentSeconds` with no reply: processor time used meanwhile;
//  2. over `samples` replies, the delay from `sendReply` to the wait's return.
inline int runWaitBench(const char* port, const std::function<void()>& sendReply,
                        double (*cpuSeconds)(), unsigned silentSeconds, int samples) {
    Channel ch;
    if (commOpen(port, &ch) != 0) return 1;
    JobObserver quiet;
    JobResult result;
    JobContext job{ch, quiet, result};

    DeviceCommand silent = device::kSumQuery;
    silent.timeoutMs = silentSeconds * 1000;
    char buf[kLineBufSize];
    const double c0 = cpuSeconds(), t0 = nowSeconds();
    try {
        waitReply(job, silent, buf, sizeof buf);
    } catch (const WriteAborted&) {
    }
    const double cpu = cpuSeconds() - c0, wall = nowSeconds() - t0;
    std::printf("silent wait: %.1f s wall, %.3f s cpu = %.3f %% of one core (target <= 1 %%)\n",
                wall, cpu, 100.0 * cpu / wall);

    std::vector<double> delays;
    for (int i = 0; i < samples; ++i) {
        commOpen(port, &ch);  // the time-out above closed it
        double sent = 0;
        std::thread device([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(3000 + (i * 7919) % 9000));
            sent = nowSeconds();
            sendReply();
        });
        waitReply(job, device::kSumQuery, buf, sizeof buf);
        const double got = nowSeconds();
        device.join();
        delays.push_back((got - sent) * 1000.0);
    }
    std::sort(delays.begin(), delays.end());
    if (!delays.empty())
        std::printf("reply delay over %d replies: median %.3f ms, max %.3f ms (target <= 2 ms)\n",
                    samples, delays[delays.size() / 2], delays.back());
    return 0;
}

}  // namespace bench
