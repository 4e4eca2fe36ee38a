#include "writer/reply.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/resources.h"
#include "writer/frame.h"
#include "writer/job_report.h"
#include "writer/options.h"

void sendCommand(Channel* ch, const DeviceCommand& cmd) {
    if (*cmd.step) jobReportStep(cmd.step);
    if (cmd.framed) {
        commPuts(frameBuild(cmd.text).c_str(), ch);
    } else {
        commPuts(cmd.text, ch);
    }
    if (*cmd.lineEnd) commPuts(cmd.lineEnd, ch);
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

char* waitReply(Channel* ch, const DeviceCommand& cmd, char* buf, size_t cap) {
    const bool traceEvery = cmd.replyKind == ReplyKind::Framed;
    const uint32_t t0 = tickCount();
    for (;;) {
        // Unsigned difference: correct across a wrap of the tick count.
        uint32_t elapsed = tickCount() - t0;
        if (elapsed > cmd.timeoutMs) {
            if (traceEvery) debugOut("Timeout");
            jobReportFail("no answer within " + std::to_string(cmd.timeoutMs) + " ms");
            abortWrite(ch);
        }
        if (commReadLine(ch, buf, cap)) {
            if (traceEvery) debugOut(buf);
            if (replyAccepted(cmd, buf)) {
                if (cmd.replyKind == ReplyKind::AnyLine) debugOut(buf);
                return buf;
            }
            continue;  // more may be waiting already
        }
        // Wait for input, but never past the first moment the time-out can be declared.
        uint32_t remaining = cmd.timeoutMs - elapsed + 1;
        commWaitInput(ch, std::min(remaining, kPollSliceMs));
    }
}

void endWrite(Channel* ch) {
    // Closed before writeBusy drops, so that the next Start finds the port free.
    commClose(ch);
    ch->writeBusy.store(0);
}

void abortWrite(Channel* ch) {
    setStatusText(resString(6), ch->statusWnd);
    endWrite(ch);
    throw WriteAborted{};
}
