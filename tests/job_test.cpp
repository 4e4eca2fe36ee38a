#include <regex>

#include "job_fixture.h"
#include "manual_clock.h"
#include "platform/resources.h"
#include "platform/serial.h"
#include "platform/thread.h"
#include "pty_pair.h"
#include "writer/job_report.h"

namespace {

const std::string kSmallData =
    "BMP 001 8 2\nB 00FF\nB FF00\nPAGE 1\nTEXT 0 0 \"ready\"\nENDPAGE\n";

const std::vector<std::string> kJobStatuses = {
    "画面書込み",     "ﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始", "ﾌﾗｯｼｭ消去終了",
    "ﾃﾞｰﾀ書き込み中", "ﾃﾞｰﾀ書込み終了",       "書き込み終了",
    "データ sum=1234 ", "データ sum=1234  設定保存済",
};

const std::vector<std::string> kAllSounds = {"ringin.wav", "carib.wav", "ringin.wav",
                                             "ringin.wav", "ringin.wav", "end.wav"};
const std::vector<std::string> kEndSounds = {"ringin.wav", "ringin.wav", "ringin.wav",
                                             "end.wav"};

bool isEndBox(const std::string& box) {
    static const std::regex re("owner:ZemScrivana\\|書込みが終了しました\n書き込み時間は[0-9]+秒です");
    return std::regex_match(box, re);
}

}  // namespace

TEST_F(JobTest, WholeJobWithSettingsOff) {
    startDevice({"--jobs", "1", "--sum", "1234"});
    useData(kSmallData);
    runJob();

    ExpectedJob want{kSmallData};
    EXPECT_EQ(sim.captured(), want.whole());
    EXPECT_EQ(rec.statuses, kJobStatuses);
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0], "|データ sum=1234 ");  // no owner, empty caption
    EXPECT_TRUE(isEndBox(rec.boxes[1])) << rec.boxes[1];
    EXPECT_EQ(rec.sounds, kAllSounds);
    EXPECT_EQ(rec.progressHigh, 100);
    EXPECT_EQ(rec.progressPos, 100);
    EXPECT_EQ(mainChannel.writeBusy, 0);
    EXPECT_FALSE(mainChannel.port.isOpen());
    EXPECT_EQ(writeDone, 1);
    EXPECT_EQ(rec.startDisabled, 1);
    EXPECT_EQ(rec.startEnabled, 1);
    EXPECT_EQ(sim.wait(5000), 0);
}

TEST_F(JobTest, SettingsFollowTheBoxesAtTheirDefaults) {
    startDevice({"--jobs", "1"});
    useData(kSmallData);
    headlessClick(ui.dlg, IDC_TRANSFER_SETTINGS);
    runJob();
    ExpectedJob want{kSmallData};
    want.transferSettings = true;
    EXPECT_EQ(sim.captured(), want.whole());
}

TEST_F(JobTest, EveryOptionCheckedWithRs422At9600) {
    startDevice({"--jobs", "1"});
    useData(kSmallData);
    headlessClick(ui.dlg, IDC_TRANSFER_SETTINGS);
    for (int id : {IDC_VERTICAL, IDC_STARTUP_CHECK, IDC_KEEP_SRAM, IDC_LATIN, IDC_RS422,
                   IDC_RESPONSE_CHECK, IDC_FLOW_CONTROL})
        ui.check(id);
    comboSetSel(dlgItem(ui.dlg, IDC_LINE_SPEED), 1);
    runJob();
    ExpectedJob want{kSmallData};
    want.transferSettings = want.vertical = want.startupCheck = want.keepSram = want.latin =
        want.rs422 = want.responseCheck = want.flowControl = true;
    want.lineSpeed = 1;
    EXPECT_EQ(sim.captured(), want.whole());
    EXPECT_NE(sim.captured().find(framed("WD bf305 64")), std::string::npos);
}

TEST_F(JobTest, NoLineSpeedSelectedWritesNoSpeedRegister) {
    startDevice({"--jobs", "1"});
    useData(kSmallData);
    headlessClick(ui.dlg, IDC_TRANSFER_SETTINGS);
    comboSetSel(dlgItem(ui.dlg, IDC_LINE_SPEED), -1);
    runJob();
    ExpectedJob want{kSmallData};
    want.transferSettings = true;
    want.lineSpeed = -1;
    EXPECT_EQ(sim.captured(), want.whole());
    EXPECT_EQ(sim.captured().find("bf304"), std::string::npos);
}

