// What the command line shows of a station run: the live table on a terminal and the summary.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "station/station_run.h"

// The live table is redrawn at most this often.
constexpr std::chrono::milliseconds kRedrawInterval{200};

// A row per slot (status, bar, bytes/s, seconds), redrawn in place.
class LiveTable {
  public:
    // Redraws unless the last drawing is younger than kRedrawInterval (`force` draws anyway).
    void draw(const StationRun& run, bool force);

  private:
    size_t drawnRows_ = 0;
    std::chrono::steady_clock::time_point lastDrawn_{};
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// "ok", or "ok (2回目)" for a later attempt, as the station window says it.
std::string resultText(const StationSlot& slot);

// Each slot's result, sum, seconds and reason; the warning for a device left erased; with
// `retries`, the first-pass yield; the exit status and its meaning.
void printStationSummary(const StationRun& run, int status, bool retries);

// What an armed port did while the station ran: each job at its final verdict.
struct PortTally {
    size_t started = 0;  // devices that settled and began
    size_t jobs = 0;     // of those, ended
    size_t ok = 0;
    size_t ng = 0;  // failed, a sum wrong or unreadable, interrupted
};
void tallyEnd(PortTally& tally, const StationSlot& slot);

// {"event":"state","port":…,"state":"detected","text":"検出"}
Json autoStateEvent(const std::string& port, AutoState state);
// {"event":"tally","port":…,"jobs":…,"ok":…,"ng":…}
Json tallyEvent(const std::string& port, const PortTally& tally);
// Each port's jobs, ok and NG, their totals, the exit status and its meaning.
void printTallies(const std::vector<std::string>& ports, const std::vector<PortTally>& tallies,
                  int status);

// How a run and the interrupt's thread meet: the interrupt asks for the stop and waits (at most
// kRecordWait) until every device is recorded. Windows ends the program when the handler of a
// console close returns, and allows it about five seconds.
class StopGate {
  public:
    static constexpr std::chrono::milliseconds kRecordWait{4500};
    // From the interrupt's thread.
    void interrupt(int signal) {
        signal_.store(signal);
        std::unique_lock<std::mutex> lock(lock_);
        changed_.wait_for(lock, kRecordWait, [this] { return done_; });
    }
    // The interrupt asked for, 0 while none came.
    int signal() const { return signal_.load(); }
    // Every device is recorded: the interrupt may end the program.
    void done() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            done_ = true;
        }
        changed_.notify_all();
    }

  private:
    std::atomic<int> signal_{0};
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
};
