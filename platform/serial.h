// Serial port primitives: exclusive open, raw 8N1 at a given speed, reads that never wait,
// writes of whole buffers, and a bounded wait for input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An open serial port. Closing is tied to the object's lifetime.
class SerialPort {
public:
    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    ~SerialPort() { close(); }

    bool isOpen() const { return handle_ != kNone; }
    void close();

    // Native handle: a file descriptor on POSIX, a HANDLE on Windows.
    intptr_t native() const { return handle_; }
    void adopt(intptr_t handle);

    static constexpr intptr_t kNone = -1;

private:
    intptr_t handle_ = kNone;
};

// Gives up a native handle of an open port (each backend its own).
void serialCloseNative(intptr_t handle);

// The device name a configured port name stands for (e.g. COM3 -> /dev/ttyS2). On POSIX a
// name that is no COM name is a device path: one holding a '/' is taken from the working
// directory when it does not start with one, and a bare "tty..." name is under /dev. Empty
// when no device stands for the name: its open fails.
std::string portDeviceName(const std::string& portName);

// What the operator is told of a port name for which portDeviceName finds no device.
std::string portNameRefusal(const std::string& portName);

// The device behind `devicePath` as a record names it: the resolved path and, where one
// exists, its stable name under `linkRoot`/by-id (else `linkRoot`/by-path), as
// "/dev/ttyUSB0 (/dev/serial/by-id/usb-...)". The path as given when it does not resolve; on
// Windows always the name as given.
std::string serialDeviceIdentity(const std::string& devicePath,
                                 const std::string& linkRoot = "/dev/serial");

// The port names an operator may choose from, for a drop-down list: the COMn names that reach
// a device present, then (POSIX) the hub-socket names under /dev/serial/by-path and the USB
// and ACM devices.
std::vector<std::string> serialPortsPresent();

// Opens `device` for exclusive use: another process, or a second open in this one, fails.
// On POSIX a live owner named by the port's lock file refuses the open too (EBUSY), before
// the device is opened, and the port holds its own lock file until it is closed (see
// serial_lock.h).
// Returns 0 on success, else the system's error code.
int serialOpen(const std::string& device, SerialPort& out);

// Removes the lock files of every port this process holds open (POSIX; nothing elsewhere),
// for a process about to end without closing its ports: the port error stop, a signal.
// Async-signal-safe: it may be called from a signal handler.
void serialReleaseLocksForExit();

// Test hook: the next `count` opens fail with EBUSY, as if another program held the port.
void failNextSerialOpens(int count);

// Raw line: `baud` bit/s, 8 data bits, no parity, one stop bit, no flow control, no byte
// translated, reads that return at once. False when the port refused.
bool serialSetRaw8N1(SerialPort& port, uint32_t baud);

// Changes only the line speed.
bool serialSetBaud(SerialPort& port, uint32_t baud);

// Reads what has arrived, at most n bytes, without waiting. Returns the count (0 when
// nothing arrived) or -1 on failure, with serialLastError() telling why.
int serialRead(SerialPort& port, void* buf, size_t n);

// Writes all n bytes. False on failure, with serialLastError() telling why.
bool serialWrite(SerialPort& port, const void* data, size_t n);

enum class WaitResult { Readable, Timeout, Failed };

// Waits until input is there, for at most `ms` milliseconds of clock time (see clock.h).
// A port that was hung up (adapter unplugged) is Failed.
WaitResult serialWaitReadable(SerialPort& port, uint32_t ms);

// The calling thread's last system error code, and the system's text for a code.
int serialLastError();
std::string systemErrorText(int code);
