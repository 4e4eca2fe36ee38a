// What the command line shows of a station run: the live table on a terminal and the summary.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

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
