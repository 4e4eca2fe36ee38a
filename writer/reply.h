// Sending the device's commands and waiting for its replies; the time-out end of a write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/channel.h"
#include "serial/commands.h"

// Reply buffers of the screen data transfer and the FWE wait.
constexpr size_t kReplyBufSize = 100;
// Longest slice of one wait for input between polls: short enough that the time-out is still
// tested often, long enough that an idle wait costs next to no processor time.
constexpr uint32_t kPollSliceMs = 10;

// Thrown by abortWrite; caught only at the top of the write worker, so that nothing of the
// caller's later steps runs.
struct WriteAborted {};

// Writes the command (framed or plain) and its line end.
void sendCommand(Channel* ch, const DeviceCommand& cmd);

// Polls reply lines until one is accepted by cmd's rule (the first poll is always made; the
// time is tested before each). Lines not accepted are dropped. Returns the accepted line in
// `buf`; when more than cmd.timeoutMs pass, runs abortWrite instead.
char* waitReply(Channel* ch, const DeviceCommand& cmd, char* buf, size_t cap);

// True when `line` is accepted by the rule of `cmd`.
bool replyAccepted(const DeviceCommand& cmd, const char* line);

// Status line "ﾃﾞｰﾀ転送に失敗しました", then endWrite, then unwinds the write job.
[[noreturn]] void abortWrite(Channel* ch);

// Ends the job's hold on the channel: the port closed, then writeBusy 0.
void endWrite(Channel* ch);
