// The station window on the headless backend: its procedure, STATION.INI and the log, each
// slot's job a real zemtabulo-cli child writing into its own v3sim.
#include "app/station_window.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <map>
#include <set>

#include "app/main_dialog_ids.h"
#include "app/station_window_ini.h"
#include "csv_reader.h"
#include "job_fixture.h"
#include "platform/headless/headless.h"
#include "platform/serial_lock.h"
#include "run_program.h"
#include "station/events.h"
#include "station/log.h"
#include "station/slot_job.h"
#include "station/station_run.h"
#include "station/unit.h"

namespace {

const std::string kData = "BMP 1\nB 00\nPAGE 1\nTEXT hello\n";
constexpr auto kRunWait = std::chrono::seconds(60);
// Some seconds of data for a device at the line rate under the tests' clock.
constexpr size_t kSlowBytes = 400000;

struct Row {
    std::string result;
    uint32_t colour;
    std::string status;
};

struct StationWindow : ::testing::Test {
    TempDir dir;
    std::deque<SimProcess> sims;
    std::vector<std::string> boxes;
    std::vector<std::string> sounds;
    bool answerYes = false;
    Window dlg = nullptr;
    std::vector<Row> shown;  // the rows as the window was left

    void SetUp() override {
        dir.enter();
        dir.write("d.v3", kData);
        // The jobs are children: they take the scaled clock from the environment.
        setenv("ZEMTABULO_TIME_SCALE", "20", 1);
        HeadlessHooks hooks;
        hooks.onMessageBox = [this](Window, const std::string& text, const std::string&) {
            boxes.push_back(text);
        };
        hooks.onSound = [this](const std::string& f) { sounds.push_back(f); };
        hooks.onAsk = [this](Window, const std::string&) { return answerYes; };
        headlessSetHooks(hooks);
    }
    void TearDown() override {
        headlessSetHooks({});
        unsetenv("ZEMTABULO_TIME_SCALE");
    }

    void startSims(const std::vector<std::vector<std::string>>& faults) {
        for (const auto& args : faults) {
            sims.emplace_back();
            ASSERT_TRUE(sims.back().start(args, {"ZEMTABULO_TIME_SCALE=20"}));
        }
    }
    // STATION.INI with a slot for each device and `extra` lines.
    void writeIni(const std::string& extra = "") {
        std::string ini =
            "slots=" + std::to_string(sims.size()) + "\r\ndata=d.v3\r\nlog=log.csv\r\n";
        for (size_t i = 0; i < sims.size(); ++i)
            ini += "slot" + std::to_string(i + 1) + ".port=" + sims[i].slavePath + "\r\n";
        dir.write(kStationIniName, ini + extra);
    }
    // Runs the program; `drive` acts on the open window, which is then left with Exit.
    void run(const std::function<void()>& drive, std::vector<std::string> args = {}) {
        headlessHooks().onDialog = [&](Window d) {
            dlg = d;
            drive();
            headlessClick(dlg, IDC_ST_EXIT);
            shown.clear();
            for (int k = 0; dlgItem(dlg, slotControlId(k, kSlotResult)); ++k)
                shown.push_back(row(k));
        };
        stationMain(args);
    }

