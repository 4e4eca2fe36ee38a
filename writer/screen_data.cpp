#include <cstring>

#include "platform/clock.h"
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

// Streams the pieces; with `skipping`, those before the page section are read but not sent.
void streamPieces(Channel* ch, TextStream& file, bool skipping) {
    const int shift = progressShift(file.size());
    setProgressRange(0, int32_t(file.size() >> shift), ch->progressWnd);
    setStatusText("ﾃﾞｰﾀ書き込み中", ch->statusWnd);
    uint64_t count = 0;
    int sincePoll = 0;
    char piece[kPieceBufSize];
    char reply[kReplyBufSize];
    while (file.readPiece(piece, sizeof piece) > 0) {
        // A NUL byte ends what is sent of a piece; the data format holds none.
        count += std::strlen(piece);
        setProgressPos(int32_t(count >> shift), ch->progressWnd);
        if (skipping && startsPageSection(piece)) skipping = false;
        if (!skipping) {
            commPuts(piece, ch);
            if (++sincePoll >= device::kPiecesPerPoll) {
                commReadLine(ch, reply, sizeof reply);  // whatever came is dropped
                sincePoll = 0;
            }
        }
        yieldThread();
    }
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

    streamPieces(ch, file, skipping);
    // A file that could not be read to its end must not be sealed as if it had been.
    if (file.error() != 0) failWrite(ch, "画面ﾃﾞｰﾀ異常");
    file.close();

    command(ch, device::kSaveEnd);
    setStatusText("ﾃﾞｰﾀ書込み終了", ch->statusWnd);
}
