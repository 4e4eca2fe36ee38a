// The data phase against a device played by hand on a pseudo-terminal: every reply is on the
// line before the job starts, so what the tool reads and drops can be told exactly, and on the
// manual clock a wait that finds nothing more has its time-out at once, however loaded the machine.
#include <gtest/gtest.h>

#include <string>

#include "job_observer.h"
#include "manual_clock.h"
#include "platform/resources.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "writer/job_internal.h"

namespace {

// `count` short lines: "L0\n", "L1\n", ...
std::string shortLines(int count) {
    std::string data;
    for (int i = 0; i < count; ++i) data += "L" + std::to_string(i) + "\n";
    return data;
}

struct DataPhase : ::testing::Test {
    RealClockAfter restoreClock;
    TempDir dir;
    PtyPair pty;
    Channel ch;
    RecordingObserver obs;
    JobResult result;
    JobContext job{ch, obs, result};

    void SetUp() override {
        installManualClock(1000);
        ASSERT_EQ(commOpen(pty.slavePath, &ch), 0);
    }

    // Runs the screen data transfer over `data`; false when the job ended inside it.
    bool transferData(const std::string& data, const std::string& repliesBeforeStart) {
        pty.send(repliesBeforeStart);
        EXPECT_TRUE(waitAvailable(ch, int(repliesBeforeStart.size())));
        TextStream file;
        EXPECT_EQ(file.open(dir.write("d.v3", data)), 0);
        try {
            sendScreenData(job, file, false);
            return true;
        } catch (const WriteAborted&) {
            return false;
        }
    }
    void progress(int* high, int* pos) const {
        obs.bar(high, pos);
    }
};

const std::string kUpToData = "FlashRom Mode Start\rData Save Start\rImage Erase End\r";
// STX "FWS" ETX "42", then the save start and the erase.
const std::string kWireUpToData = "\002FWS\00342\r\nFS\nFimageerase\n";

// After every eleventh piece one reply line is polled and dropped. Where the device has fewer
// lines before "Data Save End" than the tool polls, a poll takes it and the save end wait times
// out; so each pair of cases below pins the count of polls for its number of pieces.
struct PollCase {
    const char* name;
    int pieces;
    const char* linesBeforeSaveEnd;
    bool completes;
};

struct Polls : DataPhase, ::testing::WithParamInterface<PollCase> {};

}  // namespace

TEST_P(Polls, OneLineIsTakenAfterEveryEleventhPiece) {
    const PollCase& c = GetParam();
    const std::string replies = kUpToData + c.linesBeforeSaveEnd + "Data Save End\r";
    EXPECT_EQ(transferData(shortLines(c.pieces), replies), c.completes);
    const std::string wire = kWireUpToData + shortLines(c.pieces) + "Fs\n";
    EXPECT_EQ(pty.receive(50, wire.size()), wire);
    EXPECT_EQ(obs.last(), c.completes ? "ﾃﾞｰﾀ書込み終了" : resString(kStrTransferFailed));
    EXPECT_EQ(ch.port.isOpen(), c.completes);
}

INSTANTIATE_TEST_SUITE_P(Pieces, Polls,
                         ::testing::Values(PollCase{"ten_none", 10, "", true},
                                           PollCase{"eleven_one", 11, "", false},
                                           PollCase{"twentyone_one", 21, "x\r", true},
                                           PollCase{"twentytwo_two", 22, "x\r", false},
                                           PollCase{"twentytwo_leave_third", 22, "x\ry\r", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DataPhase, ProgressRunsOverTheBytesRead) {
    int high = -1, pos = -1;
    ASSERT_TRUE(transferData(shortLines(5), kUpToData + "Data Save End\r"));
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
    EXPECT_EQ(pty.receive(50, kWireUpToData.size() + 7), kWireUpToData + "PAGE 1\n");
    EXPECT_EQ(obs.last(), "画面ﾃﾞｰﾀ異常");
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
