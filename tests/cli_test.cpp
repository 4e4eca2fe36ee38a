// zemtabulo-cli write as an operator runs it, against v3sim.
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>
#include <sstream>
#include <thread>

#include "csv_reader.h"
#include "lock_files.h"
#include "platform/hash.h"
#include "platform/serial_lock.h"
#include "run_program.h"
#include "serial/channel.h"
#include "sim_harness.h"
#include "station/events.h"
#include "station/log.h"
#include "temp_dir.h"

namespace {

// The tool and the device run at twice the speed of a real line: the tool still waits 2.5 s of
// real time for a reply, which no load on the machine makes the device miss.
const std::string kScale = "ZEMTABULO_TIME_SCALE=2";
const std::string kData = "BMP 1\nB 00\nPAGE 1\nTEXT hello\n";

// Root opens any file. Without the override the tool, started after this, meets a file's mode
// as a user does, and still reads its own program and data.
void withoutFileOverride() {
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        if (geteuid() == 0 && prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) _exit(4);
}

struct CliWrite : ::testing::Test {
    TempDir dir;
    SimProcess sim;
    std::string data;
    void SetUp() override { data = dir.write("d.v3", kData); }
    ProgramResult write(std::vector<std::string> args) {
        args.insert(args.begin(), {ZT_CLI_PATH, "write"});
        return runProgram(args, {kScale}, dir.path.string());
    }
};

}  // namespace

// Every settings flag, each write on a device of its own, all at once: a job takes seconds.
TEST_F(CliWrite, EachSettingsFlagReachesTheDeviceAsItsRegisterLine) {
    // Register lines as the device receives them: STX (\002), text, ETX (\003), check digits.
    const std::string plain = "\002WD bf07b 0\00342\n\002WD bf075 1\00314\n";
    // With --transfer-settings and no other flag.
    const std::vector<std::string> transfer = {
        "\002WD bf07b 0\00342\n",   "\002WD bf075 1\00314\n", "\002WD bf07a 0\00341\n",
        "\002WD bf07c 1\00342\n",   "\002WD bf078 0\00318\n", "\002WD bf303 0\00317\n",
        "\002WD bf304 192\0031a\n", "\002WD bf306 0\00312\n", "\002WD bf307 0\00313\n",
        "\002WD bf075 1\00314\n"};
    auto with = [&transfer](std::initializer_list<std::pair<size_t, const char*>> changes) {
        std::vector<std::string> lines = transfer;
        for (auto [i, line] : changes) lines[i] = line;
        return std::accumulate(lines.begin(), lines.end(), std::string());
    };
    const std::string t = "--transfer-settings";
    const struct {
        std::vector<std::string> flags;
        std::string registers;
        std::string sent = "Fimageerase\n" + kData;
    } cases[] = {
        {{}, plain},
        {{"--vertical"}, "\002WD bf07b 1\00343\n\002WD bf075 1\00314\n"},
        {{"--skip-bitmaps"}, plain, "Fpageerase\nPAGE 1\nTEXT hello\n"},
        // The boxes that go with the settings transfer are not written without it.
        {{"--startup-check", "--keep-sram", "--latin", "--rs422", "--response-check",
          "--flow-control", "--speed", "4800"},
         plain},
        {{t}, with({})},
        {{t, "--startup-check"}, with({{2, "\002WD bf07a 1\00340\n"}})},
        {{t, "--keep-sram"}, with({{3, "\002WD bf07c 0\00343\n"}})},
        {{t, "--latin"}, with({{4, "\002WD bf078 1\00319\n"}})},
        {{t, "--rs422"}, with({{5, "\002WD bf303 1\00316\n"}, {6, "\002WD bf305 192\0031b\n"}})},
        {{t, "--rs422", "--speed", "19200"},
         with({{5, "\002WD bf303 1\00316\n"}, {6, "\002WD bf305 128\0031a\n"}})},
        {{t, "--speed", "4800"}, with({{6, "\002WD bf304 0\00310\n"}})},
        {{t, "--speed", "9600"}, with({{6, "\002WD bf304 64\00322\n"}})},
        {{t, "--response-check"}, with({{7, "\002WD bf306 1\00313\n"}})},
        {{t, "--flow-control"}, with({{8, "\002WD bf307 1\00312\n"}})},
    };
    std::vector<SimProcess> sims(std::size(cases));
    for (SimProcess& s : sims) ASSERT_TRUE(s.start({"--jobs", "1", "--sum", "77AA"}, {kScale}));
    // Each names its device as COMn; the first takes the name from SCI.INI.
    std::string comports;
    for (size_t i = 0; i < sims.size(); ++i)
        comports += "COM" + std::to_string(i + 1) + "=" + sims[i].slavePath + "\n";
    dir.write("COMPORTS.INI", comports);
    dir.write("SCI.INI", "COM1 \r\n");
    std::vector<ProgramResult> results(std::size(cases));
    std::vector<std::thread> tools;
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::vector<std::string> args = cases[i].flags;
        args.insert(args.end(), {"--data", data});
        if (i > 0) args.insert(args.end(), {"--port", "COM" + std::to_string(i + 1)});
        tools.emplace_back([this, &results, i, args] { results[i] = write(args); });
    }
    for (std::thread& tool : tools) tool.join();
    const std::string steps =
        "画面書込み\nﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始\nﾌﾗｯｼｭ消去終了\n"
        "ﾃﾞｰﾀ書き込み中\nﾃﾞｰﾀ書込み終了\n書き込み終了\n"
        "データ sum=77AA \nデータ sum=77AA  設定保存済\n"
        "[ZemScrivana] 書込みが終了しました\n書き込み時間は";
    for (size_t i = 0; i < std::size(cases); ++i) {
        const ProgramResult& r = results[i];
        EXPECT_EQ(r.status, 0) << ::testing::PrintToString(cases[i].flags) << "\n"
                               << r.out << r.err;
        EXPECT_EQ(r.out.substr(0, steps.size()), steps) << ::testing::PrintToString(cases[i].flags);
        EXPECT_EQ(sims[i].captured(), "\002FWS\00342\r\nFS\n" + cases[i].sent + "Fs\nFWE\n" +
                                          cases[i].registers + "\002UC\00316\n\002Sb\00331\r\n")
            << ::testing::PrintToString(cases[i].flags);
    }
}

