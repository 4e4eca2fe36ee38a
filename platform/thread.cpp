#include <atomic>
#include <system_error>
#include <thread>

#include "platform/thread.h"

namespace {
std::atomic<int> g_failIn{0};
}

void failThreadStart(int n) { g_failIn = n; }

bool startThread(std::function<void()> fn) {
    if (g_failIn.load() > 0 && --g_failIn == 0) return false;
    try {
        std::thread(std::move(fn)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
