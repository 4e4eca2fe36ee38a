#include <gtest/gtest.h>
#include <limits.h>
#include <sys/inotify.h>
#include <termios.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "lock_files.h"
#include "platform/debug.h"
#include "platform/serial_lock.h"
#include "pty_pair.h"
#include "serial/channel.h"

namespace {

struct OpenChannel : ::testing::Test {
    PtyPair pty;
    Channel ch;
    void SetUp() override {
        ASSERT_FALSE(pty.slavePath.empty());
        ASSERT_EQ(commOpen(pty.slavePath, &ch), 0);
    }
    // Sends bytes from the device side and waits until all of them can be read.
    void arrive(const std::string& bytes) {
        pty.send(bytes);
        ASSERT_TRUE(waitAvailable(ch, int(bytes.size())));
    }
    std::string line(size_t len = 200) {
        std::string out(len, '\x7f');
        char* got = commReadLine(&ch, out.data(), len);
        if (!got) {
            EXPECT_EQ(out[0], '\0');
            return "<null>";
        }
        return std::string(out.c_str());
    }
};

}  // namespace

TEST_F(OpenChannel, OpensRawAt4800ThenChangesOnlyTheSpeed) {
    EXPECT_EQ(ch.baudRate, 4800u);
    termios before{};
    ASSERT_EQ(tcgetattr(int(ch.port.native()), &before), 0);
    EXPECT_EQ(cfgetospeed(&before), speed_t(B4800));
    EXPECT_EQ(before.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(before.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(before.c_lflag & (ECHO | ICANON), 0u);
    EXPECT_EQ(before.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(before.c_oflag & OPOST, 0u);
    EXPECT_EQ(before.c_cc[VMIN], 0);
    EXPECT_EQ(before.c_cc[VTIME], 0);

    ch.baudRate = 38400;
    commSetBaud(&ch);
    termios after{};
    ASSERT_EQ(tcgetattr(int(ch.port.native()), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), speed_t(B38400));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag & ~tcflag_t(CBAUD), before.c_cflag & ~tcflag_t(CBAUD));
}

TEST_F(OpenChannel, NothingReceivedGivesNoByteAndNoLine) {
    EXPECT_EQ(commGetc(&ch), -1);
    EXPECT_EQ(line(), "<null>");
}

TEST_F(OpenChannel, ByteFFIsNotMistakenForNothing) {
    arrive("\xff");
    EXPECT_EQ(commGetc(&ch), 255);
    EXPECT_EQ(ch.rxByte, 0xff);
}

TEST_F(OpenChannel, LinesGatherAcrossPollsAndDropLineFeeds) {
    arrive("OK\r");
    EXPECT_EQ(line(), "OK");
    arrive("O");
    EXPECT_EQ(line(), "<null>");
    arrive("K\n\r");
    EXPECT_EQ(line(), "OK");
    arrive("\nA\nB\r");
    EXPECT_EQ(line(), "AB");
    arrive("\r");  // a lone CR is an empty, completed line
    EXPECT_EQ(line(), "");
    arrive("one\rtwo\r");
    EXPECT_EQ(line(), "one");
    EXPECT_EQ(line(), "two");
    EXPECT_EQ(line(), "<null>");
}

TEST_F(OpenChannel, LongLinesWrapEvery200Bytes) {
    arrive(std::string(199, 'a') + "\r");
    EXPECT_EQ(line(), std::string(199, 'a'));
    arrive(std::string(200, 'b') + "\r");
    EXPECT_EQ(line(), "");
    arrive(std::string(200, 'c') + std::string(50, 'd') + "\r");
    EXPECT_EQ(line(), std::string(50, 'd'));
}

TEST_F(OpenChannel, CompletedLineIsCutToFitAndTerminated) {
    arrive(std::string(150, 'x') + "\r");
    EXPECT_EQ(line(100), std::string(99, 'x'));
    arrive("12345678901234567890123\r");
    EXPECT_EQ(line(20), "1234567890123456789");
    EXPECT_TRUE(std::string(ch.lineBuf).empty());
}

TEST_F(OpenChannel, NulInsideALineEndsItOrIsResumedFrom) {
    arrive(std::string("AB\0CD\r", 6));
    EXPECT_EQ(line(), "AB");
    arrive(std::string("XY\0", 3));
    EXPECT_EQ(line(), "<null>");
    arrive("Z\r");  // gathering resumes where the NUL was stored
    EXPECT_EQ(line(), "XYZ");
}

TEST_F(OpenChannel, ReopenForgetsAPartialLine) {
    arrive("Data Sa");
    EXPECT_EQ(line(), "<null>");
    commClose(&ch);
    ASSERT_EQ(commOpen(pty.slavePath, &ch), 0);
    arrive("Data Save Start\r");
    EXPECT_EQ(line(), "Data Save Start");
}

TEST_F(OpenChannel, WritesReachTheDeviceUnchanged) {
    commPuts("FS\n", &ch);
    commPuts("\x02" "Sb\x03" "31\r\n", &ch);
    commPuts("", &ch);
    EXPECT_EQ(pty.receive(), "FS\n\x02" "Sb\x03" "31\r\n");
}

TEST_F(OpenChannel, SecondOpenerIsRefusedUntilClosed) {
    Channel other;
    EXPECT_EQ(commOpen(pty.slavePath, &other), EBUSY);
    EXPECT_FALSE(other.port.isOpen());
    EXPECT_EQ(other.baudRate, 0u);
    commClose(&ch);
    EXPECT_EQ(commOpen(pty.slavePath, &other), 0);
}

TEST(SerialOpen, MissingDeviceFails) {
    Channel ch;
    EXPECT_EQ(commOpen("/dev/does-not-exist-zt", &ch), ENOENT);
    EXPECT_NE(commOpen("", &ch), 0);
    EXPECT_NE(commOpen("LPT1", &ch), 0);
    EXPECT_FALSE(ch.port.isOpen());
}

using PortFaults = OpenChannel;

// A hung-up line is a fault the caller is given, with the operation and the system's reason;
// nothing ends the program.
TEST_F(PortFaults, HungUpLineThrowsTheFailedOperationAndItsError) {
    pty.hangUp();
    const struct {
        const char* op;
        std::function<void()> call;
    } cases[] = {{"commGetc", [this] { commWaitInput(&ch, 10); }},
                 {"commPutc", [this] { commPuts("FWE\n", &ch); }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.op);
        try {
            c.call();
            ADD_FAILURE() << "no fault";
        } catch (const PortFault& fault) {
            EXPECT_STREQ(fault.op, c.op);
            EXPECT_EQ(fault.err, EIO);
        }
    }
}

TEST(PortNames, ComNamesMapThroughComportsIni) {
    TempDir dir;
    dir.enter();  // COMPORTS.INI is read from the working directory
    EXPECT_EQ(portDeviceName("COM3"), "/dev/ttyS2");  // no file: the default map
    dir.write("COMPORTS.INI",
              "# lab bench\n\nCOM1=/dev/ttyUSB0\r\ncom12 = /dev/serial/by-id/usb-x\n"
              "garbage line\nCOM2=relative/path\nCOMx=/dev/null\n=/dev/null\nCOM3=\n");
    EXPECT_EQ(portDeviceName("COM1"), "/dev/ttyUSB0");
    EXPECT_EQ(portDeviceName("COM1 "), "/dev/ttyUSB0");  // trailing blank as saved by the dialog
    EXPECT_EQ(portDeviceName("com12"), "/dev/serial/by-id/usb-x");
    EXPECT_EQ(portDeviceName("COM2"), "/dev/ttyS1");  // bad line ignored
    EXPECT_EQ(portDeviceName("COM3"), "/dev/ttyS2");
    EXPECT_EQ(portDeviceName("/dev/pts/9"), "/dev/pts/9");
    EXPECT_EQ(portDeviceName("COM0"), "");
    EXPECT_EQ(portDeviceName("LPT1"), "");
    EXPECT_EQ(portDeviceName(""), "");
}

TEST(PortNames, OtherNamesArePathsFromTheWorkingDirectoryOrUnderDev) {
    TempDir dir;
    dir.enter();
    const std::string here = std::filesystem::current_path().string();
    const std::pair<std::string, std::string> cases[] = {{"./p1", here + "/./p1"},
                                                         {"sub/p1", here + "/sub/p1"},
                                                         {"ttyUSB0", "/dev/ttyUSB0"},
                                                         {"tty", ""},
                                                         {"p1", ""},
                                                         {"COMx", ""}};
    for (const auto& [name, device] : cases) EXPECT_EQ(portDeviceName(name), device) << name;

    PtyPair pty;
    std::filesystem::create_symlink(pty.slavePath, "p1");
    Channel ch;
    EXPECT_EQ(commOpen("./p1", &ch), 0);
}

// ---- Lock files ----

namespace {

struct PortLocks : ::testing::Test {
    LockDir locks;
    PtyPair pty;
    Channel ch;
    // /dev/pts/N locks as LCK..pts_N.
    std::string lockName() const { return "LCK..pts_" + pty.slavePath.substr(9); }
    std::string lockPath() const { return locks.file(lockName()); }
};

}  // namespace

TEST_F(PortLocks, OursNamesUsWhileOpenUnderTheRealDevicesNameAndGoesOnClose) {
    ASSERT_EQ(pty.slavePath.rfind("/dev/pts/", 0), 0u);
    const std::string link = (locks.path / "link").string();
    std::filesystem::create_symlink(pty.slavePath, link);
    ASSERT_EQ(commOpen(link, &ch), 0);
    EXPECT_EQ(locks.listing(), lockName() + " link");  // no temporary file left behind
    EXPECT_EQ(locks.read(lockName()), lockText(getpid()));
    EXPECT_EQ(serialPortOwner(pty.slavePath).pid, getpid());

    commClose(&ch);
    EXPECT_EQ(locks.listing(), "link");
    EXPECT_EQ(serialPortOwner(pty.slavePath).pid, 0);
}

TEST_F(PortLocks, ALiveOwnerRefusesTheOpenAStaleLockIsReplaced) {
    Sleeper sleeper;
    Zombie zombie;
    ASSERT_GT(sleeper.pid, 0);
    ASSERT_GT(zombie.pid, 0);
    struct Case {
        const char* what;
        std::string text;
        int ageSeconds;
        bool opens;
        int shownOwner;  // as `ports` and the refusal name it
    } cases[] = {
        {"live owner", lockText(sleeper.pid), 0, false, sleeper.pid},
        {"dead owner", lockText(deadPid()), 0, true, 0},
        {"owner ended, not yet reaped", lockText(zombie.pid), 0, true, 0},
        {"pid now of a process started after the lock", lockText(sleeper.pid), 60, true, 0},
        {"no pid, just written", "garbage\n", 0, false, 0},
        {"no pid, long ago", "garbage\n", 60, true, 0},
        {"our pid from an earlier process", lockText(getpid()), 0, true, getpid()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        locks.write(lockName(), c.text);
        const auto when =
            std::filesystem::file_time_type::clock::now() - std::chrono::seconds(c.ageSeconds);
        std::filesystem::last_write_time(lockPath(), when);
        EXPECT_EQ(serialPortOwner(pty.slavePath).pid, c.shownOwner);
        const int err = commOpen(pty.slavePath, &ch);
        EXPECT_EQ(err == 0, c.opens);
        if (c.opens) {
            EXPECT_EQ(locks.read(lockName()), lockText(getpid()));
        } else {
            EXPECT_EQ(err, EBUSY);
            EXPECT_EQ(locks.read(lockName()), c.text);  // left alone
        }
        commClose(&ch);
    }
    locks.write(lockName(), lockText(sleeper.pid));
    const PortOwner owner = serialPortOwner(pty.slavePath);
    EXPECT_EQ(owner.pid, sleeper.pid);
    EXPECT_EQ(owner.program, "sleep");
}

// Another program finds the same stale lock, takes it away and makes its own while this one
// is about to take the stale lock away: the fresh lock stays, and keeps us out.
TEST_F(PortLocks, AFreshLockMadeAsTheStaleOneGoesIsLeftAlone) {
    Sleeper other;
    locks.write(lockName(), lockText(deadPid()));
    setStaleLockHook([&](const std::string& path) {
        std::filesystem::remove(path);
        locks.write(lockName(), lockText(other.pid));
    });
    const int err = commOpen(pty.slavePath, &ch);
    setStaleLockHook(nullptr);
    EXPECT_EQ(err, EBUSY);
    EXPECT_EQ(locks.read(lockName()), lockText(other.pid));
    EXPECT_EQ(locks.listing(), lockName());  // nothing left aside
}

// A port held by another program is not opened at all: the open alone raises DTR.
TEST_F(PortLocks, ABusyPortIsNeverOpened) {
    Sleeper other;
    locks.write(lockName(), lockText(other.pid));
    const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(opens, pty.slavePath.c_str(), IN_OPEN), 0);
    char event[sizeof(inotify_event) + NAME_MAX + 1];
    EXPECT_EQ(commOpen(pty.slavePath, &ch), EBUSY);
    EXPECT_LT(read(opens, event, sizeof event), 0);
    std::filesystem::remove(lockPath());
    EXPECT_EQ(commOpen(pty.slavePath, &ch), 0);
    EXPECT_GT(read(opens, event, sizeof event), 0);  // the watch does see an open
    close(opens);
}

// The port still opens when no lock file can be made, and --trace and `ports` say why.
TEST_F(PortLocks, LockFilesThatCannotBeMadeAreToldNotFatal) {
    // Permissions do not stop root, a file system of the kernel's does.
    std::filesystem::path readOnly = locks.path / "ro";
    std::filesystem::create_directory(readOnly);
    std::filesystem::permissions(
        readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (geteuid() == 0) readOnly = "/sys/kernel";
    const std::string taken = "LTMP." + std::to_string(getpid()) + "." + lockName().substr(5);
    locks.write(taken, "");  // left by an earlier process that had our pid
    const struct {
        std::string dir, told;
        bool locked;
    } cases[] = {
        {readOnly.string(), "lock files cannot be made in " + readOnly.string() + " (", false},
        {locks.file("missing"), "lock files cannot be made in " + locks.file("missing"), false},
        {locks.path.string(), "the temporary name " + locks.file(taken) + " is taken", true},
    };
    setTracing(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir);
        setenv("ZEMTABULO_LOCK_DIR", c.dir.c_str(), 1);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(commOpen(pty.slavePath, &ch), 0);
        const std::string trace = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(trace.find("[debug] lock: " + c.told), std::string::npos) << trace;
        EXPECT_EQ(serialLockProblem().empty(), c.locked);
        EXPECT_EQ(serialPortOwner(pty.slavePath).pid, c.locked ? getpid() : 0);
        commClose(&ch);
    }
    setTracing(false);
    EXPECT_EQ(locks.listing(), taken + " ro");
}

TEST(ProcessNames, FindsModemManagerInAProcTree) {
    TempDir proc;
    auto process = [&proc](const std::string& pid, const std::string& comm) {
        std::filesystem::create_directories(proc.path / pid);
        if (!comm.empty()) proc.write(pid + "/comm", comm);
    };
    process("1", "systemd\n");
    process("self", "ModemManager\n");  // not a pid
    process("77", "");                  // gone meanwhile
    process("812", "ModemManagerX\n");
    EXPECT_EQ(findProcessNamed("ModemManager", proc.path.string()), 0);
    process("4321", "ModemManager\n");
    process("650", "ModemManager\n");
    EXPECT_EQ(findProcessNamed("ModemManager", proc.path.string()), 650);
    EXPECT_EQ(processName(1, proc.path.string()), "systemd");
    EXPECT_EQ(findProcessNamed("ModemManager", proc.file("none")), 0);
}