    Window slot(int s, SlotPart part) const { return dlgItem(dlg, slotControlId(s, part)); }
    Row row(int s) const {
        Window r = slot(s, kSlotResult);
        return {windowText(r), controlColour(r), windowText(slot(s, kSlotStatus))};
    }
    bool idle(int s) const { return isWindowEnabled(slot(s, kSlotStart)); }
    // Delivers the jobs' events until every slot is idle again.
    void waitIdle() {
        ASSERT_TRUE(headlessPumpUntil(
            [&] {
                for (size_t s = 0; s < sims.size(); ++s)
                    if (!idle(int(s))) return false;
                return true;
            },
            kRunWait));
    }
    LogTable readLog() const {
        LogTable log;
        EXPECT_TRUE(log.parse(dir.read("log.csv"))) << dir.read("log.csv");
        return log;
    }
};

TEST_F(StationWindow, OneSlotSilentAtTheEraseFailsAloneAndEveryDeviceIsLogged) {
    startSims({{"--jobs", "1"}, {"--silent-at", "erase"}, {"--jobs", "1"}, {"--jobs", "1"}});
    writeIni();
    run([&] {
        EXPECT_TRUE(headlessKey(dlg, '\r'));  // Enter starts every slot
        for (int s = 0; s < 4; ++s) EXPECT_FALSE(idle(s)) << s;
        EXPECT_EQ(row(0).result, "0%");
        waitIdle();
    });
    ExpectedJob want{kData};
    const std::string sum = simDataSum(want.dataPart());
    for (int s : {0, 2, 3}) {
        EXPECT_EQ(sims[size_t(s)].captured(), want.whole()) << s;
        EXPECT_EQ(shown[size_t(s)].result, "OK " + sum) << s;
        EXPECT_EQ(shown[size_t(s)].colour, kOkColour) << s;
    }
    EXPECT_EQ(shown[1].result, "NG 消去無応答");
    EXPECT_EQ(shown[1].colour, kNgColour);
    EXPECT_EQ(shown[1].status, "no answer within 180000 ms");
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    EXPECT_EQ(std::multiset<std::string>(sounds.begin(), sounds.end()).count(""), 1u);

    const LogTable log = readLog();
    ASSERT_EQ(log.records.size(), 4u);
    std::map<std::string, std::string> results;
    for (size_t i = 0; i < log.records.size(); ++i)
        results[log.at(i, "port")] = log.at(i, "result");
    EXPECT_EQ(results[sims[0].slavePath], "ok");
    EXPECT_EQ(results[sims[1].slavePath], "failed");
    // STATION.INI was written at the start, in its own format.
    std::vector<std::string> malformed;
    StationConfig saved = parseStationIni(dir.read(kStationIniName), malformed);
    EXPECT_TRUE(malformed.empty());
    ASSERT_EQ(saved.slots.size(), 4u);
    EXPECT_EQ(saved.slots[3].port, sims[3].slavePath);
    EXPECT_NE(dir.read(kStationIniName).find("log=log.csv\r\n"), std::string::npos);
}

TEST_F(StationWindow, SumsAgainstTheExpectedOneOrTheFirstDevicesSum) {
    startSims({{"--sum", "5A3C"}, {"--sum", "5A3C"}, {"--sum", "1111"}, {"--bad-sum"}});
    writeIni("expect-sum=5a3c\r\n");
    run([&] {
        headlessClick(dlg, IDC_ST_START_ALL);
        waitIdle();
    });
    EXPECT_EQ(shown[0].result, "OK 5A3C");
    EXPECT_EQ(shown[1].result, "OK 5A3C");
    EXPECT_EQ(shown[2].result, "NG ｻﾑ不一致");
    EXPECT_EQ(shown[2].status, "sum 1111, expected 5a3c");
    EXPECT_EQ(shown[3].result, "NG ｻﾑ読取不可");

    // Take the first good device's sum: slot 3, then slot 1 against it.
    writeIni("first-sum=1\r\n");
    run([&] {
        EXPECT_TRUE(headlessKey(dlg, '3'));
        waitIdle();
        EXPECT_EQ(row(2).result, "OK 1111");
        EXPECT_EQ(windowText(dlgItem(dlg, IDC_ST_EXPECT)), "1111");
        EXPECT_TRUE(headlessKey(dlg, '1'));
        waitIdle();
        EXPECT_EQ(row(0).result, "NG ｻﾑ不一致");
    });
    // The learnt sum is this session's only.
    EXPECT_NE(dir.read(kStationIniName).find("expect-sum=\r\n"), std::string::npos);
}

// A slot's verdict and record are those of what it was started with: the data file chosen and
// the expected sum typed while it writes belong to the slots started after.
TEST_F(StationWindow, EachSlotKeepsWhatItWasStartedWith) {
    startSims({{"--jobs", "1", "--late-at", "sb:20000"}, {"--jobs", "1"}});
    writeIni();
    const std::string other = dir.write("other.v3", "PAGE 2\nTEXT other\n");
    headlessHooks().onChooseFile = [&](std::string& path, const std::string&) {
        path = other;
        return true;
    };
    run([&] {
        EXPECT_TRUE(headlessKey(dlg, '1'));  // d.v3, no expected sum
        headlessClick(dlg, IDC_ST_DATA_FILE);
        setWindowText(dlgItem(dlg, IDC_ST_EXPECT), "FFFF");
        EXPECT_TRUE(headlessKey(dlg, '2'));  // other.v3, FFFF expected
        EXPECT_FALSE(idle(0));               // slot 1 was still writing meanwhile
        waitIdle();
    });
    EXPECT_EQ(shown[0].result, "OK " + simDataSum(ExpectedJob{kData}.dataPart()));
    EXPECT_EQ(shown[1].result, "NG ｻﾑ不一致");
    const LogTable log = readLog();
    ASSERT_EQ(log.records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const bool first = log.at(i, "port") == sims[0].slavePath;
        EXPECT_EQ(log.at(i, "data_file"), first ? "d.v3" : other);
        EXPECT_EQ(log.at(i, "data_bytes"), std::to_string(first ? kData.size() : 18u));
        EXPECT_EQ(log.at(i, "result"), first ? "ok" : "sum-mismatch");
        EXPECT_EQ(log.at(i, "expected_sum"), first ? "" : "FFFF");
    }
}

TEST_F(StationWindow, BadInputIsRefusedWithABoxAndNothingStarts) {
    startSims({{}, {}});
    dir.write("COMPORTS.INI", "COM7=" + sims[0].slavePath + "\n");
    std::filesystem::create_directory(dir.path / "folder");
    const struct {
        std::string ini;
        std::string box;
    } cases[] = {
        {"slot2.port=COM7\r\n", "治具1 と 治具2 は同じ機器です"},
        {"expect-sum=12G4\r\n", "期待ｻﾑが正しくありません"},
        {"data=\r\n", "データファイルが未設定です"},
        {"data=missing.v3\r\n", "データファイルを読めません"},
        {"log=\r\n", "ログファイルが未設定です"},
        {"log=folder\r\n", "ログファイルに書き込めません"},
    };
    for (const auto& c : cases) {
        writeIni(c.ini);
        boxes.clear();
        run([&] {
            headlessClick(dlg, IDC_ST_START_ALL);
            EXPECT_TRUE(idle(0) && idle(1));
        });
        ASSERT_EQ(boxes.size(), 1u) << c.ini;
        EXPECT_EQ(boxes[0].rfind(c.box, 0), 0u) << boxes[0];
    }
    for (const SimProcess& s : sims) EXPECT_EQ(s.captured(), "");
}

TEST_F(StationWindow, AMissingOrBusyPortFailsItsSlotOnly) {
    startSims({{"--jobs", "1"}, {}});
    SerialPort held;  // another program has the second device
    ASSERT_EQ(serialOpen(sims[1].slavePath, held), 0);
    writeIni();
    dir.write(kStationIniName,
              dir.read(kStationIniName) + "slots=3\r\nslot3.port=/dev/zt-none\r\n");
    run([&] {
        headlessClick(dlg, IDC_ST_START_ALL);
        ASSERT_TRUE(headlessPumpUntil([&] { return idle(0) && idle(1) && idle(2); }, kRunWait));
    });
    EXPECT_EQ(shown[0].colour, kOkColour);
    EXPECT_EQ(shown[1].result, "NG ﾎﾟｰﾄ使用不可");
    EXPECT_EQ(shown[2].result, "NG ﾎﾟｰﾄ使用不可");
    // The reason in the window's language first, then the system's own text.
    for (size_t s : {1, 2}) EXPECT_EQ(shown[s].status.rfind("ﾎﾟｰﾄを使用できません: ", 0), 0u) << s;
    EXPECT_NE(shown[2].status.find("No such file or directory"), std::string::npos);
    EXPECT_EQ(sims[1].captured(), "");
}

// A log begun by an older version: its columns are kept, and the window says so once.
TEST_F(StationWindow, AnOlderLogIsContinuedWithItsColumnsAfterOneBox) {
    startSims({{"--jobs", "2"}});
    writeIni();
    dir.write("log.csv", logHeaderOf(15) + "\r\n");
    run([&] {
        for (int k = 0; k < 2; ++k) {
            headlessClick(dlg, IDC_ST_START_ALL);
            waitIdle();
        }
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("次の列は記録されません: id"), std::string::npos) << boxes[0];
    const LogTable log = readLog();
    ASSERT_EQ(log.records.size(), 2u);
    for (const auto& record : log.records) EXPECT_EQ(record.size(), 15u);
    EXPECT_EQ(log.at(1, "result"), "ok");
}

TEST_F(StationWindow, LockedKeepsOnlyStartAndExitAndBadLinesAreNamedOnce) {
    startSims({{}});
    for (const bool byFlag : {true, false}) {
        writeIni(std::string(byFlag ? "" : "locked=1\r\n") + "colour=blue\r\nslots=99\r\n");
        boxes.clear();
        run(
            [&] {
                for (int id : std::initializer_list<int>{IDC_ST_DATA_FILE, IDC_ST_EXPECT,
                                                         IDC_ST_FIRST_SUM, IDC_ST_LOG, IDC_VERTICAL,
                                                         IDC_TRANSFER_SETTINGS, IDC_LINE_SPEED})
                    EXPECT_FALSE(isWindowEnabled(dlgItem(dlg, id))) << id;
                EXPECT_FALSE(isWindowEnabled(slot(0, kSlotPort)));
                for (int id : std::initializer_list<int>{IDC_ST_START_ALL, IDC_ST_EXIT,
                                                         slotControlId(0, kSlotStart)})
                    EXPECT_TRUE(isWindowEnabled(dlgItem(dlg, id))) << id;
            },
            byFlag ? std::vector<std::string>{"--locked"} : std::vector<std::string>{});
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].find("colour=blue"), std::string::npos) << boxes[0];
        EXPECT_NE(boxes[0].find("slots=99"), std::string::npos) << boxes[0];
    }
}

