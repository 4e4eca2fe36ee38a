// What every backend's serial port shares: owning the native handle.
#include "platform/serial.h"

SerialPort::SerialPort(SerialPort&& other) noexcept : handle_(other.handle_) {
    other.handle_ = kNone;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = kNone;
    }
    return *this;
}

void SerialPort::adopt(intptr_t handle) {
    close();
    handle_ = handle;
}

void SerialPort::close() {
    if (handle_ == kNone) return;
    const intptr_t handle = handle_;
    handle_ = kNone;
    serialCloseNative(handle);
}

std::string portNameRefusal(const std::string& portName) {
    return "not a COM name (COM1, COM2, ...) nor a device path: " + portName;
}
