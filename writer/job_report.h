// What a front end can follow of a write job beyond the dialog's controls: the step it is at,
// how much of the data file has gone out, the device's sum, and why the job failed. The job
// writes it; a front end reads it from any thread. One job at a time, as the channel.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// Steps that are not a device command of their own (those carry their step in the table).
namespace jobstep {
inline constexpr const char* kNone = "";
inline constexpr const char* kOpen = "open";  // the port open of the Start command
inline constexpr const char* kData = "data";  // the data file and its pieces
}  // namespace jobstep

enum class SumState { None, Read, Unreadable };

struct JobSnapshot {
    std::string step;
    uint64_t sent = 0;
    uint64_t total = 0;
    std::string reason;  // the first failure's reason in words; empty while none
    SumState sumState = SumState::None;
    std::string sum;
};

// Forgets the last job: called when a Start is accepted.
void jobReportBegin();
void jobReportStep(const char* step);
// Data progress: bytes of the file read and sent (or skipped) so far, out of its size.
void jobReportProgress(uint64_t sent, uint64_t total);
// The first failure's reason stays: what follows from it says less.
void jobReportFail(const std::string& reason);
// nullptr when the sum reply could not be read.
void jobReportSum(const char* sum);
JobSnapshot jobReportSnapshot();

// A front end's record of every job: told on the watcher's thread once the job has ended (the
// port closed), before the end box.
void setJobEndListener(std::function<void()> listener);
void jobReportEnded();
