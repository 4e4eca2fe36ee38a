#include <algorithm>
#include <sstream>
#include <thread>

#include "job_fixture.h"
#include "job_observer.h"
#include "manual_clock.h"
#include "platform/resources.h"
#include "platform/serial.h"
#include "platform/thread.h"
#include "pty_pair.h"

namespace {

const std::string kSmallData =
    "BMP 001 8 2\nB 00FF\nB FF00\nPAGE 1\nTEXT 0 0 \"ready\"\nENDPAGE\n";

// The status lines of a whole job whose device answers the sum query with `sum`.
std::vector<std::string> jobStatuses(const std::string& sum) {
    const std::string shown = "データ sum=" + sum + " ";
    return {"画面書込み",     "ﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始", "ﾌﾗｯｼｭ消去終了", "ﾃﾞｰﾀ書き込み中",
            "ﾃﾞｰﾀ書込み終了", "書き込み終了",          shown,           shown + " 設定保存済"};
}

const std::vector<std::string> kAllSounds = {"ringin.wav", "carib.wav", "ringin.wav",
                                             "ringin.wav", "ringin.wav", "end.wav"};
const std::vector<std::string> kEndSounds = {"ringin.wav", "ringin.wav", "ringin.wav",
                                             "end.wav"};

// A job on the scaled clock shows at least the seconds of its virtual pauses and waits, and at
// most what runJob's limit of 30 real seconds allows.
constexpr unsigned long kMostJobSeconds = 30 * kJobTimeScale;

const int kOptionBoxes[] = {IDC_VERTICAL,     IDC_LATIN,         IDC_RS422,    IDC_RESPONSE_CHECK,
                            IDC_FLOW_CONTROL, IDC_STARTUP_CHECK, IDC_KEEP_SRAM};

std::string endText(unsigned long seconds) {
    return "書込みが終了しました\n書き込み時間は" + std::to_string(seconds) + "秒です";
}

bool isEndBox(const std::string& box, unsigned long leastSeconds) {
    for (unsigned long s = leastSeconds; s <= kMostJobSeconds; ++s)
        if (box == "owner:ZemScrivana|" + endText(s)) return true;
    return false;
}

// Every option box checked, RS-422 at 9600 and bitmaps skipped: the whole stream of one job with
// kSmallData, byte for byte.
const char* const kEveryOptionDump = R"(
02 46 57 53 03 34 32 0d 0a 46 53 0a 46 70 61 67
65 65 72 61 73 65 0a 50 41 47 45 20 31 0a 54 45
58 54 20 30 20 30 20 22 72 65 61 64 79 22 0a 45
4e 44 50 41 47 45 0a 46 73 0a 46 57 45 0a 02 57
44 20 62 66 30 37 62 20 31 03 34 33 0a 02 57 44
20 62 66 30 37 35 20 31 03 31 34 0a 02 57 44 20
62 66 30 37 61 20 31 03 34 30 0a 02 57 44 20 62
66 30 37 63 20 30 03 34 33 0a 02 57 44 20 62 66
30 37 38 20 31 03 31 39 0a 02 57 44 20 62 66 33
30 33 20 31 03 31 36 0a 02 57 44 20 62 66 33 30
35 20 36 34 03 32 33 0a 02 57 44 20 62 66 33 30
36 20 31 03 31 33 0a 02 57 44 20 62 66 33 30 37
20 31 03 31 32 0a 02 57 44 20 62 66 30 37 35 20
31 03 31 34 0a 02 55 43 03 31 36 0a 02 53 62 03
33 31 0d 0a
)";

std::string fromHexDump(const char* dump) {
    std::string out;
    std::istringstream in(dump);
    for (unsigned byte; in >> std::hex >> byte;) out += char(byte);
    return out;
}

}  // namespace

