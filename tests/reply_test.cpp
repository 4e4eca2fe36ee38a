#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "headless_main.h"
#include "manual_clock.h"
#include "platform/resources.h"
#include "pty_pair.h"
#include "writer/reply.h"

namespace {

struct ReplyWait : ::testing::Test {
    RealClockAfter restoreClock;
    HeadlessMain ui;
    PtyPair pty;
    Channel ch;
    char buf[kReplyBufSize];

    void SetUp() override {
        installManualClock(1000, 0);
        ASSERT_NE(commOpen(pty.slavePath, &ch), 0);
        ch.statusWnd = mainChannel.statusWnd;
        ch.writeBusy = 1;
    }
    void arrive(const std::string& bytes) {
        pty.send(bytes);
        ASSERT_TRUE(waitAvailable(ch, int(bytes.size())));
    }
    // Virtual milliseconds from the start of the wait to the abort; -1 when it returned.
    int64_t msUntilAbort(const DeviceCommand& cmd) {
        const uint32_t t0 = g_manualNow;
        try {
            waitReply(&ch, cmd, buf, sizeof buf);
            return -1;
        } catch (const WriteAborted&) {
            return int64_t(uint32_t(g_manualNow - t0));
        }
    }
};

}  // namespace

TEST_F(ReplyWait, PrefixRuleTakesLongerLinesAndSkipsOthers) {
    arrive("Data Save\rnoise\r\rData Save Start, 512 blocks\r");
    EXPECT_STREQ(waitReply(&ch, device::kSaveStart, buf, sizeof buf),
                 "Data Save Start, 512 blocks");
    EXPECT_EQ(ch.writeBusy, 1);
}

TEST_F(ReplyWait, AnyLineRuleTakesAnEmptyLine) {
    arrive("\r");
    EXPECT_STREQ(waitReply(&ch, device::kWriteEnd, buf, sizeof buf), "");
}

TEST_F(ReplyWait, FramedRuleWaitsForStx) {
    arrive("OK\rUC done\r\x02" "1234\x03" "04\r");
    EXPECT_STREQ(waitReply(&ch, device::kSumQuery, buf, sizeof buf), "\x02" "1234\x03" "04");
}

TEST_F(ReplyWait, ReplyInPiecesIsTakenWhenItsCarriageReturnComes) {
    installManualClock(1000, 500);  // 0.5 ms real per slice: the 5 s wait lasts ~0.25 s
    arrive("FlashRom ");
    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pty.send("Mode Sta");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pty.send("rt\n\r");
    });
    EXPECT_STREQ(waitReply(&ch, device::kFlashMode, buf, sizeof buf), "FlashRom Mode Start");
    device.join();
}

TEST_F(ReplyWait, SilenceEndsTheWriteAtTheFirstCheckPastTheTimeOut) {
    EXPECT_EQ(msUntilAbort(device::kSaveStart), 5001);
    EXPECT_EQ(ui.status(), resString(6));
    EXPECT_EQ(ch.writeBusy, 0);
    EXPECT_FALSE(ch.port.isOpen());
}

TEST_F(ReplyWait, LinesThatDoNotMatchDoNotExtendTheWait) {
    arrive("Image Erase\rImage\rbusy\r");
    EXPECT_EQ(msUntilAbort(device::kImageErase), 180001);
}

TEST_F(ReplyWait, TimeOutIsRightAcrossTheTickCountWrap) {
    installManualClock(0xffffffffu - 2000u, 0);
    EXPECT_EQ(msUntilAbort(device::kSumQuery), 30001);
}

TEST_F(ReplyWait, SendCommandWritesFrameAndLineEnd) {
    sendCommand(&ch, device::kFlashMode);
    sendCommand(&ch, device::kSaveStart);
    sendCommand(&ch, device::kSumQuery);
    sendCommand(&ch, device::kUpdate);
    EXPECT_EQ(pty.receive(),
              "\x02" "FWS\x03" "42\r\nFS\n\x02" "Sb\x03" "31\r\n\x02" "UC\x03" "16\n");
}
