// The platform serial calls over an in-memory queue, linked into the fuzz targets in place of
// the POSIX backend. Reads never fail: the port error stop is not what the targets look at.
#include "fuzz/fake_serial.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/serial.h"

namespace {
std::vector<uint8_t> g_queue;
size_t g_readPos = 0;
}  // namespace

void fakeSerialReset() {
    g_queue.clear();
    g_readPos = 0;
}

void fakeSerialFeed(const uint8_t* data, size_t n) {
    g_queue.insert(g_queue.end(), data, data + n);
}

size_t fakeSerialPending() {
    return g_queue.size() - g_readPos;
}

void serialCloseNative(intptr_t) {}

std::string portDeviceName(const std::string& portName) {
    return portName;
}

int serialOpen(const std::string&, SerialPort& out) {
    out.adopt(0);
    return 0;
}

void failNextSerialOpens(int) {}

bool serialSetRaw8N1(SerialPort&, uint32_t) {
    return true;
}

bool serialSetBaud(SerialPort&, uint32_t) {
    return true;
}

int serialRead(SerialPort&, void* buf, size_t n) {
    const size_t got = std::min(n, fakeSerialPending());
    if (got > 0) std::memcpy(buf, g_queue.data() + g_readPos, got);
    g_readPos += got;
    return int(got);
}

bool serialWrite(SerialPort&, const void*, size_t) {
    return true;
}

WaitResult serialWaitReadable(SerialPort&, uint32_t) {
    return fakeSerialPending() == 0 ? WaitResult::Timeout : WaitResult::Readable;
}

void serialReleaseLocksForExit() {}

int serialLastError() {
    return 0;
}

std::string systemErrorText(int code) {
    return "Error " + std::to_string(code);
}