TEST_F(JobTest, WholeJobWithSettingsOff) {
    startDevice({"--jobs", "1", "--sum", "1234"});
    useData(kSmallData);
    runJob();

    ExpectedJob want{kSmallData};
    EXPECT_EQ(sim.captured(), want.whole());
    EXPECT_EQ(rec.statuses, jobStatuses("1234"));
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0], "|データ sum=1234 ");  // no owner, empty caption
    EXPECT_TRUE(isEndBox(rec.boxes[1], 5)) << rec.boxes[1];  // the pauses: 1 + 1 + 3 s
    EXPECT_EQ(rec.sounds, kAllSounds);
    EXPECT_EQ(rec.progressHigh, 100);
    EXPECT_EQ(rec.progressPos, 100);
    EXPECT_EQ(ui.desk.job.busy, 0);
    EXPECT_FALSE(ui.desk.job.channel.port.isOpen());
    EXPECT_EQ(ui.desk.job.written, 1);
    EXPECT_EQ(rec.startDisabled, 1);
    EXPECT_EQ(rec.startEnabled, 1);
    EXPECT_EQ(sim.wait(5000), 0);
}

// The register lines of each set of boxes, written out. Each job has a device of its own: a job
// straight after another may find the port still exclusive until the device sees it closed.
TEST_F(JobTest, SettingsRegistersFollowTheBoxes) {
    // clang-format off
    const struct {
        const char* name;
        bool transfer;
        std::vector<int> checked;
        int lineSpeed;  // the combo's selection
        std::string registers;
    } cases[] = {
        {"defaults", true, {}, 3,
         registerLines({"WD bf07b 0", "WD bf075 1", "WD bf07a 0", "WD bf07c 1", "WD bf078 0",
                        "WD bf303 0", "WD bf304 192", "WD bf306 0", "WD bf307 0", "WD bf075 1",
                        "UC"})},
        {"no line speed", true, {}, -1,
         registerLines({"WD bf07b 0", "WD bf075 1", "WD bf07a 0", "WD bf07c 1", "WD bf078 0",
                        "WD bf303 0", "WD bf306 0", "WD bf307 0", "WD bf075 1", "UC"})},
        {"RS-232 at index 2", true, {IDC_STARTUP_CHECK, IDC_FLOW_CONTROL}, 2,
         registerLines({"WD bf07b 0", "WD bf075 1", "WD bf07a 1", "WD bf07c 1", "WD bf078 0",
                        "WD bf303 0", "WD bf304 128", "WD bf306 0", "WD bf307 1", "WD bf075 1",
                        "UC"})},
        // A box disabled with the transfer off keeps its state, and only vertical is sent.
        {"transfer off", false, {IDC_KEEP_SRAM, IDC_VERTICAL}, 0,
         registerLines({"WD bf07b 1", "WD bf075 1", "UC"})},
    };
    // clang-format on
    useData(kSmallData);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startDevice();
        if (c.transfer != (checkState(dlgItem(ui.dlg, IDC_TRANSFER_SETTINGS)) == kChecked))
            headlessClick(ui.dlg, IDC_TRANSFER_SETTINGS);
        if (&c != &cases[0]) {  // the first job keeps the dialog's defaults
            for (int id : kOptionBoxes)
                ui.check(id, std::count(c.checked.begin(), c.checked.end(), id) > 0);
            comboSetSel(dlgItem(ui.dlg, IDC_LINE_SPEED), c.lineSpeed);
        }
        rec.forget();
        runJob();
        EXPECT_EQ(sim.captured(), (ExpectedJob{kSmallData, false, c.registers}.whole()));
        sim.stop();
    }
}

TEST_F(JobTest, EveryOptionCheckedGivesThisStream) {
    startDevice({"--jobs", "1"});
    useData(kSmallData);
    headlessClick(ui.dlg, IDC_TRANSFER_SETTINGS);
    ui.check(IDC_SKIP_BITMAPS);
    for (int id : kOptionBoxes) ui.check(id);
    comboSetSel(dlgItem(ui.dlg, IDC_LINE_SPEED), 1);
    runJob();
    EXPECT_EQ(sim.captured(), fromHexDump(kEveryOptionDump));
}

