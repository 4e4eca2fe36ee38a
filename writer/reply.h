// Sending the device's commands and waiting for its replies; the time-out end of a write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/channel.h"
#include "serial/commands.h"
#include "writer/job.h"

// Reply buffers of the screen data transfer and the FWE wait.
constexpr size_t kReplyBufSize = 100;
// Longest slice of one wait for input between polls. A reply ends the wait the moment it
// comes and a slice never runs past the time-out, so the slice only sets how often an idle wait
// wakes: a few times a second, which many jobs at once hardly notice.
constexpr uint32_t kPollSliceMs = 100;

// One job under way: its channel, its observer and the result it is building.
struct JobContext {
    Channel& ch;
    JobObserver& obs;
    JobResult& result;

    void step(const char* name);
    // The first failure's reason stays: what follows from it says less.
    void fail(const std::string& reason);
    void status(const std::string& text) { obs.status(text); }
};

// Thrown to end a job early; caught only at the top of the job, so that nothing of the
// caller's later steps runs.
struct WriteAborted {};

// Writes the command (framed or plain) and its line end.
void sendCommand(JobContext& job, const DeviceCommand& cmd);

// Polls reply lines until one is accepted by cmd's rule (the first poll is always made; the
// time is tested before each). Lines not accepted are dropped. Returns the accepted line in
// `buf`; when more than cmd.timeoutMs pass, runs abortWrite instead.
char* waitReply(JobContext& job, const DeviceCommand& cmd, char* buf, size_t cap);

// True when `line` is accepted by the rule of `cmd`.
bool replyAccepted(const DeviceCommand& cmd, const char* line);

// Status line "ﾃﾞｰﾀ転送に失敗しました", the port closed, and the job unwound.
[[noreturn]] void abortWrite(JobContext& job);
// The same with another status text.
[[noreturn]] void failWrite(JobContext& job, const std::string& status);
