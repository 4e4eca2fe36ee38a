// What the device does with the bytes the tool writes: it splits them into lines, keeps the
// data of a save, and answers each command of a write job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/port.h"

// Lines longer than this are never commands; only their bytes count, for the data sum.
constexpr size_t kCommandLineMax = 256;

struct Device {
    Port* port = nullptr;
    bool dataPhase = false;  // between the erase reply and "Fs"
    std::string line;        // the current line's first kCommandLineMax bytes
    size_t lineLength = 0;   // all of its bytes so far
    uint16_t lineSum = 0;    // their byte sum
    uint16_t dataSum = 0;    // byte sum of the data lines of the current save
    uint64_t dataLines = 0;
    uint64_t dataBytes = 0;  // bytes received since the data phase began (for --hangup-after)
    int jobsDone = 0;        // answered sum queries
    int jobsBegun = 0;       // FWS commands taken
};

enum class FeedResult { Go, JobsDone, HungUp };

// Takes the bytes of one read; answers every line they complete.
FeedResult deviceFeed(Device& device, const char* data, size_t n);