// The data part, written out for each file; a device of its own for each job.
TEST_F(JobTest, DataPartFollowsTheFile) {
    // clang-format off
    const struct {
        std::string data;
        bool skipBitmaps;
        std::string sent;
    } cases[] = {
        // CR LF read as LF, a lone CR kept, a long line in pieces, nothing after the end byte.
        {"A\r\n" + std::string(150, 'x') + "\r\nlone\rCR\r\nB\n\x1a" "C\r\n", false,
         "A\n" + std::string(150, 'x') + "\nlone\rCR\nB\n"},
        // A last line without its line end is ended before the save end command.
        {"BMP 1\nPAGE 1\nTEXT last", false, "BMP 1\nPAGE 1\nTEXT last\n"},
        {"", false, ""},
        // Skipping bitmaps: PAG without E counts, ET does not.
        {"B 0000\nET\nPGA no\nB 1111\nPAGZ 9\nB 2222\nTEXT after\nMEM 1\n", true,
         "PAGZ 9\nB 2222\nTEXT after\nMEM 1\n"},
        // A token inside a piece is none; one at the start of a long line's second piece is.
        {"B " + std::string(60, '0') + "MEM inside\n" + std::string(99, 'x') + "PAGE 1\nB 1\n",
         true, "PAGE 1\nB 1\n"},
        {"B 0000\nB 1111\n", true, ""},  // no token: no data at all
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        startDevice();
        ui.check(IDC_SKIP_BITMAPS, c.skipBitmaps);
        useData(c.data);
        rec.forget();
        runJob();
        const ExpectedJob want{c.data, c.skipBitmaps};
        EXPECT_EQ(want.dataPart(), c.sent);
        EXPECT_EQ(sim.captured(), want.whole());
        EXPECT_EQ(rec.statuses, jobStatuses(simDataSum(c.sent)));
        sim.stop();
    }
    EXPECT_EQ(rec.startEnabled, int(std::size(cases)));
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
        rec.forget();
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

TEST_F(JobTest, DataFileThatCannotBeReadIsRefusedBeforeAnythingIsSent) {
    // The second file opens, but reading it fails at once (EIO): the device keeps what it has.
    for (const auto& [path, error] : {std::pair{dir.file("vanished.v3"), ENOENT},
                                      std::pair{std::string("/proc/self/mem"), EIO}}) {
        SCOPED_TRACE(path);
        startDevice();
        dataFilePath = path;
        rec.forget();
        runJob();
        EXPECT_EQ(sim.captured(), "");
        EXPECT_EQ(rec.statuses, std::vector<std::string>{"画面ﾃﾞｰﾀ異常"});
        EXPECT_EQ(ui.result().reason, path + ": " + systemErrorText(error));
        EXPECT_EQ(ui.desk.job.busy, 0);
        EXPECT_FALSE(ui.desk.job.channel.port.isOpen());
        EXPECT_EQ(ui.desk.job.written, 0);
        EXPECT_EQ(rec.sounds, kEndSounds);
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_TRUE(isEndBox(rec.boxes[0], 0));
        sim.stop();
    }
    EXPECT_EQ(rec.startEnabled, 2);
}

// ---- A step the device never answers ----

struct Silence {
    const char* step;
    size_t sentThrough;  // how much of the whole stream goes out before the job ends
    unsigned long leastSeconds;  // its pauses and the 5 s wait
};

// Test names in CTest show the step, not the case's bytes.
void PrintTo(const Silence& s, std::ostream* os) { *os << s.step; }

struct SilentStep : JobTest, ::testing::WithParamInterface<Silence> {};

TEST_P(SilentStep, EndsTheWriteAndSendsNothingMore) {
    const Silence& s = GetParam();
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
    EXPECT_EQ(lastStatus(), resString(kStrTransferFailed));
    EXPECT_EQ(ui.desk.job.busy, 0);
    EXPECT_FALSE(ui.desk.job.channel.port.isOpen());
    EXPECT_EQ(ui.desk.job.written, 0);
    EXPECT_EQ(rec.sounds, kEndSounds);  // no first sounds: the data was not all written
    ASSERT_EQ(rec.boxes.size(), 1u);  // only the end box: no sum was shown
    EXPECT_TRUE(isEndBox(rec.boxes[0], s.leastSeconds));
}

INSTANTIATE_TEST_SUITE_P(EachStep, SilentStep,
                         ::testing::Values(Silence{"fws", 0, 5}, Silence{"fs", 1, 6},
                                           Silence{"fs_end", 3, 6}, Silence{"fwe", 4, 6}),
                         [](const auto& info) { return std::string(info.param.step); });

TEST_F(JobTest, AnswerTooLateIsATimeOut) {
    startDevice({"--late-at", "fs:10000"});
    useData(kSmallData);
    runJob();
    EXPECT_EQ(sim.captured(), framed("FWS") + "\r\nFS\n");
    EXPECT_EQ(lastStatus(), resString(kStrTransferFailed));
}

// ---- The Start command ----

TEST_F(JobTest, StartWithoutDataFileOnlyAsksForOne) {
    startDevice();
    runJob();
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0], "owner:ZemTabulo|データファイルが未設定です");
    EXPECT_EQ(rec.startDisabled, 0);
    EXPECT_TRUE(isWindowEnabled(dlgItem(ui.dlg, IDC_START)));
    EXPECT_FALSE(ui.desk.job.channel.port.isOpen());
    EXPECT_EQ(sim.captured(), "");
}

