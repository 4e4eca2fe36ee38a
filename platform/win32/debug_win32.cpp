// Debug output on Windows: every line goes to the debugger (OutputDebugStringA); while tracing
// is on it is also written to stderr, with the dump of the bytes on the line.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/debug.h"

namespace {

std::atomic<bool> g_tracing{false};
std::mutex g_outMutex;  // keeps lines from two threads apart
// Bytes of one dump row.
constexpr size_t kDumpRow = 16;

void dumpRow(const char* direction, const unsigned char* p, size_t n) {
    char hex[kDumpRow * 3 + 1] = {};
    char text[kDumpRow + 1] = {};
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(hex + i * 3, 4, "%02x ", p[i]);
        text[i] = (p[i] >= 0x20 && p[i] < 0x7f) ? char(p[i]) : '.';
    }
    std::fprintf(stderr, "[%s] %-48s %s\n", direction, hex, text);
}

}  // namespace

void setTracing(bool on) {
    g_tracing = on;
}
bool tracing() {
    return g_tracing;
}

void debugOut(const std::string& text) {
    OutputDebugStringA((text + "\n").c_str());
    if (!g_tracing) return;
    std::lock_guard<std::mutex> lock(g_outMutex);
    std::fprintf(stderr, "[debug] %s\n", text.c_str());
}

void traceBytes(const char* direction, const void* data, size_t n) {
    if (!g_tracing || n == 0) return;
    const auto* p = static_cast<const unsigned char*>(data);
    std::lock_guard<std::mutex> lock(g_outMutex);
    for (size_t row = 0; row < n; row += kDumpRow)
        dumpRow(direction, p + row, n - row < kDumpRow ? n - row : kDumpRow);
}