// Ends cut short: a job killed mid-data shows 中断 with its step, never a port fault, and is
// recorded at that step; Exit while the others write asks, then stops and records them.
TEST_F(StationWindow, ExitWhileWritingAsksThenStopsAndRecordsTheDevices) {
    startSims({{"--rate", "3840"}, {"--rate", "3840"}, {"--rate", "3840"}});
    // Seconds of data at the scaled rate: the jobs are still in it when Exit stops them.
    dir.write("d.v3", std::string(kSlowBytes, 'x') + "\n");
    writeIni();
    bool stillOpen = false;
    Row killed;
    run([&] {
        headlessClick(dlg, IDC_ST_START_ALL);
        ASSERT_TRUE(headlessPumpUntil(
            [&] { return row(0).result != "0%" && row(1).result != "0%" && row(2).result != "0%"; },
            kRunWait));
        const int pid = std::atoi(slurp(serialLockPath(sims[2].slavePath)).c_str());
        ASSERT_GT(pid, 0);
        kill(pid, SIGKILL);
        ASSERT_TRUE(headlessPumpUntil([&] { return idle(2); }, kRunWait));
        killed = row(2);
        headlessClick(dlg, IDC_ST_EXIT);  // answered No
        stillOpen = !headlessEnded(dlg);
        answerYes = true;
    });
    EXPECT_TRUE(stillOpen);
    for (int s = 0; s < 2; ++s) EXPECT_EQ(shown[size_t(s)].result, "NG 中断") << s;
    EXPECT_EQ(killed.result, "NG 中断");
    EXPECT_NE(killed.status.find("[ﾃﾞｰﾀ]"), std::string::npos) << killed.status;
    const LogTable log = readLog();
    ASSERT_EQ(log.records.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const bool wasKilled = log.at(i, "port") == sims[2].slavePath;
        EXPECT_EQ(log.at(i, "result"), wasKilled ? "failed" : "interrupted");
        EXPECT_EQ(log.at(i, "step"), "data");
        EXPECT_NE(log.at(i, "reason").find(kErasedReason), std::string::npos)
            << log.at(i, "reason");
    }
    // Every port is free again.
    for (const SimProcess& s : sims) {
        SerialPort again;
        EXPECT_EQ(serialOpen(s.slavePath, again), 0);
    }
}