TEST_F(JobTest, SettingsBoxesUncheckedWhileDisabledStillCount) {
    // A disabled box keeps its state and its reader reports it.
    startDevice({"--jobs", "1"});
    useData(kSmallData);
    ui.check(IDC_KEEP_SRAM);
    ui.check(IDC_VERTICAL);
    runJob();
    ExpectedJob want{kSmallData};
    want.vertical = true;
    EXPECT_EQ(sim.captured(), want.whole());
}

TEST_F(JobTest, SkipBitmapsSendsFromTheFirstPageToken) {
    const struct {
        std::string data, sent;
    } cases[] = {
        // PAG without E counts, ET does not.
        {"B 0000\nET\nPGA no\nB 1111\nPAGZ 9\nB 2222\nTEXT after\nMEM 1\n",
         "PAGZ 9\nB 2222\nTEXT after\nMEM 1\n"},
        // A token inside a piece is none; one at the start of a long line's second piece is.
        {"B " + std::string(60, '0') + "MEM inside\n" + std::string(99, 'x') + "PAGE 1\nB 1\n",
         "PAGE 1\nB 1\n"},
    };
    startDevice({"--jobs", std::to_string(std::size(cases))});
    ui.check(IDC_SKIP_BITMAPS);
    size_t before = 0;
    for (const auto& c : cases) {
        useData(c.data);
        runJob();
        rec.ended = false;
        ExpectedJob want{c.data};
        want.skipBitmaps = true;
        EXPECT_EQ(want.dataPart(), c.sent);
        const std::string captured = sim.captured();
        EXPECT_EQ(captured.substr(before), want.whole());
        before = captured.size();
    }
}

TEST_F(JobTest, SkipBitmapsWithoutAnyTokenSendsNoData) {
    const std::string data = "B 0000\nB 1111\n";
    startDevice({"--jobs", "1"});
    useData(data);
    ui.check(IDC_SKIP_BITMAPS);
    runJob();
    ExpectedJob want{data};
    want.skipBitmaps = true;
    EXPECT_EQ(sim.captured(), want.upToErase() + "Fs\nFWE\n" + want.settingsPart() +
                                  framed("Sb") + "\r\n");
    EXPECT_EQ(lastStatus(), "データ sum=" + std::string("0000") + "  設定保存済");
}

TEST_F(JobTest, CrLfLongLinesAndEndOfFileByte) {
    const std::string data = "A\r\n" + std::string(150, 'x') + "\r\nlone\rCR\r\nB\n\x1a" "C\r\n";
    startDevice({"--jobs", "1"});
    useData(data);
    runJob();
    ExpectedJob want{data};
    EXPECT_EQ(want.dataPart(), "A\n" + std::string(150, 'x') + "\nlone\rCR\nB\n");
    EXPECT_EQ(sim.captured(), want.whole());
}

TEST_F(JobTest, LastLineWithoutLineEndIsEndedBeforeTheSaveEnd) {
    const std::string data = "BMP 1\nPAGE 1\nTEXT last";
    startDevice({"--jobs", "1"});
    useData(data);
    runJob();
    EXPECT_EQ(ExpectedJob{data}.dataPart(), "BMP 1\nPAGE 1\nTEXT last\n");
    EXPECT_EQ(sim.captured(), ExpectedJob{data}.whole());
    EXPECT_EQ(lastStatus(), "データ sum=" + simDataSum("BMP 1\nPAGE 1\nTEXT last\n") + "  設定保存済");
}

TEST_F(JobTest, EmptyDataFile) {
    startDevice({"--jobs", "1"});
    useData("");
    runJob();
    EXPECT_EQ(sim.captured(), ExpectedJob{""}.whole());
    EXPECT_EQ(rec.statuses[3], "ﾃﾞｰﾀ書き込み中");
    EXPECT_EQ(rec.statuses[4], "ﾃﾞｰﾀ書込み終了");
}

