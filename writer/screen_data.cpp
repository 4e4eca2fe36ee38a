#include <cstring>

#include "platform/clock.h"
#include "writer/job_report.h"
#include "writer/options.h"
#include "writer/reply.h"
#include "writer/worker.h"

namespace {

bool startsPageSection(const char* piece) {
    return std::strncmp(piece, "ET2", 3) == 0 || std::strncmp(piece, "MEM", 3) == 0 ||
           std::strncmp(piece, "PAG", 3) == 0;
}

void command(Channel* ch, const DeviceCommand& cmd) {
    char reply[kReplyBufSize];
    sendCommand(ch, cmd);
    waitReply(ch, cmd, reply, sizeof reply);
}

// How the data went out.
struct Streamed {
    bool whole = true;      // false at a piece that holds a NUL byte: no V3 data file has one
    bool lineOpen = false;  // the last piece sent did not end its line
};

// Streams the pieces; with `skipping`, those before the page section are read but not sent.
Streamed streamPieces(Channel* ch, TextStream& file, bool skipping) {
    const int shift = progressShift(file.size());
    setProgressRange(0, int32_t(file.size() >> shift), ch->progressWnd);
    setStatusText("ﾃﾞｰﾀ書き込み中", ch->statusWnd);
    jobReportStep(jobstep::kData);
    jobReportProgress(0, file.size());
    uint64_t count = 0;
    int sincePoll = 0;
    char piece[kPieceBufSize];
    char reply[kReplyBufSize];
    size_t n;
    Streamed result;
    while ((n = file.readPiece(piece, sizeof piece)) > 0) {
        // The piece goes out as a text, up to a NUL: the rest of its line would be lost and the
        // device would join what it got to the next line, and still report a good save.
        if (std::strlen(piece) != n) return {false, result.lineOpen};
        count += n;
        setProgressPos(int32_t(count >> shift), ch->progressWnd);
        jobReportProgress(file.rawPosition(), file.size());
        if (skipping && startsPageSection(piece)) skipping = false;
        if (!skipping) {
            commPuts(piece, ch);
            result.lineOpen = piece[n - 1] != '\n';
            if (++sincePoll >= device::kPiecesPerPoll) {
                commReadLine(ch, reply, sizeof reply);  // whatever came is dropped
                sincePoll = 0;
            }
        }
        yieldThread();
    }
    return result;
}

}  // namespace

void sendScreenData(Channel* ch, TextStream& file) {
    ch->baudRate = device::kWriteBaud;
    commSetBaud(ch);
    const bool skipping = optSkipBitmaps() == 1;
    setStatusText("画面書込み", ch->statusWnd);

    command(ch, device::kFlashMode);
    sleepMs(device::kFlashModePauseMs);
    command(ch, device::kSaveStart);

    const DeviceCommand& erase = skipping ? device::kPageErase : device::kImageErase;
    char reply[kReplyBufSize];
    sendCommand(ch, erase);
    setStatusText("ﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始", ch->statusWnd);
    waitReply(ch, erase, reply, sizeof reply);
    setStatusText("ﾌﾗｯｼｭ消去終了", ch->statusWnd);

    const Streamed sent = streamPieces(ch, file, skipping);
    // A file that could not be read or sent to its end must not be sealed as if it had been.
    if (!sent.whole) jobReportFail("the data file holds a NUL byte");
    if (file.error() != 0) jobReportFail(systemErrorText(file.error()));
    if (!sent.whole || file.error() != 0) failWrite(ch, "画面ﾃﾞｰﾀ異常");
    jobReportProgress(file.size(), file.size());
    file.close();
    // A last line without its line end is ended here: glued to it, "Fs" is no command the
    // device can see, and the save would never be closed.
    if (sent.lineOpen) commPuts("\n", ch);

    command(ch, device::kSaveEnd);
    setStatusText("ﾃﾞｰﾀ書込み終了", ch->statusWnd);
}