// An armed row (slotN.auto=1) watches its port from the window's opening: each device plugged in
// is one job, its states shown before its words, its result and record as a Start's; one pulled
// out mid-write is NG with the record the command line gives.
TEST_F(StationWindow, AnAutoRowWritesEachDeviceAsItIsPluggedIn) {
    const std::string port = dir.file("dev1"), data = std::string(kSlowBytes, 'x') + "\n";
    dir.write("d.v3", data);
    dir.write(kStationIniName, "slots=1\r\ndata=d.v3\r\nlog=log.csv\r\nslot1.port=" + port +
                                   "\r\nslot1.auto=1\r\ndebounce=200\r\n");
    std::vector<std::string> states;  // each state the status line began with, in turn
    headlessHooks().onText = [&](Window ctl, const std::string& text) {
        const std::string state = text.substr(0, text.find("\u3000"));
        if (dlg && ctl == slot(0, kSlotStatus) && (states.empty() || states.back() != state))
            states.push_back(state);
    };
    auto until = [&](const std::function<bool()>& done) {
        ASSERT_TRUE(headlessPumpUntil(done, kRunWait)) << row(0).status;
    };
    Row pulled;
    run([&] {
        states.push_back(row(0).status);  // shown as the window opened
        EXPECT_EQ(buttonState(dlg, slotControlId(0, kSlotAuto)), kChecked);
        EXPECT_FALSE(idle(0));  // Start is for the rows not armed
        for (size_t nth : {1u, 2u}) {
            startSims({{"--link", port}});
            until([&] { return row(0).status.rfind("取り外してください", 0) == 0; });
            EXPECT_EQ(row(0).result, "OK " + simDataSum(ExpectedJob{data}.dataPart()));
            EXPECT_EQ(readLog().records.size(), nth);
            sims.back().stop();  // its link goes with it
            until([&] { return row(0).status == "待機"; });
        }
        startSims({{"--rate", "3840", "--link", port}});
        until([&] { return row(0).result != "0%" && row(0).result.back() == '%'; });
        ASSERT_EQ(unlink(port.c_str()), 0);
        EXPECT_TRUE(headlessPumpUntil([&] { return row(0).result.rfind("NG", 0) == 0; },
                                      std::chrono::seconds(2)));
        pulled = row(0);
        until([&] { return row(0).status == "待機"; });
        headlessClick(dlg, slotControlId(0, kSlotAuto));
        EXPECT_TRUE(idle(0));
    });
    std::vector<std::string> want;
    for (int job = 0; job < 3; ++job)
        want.insert(want.end(), {"待機", "検出", "書込み中", "取り外してください"});
    want.insert(want.end(), {"待機", ""});  // disarmed: the job's words alone
    EXPECT_EQ(states, want);
    for (size_t s : {0, 1}) EXPECT_EQ(sims[s].captured(), ExpectedJob{data}.whole()) << s;
    EXPECT_EQ(pulled.result, "NG 取外し");
    EXPECT_EQ(pulled.status.rfind("取り外してください\u3000書込み中に取り外されました: ", 0), 0u)
        << pulled.status;
    const LogTable log = readLog();
    ASSERT_EQ(log.records.size(), 3u);
    EXPECT_EQ(log.at(2, "result"), "failed");
    EXPECT_EQ(log.at(2, "step"), "data");
    EXPECT_EQ(log.at(2, "reason").rfind(kRemovedReason, 0), 0u) << log.at(2, "reason");
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    // Unchecked before Exit: kept so in STATION.INI.
    EXPECT_NE(dir.read(kStationIniName).find("slot1.auto=0\r\n"), std::string::npos);
}

