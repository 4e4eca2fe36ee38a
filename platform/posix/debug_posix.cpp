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

namespace {

// Received bytes come one at a time; they are gathered into rows ended by a CR, a full row or
// the next write, so that a reply reads as one line of the dump.
std::string g_rxPending;

void dumpRows(const char* direction, const unsigned char* p, size_t n) {
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

void flushRx() {
    dumpRows("rx", reinterpret_cast<const unsigned char*>(g_rxPending.data()), g_rxPending.size());
    g_rxPending.clear();
}

}  // namespace

void traceBytes(const char* direction, const void* data, size_t n) {
    if (!g_tracing || n == 0) return;
    const auto* p = static_cast<const unsigned char*>(data);
    std::lock_guard<std::mutex> lock(g_outMutex);
    if (std::string(direction) != "rx") {
        flushRx();
        dumpRows(direction, p, n);
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        g_rxPending += char(p[i]);
        if (p[i] == '\r' || g_rxPending.size() == 16) flushRx();
    }
}
