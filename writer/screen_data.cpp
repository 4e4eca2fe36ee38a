#include <cstdint>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "writer/job_internal.h"

namespace {

bool startsPageSection(const char* piece) {
    return std::strncmp(piece, "ET2", 3) == 0 || std::strncmp(piece, "MEM", 3) == 0 ||
           std::strncmp(piece, "PAG", 3) == 0;
}

void command(JobContext& job, const DeviceCommand& cmd) {
    char reply[kReplyBufSize];
    sendCommand(job, cmd);
    waitReply(job, cmd, reply, sizeof reply);
}

// How the data went out.
struct Streamed {
    bool whole = true;      // false at a piece that holds a NUL byte: no V3 data file has one
    bool lineOpen = false;  // the last piece sent did not end its line
    bool grew = false;      // stopped where the file went past its size at the start
};

void reportProgress(JobContext& job, uint64_t sent, uint64_t total) {
    job.result.sent = sent;
    job.result.total = total;
    job.obs.dataProgress(sent, total);
}

void sendPending(JobContext& job, std::string& pending) {
    if (!pending.empty()) commPuts(pending.c_str(), &job.ch);
    pending.clear();
}

// Streams the pieces; with `skipping`, those before the page section are read but not sent.
// Nothing read past `limit` bytes of the file goes out: it belongs to another file than the
// one the run began with.
Streamed streamPieces(JobContext& job, TextStream& file, bool skipping, uint64_t limit) {
    const int shift = progressShift(file.size());
    job.obs.progressRange(int32_t(file.size() >> shift));
    job.status(jobtext::kDataPhase);
    job.step(jobstep::kData);
    reportProgress(job, 0, file.size());
    uint64_t count = 0;
    int sincePoll = 0;
    char piece[kPieceBufSize];
    char reply[kReplyBufSize];
    // The pieces between two polls go out in one write: the same bytes in the same order, at a
    // tenth of the system calls (a write to a serial port costs far more than the copy).
    std::string pending;
    size_t n;
    Streamed result;
    while ((n = file.readPiece(piece, sizeof piece)) > 0) {
        if (file.bytesRead() > limit) {
            sendPending(job, pending);
            result.grew = true;
            return result;
        }
        // The piece goes out as a text, up to a NUL: the rest of its line would be lost and the
        // device would join what it got to the next line, and still report a good save.
        if (std::strlen(piece) != n) {
            sendPending(job, pending);
            result.whole = false;
            return result;
        }
        count += n;
        job.obs.progressPos(int32_t(count >> shift));
        reportProgress(job, file.rawPosition(), file.size());
        if (skipping && startsPageSection(piece)) skipping = false;
        if (!skipping) {
            pending.append(piece, n);
            result.lineOpen = piece[n - 1] != '\n';
            if (++sincePoll >= device::kPiecesPerPoll) {
                sendPending(job, pending);
                commReadLine(&job.ch, reply, sizeof reply);  // whatever came is dropped
                sincePoll = 0;
                yieldThread();
            }
        }
    }
    sendPending(job, pending);
    return result;
}

// The digest of what the job read, into the result.
void takeDigest(JobContext& job, TextStream& file, bool whole) {
    job.result.dataSha256 = file.finishDigest();
    job.result.dataBytes = file.bytesRead();
    job.result.dataWhole = whole && !job.result.dataSha256.empty();
}

// Why the data that went out cannot be sealed; empty when it can. Reads the file past its
// 0x1A for the digest, which covers the whole file, as the start's did.
std::string streamFault(JobContext& job, TextStream& file, const Streamed& sent,
                        const DataIdentity& atStart) {
    if (!sent.whole) return "the data file holds a NUL byte";
    if (file.error() != 0) return systemErrorText(file.error());
    if (sent.grew) return dataGrewText(atStart.bytes);
    file.readToEnd(atStart.known() ? atStart.bytes : file.size());
    const bool whole = file.atFileEnd() && file.error() == 0;
    takeDigest(job, file, whole);
    if (!atStart.known()) return std::string();
    if (file.error() != 0) return systemErrorText(file.error());
    if (!whole) return dataGrewText(atStart.bytes);
    if (job.result.dataSha256 != atStart.sha256)
        return dataChangedText(atStart.sha256, job.result.dataSha256);
    return std::string();
}

}  // namespace

void sendScreenData(JobContext& job, TextStream& file, bool skipBitmaps,
                    const DataIdentity& atStart) {
    job.ch.baudRate = device::kWriteBaud;
    commSetBaud(&job.ch);
    job.status(jobtext::kScreenWrite);

    command(job, device::kFlashMode);
    sleepMs(device::kFlashModePauseMs);
    command(job, device::kSaveStart);

    const DeviceCommand& erase = skipBitmaps ? device::kPageErase : device::kImageErase;
    char reply[kReplyBufSize];
    sendCommand(job, erase);
    job.status(jobtext::kEraseStart);
    waitReply(job, erase, reply, sizeof reply);
    job.status(jobtext::kEraseEnd);

    file.startDigest();
    const Streamed sent =
        streamPieces(job, file, skipBitmaps, atStart.known() ? atStart.bytes : UINT64_MAX);
    // A file that could not be read or sent to its end, or that is no longer the one the run
    // began with, must not be sealed as if it had been.
    if (const std::string fault = streamFault(job, file, sent, atStart); !fault.empty()) {
        if (job.result.dataSha256.empty()) takeDigest(job, file, false);
        job.fail(fault);
        failWrite(job, jobtext::kBadData);
    }
    reportProgress(job, file.size(), file.size());
    file.close();
    // A last line without its line end is ended here: glued to it, "Fs" is no command the
    // device can see, and the save would never be closed.
    if (sent.lineOpen) commPuts("\n", &job.ch);

    command(job, device::kSaveEnd);
    job.status(jobtext::kDataEnd);
}