// Where every device needs its unit id, an armed row's device that settled waits for its scan;
// an id scanned before the device goes with that device alone.
TEST_F(StationWindow, AnAutoRowTakesEachDevicesScannedUnitId) {
    const std::string port = dir.file("dev1");
    dir.write("d.v3", "BMP 1\nB 00\n");
    dir.write(kStationIniName,
              "slots=1\r\ndata=d.v3\r\nlog=log.csv\r\nunit=required\r\nslot1.port=" + port +
                  "\r\nslot1.auto=1\r\ndebounce=200\r\n");
    auto until = [&](const std::string& state) {
        ASSERT_TRUE(headlessPumpUntil([&] { return row(0).status.rfind(state, 0) == 0; }, kRunWait))
            << row(0).status;
    };
    run([&] {
        startSims({{"--link", port}});
        until("検出");
        headlessPumpUntil([] { return false; }, std::chrono::seconds(1));
        EXPECT_EQ(row(0).status, "検出");
        EXPECT_EQ(sims.back().captured(), "") << "no job before its id";
        headlessScan(dlg, slotControlId(0, kSlotUnit), "SN-0001");
        until("取り外してください");
        sims.back().stop();
        until("待機");
        headlessScan(dlg, slotControlId(0, kSlotUnit), "SN-0002");
        startSims({{"--link", port}});
        until("取り外してください");
        EXPECT_EQ(windowText(slot(0, kSlotUnit)), "") << "the id went with its device";
    });
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    const LogTable log = readLog();
    ASSERT_EQ(log.records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(log.at(i, "result"), "ok");
        EXPECT_EQ(log.at(i, "unit"), "SN-000" + std::to_string(i + 1));
    }
}

}  // namespace

