// zemtabulo-cli write with several ports, as a production line runs it: one v3sim for each
// port, the events read back line by line, the device log parsed back.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "app/job_log.h"
#include "app/templates.h"
#include "csv_reader.h"
#include "job_fixture.h"
#include "lock_files.h"
#include "platform/process.h"
#include "platform/serial.h"
#include "platform/serial_lock.h"
#include "run_program.h"
#include "station/events.h"
#include "station/log.h"
#include "station/slot_job.h"
#include "station/station_run.h"
#include "station/unit.h"

namespace {

// A few slots get 2.5 s of real time for a 5 s reply: 1 s was seen to run out on a loaded machine.
// Many at once load it more with their devices and threads: they run in real time.
const std::string kScale = "ZEMTABULO_TIME_SCALE=2";
const std::string kRealTime = "ZEMTABULO_TIME_SCALE=1";
const std::string kData = "BMP 1\nB 00\nPAGE 1\nTEXT hello\n";
constexpr size_t kUnplugDataBytes = 1 << 17;

struct MultiWrite : ::testing::Test {
    TempDir dir;
    std::deque<SimProcess> sims;
    std::string data;
    std::string scale = kScale;

    void SetUp() override { data = dir.write("d.v3", kData); }

    // Starts one device per entry, each with its own fault options.
    void startSims(const std::vector<std::vector<std::string>>& faults) {
        for (const auto& args : faults) {
            sims.emplace_back();
            ASSERT_TRUE(sims.back().start(args, {scale}));
        }
    }
    // The write with `args` and every port, as one line for a shell.
    std::string shellWrite(const std::vector<std::string>& args) const {
        std::string line = "'" + std::string(ZT_CLI_PATH) + "' write --data '" + data + "'";
        for (const std::string& a : args) line += " '" + a + "'";
        for (const std::string& a : portArgs()) line += " '" + a + "'";
        return line;
    }
    std::vector<std::string> portArgs() const {
        std::vector<std::string> out;
        for (const SimProcess& s : sims) out.insert(out.end(), {"--port", s.slavePath});
        return out;
    }
    ProgramResult write(std::vector<std::string> args) {
        args.insert(args.begin(), {ZT_CLI_PATH, "write", "--data", data});
        return runProgram(args, {scale}, dir.path.string());
    }
};

// Every line of the output is an event; "t" never goes back.
std::vector<Json> events(const std::string& out) {
    std::vector<Json> all;
    double t = 0;
    size_t begin = 0;
    for (size_t nl; (nl = out.find('\n', begin)) != std::string::npos; begin = nl + 1) {
        auto e = parseEvent(out.substr(begin, nl - begin));
        EXPECT_TRUE(e) << "not an event: " << out.substr(begin, nl - begin);
        if (!e) continue;
        EXPECT_GE((*e)["t"].get<double>(), t);
        t = (*e)["t"].get<double>();
        all.push_back(*e);
    }
    EXPECT_EQ(begin, out.size()) << "output not ended by a line end";
    return all;
}

std::map<std::string, EndInfo> endsByPort(const std::vector<Json>& all) {
    std::map<std::string, EndInfo> ends;
    for (const Json& e : all) {
        EndInfo end;
        if (readEndInfo(e, end)) {
            EXPECT_FALSE(ends.count(eventText(e, "port"))) << "two ends";
            ends[eventText(e, "port")] = end;
        }
    }
    return ends;
}

// The log's records, read by column name; a text that is no CSV fails the test.
LogTable readLog(const std::string& text) {
    LogTable log;
    EXPECT_TRUE(log.parse(text)) << text;
    return log;
}

}  // namespace

