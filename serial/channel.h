// The serial channel: the one per-port writing context and the operations over it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/serial.h"
#include "platform/ui.h"

// The partial reply line: bytes since the last CR, always NUL-terminated within it.
constexpr size_t kLineBufSize = 200;

struct Channel {
    SerialPort port;
    uint32_t baudRate = 0;
    uint8_t rxByte = 0;
    char lineBuf[kLineBufSize] = {};
    Window statusWnd = nullptr;
    Window progressWnd = nullptr;
    Window notUsedWnd = nullptr;
    // 1 while a write worker owns the channel. Set by Start, cleared by the job's end; the
    // completion watcher polls it from its own thread.
    std::atomic<int> writeBusy{0};
};

// Opens the named port (COMn or a device path) at 4800 bit/s, 8N1, reads that never wait.
// Nonzero on success; 0 when the port cannot be opened (then `port` is closed and nothing else
// in the channel changes). The partial reply line is emptied: a line half received in an
// earlier job never reaches this one.
int commOpen(const std::string& portName, Channel* ch);

// The system's error code of the last commOpen that failed (0 after a success).
extern std::atomic<int> commLastOpenError;

// Applies `baudRate` to the open port.
void commSetBaud(Channel* ch);

// One received byte 0-255, or -1 when nothing has arrived. A failed read is the port error stop.
int commGetc(Channel* ch);

// Writes a NUL-terminated text (without its NUL). A failed write is the port error stop.
void commPuts(const char* text, Channel* ch);

// Gathers received bytes into reply lines ended by CR; LF is dropped. Returns `out` holding a
// completed line (cut to len - 1 bytes and terminated when longer), or nullptr when no line is
// complete yet, with out[0] = NUL.
char* commReadLine(Channel* ch, char* out, size_t len);

// Waits up to `ms` for input between polls. A hung-up port is the port error stop.
void commWaitInput(Channel* ch, uint32_t ms);

// Closes the port; `port` is none afterwards.
void commClose(Channel* ch);

// Shows the system's text for the last error in a box captioned `caption` and ends the
// program with portErrorExitStatus. Nothing further is sent.
[[noreturn]] void portErrorStop(const char* caption);

// Exit status of the port error stop: 0 for the desktop program; the command-line tool sets 1.
extern std::atomic<int> portErrorExitStatus;
