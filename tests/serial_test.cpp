#include <gtest/gtest.h>
#include <termios.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "pty_pair.h"
#include "serial/channel.h"

namespace {

struct OpenChannel : ::testing::Test {
    PtyPair pty;
    Channel ch;
    void SetUp() override {
        ASSERT_FALSE(pty.slavePath.empty());
        ASSERT_NE(commOpen(pty.slavePath, &ch), 0);
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
    ASSERT_NE(commOpen(pty.slavePath, &ch), 0);
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
    EXPECT_EQ(commOpen(pty.slavePath, &other), 0);
    EXPECT_FALSE(other.port.isOpen());
    EXPECT_EQ(other.baudRate, 0u);
    EXPECT_EQ(commLastOpenError.load(), EBUSY);
    commClose(&ch);
    EXPECT_NE(commOpen(pty.slavePath, &other), 0);
}

TEST(SerialOpen, MissingDeviceFails) {
    Channel ch;
    EXPECT_EQ(commOpen("/dev/does-not-exist-zt", &ch), 0);
    EXPECT_EQ(commLastOpenError.load(), ENOENT);
    EXPECT_EQ(commOpen("", &ch), 0);
    EXPECT_EQ(commOpen("LPT1", &ch), 0);
}

using PortErrorStop = OpenChannel;

TEST_F(PortErrorStop, HangUpSeenByTheWaitEndsTheProgram) {
    portErrorExitStatus = 7;
    pty.hangUp();
    EXPECT_EXIT(commWaitInput(&ch, 10), ::testing::ExitedWithCode(7), "");
    portErrorExitStatus = 0;
}

TEST_F(PortErrorStop, WriteToAHungUpLineEndsTheProgramWithItsReason) {
    pty.hangUp();
    // The box (printed by the headless front end) shows the system's text under "commPutc".
    EXPECT_EXIT(
        {
            setvbuf(stdout, nullptr, _IONBF, 0);
            dup2(2, 1);
            commPuts("FWE\n", &ch);
        },
        ::testing::ExitedWithCode(0), "\\[commPutc\\] Input/output error");
}

TEST(PortNames, ComNamesMapThroughComportsIni) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("zt-comports-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::path old = fs::current_path();
    fs::current_path(dir);
    EXPECT_EQ(portDeviceName("COM3"), "/dev/ttyS2");  // no file: the default map
    {
        std::ofstream ini("COMPORTS.INI");
        ini << "# lab bench\n\nCOM1=/dev/ttyUSB0\r\ncom12 = /dev/serial/by-id/usb-x\n"
               "garbage line\nCOM2=relative/path\nCOMx=/dev/null\n=/dev/null\nCOM3=\n";
    }
    EXPECT_EQ(portDeviceName("COM1"), "/dev/ttyUSB0");
    EXPECT_EQ(portDeviceName("COM1 "), "/dev/ttyUSB0");  // trailing blank as saved by the dialog
    EXPECT_EQ(portDeviceName("com12"), "/dev/serial/by-id/usb-x");
    EXPECT_EQ(portDeviceName("COM2"), "/dev/ttyS1");  // bad line ignored
    EXPECT_EQ(portDeviceName("COM3"), "/dev/ttyS2");
    EXPECT_EQ(portDeviceName("/dev/pts/9"), "/dev/pts/9");
    EXPECT_EQ(portDeviceName("COM0"), "");
    EXPECT_EQ(portDeviceName("LPT1"), "");
    EXPECT_EQ(portDeviceName(""), "");
    fs::current_path(old);
    fs::remove_all(dir);
}
