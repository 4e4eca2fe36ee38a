// The simulated V3 device: a pseudo-terminal that answers the write job's commands as the
// device does, with faults that tests switch on from the command line.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// The steps of a write job that the device answers, in their order.
enum class Step { Fws, Fs, Erase, FsEnd, Fwe, Sb };
constexpr size_t kStepCount = 6;

// The step's name as the write job reports it (the command table's): "fws", "fs", "erase",
// "fs_end", "fwe", "sb".
const char* stepName(Step step);
// False when `name` is none of the names above ("fsave", the older name of "fs_end", is taken
// too).
bool stepFromName(const std::string& name, Step& step);

struct Faults {
    std::array<bool, kStepCount> silent{};      // no reply at that step
    std::array<uint32_t, kStepCount> lateMs{};  // extra clock ms before the reply
    bool noise = false;                         // unrelated lines and lone LFs before every reply
    bool noiseBytes = false;   // random bytes (NUL, 0xFF, STX, ETX, lone CR) before every reply
    bool split = false;        // each reply in several pieces, the CR last
    bool badSum = false;       // wrong check digits in the sum reply
    bool upperSum = false;     // upper-case check digits in the sum reply
    bool longSum = false;      // a sum reply longer than a reply line may be
    int64_t hangupAfter = -1;  // hang the line up after this many data bytes; -1 never
    std::array<bool, kStepCount> hangupAt{};  // hang the line up when that step's command comes
    uint32_t noiseSeed = 0;                   // seed of the random noise; 0 for the built-in one
    bool noiseSpoil = false;  // now and then the random noise runs into the reply (no CR between)
};

struct SimOptions {
    std::string linkPath;     // symlink to the slave, "" for none
    std::string capturePath;  // every received byte is appended here, "" for none
    std::string sum;          // the sum the device reports, "" for the computed one
    bool verbose = false;
    bool replyRegisters = false;  // answer register writes and "UC" with an unrelated line
    uint32_t eraseMs = 300;       // clock ms an erase takes
    int jobs = 0;                 // end after this many answered sum queries; 0 never
    double idleSeconds = 0;       // end after this much real time without input; 0 never
    uint32_t rate = 0;            // read at most this many bytes per clock second; 0 unlimited
    Faults faults;
    bool faultsOnce = false;  // the faults hold for the first job only (a retry then works)
};

// The 16-bit byte sum of the data bytes, as four upper-case hex digits: what the device
// reports for the data it stored unless --sum says otherwise.
std::string dataSumText(uint16_t sum);
uint16_t addToDataSum(uint16_t sum, const void* data, size_t n);

// Set by SIGTERM / SIGINT; every wait of the device ends early when it becomes nonzero.
extern std::atomic<int> g_stopRequested;

// Runs the device until its end condition; the process's exit status.
int runSim(const SimOptions& options);