TEST_F(JobTest, PortHeldElsewhereIsTriedEightTimesThenAnnounced) {
    startDevice();
    Channel holder;
    ASSERT_EQ(commOpen(sim.slavePath, &holder), 0);
    useData(kSmallData);
    runJob();
    EXPECT_EQ(rec.statuses, std::vector<std::string>(8, "ﾎﾟｰﾄが使用できません"));
    EXPECT_EQ(lastStatus(), "ﾎﾟｰﾄが使用できません");
    EXPECT_EQ(rec.sounds, kEndSounds);
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_TRUE(isEndBox(rec.boxes[0], 0));
    EXPECT_TRUE(isWindowEnabled(dlgItem(ui.dlg, IDC_START)));
    EXPECT_EQ(ui.desk.job.busy, 0);
}

TEST_F(JobTest, FirstOpenFailingThenSucceedingStartsOneJob) {
    startDevice({"--jobs", "1", "--sum", "1234"});
    useData(kSmallData);
    failNextSerialOpens(1);
    runJob();
    std::vector<std::string> want = jobStatuses("1234");
    want.insert(want.begin(), "ﾎﾟｰﾄが使用できません");
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
    EXPECT_TRUE(isEndBox(rec.boxes[0], 0));
    EXPECT_EQ(rec.startEnabled, 1);
}

TEST_F(JobTest, ThreadThatCannotStartEndsTheJob) {
    useData(kSmallData);
    for (const int which : {1, 2}) {  // the watcher, then the worker
        SCOPED_TRACE(which);
        startDevice();
        rec.forget();
        failThreadStart(which);
        runJob();
        EXPECT_EQ(lastStatus(), kThreadFailedText);
        EXPECT_EQ(ui.desk.job.busy, 0);
        EXPECT_FALSE(ui.desk.job.channel.port.isOpen());
        EXPECT_TRUE(isWindowEnabled(dlgItem(ui.dlg, IDC_START)));
        // Without a watcher Start comes back at once; the watcher announces a worker that failed.
        ASSERT_EQ(rec.boxes.size(), size_t(which - 1));
        EXPECT_TRUE(which == 1 || isEndBox(rec.boxes[0], 0));
        EXPECT_EQ(sim.captured(), "");
        sim.stop();
    }
}

// ---- The long waits, with the device played by hand and every reply on the line at once ----

struct HandPlayedJob : ::testing::Test {
    RealClockAfter restoreClock;
    TempDir dir;
    PtyPair pty;
    Channel ch;
    RecordingObserver obs;
    WriteSettings settings;
    const std::string data = "BMP 1\nPAGE 1\n";

    void SetUp() override {
        installManualClock(77);
        ASSERT_EQ(commOpen(pty.slavePath, &ch), 0);
    }
    // Runs the job on this thread; the virtual milliseconds it took.
    uint32_t run(const std::string& replies) {
        pty.send(replies);
        const uint32_t t0 = g_manualNow;
        runWriteJob(ch, settings, dir.write("d.v3", data), obs);
        return g_manualNow - t0;
    }
};

