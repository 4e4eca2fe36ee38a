// The device's end of the serial line: the master side of a pseudo-terminal, and the ways the
// device speaks on it (replies with their faults, hang-up).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/sim.h"

// A file descriptor, closed with the object.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// A symlink that goes away with the object, if it still is ours.
class Link {
  public:
    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link() { remove(); }

    // Points `path` at `target`, replacing an existing symlink (never any other file).
    bool make(const std::string& path, const std::string& target);
    void remove();

  private:
    std::string path_;
    std::string target_;
};

struct Port {
    Fd master;
    // Held open for the device's whole life and never read: while the tool has the port
    // closed between jobs, the master then sees no hang-up.
    Fd slave;
    std::string slavePath;
    Fd capture;
    // Tells when the tool opens and closes the port (inotify on the slave), and how many
    // opens of it are left open.
    Fd openWatch;
    int toolOpens = 0;
    Link link;
    const SimOptions* options = nullptr;
    bool faultsSpent = false;  // with faultsOnce, once the second job has begun
};

// The faults the device shows now: the options', or none once they are spent.
const Faults& portFaults(const Port& port);

// Opens the pseudo-terminal, the capture file and the link. False (with a message on
// stderr) when one of them fails.
bool portOpen(Port& port, const SimOptions& options);

// Reads what the tool wrote, at most n bytes, into buf. The count, 0 when nothing was there,
// -1 when the line is gone.
long portRead(Port& port, char* buf, size_t n);

// Takes note of the tool's opens and closes of the port. At the last close the port is made
// ready for the next opener: exclusive use left behind by a tool that was killed is cleared,
// and replies it never read are dropped, as a closed serial port drops what arrives.
void portWatch(Port& port);

// True while the tool has the port open (and when that cannot be told).
bool portToolPresent(Port& port);

// Appends bytes the device took to the capture file.
void portCapture(Port& port, const char* data, size_t n);

// Holds the tool's writes (they block, as on a line whose receiver is behind), or lets them go.
void portHoldTool(Port& port, bool hold);

// Answers `step` with `reply` (without its CR), with the delays and faults the options set.
// False when the reply was not sent (a silent step, or the device was told to stop).
bool portAnswer(Port& port, Step step, const std::string& reply);

// Sends one line that no step awaits (answers to register writes), CR appended.
void portSendLine(Port& port, const std::string& line);

// Hangs the line up: the master is closed, the tool's side sees the hang-up.
void portHangup(Port& port);

// Waits, at most `boundMs` real milliseconds, until the tool has read everything sent.
void portAwaitTaken(Port& port, int boundMs);

// Waits `ms` milliseconds of clock time; false when the device was told to stop meanwhile.
bool pauseMs(uint32_t ms);

// Sleeps `ms` milliseconds of real time (transport waits that the clock scale must not shrink).
void realSleepMs(int ms);

// A readable form of line bytes for the log: control bytes as <STX>, \r, <00> ...
std::string printable(const std::string& bytes);

// Writes "v3sim: text" to stderr; `always` false means only with --verbose.
void simLog(const SimOptions& options, bool always, const std::string& text);
