// Serial ports on Windows: CreateFileA on the port's device name, the device control block
// for the line settings, synchronous writes, and read time-outs that let the wait for input
// block in the driver until the first byte arrives.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/serial.h"

namespace {

// The device name is built in a buffer of this many bytes, NUL included: port names of up
// to 15 characters.
constexpr size_t kDeviceNameBufSize = 20;
// A name of exactly this length (COM1 .. COM9) opens as it is; any other gets the \\.\ prefix.
constexpr size_t kPlainNameLength = 4;
// Driver queue sizes, each way.
constexpr DWORD kQueueSize = 3000;
// The longest read time-out the driver takes: MAXDWORD itself means something else.
constexpr uint64_t kLongestReadWaitMs = MAXDWORD - 1;
constexpr int kNoByte = -1;

thread_local int t_lastError = 0;
std::atomic<int> g_failOpens{0};

HANDLE handleOf(const SerialPort& port) {
    return reinterpret_cast<HANDLE>(port.native());
}

// What the backend keeps for an open port. The wait for input is a one-byte read that blocks
// until the first byte or its time-out; the byte it takes waits here for the next serialRead.
// The read time-out is left as the last wait set it, so that a run of equal waits costs the
// driver no new setting; reads look at the input queue first and never ask for more than it
// holds, so they still return at once.
struct PortState {
    int held = kNoByte;
    DWORD readWaitMs = 0;  // 0: the time-outs set at open, reads that never wait
};

std::mutex g_statesMutex;
std::map<HANDLE, PortState> g_states;

// A port's record stays where it is until the port is closed: only its own thread uses it.
PortState& stateOf(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_statesMutex);
    return g_states[h];
}

void forgetState(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_statesMutex);
    g_states.erase(h);
}

int failWithLastError() {
    t_lastError = int(GetLastError());
    return -1;
}

// Bytes in the driver's input queue; -1 when the port failed (adapter unplugged).
long inputQueued(HANDLE h) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(h, &errors, &stat)) return failWithLastError();
    return long(stat.cbInQue);
}

// Whole real milliseconds for a read time-out, rounded up: a wait of any real time blocks in
// the driver.
DWORD readWaitMs(uint64_t us) {
    return DWORD(std::min<uint64_t>((us + 999u) / 1000u, kLongestReadWaitMs));
}

// Reads return at the first byte, or after `ms` with none.
bool setReadWait(HANDLE h, PortState& st, DWORD ms) {
    if (st.readWaitMs == ms) return true;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, ms, 0, 0};
    if (!SetCommTimeouts(h, &timeouts)) {
        failWithLastError();
        return false;
    }
    st.readWaitMs = ms;
    return true;
}

WaitResult lookAtQueue(HANDLE h) {
    const long queued = inputQueued(h);
    if (queued < 0) return WaitResult::Failed;
    return queued > 0 ? WaitResult::Readable : WaitResult::Timeout;
}

// A one-byte read that the driver ends at the first byte or after `ms`; the byte is kept for
// the next serialRead.
WaitResult readFirstByte(HANDLE h, PortState& st, DWORD ms) {
    if (!setReadWait(h, st, ms)) return WaitResult::Failed;
    unsigned char byte = 0;
    DWORD got = 0;
    if (!ReadFile(h, &byte, 1, &got, nullptr)) {
        failWithLastError();
        return WaitResult::Failed;
    }
    if (got == 0) return WaitResult::Timeout;
    st.held = byte;
    return WaitResult::Readable;
}

struct LocalText {
    char* text = nullptr;
    ~LocalText() {
        if (text) LocalFree(text);
    }
};

}  // namespace

