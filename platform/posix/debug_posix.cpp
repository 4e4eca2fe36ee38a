#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/debug.h"

namespace {
std::atomic<bool> g_tracing{false};
std::mutex g_outMutex;  // keeps lines from two threads apart
}  // namespace

void setTracing(bool on) { g_tracing = on; }
bool tracing() { return g_tracing; }

void debugOut(const std::string& text) {
    if (!g_tracing) return;
    std::lock_guard<std::mutex> lock(g_outMutex);
    std::fprintf(stderr, "[debug] %s\n", text.c_str());
}

void traceBytes(const char* direction, const void* data, size_t n) {
    if (!g_tracing || n == 0) return;
    const auto* p = static_cast<const unsigned char*>(data);
    std::lock_guard<std::mutex> lock(g_outMutex);
    for (size_t row = 0; row < n; row += 16) {
        char hex[16 * 3 + 1] = {};
        char text[17] = {};
        size_t end = row + 16 < n ? row + 16 : n;
        for (size_t i = row; i < end; ++i) {
            std::snprintf(hex + (i - row) * 3, 4, "%02x ", p[i]);
            text[i - row] = (p[i] >= 0x20 && p[i] < 0x7f) ? char(p[i]) : '.';
        }
        std::fprintf(stderr, "[%s] %-48s %s\n", direction, hex, text);
    }
}
