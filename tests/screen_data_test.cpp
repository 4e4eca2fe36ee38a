// The data phase against a device played by hand on a pseudo-terminal: every reply is put on
// the line before the job starts, so what the tool reads and drops can be told exactly.
#include <gtest/gtest.h>

#include <string>

#include "headless_main.h"
#include "platform/resources.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "writer/reply.h"
#include "writer/worker.h"

namespace {

struct DataPhase : ::testing::Test {
    RealClockAfter restoreClock;
    HeadlessMain ui;
    TempDir dir;
    PtyPair pty;
    Channel ch;

    void SetUp() override {
        useScaledClock(1000, 0);  // the one-second pause takes a millisecond
        ASSERT_NE(commOpen(pty.slavePath, &ch), 0);
        ch.statusWnd = mainChannel.statusWnd;
        ch.progressWnd = mainChannel.progressWnd;
        ch.writeBusy = 1;
    }

    // Runs the screen data transfer over `data`; false when the job ended inside it.
    bool transferData(const std::string& data, const std::string& repliesBeforeStart) {
        pty.send(repliesBeforeStart);
        TextStream file;
        EXPECT_EQ(file.open(dir.write("d.v3", data)), 0);
        try {
            sendScreenData(&ch, file);
            return true;
        } catch (const WriteAborted&) {
            return false;
        }
    }
    // The same over `lines` short lines.
    bool transfer(int lines, const std::string& repliesBeforeStart) {
        std::string data;
        for (int i = 0; i < lines; ++i) data += "L" + std::to_string(i) + "\n";
        return transferData(data, repliesBeforeStart);
    }
    void progress(int* high, int* pos) const {
        int low = -1;
        headlessProgress(ch.progressWnd, &low, high, pos);
        EXPECT_EQ(low, 0);
    }
};

const std::string kUpToData = "FlashRom Mode Start\rData Save Start\rImage Erase End\r";
// STX "FWS" ETX "42", then the save start and the erase.
const std::string kWireUpToData = "\002FWS\00342\r\nFS\nFimageerase\n";

}  // namespace

TEST_F(DataPhase, TenPiecesArePolledNever) {
    EXPECT_TRUE(transfer(10, kUpToData + "Data Save End\r"));
    EXPECT_EQ(ui.status(), "ﾃﾞｰﾀ書込み終了");
}

TEST_F(DataPhase, TheEleventhPieceIsFollowedByOnePoll) {
    // The poll takes "Data Save End" off the line, so the save end wait never sees it.
    EXPECT_FALSE(transfer(11, kUpToData + "Data Save End\r"));
    EXPECT_EQ(ui.status(), resString(6));
    EXPECT_FALSE(ch.port.isOpen());
}

TEST_F(DataPhase, TwentyTwoPiecesArePolledTwice) {
    EXPECT_FALSE(transfer(22, kUpToData + "x\rData Save End\r"));
}

TEST_F(DataPhase, TwentyTwoPiecesLeaveTheThirdLine) {
    EXPECT_TRUE(transfer(22, kUpToData + "x\ry\rData Save End\r"));
}

TEST_F(DataPhase, ProgressRunsOverTheBytesRead) {
    int high = -1, pos = -1;
    ASSERT_TRUE(transfer(5, kUpToData + "Data Save End\r"));
    progress(&high, &pos);
    EXPECT_EQ(high, 15);  // "L0\n" .. "L4\n"
    EXPECT_EQ(pos, 15);
}

TEST_F(DataPhase, ProgressOfACrLfFileEndsShortByItsPairs) {
    // The range is the size on disk; the position counts the bytes read as text.
    int high = -1, pos = -1;
    ASSERT_TRUE(transferData("L0\r\nL1\r\nlone\rCR\r\nend", kUpToData + "Data Save End\r"));
    progress(&high, &pos);
    EXPECT_EQ(high, 20);
    EXPECT_EQ(pos, 20 - 3);
}

TEST_F(DataPhase, NulByteFoundWhileSendingLeavesTheSaveOpen) {
    // The worker's check refuses such a file; one changed after it is still not sealed. The
    // piece with the NUL is not sent, what went before it is.
    EXPECT_FALSE(transferData(std::string("PAGE 1\nB 00\0FF\nENDPAGE\n", 23), kUpToData));
    EXPECT_EQ(pty.receive(), kWireUpToData + "PAGE 1\n");
    EXPECT_EQ(ui.status(), "画面ﾃﾞｰﾀ異常");
    EXPECT_EQ(ch.writeBusy, 0);
    EXPECT_FALSE(ch.port.isOpen());
}

TEST(Progress, LargeTotalsAreScaledToFit) {
    EXPECT_EQ(progressShift(0), 0);
    EXPECT_EQ(progressShift(uint64_t(INT32_MAX)), 0);
    EXPECT_EQ(progressShift(uint64_t(INT32_MAX) + 1), 1);
    const uint64_t fiveGiB = 5ull << 30;
    const int shift = progressShift(fiveGiB);
    EXPECT_LE(fiveGiB >> shift, uint64_t(INT32_MAX));
    EXPECT_GT(fiveGiB >> shift, uint64_t(INT32_MAX) / 2);  // most of the bar's range is used
}
