// A pseudo-terminal for tests that play the device side by hand: the test writes to and
// reads from the master, the code under test opens the slave like a serial port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "platform/clock.h"
#include "serial/channel.h"

struct PtyPair {
    int master = -1;
    std::string slavePath;

    PtyPair() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slavePath = ptsname(master);
    }
    ~PtyPair() { hangUp(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    void hangUp() {
        if (master >= 0) ::close(master);
        master = -1;
    }

    void send(const std::string& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += size_t(n);
        }
    }

    // Everything the code under test wrote, gathered until `quietMs` pass without more; while
    // fewer than `expected` bytes came, a second. (Written bytes reach the master a moment later.)
    std::string receive(int quietMs = 50, size_t expected = 0) const {
        std::string out;
        char buf[4096];
        for (;;) {
            pollfd pfd{master, POLLIN, 0};
            const int wait = out.size() < expected ? 1000 : quietMs;
            if (poll(&pfd, 1, wait) <= 0 || !(pfd.revents & POLLIN)) return out;
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) return out;
            out.append(buf, size_t(n));
        }
    }
};

// Waits (real time, at most a second) until the channel's port holds at least n unread bytes.
inline bool waitAvailable(Channel& ch, int n) {
    for (int i = 0; i < 1000; ++i) {
        int avail = 0;
        if (ioctl(int(ch.port.native()), FIONREAD, &avail) == 0 && avail >= n) return true;
        usleep(1000);
    }
    return false;
}

// Restores the real clock when a test that installed its own ends.
struct RealClockAfter {
    ~RealClockAfter() { useScaledClock(1, 0); }
};
