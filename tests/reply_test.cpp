#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "job_observer.h"
#include "manual_clock.h"
#include "platform/resources.h"
#include "pty_pair.h"
#include "writer/reply.h"

namespace {

struct ReplyWait : ::testing::Test {
    RealClockAfter restoreClock;
    PtyPair pty;
    Channel ch;
    RecordingObserver obs;
    JobResult result;
    JobContext job{ch, obs, result};
    char buf[kReplyBufSize];

    void SetUp() override {
        installManualClock(1000, 0);
        ASSERT_EQ(commOpen(pty.slavePath, &ch), 0);
    }
    void arrive(const std::string& bytes) {
        pty.send(bytes);
        ASSERT_TRUE(waitAvailable(ch, int(bytes.size())));
    }
    // Virtual milliseconds the wait took, to its reply or to the end of the write.
    uint32_t timedWait(const DeviceCommand& cmd) {
        const uint32_t t0 = g_manualNow;
        try {
            waitReply(job, cmd, buf, sizeof buf);
        } catch (const WriteAborted&) {
            // Told by the channel given up.
        }
        return g_manualNow - t0;
    }
};

}  // namespace

TEST_F(ReplyWait, ReplyInPiecesIsTakenWhenItsCarriageReturnComes) {
    installManualClock(1000, 5000);  // 5 ms real per slice: the 5 s wait lasts ~0.25 s
    arrive("FlashRom ");
    std::thread device([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pty.send("Mode Sta");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pty.send("rt\n\r");
    });
    EXPECT_STREQ(waitReply(job, device::kFlashMode, buf, sizeof buf), "FlashRom Mode Start");
    device.join();
}

// Each command's rule and own time-out, written out here: a reply up to the time-out's last
// millisecond is taken (a prefix rule takes a longer line, the framed rule only a line with STX,
// FWE any line, even an empty one), lines the rule drops do not extend the wait, and silence
// ends the write at the first check past the time-out; the same across the tick count's wrap.
TEST_F(ReplyWait, EachCommandWaitsItsOwnTimeOut) {
    // clang-format off
    const struct {
        const DeviceCommand& cmd;
        uint32_t timeoutMs;
        std::string dropped, reply;  // at once: lines the rule drops; later: the reply
    } cases[] = {
        {device::kFlashMode, 5000, "FlashRom Mode\rflashRom Mode Start\r", "FlashRom Mode Start\r"},
        {device::kSaveStart, 5000, "Data Save\rnoise\r\r", "Data Save Start, 512 blocks\r"},
        {device::kImageErase, 180000, "Image Erase\rImage\rbusy\r", "Image Erase End\r"},
        {device::kPageErase, 180000, "PageData Erase\rImage Erase End\r", "PageData Erase End\r"},
        {device::kSaveEnd, 5000, "Data Save Start\rData Save\r", "Data Save End\r"},
        {device::kWriteEnd, 5000, "", "\r"},
        {device::kSumQuery, 30000, "OK\rUC done\r1234\x03" "04\r", "\x02" "1234\x03" "04\r"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const uint32_t t = c.timeoutMs;
        for (const uint32_t start : {1000u, 0xffffffffu - 2000u}) {
            for (const uint32_t replyAt : {t - 1, t, 0u}) {  // 0: no reply
                SCOPED_TRACE(std::string(c.cmd.text) + " at " + std::to_string(start) +
                             ", reply at " + std::to_string(replyAt));
                installManualClock(start, 0);
                ASSERT_TRUE(ch.port.isOpen() || commOpen(pty.slavePath, &ch) == 0);
                obs.status("");
                arrive(c.dropped);
                if (replyAt) atManualTime(start + replyAt, [&] { arrive(c.reply); });
                EXPECT_EQ(timedWait(c.cmd), replyAt ? replyAt : t + 1);
                EXPECT_TRUE(!replyAt || buf + std::string("\r") == c.reply) << buf;
                EXPECT_EQ(ch.port.isOpen(), replyAt != 0);
                EXPECT_EQ(obs.last(), replyAt ? "" : resString(kStrTransferFailed));
            }
        }
    }
}

TEST_F(ReplyWait, SendCommandWritesFrameAndLineEnd) {
    sendCommand(job, device::kFlashMode);
    sendCommand(job, device::kSaveStart);
    sendCommand(job, device::kSumQuery);
    sendCommand(job, device::kUpdate);
    EXPECT_EQ(pty.receive(),
              "\x02" "FWS\x03" "42\r\nFS\n\x02" "Sb\x03" "31\r\n\x02" "UC\x03" "16\n");
}