TEST_F(MultiWrite, EveryPortGetsTheWholeJobAndEveryLineIsAnEvent) {
    startSims({{"--jobs", "1"}, {"--jobs", "1"}, {"--jobs", "1"}});
    std::vector<std::string> args = portArgs();
    args.insert(args.end(), {"--json", "--transfer-settings", "--rs422", "--speed", "9600"});
    ProgramResult r = write(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const ExpectedJob want{kData, false,
                           registerLines({"WD bf07b 0", "WD bf075 1", "WD bf07a 0", "WD bf07c 1",
                                          "WD bf078 0", "WD bf303 1", "WD bf305 64", "WD bf306 0",
                                          "WD bf307 0", "WD bf075 1", "UC"})};
    for (SimProcess& s : sims) EXPECT_EQ(s.captured(), want.whole()) << s.slavePath;

    const std::vector<Json> all = events(r.out);
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all.front()["event"], "start");
    EXPECT_EQ(all.front()["schema"], 1);
    EXPECT_EQ(all.front()["bytes"], kData.size());
    EXPECT_EQ(all.front()["sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(all.front()["ports"].size(), 3u);
    EXPECT_EQ(all.back(), (Json{{"event", "done"}, {"exit", 0}, {"t", all.back()["t"]}}));
    for (const SimProcess& s : sims) {
        std::vector<std::string> statuses;
        bool allSent = false;
        std::string sum;
        for (const Json& e : all) {
            if (eventText(e, "port") != s.slavePath) continue;
            if (e["event"] == "status") statuses.push_back(e["text"]);
            if (e["event"] == "progress" && e["sent"] == e["total"])
                allSent = e["total"] == kData.size();
            if (e["event"] == "sum") sum = e["sum"];
        }
        EXPECT_EQ(statuses.front(), "画面書込み");
        EXPECT_TRUE(allSent) << s.slavePath;
        EXPECT_EQ(sum, simDataSum(want.dataPart()));
    }
    for (const auto& [port, end] : endsByPort(all)) EXPECT_EQ(end.result, SlotResult::Ok) << port;
}

TEST_F(MultiWrite, SilentUnpluggedAndHeldSlotsFailAloneAndAreLogged) {
    // Far more than a pseudo-terminal holds: the unplugged slot is still writing data when its
    // line goes, however slowly its device reads.
    data = dir.write("big.v3", std::string(kUnplugDataBytes, 'x') + "\n");
    startSims({{"--jobs", "1"}, {"--silent-at", "fs_end"}, {"--hangup-after", "100"}, {}});
    SerialPort held;  // another program has the last port
    ASSERT_EQ(serialOpen(sims[3].slavePath, held), 0);
    std::vector<std::string> args = portArgs();
    args.insert(args.end(), {"--json", "--log", dir.file("log.csv")});
    ProgramResult r = write(args);
    EXPECT_EQ(r.status, 1) << r.err;

    auto ends = endsByPort(events(r.out));
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends[sims[0].slavePath].result, SlotResult::Ok) << ends[sims[0].slavePath].reason;
    EXPECT_EQ(ends[sims[1].slavePath].step, "fs_end");
    EXPECT_EQ(ends[sims[1].slavePath].reason, "no answer within 5000 ms");
    EXPECT_EQ(ends[sims[2].slavePath].step, "data");
    // Seen by the next write or the next read of a reply, whichever comes first.
    const std::string& unplugged = ends[sims[2].slavePath].reason;
    EXPECT_TRUE(unplugged.find("commPutc") != std::string::npos ||
                unplugged.find("commGetc") != std::string::npos)
        << unplugged;
    EXPECT_EQ(ends[sims[3].slavePath].step, "open");
    for (int i : {1, 2, 3}) EXPECT_EQ(ends[sims[i].slavePath].result, SlotResult::Failed) << i;
    EXPECT_EQ(sims[3].captured(), "");

    const LogTable log = readLog(dir.read("log.csv"));
    ASSERT_EQ(log.records.size(), 4u);
    std::map<std::string, size_t> byPort;
    for (size_t i = 0; i < log.records.size(); ++i) {
        ASSERT_EQ(log.records[i].size(), log.header.size());
        byPort[log.at(i, "port")] = i;
    }
    EXPECT_EQ(log.at(byPort[sims[0].slavePath], "result"), "ok");
    EXPECT_EQ(log.at(byPort[sims[1].slavePath], "result"), "failed");
    EXPECT_EQ(log.at(byPort[sims[1].slavePath], "step"), "fs_end");
}

// A port and a data file named like formulas read back as given; a log begun by an older
// version goes on with its own columns, and --trace says so once.
TEST_F(MultiWrite, FormulaLikeNamesReadBackAndAnOlderLogKeepsItsColumns) {
    startSims({{"--jobs", "1"}});
    dir.write("@d.v3", kData);
    dir.write("log.csv", logHeaderOf(15) + "\r\n");
    ProgramResult r = runProgram({ZT_CLI_PATH, "write", "--data", "@d.v3", "--port", "=1+2",
                                  "--port", sims[0].slavePath, "--log", "log.csv", "--trace"},
                                 {scale}, dir.path.string());
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string note = "log log.csv has an older header: its records leave out id";
    ASSERT_NE(r.err.find(note), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(note, r.err.find(note) + 1), std::string::npos) << r.err;

    const std::string text = dir.read("log.csv");
    EXPECT_NE(text.find(",'=1+2,"), std::string::npos) << text;
    const LogTable log = readLog(text);
    ASSERT_EQ(log.records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(log.records[i].size(), 15u);
        EXPECT_EQ(log.at(i, "data_file"), "@d.v3");
        EXPECT_EQ(log.at(i, "result"), log.at(i, "port") == "=1+2" ? "failed" : "ok");
    }
}

TEST_F(MultiWrite, SumsAgainstTheExpectedOneOrTheMajority) {
    startSims({{"--sum", "5A3C"}, {"--sum", "5A3C"}, {"--sum", "1111"}, {"--bad-sum"}});
    struct Case {
        std::vector<std::string> extra;
        std::vector<SlotResult> want;
        int status;
    } cases[] = {
        {{"--expect-sum", "5a3c"},
         {SlotResult::Ok, SlotResult::Ok, SlotResult::SumMismatch, SlotResult::SumUnreadable},
         3},
        {{},
         {SlotResult::Ok, SlotResult::Ok, SlotResult::SumMismatch, SlotResult::SumUnreadable},
         3},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = portArgs();
        args.insert(args.end(), {"--json", "--log", "log.csv"});
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ProgramResult r = write(args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        auto ends = endsByPort(events(r.out));
        for (size_t i = 0; i < sims.size(); ++i)
            EXPECT_EQ(ends[sims[i].slavePath].result, c.want[i]) << i;
    }
    // The majority's good devices were recorded as they ended; the one found different at the
    // end has a second record that names its first.
    const LogTable log = readLog(dir.read("log.csv"));
    ASSERT_EQ(log.records.size(), 4u + 5u);
    std::map<std::string, std::vector<size_t>> byPort;
    for (size_t i = 4; i < log.records.size(); ++i) byPort[log.at(i, "port")].push_back(i);
    const std::vector<size_t>& odd = byPort[sims[2].slavePath];
    ASSERT_EQ(odd.size(), 2u);
    EXPECT_EQ(log.at(odd[0], "result"), "ok");
    EXPECT_EQ(log.at(odd[1], "result"), "sum-mismatch");
    EXPECT_EQ(
        log.at(odd[1], "reason"),
        "sum 1111 differs from the other devices' (corrects record " + log.at(odd[0], "id") + ")");
    for (size_t k : {0, 1, 3}) EXPECT_EQ(byPort[sims[k].slavePath].size(), 1u) << k;
    // Without --json: a line per change, then the summary.
    ProgramResult r = write({"--port", sims[0].slavePath, "--port", sims[2].slavePath});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find(sims[2].slavePath + ": 画面書込み\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sum-mismatch"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("exit 3: "), std::string::npos) << r.out;
}

TEST_F(MultiWrite, OnePortWithTheNewOptions) {
    startSims({{"--sum", "5A3C"}, {"--bad-sum"}});
    ProgramResult r = write({"--port", sims[0].slavePath, "--expect-sum", "1111"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("sum-mismatch: sum 5A3C, expected 1111"), std::string::npos) << r.err;
    r = write({"--port", sims[1].slavePath, "--json"});
    EXPECT_EQ(r.status, 3);
    const std::vector<Json> all = events(r.out);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front()["ports"], Json::array({sims[1].slavePath}));
    EXPECT_EQ(endsByPort(all)[sims[1].slavePath].result, SlotResult::SumUnreadable);
    EXPECT_EQ(r.status, 3);
}

TEST_F(MultiWrite, RefusedBeforeAnyPortIsOpened) {
    startSims({{}});
    dir.write("COMPORTS.INI", "COM7=" + sims[0].slavePath + "\n");
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--port", "COM7", "--port", sims[0].slavePath}, 2},           // one device twice
        {{"--port", "COM7", "--expect-sum", "12G4"}, 2},                // no sum
        {{"--port", "COM7", "--log", dir.file("no/such/dir.csv")}, 1},  // no log
        {{"--port", "COM7", "--port", "COM8", "--log", dir.path.string()}, 1},
    };
    for (const Case& c : cases) {
        ProgramResult r = write(c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
    }
    data = dir.file("missing.v3");
    EXPECT_EQ(write({"--port", "COM7", "--port", "COM8"}).status, 1);
    EXPECT_EQ(sims[0].captured(), "");
}

// Ctrl-C, a kill and a terminal that closes end the write alike: every job stopped, every port
// closed at once, and every device recorded once as interrupted at its step.
TEST_F(MultiWrite, InterruptStopsEveryJobAndClosesEveryPort) {
    data = dir.write("big.v3", std::string(128 * 1024, 'x') + "\n");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signalName(signal));
        sims.clear();
        for (int i = 0; i < 2; ++i) {
            sims.emplace_back();
            ASSERT_TRUE(sims.back().start({"--rate", "3840"}, {}));
        }
        const std::string log = dir.file(std::string(signalName(signal)) + ".csv");
        std::vector<std::string> argv{ZT_CLI_PATH, "write", "--json", "--data", data, "--log", log};
        for (const std::string& a : portArgs()) argv.push_back(a);
        ChildProcess cli;
        ASSERT_EQ(cli.start(argv, true), 0);
        // Wait for both slots' data phase, then the signal.
        std::string out;
        char buf[4096];
        std::map<std::string, bool> sending;
        while (sending.size() < 2) {
            long long n = cli.read(buf, sizeof buf);
            ASSERT_GT(n, 0) << out;
            out.append(buf, size_t(n));
            for (const Json& e : events(out.substr(0, out.rfind('\n') + 1)))
                if (e["event"] == "progress") sending[e["port"]] = true;
        }
        const auto interrupted = std::chrono::steady_clock::now();
        kill(pid_t(cli.id()), signal);
        for (SimProcess& s : sims) {
            SerialPort port;
            while (serialOpen(s.slavePath, port) != 0) {
                ASSERT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(1));
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        long long n;
        while ((n = cli.read(buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        EXPECT_EQ(cli.wait(), 130);
        const std::vector<Json> all = events(out);
        for (const auto& [port, end] : endsByPort(all)) {
            EXPECT_EQ(end.result, SlotResult::Interrupted) << port;
            EXPECT_EQ(end.step, "data");
        }
        EXPECT_EQ(all.back()["exit"], 130);
        const LogTable records = readLog(dir.read(log));
        ASSERT_EQ(records.records.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(records.at(i, "result"), "interrupted");
            EXPECT_EQ(records.at(i, "step"), "data");
        }
    }
}

// A job killed mid-data is recorded at the step it had reported, the other one goes on, and
// the summary warns that the device holds no data.
TEST_F(MultiWrite, KilledJobKeepsItsStep) {
    // More than a pseudo-terminal's buffers hold: the job is still sending when it is killed.
    data = dir.write("big.v3", std::string(128 * 1024, 'x') + "\n");
    startSims({{"--rate", "3840"}, {"--jobs", "1"}});
    ProgramResult r;
    std::vector<std::string> args = portArgs();
    args.insert(args.end(), {"--log", "log.csv"});
    std::thread tool([&] { r = write(args); });
    // The job of the first port holds its lock file: its pid, once its data goes out.
    const bool sending = sims[0].received("xxxxxxxxxx", 20000);
    const int pid = std::atoi(slurp(serialLockPath(sims[0].slavePath)).c_str());
    if (sending && pid > 0) kill(pid, SIGKILL);
    tool.join();
    ASSERT_TRUE(sending && pid > 0);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("Warning: a device interrupted after its erase holds no data"),
              std::string::npos)
        << r.out;
    const LogTable log = readLog(dir.read("log.csv"));
    ASSERT_EQ(log.records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const bool killed = log.at(i, "port") == sims[0].slavePath;
        EXPECT_EQ(log.at(i, "result"), killed ? "failed" : "ok");
        EXPECT_EQ(log.at(i, "step"), killed ? "data" : "");
    }
}

// A good device is recorded as it ends, not when the last one does: a parent killed before the
// run's end has lost none of them.
TEST_F(MultiWrite, GoodDeviceIsRecordedBeforeTheRunEnds) {
    data = dir.write("big.v3", std::string(20000, 'x') + "\n");
    startSims({{"--jobs", "1"}, {"--rate", "3840", "--late-at", "sb:60000"}});
    std::vector<std::string> argv{ZT_CLI_PATH, "write", "--data",
                                  data,        "--log", dir.file("log.csv")};
    for (const std::string& a : portArgs()) argv.push_back(a);
    ChildProcess cli;
    ASSERT_EQ(cli.start(argv, true), 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    LogTable log;
    while ((!log.parse(dir.read("log.csv")) || log.records.empty()) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid_t(cli.id()), SIGKILL);
    cli.wait();
    // The slow device's job outlives its parent: it is ended here, not left to run.
    if (const int orphan = std::atoi(slurp(serialLockPath(sims[1].slavePath)).c_str()); orphan > 0)
        kill(orphan, SIGKILL);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.at(0, "port"), sims[0].slavePath);
    EXPECT_EQ(log.at(0, "result"), "ok");
}

// A reader of the events that goes away is no reason to stop: every device is written to its
// end and recorded, and the program says how it went by its status.
TEST_F(MultiWrite, ClosedOutputIsNoMoreEventsNeverAnEnd) {
    startSims({{"--jobs", "1"}, {"--jobs", "1"}});
    const std::string command = shellWrite({"--json", "--log", "log.csv"});
    // The reader takes the first line and leaves; the exit status of the writer is kept.
    ProgramResult r =
        runProgram({"/bin/sh", "-c", "( " + command + "; echo $? >status ) | head -n 1 >/dev/null"},
                   {scale}, dir.path.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("status"), "0\n");
    const LogTable log = readLog(dir.read("log.csv"));
    ASSERT_EQ(log.records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(log.at(i, "result"), "ok");
}

// A data file that grows while it is sent: no device gets more than the file of the start, none
// is sealed, each fails at the data step saying why, and the live table on a terminal never
// runs past a full bar.
TEST_F(MultiWrite, FileGrowingDuringTheWriteFailsEveryDeviceUnsealed) {
    const std::string line = "LINE 0123456789\n";
    std::string text;
    // More than the stream reads at once (64 KB) and than a terminal's buffers hold: the job is
    // still reading the file when it grows.
    for (int i = 0; i < 7000; ++i) text += line;
    data = dir.write("growing.v3", text);
    for (int i = 0; i < 2; ++i) {
        sims.emplace_back();
        ASSERT_TRUE(sims.back().start({"--jobs", "1", "--rate", "38400"}, {}));
    }
    const std::string command = shellWrite({});
    ProgramResult r;
    // script(1) gives the program a terminal, so that it draws its live table.
    std::thread tool([&] { r = runProgram({"/usr/bin/script", "-qec", command, "/dev/null"}); });
    const bool sending = sims[0].received(line + line, 20000);
    std::ofstream(data, std::ios::app) << text;
    tool.join();
    ASSERT_TRUE(sending) << r.out << r.err;
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (const SimProcess& s : sims) EXPECT_EQ(s.captured().find("Fs\n"), std::string::npos);
    const std::string reason = "the data file changed during the write (it grew past its " +
                               std::to_string(text.size()) + " bytes at start)";
    const size_t first = r.out.find(reason);
    EXPECT_NE(first, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(reason, first + 1), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("101%"), std::string::npos) << r.out;
}

TEST_F(MultiWrite, TwoProgramsOfEightSlotsShareOneLog) {
    scale = kRealTime;
    std::vector<std::vector<std::string>> faults(16, std::vector<std::string>{"--jobs", "1"});
    startSims(faults);
    const std::string log = dir.file("shared.csv");
    auto run = [&](size_t first) {
        std::vector<std::string> args{ZT_CLI_PATH, "write", "--data", data, "--log", log};
        for (size_t i = first; i < first + 8; ++i)
            args.insert(args.end(), {"--port", sims[i].slavePath});
        return runProgram(args, {scale}, dir.path.string());
    };
    ProgramResult a, b;
    std::thread other([&] { b = run(8); });
    a = run(0);
    other.join();
    EXPECT_EQ(a.status, 0) << a.out << a.err;
    EXPECT_EQ(b.status, 0) << b.out << b.err;
    const LogTable shared = readLog(dir.read("shared.csv"));
    ASSERT_EQ(shared.records.size(), 16u);
    std::set<std::string> ports, ids;
    for (size_t i = 0; i < shared.records.size(); ++i) {
        ASSERT_EQ(shared.records[i].size(), shared.header.size()) << i;
        EXPECT_EQ(shared.at(i, "result"), "ok");
        ports.insert(shared.at(i, "port"));
        ids.insert(shared.at(i, "id"));
    }
    EXPECT_EQ(ports.size(), 16u);
    EXPECT_EQ(ids.size(), 16u);
}

TEST_F(MultiWrite, ThirtyTwoSlots) {
    scale = kRealTime;
    startSims(std::vector<std::vector<std::string>>(32, std::vector<std::string>{"--jobs", "1"}));
    ProgramResult r = write(portArgs());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const SimProcess& s : sims) EXPECT_NE(r.out.find(s.slavePath + " "), std::string::npos);
}

// The desktop program's --log: the same record, from the dialog's own job.
TEST_F(JobTest, DesktopLogRecordsEveryJobAndRefusesStartWithoutOne) {
    startDevice({"--jobs", "2", "--sum", "5A3C"});
    useData(kData);
    setButtonState(ui.dlg, IDC_VERTICAL, kChecked);
    ASSERT_EQ(useJobLog(ui.desk.log, dir.file("desk.csv")), 0);
    runJob();
    useJobLog(ui.desk.log, dir.file("no/such/folder.csv"));
    runJob();  // refused with a box: nothing sent
    useJobLog(ui.desk.log, "");
    const LogTable log = readLog(dir.read("desk.csv"));
    ASSERT_EQ(log.records.size(), 1u);
    ASSERT_EQ(log.records[0].size(), log.header.size());
    EXPECT_EQ(log.at(0, "port"), sim.slavePath);
    EXPECT_EQ(log.at(0, "data_file"), dataFilePath);
    EXPECT_EQ(log.at(0, "data_bytes"), std::to_string(kData.size()));
    EXPECT_EQ(log.at(0, "options"), "--vertical");
    EXPECT_EQ(log.at(0, "result"), "ok");
    EXPECT_EQ(log.at(0, "sum"), "5A3C");
    ASSERT_FALSE(rec.boxes.empty());
    EXPECT_NE(rec.boxes.back().find("ログファイルに書き込めません"), std::string::npos);
    EXPECT_EQ(rec.startDisabled, 1);
}

namespace {

// Where the parent is ended, and the devices' option that holds every slot there a while.
struct EndPoint {
    const char* name;
    std::vector<std::string> sim;
    // Every slot has got here when one of its events is this one (and, for a step, this step).
    const char* event;
    const char* step;
};

// Reads the write's events until every port has sent `at`; false when the output ends first.
bool readUntilEvery(ChildProcess& cli, const EndPoint& at, size_t ports) {
    LineSplitter lines;
    std::set<std::string> there;
    char buf[4096];
    long long n;
    while (there.size() < ports && (n = cli.read(buf, sizeof buf)) > 0)
        lines.feed(buf, size_t(n), [&](const std::string& line) {
            const auto e = parseEvent(line);
            if (e && eventText(*e, "event") == at.event &&
                (!at.step || eventText(*e, "step") == at.step))
                there.insert(eventText(*e, "port"));
        });
    return there.size() == ports;
}

// The records of each port: ids that a later record names as corrected are not final.
std::map<std::string, std::vector<size_t>> finalRecords(const LogTable& log) {
    std::map<std::string, std::vector<size_t>> out;
    for (size_t i = 0; i < log.records.size(); ++i) {
        bool corrected = false;
        for (size_t k = 0; k < log.records.size(); ++k)
            corrected =
                corrected ||
                log.at(k, "reason").find("corrects record " + log.at(i, "id")) != std::string::npos;
        if (!corrected) out[log.at(i, "port")].push_back(i);
    }
    return out;
}

}  // namespace

// The parent of four slots ended by a hang-up, a termination or a kill at each step of the job:
// every device has exactly one final record, the erased ones say so, and no lock file is left.
// A killed parent's children finish their devices and record them themselves.
TEST_F(MultiWrite, ParentEndedAtAnyStepLeavesOneFinalRecordPerDevice) {
    LockDir locks;
    data = dir.write("mid.v3", std::string(20000, 'x') + "\n");
    const EndPoint points[] = {
        {"before the erase", {"--late-at", "fs:3000"}, "step", "fs"},
        {"during the erase", {"--erase-ms", "3000"}, "step", "erase"},
        {"mid-data", {"--rate", "7680"}, "progress", nullptr},
        {"after the sum", {}, "sum", nullptr},
    };
    int run = 0;
    for (const int signal : {SIGHUP, SIGTERM, SIGKILL}) {
        for (const EndPoint& at : points) {
            SCOPED_TRACE(std::string(signalName(signal)) + (signal == SIGKILL ? " (kill) " : " ") +
                         at.name);
            sims.clear();
            for (int i = 0; i < 4; ++i) {
                sims.emplace_back();
                ASSERT_TRUE(sims.back().start(at.sim, {}));
            }
            const std::string log = dir.file("log" + std::to_string(++run) + ".csv");
            std::vector<std::string> argv{ZT_CLI_PATH, "write", "--json", "--data",
                                          data,        "--log", log};
            for (const std::string& a : portArgs()) argv.push_back(a);
            ChildProcess cli;
            ASSERT_EQ(cli.start(argv, true), 0);
            ASSERT_TRUE(readUntilEvery(cli, at, 4));
            kill(pid_t(cli.id()), signal);
            const int status = cli.wait();
            if (signal != SIGKILL) {
                EXPECT_TRUE(status == 130 || status == 0) << status;
            }
            // Orphaned jobs end by themselves: their devices are written, then recorded.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            LogTable records;
            while ((!records.parse(dir.read(log)) || records.records.size() < 4 ||
                    locks.listing() != "") &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(locks.listing(), "");
            const auto finals = finalRecords(records);
            ASSERT_EQ(finals.size(), 4u) << dir.read(log);
            for (const auto& [port, indices] : finals) {
                ASSERT_EQ(indices.size(), 1u) << port << "\n" << dir.read(log);
                const size_t i = indices[0];
                const std::string result = records.at(i, "result");
                if (signal == SIGKILL || std::string(at.event) == "sum") {
                    EXPECT_EQ(result, "ok") << dir.read(log);
                    continue;
                }
                EXPECT_EQ(result, "interrupted") << dir.read(log);
                const bool erased = erasedByStep(records.at(i, "step"));
                EXPECT_EQ(erased, std::string(at.name) != "before the erase");
                EXPECT_EQ(records.at(i, "reason").find(kErasedReason) != std::string::npos, erased);
            }
        }
    }
}

// What a retry can mend is run again, each attempt a record of its own: a device silent at the
// start (untouched) and one silent at the save's end (erased: the whole job again) end ok at
// their second attempt; a wrong sum is retried only when asked, and stays wrong.
TEST_F(MultiWrite, RetriesMendWhatTheyCanAndEachAttemptIsRecorded) {
    const std::string sum = simDataSum(ExpectedJob{kData}.dataPart());
    startSims({{"--faults-once", "--silent-at", "fws"},
               {"--faults-once", "--silent-at", "fs_end"},
               {"--sum", "FFFF"}});
    const ProgramResult r =
        write({"--retries", "1", "--expect-sum", sum, "--log", "log.csv", "--port",
               sims[0].slavePath, "--port", sims[1].slavePath, "--port", sims[2].slavePath});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.out.find("ok (2回目)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("first-pass yield: 0 of 3 devices"), std::string::npos) << r.out;
    LogTable log = readLog(dir.read("log.csv"));
    std::map<std::string, std::vector<std::string>> attempts;  // port: "attempt result step"
    for (size_t i = 0; i < log.records.size(); ++i) {
        const bool retried = log.at(i, "reason").find(kRetriedReason) != std::string::npos;
        attempts[log.at(i, "port")].push_back(log.at(i, "attempt") + " " + log.at(i, "result") +
                                              " " + log.at(i, "step") +
                                              (retried ? " retried" : ""));
    }
    using Attempts = std::vector<std::string>;
    EXPECT_EQ(attempts[sims[0].slavePath], (Attempts{"1 failed fws retried", "2 ok "}));
    EXPECT_EQ(attempts[sims[1].slavePath], (Attempts{"1 failed fs_end retried", "2 ok "}));
    EXPECT_EQ(attempts[sims[2].slavePath], (Attempts{"1 sum-mismatch sb"}));

    // Asked to, a wrong sum is tried once more: the same device gives the same wrong sum.
    const ProgramResult again = write({"--retries", "1", "--retry-sum", "--expect-sum", sum,
                                       "--log", "again.csv", "--port", sims[2].slavePath});
    EXPECT_EQ(again.status, 3) << again.out << again.err;
    log = readLog(dir.read("again.csv"));
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.at(0, "attempt") + log.at(0, "result"), "1sum-mismatch");
    EXPECT_NE(log.at(0, "reason").find(kRetriedReason), std::string::npos);
    EXPECT_EQ(log.at(1, "attempt") + log.at(1, "result"), "2sum-mismatch");
}

// Each port's unit id goes into its device's record and its end event; an id the pattern does
// not match, or one already recorded ok, stops the run before any byte is sent, and --rework
// writes it again with its record marked.
TEST_F(MultiWrite, UnitIdsAreRecordedPerPortAndARepeatedOkUnitNeedsARework) {
    startSims({{"--jobs", "3"}, {"--jobs", "3"}, {"--jobs", "3"}, {"--jobs", "3"}});
    const std::string log = dir.file("log.csv");
    const std::vector<std::string> ids = {"SN-0003", "SN-0001", "SN-0004", "SN-0002"};
    std::vector<std::string> args = portArgs();
    args.insert(args.end(), {"--json", "--log", log, "--unit-pattern", "SN-[0-9]{4}"});
    for (size_t i = 0; i < sims.size(); ++i)
        args.insert(args.end(), {"--unit", sims[i].slavePath + "=" + ids[i]});
    ProgramResult r = write(args);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const Json& e : events(r.out)) {
        if (e["event"] != "end") continue;
        const size_t i =
            size_t(std::find_if(sims.begin(), sims.end(),
                                [&](const SimProcess& s) { return s.slavePath == e["port"]; }) -
                   sims.begin());
        EXPECT_EQ(e["unit"], ids.at(i));
        EXPECT_FALSE(e.contains("rework"));
    }
    LogTable table = readLog(dir.read("log.csv"));
    ASSERT_EQ(table.records.size(), 4u);
    for (size_t k = 0; k < 4; ++k) {
        const size_t i = size_t(
            std::find_if(sims.begin(), sims.end(),
                         [&](const SimProcess& s) { return s.slavePath == table.at(k, "port"); }) -
            sims.begin());
        EXPECT_EQ(table.at(k, "unit"), ids.at(i));
        EXPECT_EQ(table.at(k, "reason"), "");
    }

    const std::string logBefore = dir.read("log.csv");
    const struct {
        std::string unit;
        std::string said;
    } refused[] = {
        {"SN-12", "does not match the unit pattern SN-[0-9]{4}"},
        {"SN-0002", "is recorded ok in the log already"},
    };
    for (const auto& c : refused) {
        r = write({"--port", sims[0].slavePath, "--log", log, "--unit-pattern", "SN-[0-9]{4}",
                   "--unit", sims[0].slavePath + "=" + c.unit});
        EXPECT_EQ(r.status, 2) << c.unit;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
    r = write({"--port", sims[0].slavePath, "--port", sims[1].slavePath, "--log", log,
               "--unit-required", "--unit", sims[0].slavePath + "=SN-0005"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(sims[1].slavePath + ": no unit id"), std::string::npos) << r.err;
    r = write({"--port", sims[0].slavePath, "--log", log, "--unit-pattern", "SN-[0-9", "--unit",
               sims[0].slavePath + "=SN-0005"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is no regular expression"), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("log.csv"), logBefore);
    EXPECT_EQ(sims[0].captured().size(), sims[1].captured().size()) << "one job each so far";

    r = write({"--port", sims[0].slavePath, "--log", log, "--rework", "--unit",
               sims[0].slavePath + "=SN-0002"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  SN-0002  ok"), std::string::npos) << "the summary's unit\n" << r.out;
    table = readLog(dir.read("log.csv"));
    ASSERT_EQ(table.records.size(), 5u);
    EXPECT_EQ(table.at(4, "unit"), "SN-0002");
    EXPECT_EQ(table.at(4, "reason"), kReworkReason);
    EXPECT_EQ(table.at(4, "result"), "ok");
}