TEST_F(CliWrite, TimeOutFails) {
    ASSERT_TRUE(sim.start({"--silent-at", "fwe"}, {kScale}));
    ProgramResult r = write({"--port", sim.slavePath, "--data", data});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ﾃﾞｰﾀ転送に失敗しました"), std::string::npos) << r.out;
}

TEST_F(CliWrite, LineLostMidDataIsThePortErrorStop) {
    LockDir locks;
    ASSERT_TRUE(sim.start({"--hangup-after", "10"}, {kScale}));
    ProgramResult r = write({"--port", sim.slavePath, "--data", dir.write("big.v3", std::string(20000, 'x'))});
    EXPECT_EQ(r.status, 1);
    // Seen by the next write or the next read of a reply, whichever comes first.
    EXPECT_TRUE(r.out.find("[commPutc] Input/output error\n") != std::string::npos ||
                r.out.find("[commGetc] Input/output error\n") != std::string::npos)
        << r.out;
    EXPECT_EQ(locks.listing(), "");  // the port's lock file went with the program
}

TEST_F(CliWrite, SignalEndsTheJobAndTheLockFileGoesWithIt) {
    LockDir locks;
    for (const int signal : {SIGTERM, SIGHUP}) {  // a kill, a terminal that closes
        SCOPED_TRACE(signal);
        SimProcess device;
        ASSERT_TRUE(device.start({"--silent-at", "erase"}, {kScale}));
        ProgramResult r;
        std::thread tool([&] {
            r = write({"--port", device.slavePath, "--data", data, "--log", dir.file("log.csv")});
        });
        // The tool waits for the erase now, and would for minutes: the signal finds it there.
        const bool erasing = device.received("Fimageerase\n");
        const int pid = std::atoi(slurp(serialLockPath(device.slavePath)).c_str());
        if (erasing && pid > 0) kill(pid, signal);
        tool.join();
        ASSERT_TRUE(erasing);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(r.status, 130) << r.out << r.err;
        EXPECT_NE(r.err.find("Warning: a device interrupted after its erase holds no data"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(locks.listing(), "");
    }
    // Each device recorded, at the step it was interrupted.
    LogTable log;
    ASSERT_TRUE(log.parse(dir.read("log.csv")));
    ASSERT_EQ(log.records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(log.at(i, "result"), "interrupted");
        EXPECT_EQ(log.at(i, "step"), "erase");
    }
    EXPECT_EQ(log.at(1, "reason"), "interrupted (SIGHUP); erased, the device holds no data");
}

// Nothing is sent to a device when the data file or the port is refused, and the reason comes
// on standard error with what can be done about it.
TEST_F(CliWrite, RefusalsNameTheReasonAndSendNothingPortsNamesTheHolder) {
    LockDir locks;
    Sleeper other;
    SimProcess held, locked;
    ASSERT_TRUE(sim.start({}, {kScale}) && held.start({}, {kScale}) && locked.start({}, {kScale}));
    Channel holder;
    ASSERT_EQ(commOpen(held.slavePath, &holder), 0);
    std::ofstream(serialLockPath(locked.slavePath)) << lockText(other.pid);
    const std::string denied = dir.write("denied", ""),
                      nul = dir.write("nul.v3", {"PAGE 1\n\0", 8});
    ASSERT_EQ(chmod(denied.c_str(), 0), 0);
    const std::string group = getgrgid(getegid())->gr_name;  // the group of the file made here
    const std::string badData = "画面ﾃﾞｰﾀ異常", noPort = "ﾎﾟｰﾄが使用できません";
    const std::string busy = ": Device or resource busy\n";
    const struct {
        std::string port, data, status, err;
    } cases[] = {
        {sim.slavePath, dir.file("none.v3"), badData,
         dir.file("none.v3") + ": No such file or directory\n"},
        {sim.slavePath, nul, badData, nul + ": a NUL byte at offset 7 (0x7)\n"},
        {"/dev/zt-none", data, noPort,
         "/dev/zt-none: No such file or directory\nNo such serial device. 'zemtabulo-cli ports' "
         "lists the ones present; COMPORTS.INI maps COMn names.\n"},
        {"p1", data, noPort, "not a COM name (COM1, COM2, ...) nor a device path: p1\n"},
        {held.slavePath, data, noPort,
         held.slavePath + busy + held.slavePath + " is held by another program (pid " +
             std::to_string(getpid()) + ", " + program_invocation_short_name +
             "); close it and try again.\n"},
        {locked.slavePath, data, noPort,
         locked.slavePath + busy + locked.slavePath + " is held by another program (pid " +
             std::to_string(other.pid) + ", sleep); close it and try again.\n"},
        {denied, data, noPort,
         denied + ": Permission denied\nNo permission to use " + denied +
             ": it belongs to the group '" + group +
             "'. Join that group (for example: sudo usermod -aG <group> $USER) and log in "
             "afresh.\n"},
    };
    for (const auto& c : cases) {
        ProgramResult r =
            runProgram({ZT_CLI_PATH, "write", "--port", c.port, "--data", c.data}, {kScale},
                       dir.path.string(), c.port == denied ? withoutFileOverride : nullptr);
        EXPECT_EQ(r.status, 1) << c.port;
        EXPECT_NE(r.out.find(c.status + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    for (const SimProcess* s : {&sim, &held, &locked}) EXPECT_EQ(s->captured(), "");

    // `ports` names the holder too, and the COM names that lead nowhere; of two lines for one
    // number the first counts.
    const std::string gone = dir.file("gone"), later = dir.file("later");
    dir.write("COMPORTS.INI", "COM7=" + locked.slavePath + "\nCOM12=" + gone + "\n# COM3=" + later +
                                  "\n com3 = " + gone + "\r\nCOM012=" + later + "\n");
    ProgramResult r = runProgram({ZT_CLI_PATH, "ports"}, {}, dir.path.string());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(locked.slavePath + "  COM7\n    in use by pid " +
                         std::to_string(other.pid) + " (sleep)\n"),
              std::string::npos)
        << r.out;
    const std::string missing = " -> " + gone + " (not present)\n";
    EXPECT_NE(r.out.find("COM3" + missing + "COM12" + missing), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(later), std::string::npos) << r.out;
}

TEST(CliPorts, SaysWhenLockFilesCannotBeMade) {
    LockDir locks;
    const std::string missing = locks.file("missing");
    ProgramResult r = runProgram({ZT_CLI_PATH, "ports"}, {"ZEMTABULO_LOCK_DIR=" + missing});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\nLock files cannot be made in " + missing +
                         " (No such file or directory): ports are opened without them"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "ports"}).out.find("Lock files"), std::string::npos);
}

TEST(CliUsage, WrongUsageIsStatusTwo) {
    EXPECT_EQ(runProgram({ZT_CLI_PATH}).status, 2);
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "write"}).status, 2);  // --data is required
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "write", "--data", "x", "--speed", "1234"}).status, 2);
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "frobnicate"}).status, 2);
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "--help"}).status, 0);
}

