#include "serial/channel.h"

#include <cstring>

#include "platform/debug.h"
#include "serial/commands.h"

namespace {

[[noreturn]] void portFault(const char* op) {
    const int err = serialLastError();
    debugOut(std::string(op) + ": " + systemErrorText(err));
    throw PortFault{op, err};
}

}  // namespace

int commOpen(const std::string& portName, Channel* ch) {
    if (const int err = serialOpen(portDeviceName(portName), ch->port); err != 0) return err;
    // A refused line setting leaves the port as it is; the device then simply won't answer.
    serialSetRaw8N1(ch->port, device::kOpenBaud);
    ch->baudRate = device::kOpenBaud;
    ch->lineBuf[0] = '\0';
    return 0;
}

void commSetBaud(Channel* ch) { serialSetBaud(ch->port, ch->baudRate); }

int commGetc(Channel* ch) {
    unsigned char byte = 0;
    int got = serialRead(ch->port, &byte, 1);
    if (got < 0) portFault("commGetc");
    if (got == 0) return -1;
    ch->rxByte = byte;
    return ch->rxByte;
}

void commPuts(const char* text, Channel* ch) {
    if (!serialWrite(ch->port, text, std::strlen(text))) portFault("commPutc");
}

char* commReadLine(Channel* ch, char* out, size_t len) {
    if (len > 0) out[0] = '\0';
    size_t n = std::strlen(ch->lineBuf);  // always < kLineBufSize
    for (;;) {
        int c = commGetc(ch);
        if (c == -1) {
            ch->lineBuf[n] = '\0';
            return nullptr;
        }
        if (c == '\r') {
            ch->lineBuf[n] = '\0';
            if (len > 0) {
                size_t take = std::strlen(ch->lineBuf);
                if (take > len - 1) take = len - 1;
                std::memcpy(out, ch->lineBuf, take);
                out[take] = '\0';
            }
            ch->lineBuf[0] = '\0';
            return out;
        }
        if (c == '\n') continue;
        ch->lineBuf[n++] = char(c);
        // A line that fills the buffer starts over: its first 200 bytes are lost, and the
        // buffer always keeps room for its NUL.
        if (n == kLineBufSize) n = 0;
        ch->lineBuf[n] = '\0';
    }
}

void commWaitInput(Channel* ch, uint32_t ms) {
    if (serialWaitReadable(ch->port, ms) == WaitResult::Failed) portFault("commGetc");
}

void commClose(Channel* ch) { ch->port.close(); }