TEST_F(StationWindow, RecordsTheLineServerDidNotTakeAreCountedAsWaiting) {
    startSims({{"--jobs", "1"}, {"--jobs", "1"}});
    dir.write("token.txt", "station-token\n");
    writeIni("line=http://127.0.0.1:" + std::to_string(deadLoopbackPort()) +
             "\r\nline-token-file=token.txt\r\n");
    const auto started = std::chrono::steady_clock::now();
    std::string status;
    run([&] {
        headlessClick(dlg, IDC_ST_START_ALL);
        waitIdle();
        EXPECT_TRUE(headlessPumpUntil(
            [&] {
                status = windowText(dlgItem(dlg, IDC_ST_LINE_STATUS));
                return status.find("送信待ち 2 件") != std::string::npos;
            },
            std::chrono::seconds(10)))
            << status;
    });
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    EXPECT_EQ(readLog().records.size(), 2u) << "the log keeps them for the next start";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST(StationIni, WhatIsWrittenReadsBackAndOnlyBadLinesAreLeftOut) {
    StationConfig c = defaultStationConfig(3);
    c.slots[2] = {"前列 右", "/dev/serial/by-path/pci-0:1.4:1.0-port0"};
    c.data = "C:\\データ\\画面=1.v3";  // '=' in a value
    c.settings.transferSettings = c.settings.latin = true;
    c.settings.lineSpeed = 1;
    c.expectSum = "5A3C";
    c.firstSum = c.locked = true;
    c.line = "https://line7.example:8443/zt";
    c.lineTokenFile = "C:\\ZemTabulo\\token.txt";
    c.slots[1].autoMode = true;
    c.debounceMs = 1500;
    std::vector<std::string> malformed;
    const std::string text = formatStationIni(c);
    EXPECT_EQ(formatStationIni(parseStationIni(text, malformed)), text);
    EXPECT_TRUE(malformed.empty());
    EXPECT_NE(text.find("line-speed=9600\r\n"), std::string::npos);
    EXPECT_NE(text.find("slot2.auto=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("debounce=1500\r\n"), std::string::npos);

    // A BOM, LF ends, comments; bad values and keys named by their line numbers.
    const StationConfig read = parseStationIni(
        "\xEF\xBB\xBFslots=2\n# note\nslot2.port = COM9\nslot17.port=COM1\nlatin=yes\n"
        "line-speed=1200\nslots=0\nnothing here\nslot1.auto=yes\ndebounce=60001\nslot0.auto=1\n"
        "slot1.auto=1\n",
        malformed);
    ASSERT_EQ(read.slots.size(), 2u);
    EXPECT_EQ(read.slots[1].port, "COM9");
    EXPECT_EQ(read.slots[0].port, "COM1");
    EXPECT_EQ(read.log, kDefaultLogName);
    EXPECT_EQ(malformed,
              (std::vector<std::string>{"line 4: slot17.port=COM1", "line 5: latin=yes",
                                        "line 6: line-speed=1200", "line 7: slots=0",
                                        "line 8: nothing here", "line 9: slot1.auto=yes",
                                        "line 10: debounce=60001", "line 11: slot0.auto=1"}));
    EXPECT_TRUE(read.slots[0].autoMode);
    EXPECT_EQ(read.debounceMs, int(kDefaultDebounce.count()));
}

// A CR or LF in a value would end its line early: the file is not written at all.
TEST(StationIni, ValuesWithLineBreaksAreRefused) {
    TempDir dir;
    const std::string path = dir.write(kStationIniName, "slots=1\r\n");
    for (size_t field = 0; field < 5; ++field) {
        StationConfig c = defaultStationConfig(2);
        std::string* values[] = {&c.slots[0].name, &c.slots[1].port, &c.data, &c.expectSum, &c.log};
        *values[field] += field % 2 ? "\r" : "\r\nlocked=0";
        EXPECT_EQ(writeStationIni(path, c), kErrInvalidData) << field;
        EXPECT_EQ(dir.read(kStationIniName), "slots=1\r\n");
    }
    EXPECT_EQ(writeStationIni(path, defaultStationConfig(2)), 0);
}

// A scanner's label into each row, in any order: its Enter starts the row, the focus goes on
// to the next free row, and each device's record holds its row's id. An id the pattern does
// not take, or a row without one, is refused with a box; an id recorded ok asks, and is written
// only as a rework, marked so.
TEST_F(StationWindow, ScannedUnitIdsStartTheirRowsAndARepeatedOkOneAsksForARework) {
    startSims({{"--jobs", "2"}, {"--jobs", "2"}, {"--jobs", "2"}, {"--jobs", "2"}});
    writeIni("unit=required\r\nunit-pattern=SN-[0-9]{4}\r\n");
    const std::map<int, std::string> scans = {
        {2, "SN-0003"}, {0, "SN-0001"}, {3, "SN-0004"}, {1, "SN-0002"}};
    std::vector<int> focusAfter;
    run([&] {
        for (int s : {2, 0, 3, 1}) {
            headlessScan(dlg, slotControlId(s, kSlotUnit), scans.at(s));
            EXPECT_FALSE(idle(s)) << s;
            focusAfter.push_back(headlessFocus(dlg));
        }
        waitIdle();
    });
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    EXPECT_EQ(focusAfter[0], slotControlId(3, kSlotUnit));
    EXPECT_EQ(focusAfter[1], slotControlId(1, kSlotUnit));
    LogTable log = readLog();
    ASSERT_EQ(log.records.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        int s = 0;
        while (sims[size_t(s)].slavePath != log.at(i, "port")) ++s;
        EXPECT_EQ(log.at(i, "unit"), scans.at(s));
        EXPECT_EQ(log.at(i, "result"), "ok");
    }

    const struct {
        std::string id;
        std::string box;
    } refused[] = {{"SN-12", "治具1: 製造番号の形式が違います: SN-12"},
                   {"", "治具1: 製造番号が入力されていません"}};
    for (const auto& c : refused) {
        boxes.clear();
        run([&] {
            headlessScan(dlg, slotControlId(0, kSlotUnit), c.id);
            EXPECT_TRUE(idle(0));
            EXPECT_EQ(windowText(slot(0, kSlotUnit)), "");
        });
        ASSERT_EQ(boxes.size(), 1u) << c.id;
        EXPECT_EQ(boxes[0].rfind(c.box, 0), 0u) << boxes[0];
    }
    std::vector<std::string> asked;
    headlessHooks().onAsk = [&](Window, const std::string& text) {
        asked.push_back(text);
        return answerYes;
    };
    // Scanned twice in one window, answered No: the ledger is read at the first; then another
    // program writing to the same log adds an ok unit, which is a rework here too.
    LogFile other;
    ASSERT_EQ(other.open(dir.file("log.csv")), 0);
    LogRecord byOther;
    byOther.port = "COM9";
    byOther.result = "ok";
    byOther.unit = "SN-0009";
    byOther.id = newRecordId();
    answerYes = false;
    run([&] {
        headlessScan(dlg, slotControlId(0, kSlotUnit), "SN-0002");
        ASSERT_EQ(other.append(byOther), 0);
        headlessScan(dlg, slotControlId(0, kSlotUnit), "SN-0009");
        EXPECT_TRUE(idle(0));
    });
    answerYes = true;
    run([&] {
        headlessScan(dlg, slotControlId(0, kSlotUnit), "SN-0002");
        waitIdle();
    });
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_NE(asked[0].find("製造番号 SN-0002 は書込み済み(OK)です"), std::string::npos)
        << asked[0];
    EXPECT_NE(asked[1].find("製造番号 SN-0009 は書込み済み(OK)です"), std::string::npos)
        << asked[1];
    log = readLog();
    ASSERT_EQ(log.records.size(), 6u) << "the reworks answered No wrote nothing";
    EXPECT_EQ(log.at(5, "unit"), "SN-0002");
    EXPECT_EQ(log.at(5, "reason"), kReworkReason);
    EXPECT_EQ(log.at(5, "port"), sims[0].slavePath);
}