TEST_F(JobTest, NoisyDeviceWithRepliesInPieces) {
    startDevice({"--jobs", "1", "--noise", "--split", "--reply-registers", "--sum", "1234"});
    useData(kSmallData);
    runJob();
    EXPECT_EQ(sim.captured(), ExpectedJob{kSmallData}.whole());
    EXPECT_EQ(lastStatus(), "データ sum=1234  設定保存済");
}

TEST_F(JobTest, SumWithBadCheckDigitsShowsNull) {
    for (const char* fault : {"--bad-sum", "--upper-sum", "--long-sum"}) {
        SCOPED_TRACE(fault);
        rec.boxes.clear();
        rec.ended = false;
        // The check digits of "0038" are "0b": upper case makes them a mismatch.
        startDevice({"--jobs", "1", fault, "--sum", "0038"});
        useData(kSmallData);
        runJob();
        ASSERT_FALSE(rec.boxes.empty());
        EXPECT_EQ(rec.boxes[0], "|データ sum=(null) ");
        EXPECT_EQ(lastStatus(), "データ sum=(null)  設定保存済");
        sim.stop();
    }
}

TEST_F(JobTest, MissingDataFileFailsBeforeAnythingIsSent) {
    startDevice({"--jobs", "1"});
    dataFilePath = dir.file("vanished.v3");
    runJob();
    EXPECT_EQ(sim.captured(), "");
    EXPECT_EQ(rec.statuses, std::vector<std::string>{"画面ﾃﾞｰﾀ異常"});
    EXPECT_EQ(mainChannel.writeBusy, 0);
    EXPECT_FALSE(mainChannel.port.isOpen());
    EXPECT_EQ(writeDone, 0);
    EXPECT_EQ(rec.sounds, kEndSounds);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_TRUE(isEndBox(rec.boxes[0]));
    EXPECT_EQ(rec.startEnabled, 1);
}

// ---- A step the device never answers ----

struct Silence {
    const char* step;
    uint32_t timeScale;
    size_t sentThrough;  // how much of the whole stream goes out before the job ends
};

// Test names in CTest show the step, not the case's bytes.
void PrintTo(const Silence& s, std::ostream* os) { *os << s.step; }

struct SilentStep : JobTest, ::testing::WithParamInterface<Silence> {};

TEST_P(SilentStep, EndsTheWriteAndSendsNothingMore) {
    const Silence& s = GetParam();
    timeScale = s.timeScale;
    startDevice({"--silent-at", s.step});
    useData(kSmallData);
    runJob();

    ExpectedJob want{kSmallData};
    const std::string through[] = {
        framed("FWS") + "\r\n",
        framed("FWS") + "\r\nFS\n",
        want.upToErase(),
        want.upToErase() + want.dataPart() + "Fs\n",
        want.upToErase() + want.dataPart() + "Fs\nFWE\n",
    };
    EXPECT_EQ(sim.captured(), through[s.sentThrough]);
    EXPECT_EQ(lastStatus(), resString(6));
    EXPECT_EQ(mainChannel.writeBusy, 0);
    EXPECT_FALSE(mainChannel.port.isOpen());
    EXPECT_EQ(writeDone, 0);
    EXPECT_EQ(rec.sounds, kEndSounds);  // no first sounds: the data was not all written
    ASSERT_EQ(rec.boxes.size(), 1u);  // only the end box: no sum was shown
    EXPECT_TRUE(isEndBox(rec.boxes[0]));
}

INSTANTIATE_TEST_SUITE_P(EachStep, SilentStep,
                         ::testing::Values(Silence{"fws", kJobTimeScale, 0},
                                           Silence{"fs", kJobTimeScale, 1},
                                           Silence{"fsave", kJobTimeScale, 3},
                                           Silence{"fwe", kJobTimeScale, 4}),
                         [](const auto& info) { return std::string(info.param.step); });

TEST_F(JobTest, AnswerTooLateIsATimeOut) {
    startDevice({"--late-at", "fs:10000"});
    useData(kSmallData);
    runJob();
    EXPECT_EQ(sim.captured(), framed("FWS") + "\r\nFS\n");
    EXPECT_EQ(lastStatus(), resString(6));
}

