#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/serial.h"
#include "writer/frame.h"
#include "writer/job_internal.h"

// A sum reply must fit this buffer whole (STX, at most 15 sum characters, ETX, two digits).
constexpr size_t kSumReplySize = 20;

namespace {

void sendRegister(JobContext& job, const std::string& text) {
    commPuts(frameBuild(text.c_str()).c_str(), &job.ch);
    commPuts(device::kRegisterLineEnd, &job.ch);
}

// Hex digits of a digest in a reason.
constexpr size_t kShortDigestDigits = 12;

void writeJob(JobContext& job, const WriteSettings& settings, const std::string& dataPath,
              const DataIdentity& atStart) {
    // The data file is opened and read through before anything is sent: a missing, unreadable
    // or broken file must not cost the device its data.
    TextStream file;
    job.step(jobstep::kData);
    if (const int err = file.open(dataPath); err != 0) {
        job.fail(dataPath + ": " + systemErrorText(err));
        failWrite(job, jobtext::kBadData);
    }
    if (const DataCheck check = checkDataFile(dataPath); !check.ok()) {
        job.fail(dataPath + ": " + dataCheckText(check));
        failWrite(job, jobtext::kBadData);
    }

    sendScreenData(job, file, settings.skipBitmaps, atStart);

    char reply[kReplyBufSize];
    sendCommand(job, device::kWriteEnd);
    waitReply(job, device::kWriteEnd, reply, sizeof reply);

    sendSettings(job, settings);
    job.status(jobtext::kWritten);
    job.obs.written();

    queryDataSum(job);
    job.obs.progressRange(100);
    job.obs.progressPos(100);
}

}  // namespace

void sendSettings(JobContext& job, const WriteSettings& settings) {
    for (const std::vector<std::string>& group : serialSettingsGroups(settings)) {
        for (const std::string& line : group) sendRegister(job, line);
        sleepMs(device::kSettingsPauseMs);
    }
    sendCommand(job, device::kUpdate);
}

void queryDataSum(JobContext& job) {
    sleepMs(device::kSumQueryPauseMs);
    sendCommand(job, device::kSumQuery);
    // The whole line is taken, so that one too long for the sum reply can be told and refused.
    char reply[kLineBufSize];
    waitReply(job, device::kSumQuery, reply, sizeof reply);

    char text[kFrameTextSize];
    const bool readable = std::strlen(reply) < kSumReplySize && frameParse(reply, text);
    job.result.sumState = readable ? SumState::Read : SumState::Unreadable;
    job.result.sum = readable ? text : "";
    std::string shown = std::string(jobtext::kSumPrefix) + (readable ? text : "(null)") + " ";
    job.obs.sumRead(shown, readable ? text : nullptr);
    job.status(shown);
    job.status(shown + jobtext::kSettingsSaved);
}

int openJobPort(Channel& ch, const std::string& portName, JobObserver& obs, JobResult& result) {
    result.step = jobstep::kOpen;
    obs.step(jobstep::kOpen);
    int err = -1;
    // Every pass clears the status line, the passes after the open too, as the operator has
    // always seen it.
    for (int pass = 0; pass < kOpenPasses; ++pass) {
        obs.status("");
        if (err == 0) continue;
        err = commOpen(portName, &ch);
        if (err != 0) obs.status(jobtext::kPortUnusable);
    }
    result.openError = err;
    if (err != 0)
        result.reason =
            portDeviceName(portName).empty() ? portNameRefusal(portName) : systemErrorText(err);
    return err;
}

std::string shortDigest(const std::string& hex) {
    return hex.size() > kShortDigestDigits ? hex.substr(0, kShortDigestDigits) + "…" : hex;
}

std::string dataChangedText(const std::string& atStart, const std::string& sent) {
    return "the data file changed during the write (sha256 " + shortDigest(atStart) +
           " at start, " + shortDigest(sent) + " sent)";
}

std::string dataGrewText(uint64_t bytesAtStart) {
    return "the data file changed during the write (it grew past its " +
           std::to_string(bytesAtStart) + " bytes at start)";
}

JobResult runWriteJob(Channel& ch, const WriteSettings& settings, const std::string& dataPath,
                      JobObserver& obs, const DataIdentity& atStart) {
    JobResult result;
    JobContext job{ch, obs, result};
    try {
        writeJob(job, settings, dataPath, atStart);
    } catch (const WriteAborted&) {
        // Status shown, port closed.
    } catch (const PortFault& fault) {
        result.portFaultOp = fault.op;
        result.portFaultError = fault.err;
        job.fail(std::string(fault.op) + ": " + systemErrorText(fault.err));
    }
    commClose(&ch);
    return result;
}
