// The serial channel: the one per-port writing context and the operations over it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/serial.h"

// The partial reply line: bytes since the last CR, always NUL-terminated within it.
constexpr size_t kLineBufSize = 200;

struct Channel {
    SerialPort port;
    uint32_t baudRate = 0;
    uint8_t rxByte = 0;
    char lineBuf[kLineBufSize] = {};
};

// A read, write or wait on the port failed (the adapter unplugged, the line hung up): the job
// cannot go on. Thrown by the operations below; `op` names the one that failed ("commGetc",
// "commPutc") and `err` is the system's error code.
struct PortFault {
    const char* op;
    int err;
};

// Opens the named port (COMn or a device path) at 4800 bit/s, 8N1, reads that never wait.
// 0 on success, else the system's error code (then `port` is closed and nothing else in the
// channel changes). The partial reply line is emptied: a line half received in an earlier job
// never reaches this one.
int commOpen(const std::string& portName, Channel* ch);

// Applies `baudRate` to the open port.
void commSetBaud(Channel* ch);

// One received byte 0-255, or -1 when nothing has arrived. A failed read throws PortFault.
int commGetc(Channel* ch);

// Writes a NUL-terminated text (without its NUL). A failed write throws PortFault.
void commPuts(const char* text, Channel* ch);

// Gathers received bytes into reply lines ended by CR; LF is dropped. Returns `out` holding a
// completed line (cut to len - 1 bytes and terminated when longer), or nullptr when no line is
// complete yet, with out[0] = NUL.
char* commReadLine(Channel* ch, char* out, size_t len);

// Waits up to `ms` for input between polls. A hung-up port throws PortFault.
void commWaitInput(Channel* ch, uint32_t ms);

// Closes the port; `port` is none afterwards.
void commClose(Channel* ch);
