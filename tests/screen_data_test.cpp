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

    // Runs the screen data transfer over `lines` lines of data; false when it timed out.
    bool transfer(int lines, const std::string& repliesBeforeStart) {
        std::string data;
        for (int i = 0; i < lines; ++i) data += "L" + std::to_string(i) + "\n";
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
};

const std::string kUpToData = "FlashRom Mode Start\rData Save Start\rImage Erase End\r";

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
    int low = -1, high = -1, pos = -1;
    ASSERT_TRUE(transfer(5, kUpToData + "Data Save End\r"));
    headlessProgress(ch.progressWnd, &low, &high, &pos);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 15);  // "L0\n" .. "L4\n"
    EXPECT_EQ(pos, 15);
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