// ---- The Start command ----

TEST_F(JobTest, StartWithoutDataFileOnlyAsksForOne) {
    startDevice();
    runJob();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0], "owner:ZemTabulo|データファイルが未設定です");
    EXPECT_EQ(rec.startDisabled, 0);
    EXPECT_TRUE(isWindowEnabled(dlgItem(ui.dlg, IDC_START)));
    EXPECT_FALSE(mainChannel.port.isOpen());
    EXPECT_EQ(sim.captured(), "");
}

TEST_F(JobTest, PortHeldElsewhereIsTriedEightTimesThenAnnounced) {
    startDevice();
    Channel holder;
    ASSERT_NE(commOpen(sim.slavePath, &holder), 0);
    useData(kSmallData);
    runJob();
    EXPECT_EQ(rec.statuses, std::vector<std::string>(8, "ﾎﾟｰﾄが使用できません"));
    EXPECT_EQ(lastStatus(), "ﾎﾟｰﾄが使用できません");
    EXPECT_EQ(rec.sounds, kEndSounds);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_TRUE(isEndBox(rec.boxes[0]));
    EXPECT_TRUE(isWindowEnabled(dlgItem(ui.dlg, IDC_START)));
    EXPECT_EQ(mainChannel.writeBusy, 0);
}

TEST_F(JobTest, FirstOpenFailingThenSucceedingStartsOneJob) {
    startDevice({"--jobs", "1", "--sum", "1234"});
    useData(kSmallData);
    failNextSerialOpens(1);
    runJob();
    std::vector<std::string> want = {"ﾎﾟｰﾄが使用できません"};
    want.insert(want.end(), kJobStatuses.begin(), kJobStatuses.end());
    EXPECT_EQ(rec.statuses, want);
    EXPECT_EQ(sim.captured(), ExpectedJob{kSmallData}.whole());
}

TEST_F(JobTest, ChannelNotUsedOpensNothingButStillAnnounces) {
    startDevice();
    useData(kSmallData);
    ui.check(IDC_NOT_USED);
    runJob();
    EXPECT_TRUE(rec.statuses.empty());
    EXPECT_EQ(lastStatus(), "");
    EXPECT_EQ(sim.captured(), "");
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_TRUE(isEndBox(rec.boxes[0]));
    EXPECT_EQ(rec.startEnabled, 1);
}

TEST_F(JobTest, WatcherThatCannotStartEndsTheJobAtOnce) {
    startDevice();
    useData(kSmallData);
    failThreadStart(1);
    runJob();
    EXPECT_EQ(lastStatus(), kThreadFailedText);
    EXPECT_EQ(mainChannel.writeBusy, 0);
    EXPECT_FALSE(mainChannel.port.isOpen());
    EXPECT_TRUE(isWindowEnabled(dlgItem(ui.dlg, IDC_START)));
    EXPECT_EQ(sim.captured(), "");
}

TEST_F(JobTest, WorkerThatCannotStartIsAnnouncedByTheWatcher) {
    startDevice();
    useData(kSmallData);
    failThreadStart(2);
    runJob();
    EXPECT_EQ(lastStatus(), kThreadFailedText);
    EXPECT_EQ(mainChannel.writeBusy, 0);
    EXPECT_FALSE(mainChannel.port.isOpen());
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_TRUE(isEndBox(rec.boxes[0]));
    EXPECT_EQ(sim.captured(), "");
}

TEST_F(JobTest, TwoJobsInARow) {
    startDevice({"--jobs", "2", "--sum", "1234"});
    useData(kSmallData);
    runJob();
    rec.ended = false;
    runJob();
    const std::string one = ExpectedJob{kSmallData}.whole();
    EXPECT_EQ(sim.captured(), one + one);
    EXPECT_EQ(lastStatus(), "データ sum=1234  設定保存済");
    EXPECT_EQ(rec.startEnabled, 2);
}

