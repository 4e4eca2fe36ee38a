#include "writer/reply.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/resources.h"
#include "writer/frame.h"

void JobContext::step(const char* name) {
    result.step = name;
    obs.step(name);
}

void JobContext::fail(const std::string& reason) {
    if (result.reason.empty()) result.reason = reason;
}

void sendCommand(JobContext& job, const DeviceCommand& cmd) {
    if (*cmd.step) job.step(cmd.step);
    if (cmd.framed) {
        commPuts(frameBuild(cmd.text).c_str(), &job.ch);
    } else {
        commPuts(cmd.text, &job.ch);
    }
    if (*cmd.lineEnd) commPuts(cmd.lineEnd, &job.ch);
}

bool replyAccepted(const DeviceCommand& cmd, const char* line) {
    switch (cmd.replyKind) {
        case ReplyKind::Prefix: return std::strncmp(line, cmd.reply, std::strlen(cmd.reply)) == 0;
        case ReplyKind::AnyLine: return true;
        case ReplyKind::Framed: return line[0] == kStx;
        case ReplyKind::None: return false;
    }
    return false;
}

char* waitReply(JobContext& job, const DeviceCommand& cmd, char* buf, size_t cap) {
    const bool traceEvery = cmd.replyKind == ReplyKind::Framed;
    const uint32_t t0 = tickCount();
    for (;;) {
        // Unsigned difference: correct across a wrap of the tick count.
        uint32_t elapsed = tickCount() - t0;
        if (elapsed > cmd.timeoutMs) {
            if (traceEvery) debugOut("Timeout");
            job.fail("no answer within " + std::to_string(cmd.timeoutMs) + " ms");
            abortWrite(job);
        }
        if (commReadLine(&job.ch, buf, cap)) {
            if (traceEvery) debugOut(buf);
            if (replyAccepted(cmd, buf)) {
                if (cmd.replyKind == ReplyKind::AnyLine) debugOut(buf);
                return buf;
            }
            continue;  // more may be waiting already
        }
        // Wait for input, but never past the first moment the time-out can be declared.
        uint32_t remaining = cmd.timeoutMs - elapsed + 1;
        commWaitInput(&job.ch, std::min(remaining, kPollSliceMs));
    }
}

void failWrite(JobContext& job, const std::string& status) {
    job.status(status);
    commClose(&job.ch);
    throw WriteAborted{};
}

void abortWrite(JobContext& job) { failWrite(job, resString(kStrTransferFailed)); }