namespace {

// 70000 bytes of data lines: more than the data reader's first block, so that a change past it
// is read after the data phase has begun.
std::string linesPastTheFirstBlock() {
    std::string text;
    for (int i = 0; i < 700; ++i) text += std::string(99, 'x') + "\n";
    return text;
}

std::string digestOf(const std::string& path) {
    std::string hex;
    uint64_t bytes = 0;
    EXPECT_EQ(sha256File(path, hex, bytes), 0) << path;
    return hex;
}

// The end event among the job's output lines (empty lines and others skipped).
EndInfo endIn(const std::string& out) {
    EndInfo end;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (auto e = parseEvent(line)) readEndInfo(*e, end);
    return end;
}

}  // namespace

// A data file that changes while it is sent is not sealed: the data stops before the save end,
// the job fails at the data step naming the change, and the record gives what was sent when the
// job read the whole file. A file that changed before the job began (the parent's digest given)
// is not sent at all.
TEST_F(CliWrite, DataFileChangedUnderTheWriteIsNotSealed) {
    const std::string text = linesPastTheFirstBlock();
    const struct {
        const char* name;
        std::function<void(const std::string&)> change;
        bool readWhole;
    } cases[] = {
        {"same size",
         [](const std::string& path) {
             std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(68000);
             f << std::string(99, 'y');
         },
         true},
        {"grown", [&](const std::string& path) { std::ofstream(path, std::ios::app) << text; },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess device;
        ASSERT_TRUE(device.start({"--rate", "10000"}, {kScale}));
        data = dir.write(std::string(c.name) + ".v3", text);
        const std::string before = digestOf(data);
        ProgramResult r;
        std::thread tool([&] {
            r = write({"--port", device.slavePath, "--data", data, "--json", "--log", "log.csv"});
        });
        const bool sending = device.received("xxxxxxxxxx", 20000);
        if (sending) c.change(data);
        tool.join();
        ASSERT_TRUE(sending);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        const EndInfo end = endIn(r.out);
        EXPECT_EQ(end.result, SlotResult::Failed);
        EXPECT_EQ(end.step, "data");
        const std::string after = c.readWhole ? digestOf(data) : before;
        const std::string reason =
            c.readWhole ? "the data file changed during the write (sha256 " + before.substr(0, 12) +
                              "… at start, " + after.substr(0, 12) + "… sent)"
                        : "the data file changed during the write (it grew past its 70000 bytes "
                          "at start)";
        EXPECT_EQ(end.reason, reason);
        EXPECT_EQ(device.captured().find("Fs\n"), std::string::npos);
        LogTable log;
        ASSERT_TRUE(log.parse(dir.read("log.csv")));
        const size_t last = log.records.size() - 1;
        EXPECT_EQ(log.at(last, "result"), "failed");
        EXPECT_EQ(log.at(last, "data_sha256"), after);
        EXPECT_EQ(log.at(last, "reason"), reason);
    }
    SimProcess untouched;
    ASSERT_TRUE(untouched.start({}, {kScale}));
    ProgramResult r = write({"--slot", "--json", "--port", untouched.slavePath, "--data", data,
                             "--data-sha256", std::string(64, 'A')});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(endIn(r.out).step, "data");
    EXPECT_NE(endIn(r.out).reason.find("changed before the write began (sha256 aaaaaaaaaaaa…"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(untouched.captured(), "");
}

// A reader of --json that goes away (a closed pipe), or a program started without a standard
// output: the device is written to its end, the program exits with the job's status, and the
// device is recorded once.
TEST_F(CliWrite, ClosedOutputUnderJsonIsNoMoreEvents) {
    for (const std::string redirect : {"| head -c 1 >/dev/null", ">&-"}) {
        SCOPED_TRACE(redirect);
        SimProcess device;
        ASSERT_TRUE(device.start({"--jobs", "1"}, {kScale}));
        const std::string write = "'" + std::string(ZT_CLI_PATH) + "' write --json --port '" +
                                  device.slavePath + "' --data '" + data + "' --log log.csv";
        const std::string line = redirect[0] == '|'
                                     ? "( " + write + "; echo $? >status ) " + redirect
                                     : write + " " + redirect + "; echo $? >status";
        ProgramResult r = runProgram({"/bin/sh", "-c", line}, {kScale}, dir.path.string());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("status"), "0\n");
        EXPECT_NE(device.captured().find("Sb"), std::string::npos);
    }
    LogTable log;
    ASSERT_TRUE(log.parse(dir.read("log.csv")));
    ASSERT_EQ(log.records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(log.at(i, "result"), "ok");
}

namespace {

// A slot's job as its parent starts it: `write --slot --json` with its output on a pipe that
// this test reads, as the parent does, or closes.
struct SlotChild {
    pid_t pid = -1;
    int out = -1;
    std::string text;  // what was read so far

    SlotChild(const std::vector<std::string>& argv) {
        int fds[2];
        if (pipe(fds) != 0) return;
        std::vector<std::string> argText = argv, envText = environmentWith({kScale});
        const std::vector<char*> args = pointersTo(argText), envp = pointersTo(envText);
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    ~SlotChild() {
        closeOutput();
        if (pid > 0 && waitFor(0) < 0) kill(pid, SIGKILL), waitFor(5000);
    }
    // Reads until `want` has come; false at the end of the output or after `ms`.
    bool readUntil(const std::string& want, int ms = 20000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        char buf[4096];
        while (text.find(want) == std::string::npos) {
            if (std::chrono::steady_clock::now() > until) return false;
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0) return false;
            text.append(buf, size_t(n));
        }
        return true;
    }
    void closeOutput() {
        if (out >= 0) close(out);
        out = -1;
    }
    // The exit status; -1 while still running after `ms`.
    int waitFor(int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int st = 0;
            if (waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            if (std::chrono::steady_clock::now() > until) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

// The records of the log with this id.
std::vector<size_t> recordsWithId(const LogTable& log, const std::string& id) {
    std::vector<size_t> found;
    for (size_t i = 0; i < log.records.size(); ++i)
        if (log.at(i, "id") == id) found.push_back(i);
    return found;
}

}  // namespace

struct SlotRecord : CliWrite {
    const std::string id = "0f8fad5b-d9cb-469f-a165-70867728950e";
    std::vector<std::string> slotArgs(const SimProcess& device) const {
        return {ZT_CLI_PATH,      "write",  "--slot",    "--json", "--port",
                device.slavePath, "--data", data,        "--log",  dir.file("log.csv"),
                "--record-id",    id,       "--vertical"};
    }
    // The one record with the slot's id, once it is there (at most `ms` later).
    bool oneRecord(LogTable& log, int ms) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!log.parse(dir.read("log.csv")) || recordsWithId(log, id).empty()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return recordsWithId(log, id).size() == 1 && log.records.size() == 1;
    }
};

// The parent gone mid-data, its pipe closed or the parent killed: the job writes its device to
// the end and records it itself, once, with the parent's id and the data it sent.
TEST_F(SlotRecord, ParentGoneMidDataTheJobRecordsItsDevice) {
    data = dir.write("big.v3", linesPastTheFirstBlock());
    for (const bool killParent : {false, true}) {
        SCOPED_TRACE(killParent ? "parent killed" : "pipe closed");
        std::remove(dir.file("log.csv").c_str());
        SimProcess device;
        ASSERT_TRUE(device.start({"--rate", "10000"}, {kScale}));
        if (killParent) {
            // The parent is a shell, killed once the data goes out. The reader of the job's
            // output outlives it, so that only the new parent tells the job.
            std::string line = "";
            for (const std::string& a : slotArgs(device)) line += "'" + a + "' ";
            SlotChild parent({"/bin/sh", "-c",
                              line + "| { grep -m1 -q progress; sh -c 'echo sending $PPID.'; "
                                     "exec sleep 60; }"});
            ASSERT_TRUE(parent.readUntil("."));
            const pid_t reader = std::atoi(parent.text.c_str() + parent.text.find(' '));
            kill(parent.pid, SIGKILL);
            parent.waitFor(5000);
            LogTable log;
            const bool recorded = oneRecord(log, 30000);
            if (reader > 0) kill(reader, SIGKILL);
            ASSERT_TRUE(recorded) << dir.read("log.csv");
        } else {
            SlotChild job(slotArgs(device));
            ASSERT_TRUE(job.readUntil("\"progress\""));
            job.closeOutput();
            EXPECT_EQ(job.waitFor(30000), 0);
        }
        LogTable log;
        ASSERT_TRUE(oneRecord(log, 30000)) << dir.read("log.csv");
        EXPECT_EQ(log.at(0, "result"), "ok");
        EXPECT_EQ(log.at(0, "data_sha256"), digestOf(data));
        EXPECT_EQ(log.at(0, "data_bytes"), "70000");
        EXPECT_EQ(log.at(0, "options"), "--vertical");
        EXPECT_NE(device.captured().find("Sb"), std::string::npos);
    }
}

// The parent writes the record with the slot's id when the end comes: the job, which waits for
// it sending empty lines, ends at once, and the device has one record.
TEST_F(SlotRecord, ParentRecordsAndTheJobEndsAtOnce) {
    SimProcess device;
    ASSERT_TRUE(device.start({"--jobs", "1", "--sum", "5A3C"}, {kScale}));
    SlotChild job(slotArgs(device));
    ASSERT_TRUE(job.readUntil("\"event\":\"end\""));
    ASSERT_TRUE(job.readUntil("\n\n\n"));  // still there, asking whether anyone reads
    EXPECT_EQ(dir.read("log.csv"), "");
    const EndInfo end = endIn(job.text);
    EXPECT_EQ(end.result, SlotResult::Ok);
    EXPECT_EQ(end.dataSha256, digestOf(data));
    LogFile log;
    ASSERT_EQ(log.open(dir.file("log.csv")), 0);
    const SlotRecordInfo info{id, data, "", 0, "--vertical", ""};
    ASSERT_EQ(log.appendOnce(slotRecord(device.slavePath, end, "5A3C", info)), 0);
    EXPECT_EQ(job.waitFor(1000 * kSanitizerSlowdown), 0);
    LogTable table;
    ASSERT_TRUE(oneRecord(table, 0)) << dir.read("log.csv");
    EXPECT_EQ(table.at(0, "data_bytes"), std::to_string(kData.size()));
}