TEST_F(HandPlayedJob, EraseThatNeverEndsTimesOutAfterThreeMinutes) {
    for (const bool skipBitmaps : {false, true}) {
        SCOPED_TRACE(skipBitmaps ? "page erase" : "image erase");
        settings.skipBitmaps = skipBitmaps;
        ASSERT_TRUE(ch.port.isOpen() || commOpen(pty.slavePath, &ch) == 0);
        const uint32_t took = run("FlashRom Mode Start\rData Save Start\r");
        ExpectedJob want{data};
        want.skipBitmaps = skipBitmaps;
        EXPECT_EQ(pty.receive(), want.upToErase());
        EXPECT_EQ(obs.last(), resString(kStrTransferFailed));
        EXPECT_FALSE(ch.port.isOpen());
        EXPECT_EQ(obs.writtenCount(), 0);
        EXPECT_EQ(took, 1000u + 180001u);  // the pause after flash mode, then the erase wait
    }
}

TEST_F(HandPlayedJob, SumThatNeverComesTimesOutAfterThirtySeconds) {
    const uint32_t took = run(
        "FlashRom Mode Start\rData Save Start\rImage Erase End\rData Save End\r"
        "FlashRom Mode End\rnot a frame\r");
    EXPECT_EQ(pty.receive(), ExpectedJob{data}.whole());
    EXPECT_EQ(obs.last(), resString(kStrTransferFailed));
    EXPECT_FALSE(ch.port.isOpen());
    EXPECT_EQ(obs.writtenCount(), 1);
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
    // clang-format off
    const struct {
        uint32_t start, elapsed, seconds;
    } cases[] = {{5000, 999, 0},     {5000, 1999, 1},     {5000, 2000, 2},
                 {5000, 64999, 64},  {5000, 65000, 65},   {5000, 65999, 65},
                 {0xffffffffu - 500u, 1999, 1},           {0xffffffffu - 30000u, 65000, 65}};
    // clang-format on
    for (const auto& c : cases) {
        installManualClock(c.start + c.elapsed);
        ui.desk.job.startTick = c.start;  // busy 0: the job has ended
        completionWatcher(ui.desk);
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), endText(c.seconds)) << c.elapsed << " ms";
    }
}

// ---- Two jobs at once in one process ----

// Each job on its own thread, channel and device, with settings of its own: nothing of one
// reaches the other (ThreadSanitizer runs this test in CI).
TEST(TwoJobs, RunAtOnceInOneProcessEachStreamWhole) {
    TempDir dir;
    useScaledClock(kJobTimeScale, 0);
    struct Run {
        Run(const char* s, const std::string& d) : sum(s), data(d), want{d} {}
        const char* sum;
        std::string data;
        ExpectedJob want;
        WriteSettings settings;
        SimProcess sim;
        RecordingObserver obs;
        JobResult result;
    } runs[2] = {{"1111", kSmallData}, {"2222", "BMP 2 8 1\nB 0F\nPAGE 2\nENDPAGE\n"}};
    WriteSettings& second = runs[1].settings;
    second.vertical = second.transferSettings = second.rs422 = second.skipBitmaps = true;
    second.lineSpeed = 1;
    runs[1].want.skipBitmaps = true;
    runs[1].want.settings = registerLines({"WD bf07b 1", "WD bf075 1", "WD bf07a 0", "WD bf07c 1",
                                           "WD bf078 0", "WD bf303 1", "WD bf305 64", "WD bf306 0",
                                           "WD bf307 0", "WD bf075 1", "UC"});
    std::vector<std::thread> threads;
    for (Run& r : runs) {
        ASSERT_TRUE(r.sim.start({"--jobs", "1", "--sum", r.sum},
                                {"ZEMTABULO_TIME_SCALE=" + std::to_string(kJobTimeScale)}));
        threads.emplace_back([&r, path = dir.write(std::string(r.sum) + ".v3", r.data)] {
            Channel ch;
            if (openJobPort(ch, r.sim.slavePath, r.obs, r.result) == 0)
                r.result = runWriteJob(ch, r.settings, path, r.obs);
        });
    }
    for (std::thread& t : threads) t.join();
    useScaledClock(1, 0);
    for (Run& r : runs) {
        SCOPED_TRACE(r.sum);
        EXPECT_EQ(r.sim.wait(5000), 0);  // the device saw its one job through
        EXPECT_EQ(r.sim.captured(), r.want.whole());
        EXPECT_EQ(r.result.sumState, SumState::Read);
        EXPECT_EQ(r.result.sum, r.sum);
        EXPECT_EQ(r.obs.texts(), jobStatuses(r.sum));
        EXPECT_EQ(r.obs.writtenCount(), 1);
    }
}