TEST_F(JobTest, DataFileThatFailsToReadIsRefusedBeforeAnythingIsSent) {
    // This file opens, but reading it fails at once (EIO): the device keeps what it has.
    startDevice();
    dataFilePath = "/proc/self/mem";
    runJob();
    EXPECT_EQ(sim.captured(), "");
    EXPECT_EQ(rec.statuses, std::vector<std::string>{"画面ﾃﾞｰﾀ異常"});
    EXPECT_EQ(jobReportSnapshot().reason, "/proc/self/mem: " + systemErrorText(EIO));
    EXPECT_EQ(mainChannel.writeBusy, 0);
    EXPECT_FALSE(mainChannel.port.isOpen());
    EXPECT_EQ(writeDone, 0);
}

// ---- The long waits, with the device played by hand and every reply on the line at once ----

struct HandPlayedJob : ::testing::Test {
    RealClockAfter restoreClock;
    HeadlessMain ui;
    TempDir dir;
    PtyPair pty;
    Channel ch;
    const std::string data = "BMP 1\nPAGE 1\n";

    void SetUp() override {
        installManualClock(77);
        ASSERT_NE(commOpen(pty.slavePath, &ch), 0);
        ch.statusWnd = mainChannel.statusWnd;
        ch.progressWnd = mainChannel.progressWnd;
        ch.writeBusy = 1;
        writeDone = 0;
    }
    // Runs the worker on this thread; the virtual milliseconds it took.
    uint32_t run(const std::string& replies) {
        pty.send(replies);
        const uint32_t t0 = g_manualNow;
        writeWorker(&ch, dir.write("d.v3", data));
        return g_manualNow - t0;
    }
};

TEST_F(HandPlayedJob, EraseThatNeverEndsTimesOutAfterThreeMinutes) {
    for (const bool skipBitmaps : {false, true}) {
        SCOPED_TRACE(skipBitmaps ? "page erase" : "image erase");
        ui.check(IDC_SKIP_BITMAPS, skipBitmaps);
        if (!ch.port.isOpen()) {
            ASSERT_NE(commOpen(pty.slavePath, &ch), 0);
        }
        ch.writeBusy = 1;
        const uint32_t took = run("FlashRom Mode Start\rData Save Start\r");
        ExpectedJob want{data};
        want.skipBitmaps = skipBitmaps;
        EXPECT_EQ(pty.receive(), want.upToErase());
        EXPECT_EQ(ui.status(), resString(6));
        EXPECT_EQ(ch.writeBusy, 0);
        EXPECT_FALSE(ch.port.isOpen());
        EXPECT_EQ(writeDone, 0);
        EXPECT_EQ(took, 1000u + 180001u);  // the pause after flash mode, then the erase wait
    }
}

TEST_F(HandPlayedJob, SumThatNeverComesTimesOutAfterThirtySeconds) {
    const uint32_t took = run(
        "FlashRom Mode Start\rData Save Start\rImage Erase End\rData Save End\r"
        "FlashRom Mode End\rnot a frame\r");
    EXPECT_EQ(pty.receive(), ExpectedJob{data}.whole());
    EXPECT_EQ(ui.status(), resString(6));
    EXPECT_EQ(ch.writeBusy, 0);
    EXPECT_EQ(writeDone, 1);
    EXPECT_EQ(took, 1000u + 1000u + 3000u + 30001u);  // pauses, then the sum wait
}

// ---- The end box, on the virtual clock ----

TEST(EndBox, GivesTheWholeSecondsSinceStart) {
    RealClockAfter restoreClock;
    HeadlessMain ui;
    std::vector<std::string> boxes;
    HeadlessHooks hooks;
    hooks.onMessageBox = [&boxes](Window, const std::string& text, const std::string&) {
        boxes.push_back(text);
    };
    headlessSetHooks(hooks);
    const struct {
        uint32_t start, elapsed, seconds;
    } cases[] = {{5000, 999, 0}, {5000, 1999, 1}, {5000, 2000, 2}, {0xffffffffu - 500u, 1999, 1}};
    for (const auto& c : cases) {
        installManualClock(c.start + c.elapsed);
        startTick = c.start;
        Channel ch;  // writeBusy 0: the job has ended
        completionWatcher(&ch);
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(),
                  "書込みが終了しました\n書き込み時間は" + std::to_string(c.seconds) + "秒です")
            << c.elapsed << " ms";
    }
}
