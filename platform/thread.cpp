#include <atomic>
#include <system_error>
#include <thread>

#include "platform/thread.h"

namespace {
std::atomic<int> g_failNext{0};
}

void failNextThreadStarts(int count) { g_failNext = count; }

bool startThread(std::function<void()> fn) {
    if (g_failNext.load() > 0) {
        --g_failNext;
        return false;
    }
    try {
        std::thread(std::move(fn)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
