// Serial ports on Windows: CreateFileA on the port's device name, the device control block
// for the line settings, time-outs that make reads return at once, synchronous writes.
#include <windows.h>

#include <atomic>
#include <memory>

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
// Real milliseconds between two looks at the input queue while waiting.
constexpr DWORD kInputLookMs = 1;

thread_local int t_lastError = 0;
std::atomic<int> g_failOpens{0};

HANDLE handleOf(const SerialPort& port) {
    return reinterpret_cast<HANDLE>(port.native());
}

struct LocalText {
    char* text = nullptr;
    ~LocalText() {
        if (text) LocalFree(text);
    }
};

}  // namespace

void serialCloseNative(intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

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
    DWORD got = 0;
    if (!ReadFile(handleOf(port), buf, DWORD(n), &got, nullptr)) {
        t_lastError = int(GetLastError());
        return -1;
    }
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

// Looks at the driver's input queue every millisecond: the port is opened for plain
// synchronous I/O, where a comm event wait could not be given up after a time-out.
WaitResult serialWaitReadable(SerialPort& port, uint32_t ms) {
    const ClockHooks& clock = clockHooks();
    const ULONGLONG until = GetTickCount64() + clock.realWaitUs(ms) / 1000u;
    for (;;) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(handleOf(port), &errors, &stat)) {
            t_lastError = int(GetLastError());
            return WaitResult::Failed;
        }
        if (stat.cbInQue > 0) return WaitResult::Readable;
        if (GetTickCount64() >= until) break;
        Sleep(kInputLookMs);
    }
    clock.waited(ms);
    return WaitResult::Timeout;
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
