// zemtabulo-cli write as an operator runs it, against v3sim.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "lock_files.h"
#include "platform/serial_lock.h"
#include "run_program.h"
#include "serial/channel.h"
#include "sim_harness.h"
#include "temp_dir.h"

namespace {

const std::string kScale = "ZEMTABULO_TIME_SCALE=20";
const std::string kData = "BMP 1\nB 00\nPAGE 1\nTEXT hello\n";

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

TEST_F(CliWrite, WholeJobPrintsStepsSumAndEnd) {
    ASSERT_TRUE(sim.start({"--jobs", "1", "--sum", "77AA"}, {kScale}));
    ProgramResult r = write({"--port", sim.slavePath, "--data", data});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("画面書込み\nﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("データ sum=77AA \nデータ sum=77AA  設定保存済\n"), std::string::npos);
    EXPECT_NE(r.out.find("[ZemScrivana] 書込みが終了しました\n書き込み時間は"), std::string::npos);
}

TEST_F(CliWrite, PortFromSciIniThroughComportsIni) {
    ASSERT_TRUE(sim.start({"--jobs", "1"}, {kScale}));
    dir.write("SCI.INI", "COM4 \r\n");
    dir.write("COMPORTS.INI", "COM4=" + sim.slavePath + "\n");
    ProgramResult r = write({"--data", data, "--transfer-settings", "--rs422", "--speed", "19200"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(sim.captured().find("WD bf305 128"), std::string::npos);
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
    EXPECT_NE(r.out.find("[commPutc] Input/output error"), std::string::npos) << r.out;
    EXPECT_EQ(locks.listing(), "");  // the port's lock file went with the program
}

TEST_F(CliWrite, SignalEndsTheJobAndTheLockFileGoesWithIt) {
    LockDir locks;
    ASSERT_TRUE(sim.start({"--jobs", "1", "--late-at", "erase:60000"}, {kScale}));
    ProgramResult r;
    std::thread tool([&] { r = write({"--port", sim.slavePath, "--data", data}); });
    const std::string lock = serialLockPath(sim.slavePath);
    int pid = 0;
    for (int i = 0; i < 500 && pid <= 0; ++i) {
        usleep(10000);
        pid = std::atoi(slurp(lock).c_str());
    }
    if (pid > 0) kill(pid, SIGTERM);
    tool.join();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_EQ(locks.listing(), "");
}

TEST_F(CliWrite, PortLockedByAnotherProgramNamesItInWriteAndPorts) {
    LockDir locks;
    Sleeper holder;
    ASSERT_TRUE(sim.start({}, {kScale}));
    std::ofstream(serialLockPath(sim.slavePath)) << lockText(holder.pid);
    ProgramResult r = write({"--port", sim.slavePath, "--data", data});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ﾎﾟｰﾄが使用できません"), std::string::npos) << r.out;
    const std::string who = "pid " + std::to_string(holder.pid);
    EXPECT_NE(r.err.find(who + ", sleep)"), std::string::npos) << r.err;
    EXPECT_EQ(sim.captured(), "");

    dir.write("COMPORTS.INI", "COM7=" + sim.slavePath + "\n");
    ProgramResult ports = runProgram({ZT_CLI_PATH, "ports"}, {}, dir.path.string());
    EXPECT_NE(ports.out.find(sim.slavePath + "  COM7\n    in use by " + who + " (sleep)\n"),
              std::string::npos)
        << ports.out;
}

TEST_F(CliWrite, BadDataFilesFailWithTheFileAndWhy) {
    const struct {
        std::string path, why;
    } cases[] = {
        {dir.file("none.v3"), "No such file or directory"},
        {dir.write("nul.v3", std::string("PAGE 1\n\0", 8)), "a NUL byte at offset 7 (0x7)"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sim.start({}, {kScale}));
        ProgramResult r = write({"--port", sim.slavePath, "--data", c.path});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("画面ﾃﾞｰﾀ異常"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.path + ": " + c.why + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(sim.captured(), "");
        sim.stop();
    }
}

TEST_F(CliWrite, PortProblemsComeWithTheReasonAndAHint) {
    ProgramResult missing = write({"--port", "/dev/zt-no-such-port", "--data", data});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("ﾎﾟｰﾄが使用できません"), std::string::npos);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("zemtabulo-cli ports"), std::string::npos);

    ASSERT_TRUE(sim.start({}, {kScale}));
    Channel holder;
    ASSERT_NE(commOpen(sim.slavePath, &holder), 0);
    ProgramResult busy = write({"--port", sim.slavePath, "--data", data});
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find("another program"), std::string::npos) << busy.err;
}

TEST(CliUsage, WrongUsageIsStatusTwo) {
    EXPECT_EQ(runProgram({ZT_CLI_PATH}).status, 2);
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "write"}).status, 2);  // --data is required
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "write", "--data", "x", "--speed", "1234"}).status, 2);
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "frobnicate"}).status, 2);
    EXPECT_EQ(runProgram({ZT_CLI_PATH, "--help"}).status, 0);
}

TEST(CliPorts, ListsWithoutFailing) {
    ProgramResult r = runProgram({ZT_CLI_PATH, "ports"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.out.empty());
}