void serialCloseNative(intptr_t handle) {
    forgetState(reinterpret_cast<HANDLE>(handle));
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

// "COM1" stays as it is; "COM10" and "COM1 " become \\.\COM10 and \\.\COM1 (the system drops
// the trailing blank of the last path component).
std::string portDeviceName(const std::string& portName) {
    if (portName.size() == kPlainNameLength) return portName;
    std::string name = "\\\\.\\" + portName;
    if (name.size() > kDeviceNameBufSize - 1) return std::string();  // does not fit: no port
    return name;
}

// Windows keeps no stable links to serial devices in the file system.
std::string serialDeviceIdentity(const std::string& devicePath, const std::string&) {
    return devicePath;
}

// COM names looked for in the list of ports present, and room for what a name stands for.
constexpr int kMaxListedCom = 256;
constexpr size_t kDosTargetSize = 1024;

std::vector<std::string> serialPortsPresent() {
    std::vector<std::string> out;
    std::vector<char> target(kDosTargetSize);
    for (int n = 1; n <= kMaxListedCom; ++n) {
        const std::string name = "COM" + std::to_string(n);
        // A name with more targets than fit is still present.
        if (QueryDosDeviceA(name.c_str(), target.data(), DWORD(target.size())) != 0 ||
            GetLastError() == ERROR_INSUFFICIENT_BUFFER)
            out.push_back(name);
    }
    return out;
}

void failNextSerialOpens(int count) {
    g_failOpens = count;
}

int serialOpen(const std::string& device, SerialPort& out) {
    out.close();
    if (g_failOpens.load() > 0) {
        --g_failOpens;
        return ERROR_ACCESS_DENIED;  // what a port held by another program answers
    }
    if (device.empty()) return ERROR_FILE_NOT_FOUND;
    HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return int(GetLastError());
    stateOf(h) = PortState{};
    out.adopt(reinterpret_cast<intptr_t>(h));
    return 0;
}

// Only speed, data bits, parity and stop bits change; every other field of the device control
// block (flow control, special characters) stays as the port reports it.
bool serialSetRaw8N1(SerialPort& port, uint32_t baud) {
    HANDLE h = handleOf(port);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = GetCommState(h, &dcb) != 0;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ok = SetCommState(h, &dcb) != 0 && ok;
    ok = SetupComm(h, kQueueSize, kQueueSize) != 0 && ok;
    // A read returns at once with what has arrived; a write has no time-out.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    ok = SetCommTimeouts(h, &timeouts) != 0 && ok;
    stateOf(h).readWaitMs = 0;
    return ok;
}

bool serialSetBaud(SerialPort& port, uint32_t baud) {
    HANDLE h = handleOf(port);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return false;
    dcb.BaudRate = baud;
    return SetCommState(h, &dcb) != 0;
}

int serialRead(SerialPort& port, void* buf, size_t n) {
    if (n == 0) return 0;
    HANDLE h = handleOf(port);
    PortState& st = stateOf(h);
    if (st.held != kNoByte) {
        *static_cast<unsigned char*>(buf) = static_cast<unsigned char>(st.held);
        st.held = kNoByte;
        traceBytes("rx", buf, 1);
        return 1;
    }
    // With a wait's time-out in place, only what is queued can be read without waiting.
    const long queued = inputQueued(h);
    if (queued <= 0) return int(queued);
    DWORD got = 0;
    if (!ReadFile(h, buf, DWORD(std::min<size_t>(n, size_t(queued))), &got, nullptr))
        return failWithLastError();
    traceBytes("rx", buf, got);
    return int(got);
}

// One synchronous write; with no write time-out it returns when every byte is handed over.
bool serialWrite(SerialPort& port, const void* data, size_t n) {
    traceBytes("tx", data, n);
    DWORD put = 0;
    if (!WriteFile(handleOf(port), data, DWORD(n), &put, nullptr)) {
        t_lastError = int(GetLastError());
        return false;
    }
    return true;
}

// Blocks in a one-byte read, which the driver ends at the first byte or the time-out, so that
// a silent device costs one wake-up per wait rather than one per millisecond. A wait of no
// real time (a manual clock) only looks at the queue.
WaitResult serialWaitReadable(SerialPort& port, uint32_t ms) {
    const ClockHooks& clock = clockHooks();
    HANDLE h = handleOf(port);
    PortState& st = stateOf(h);
    if (st.held != kNoByte) return WaitResult::Readable;
    const DWORD realMs = readWaitMs(clock.realWaitUs(ms));
    const WaitResult result = realMs == 0 ? lookAtQueue(h) : readFirstByte(h, st, realMs);
    if (result == WaitResult::Timeout) clock.waited(ms);
    return result;
}

// Windows has no lock files: the exclusive CreateFile is the whole of a port's ownership.
void serialReleaseLocksForExit() {}

int serialLastError() {
    return t_lastError;
}

std::string systemErrorText(int code) {
    LocalText msg;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, DWORD(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&msg.text), 0, nullptr);
    if (n == 0 || !msg.text) return "Error " + std::to_string(code);
    std::string text(msg.text, n);
    // The system's texts end with a line end.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}
