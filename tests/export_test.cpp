#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include "app/settings_controls.h"
#include "export/update_file.h"
#include "export_rig.h"
#include "run_program.h"
#include "settings_model.h"

namespace {

namespace fs = std::filesystem;

// Runs the export in a child process after `restrict` (privileges, limits), so that they do
// not reach the test runner. Returns the texts of the message boxes shown in the child.
std::vector<std::string> exportInChild(ExportRig& rig, const std::function<void()>& restrict) {
    int fds[2];
    if (pipe(fds) != 0) return {"pipe failed"};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        restrict();
        rig.run();
        for (const Box& b : rig.boxes)
            if (write(fds[1], b.text.c_str(), b.text.size() + 1) < 0) _exit(3);
        _exit(0);
    }
    close(fds[1]);
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) all.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> texts;
    for (size_t at = 0; at < all.size(); at = all.find('\0', at) + 1)
        texts.push_back(all.substr(at, all.find('\0', at) - at));
    return texts;
}

// A folder path exactly `length` characters long, in components of at most 60.
std::string folderOfLength(std::string path, size_t length) {
    while (path.size() < length) {
        const size_t left = length - path.size();
        size_t step = std::min<size_t>(61, left);  // the separator and up to 60 characters
        if (left - step == 1) --step;              // a lone separator is no component
        path += "/" + std::string(step - 1, 'd');
    }
    return path;
}

// Writes beyond `bytes` fail with EFBIG instead of killing the process.
void limitFileSize(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &lim);
}

// Root writes anywhere; an unwritable folder needs an ordinary user.
void dropRoot() {
    if (geteuid() != 0) return;
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(4);
}

}  // namespace

namespace {

// 200 KB of data and what the update file must hold for it, built side by side. The file is
// read and copied a block at a time: every block edge cuts a CR LF, the CR last in its block;
// every fifth line ends in a lone CR; lines run to 300 bytes; a 0x1A cuts the line at `end`.
std::pair<std::string, std::string> acrossBlockEdges(size_t end) {
    constexpr size_t kFileSize = 200 * 1000;
    std::string raw, want;
    bool cut = false;  // the 0x1A is in: nothing after it goes out
    for (size_t line = 0; raw.size() < kFileSize; ++line) {
        const size_t edge = (raw.size() / kCopyBlockSize + 1) * kCopyBlockSize;
        std::string text = "PAGE " + std::to_string(line) + std::string(line % 300, 'x');
        if (raw.size() + text.size() + 2 >= edge) {
            text.resize(edge - 1 - raw.size(), 'p');
            raw += text + "\r\n";
            if (!cut) want += text + "\r\n";
        } else if (!cut && raw.size() + text.size() >= end) {
            raw += text + "\x1a" + "tail\r\n";
            want += text + "\r\n";  // a last line left open is ended
            cut = true;
        } else {
            const bool loneCr = line % 5 == 0;
            raw += text + (loneCr ? "\r" : "\n");
            if (!cut) want += text + (loneCr ? "\r" : "\r\n");
        }
    }
    for (size_t edge = kCopyBlockSize; edge < raw.size(); edge += kCopyBlockSize)
        EXPECT_EQ(raw.substr(edge - 1, 2), "\r\n") << edge;
    return {raw, want};
}

}  // namespace

TEST(UpdateFile, DataTextGoesOutWithCrLfLineEnds) {
    const auto [second, secondOut] = acrossBlockEdges(kCopyBlockSize + kCopyBlockSize / 2);
    const auto [last, lastOut] = acrossBlockEdges(3 * kCopyBlockSize + 1000);
    const struct {
        const char* name;
        std::string in, out;
    } cases[] = {
        {"LF", "BMP 1\nPAGE 2\n", "BMP 1\r\nPAGE 2\r\n"},
        {"CR LF", "BMP 1\r\nPAGE 2\r\n", "BMP 1\r\nPAGE 2\r\n"},
        {"no final line end", "BMP 1\nPAGE 2", "BMP 1\r\nPAGE 2\r\n"},
        {"0x1A ends the data", "BMP 1\nPA\x1aGE 2\n", "BMP 1\r\nPA\r\n"},
        {"empty", "", ""},
        {"lone CR stays", "A\rB\nC\r", "A\rB\r\nC\r\r\n"},
        {"CR before CR LF", "A\r\r\n", "A\r\r\n"},
        {"NUL behind 0x1A", std::string("A\n\x1a\0", 4), "A\r\n"},
        {"200 KB, 0x1A in the second block", second, secondOut},
        {"200 KB, 0x1A past the last block edge", last, lastOut},
    };
    ExportRig rig;
    for (const auto& c : cases) {
        rig.data(c.in);
        rig.run();
        EXPECT_TRUE(rig.succeeded()) << c.name;
        EXPECT_EQ(rig.read(kUpdateFileName), c.out + kDefaultTail) << c.name;
    }
}

// Every setting of the boxes and of the Line speed (none, each entry, past the list).
TEST(UpdateFile, SettingsLinesFollowTheOptions) {
    HeadlessMain main;
    for (unsigned boxes = 0; boxes < 1u << std::size(kOptionBoxes); ++boxes) {
        for (unsigned speed = 0; speed < 8; ++speed) {
            const unsigned options = boxes | speed << kSpeedShift;
            setOptions(main.dlg, options);
            std::string lines;
            for (const std::string& line : updateSettingsLines(settingsFromDialog(main.dlg)))
                lines += line + "\r\n";
            ASSERT_EQ(lines, settingsModel(options)) << std::hex << options;
        }
    }
}

TEST(UpdateFile, ProgressBarRunsThroughTheDataFile) {
    ExportRig rig;
    Window bar = dlgItem(rig.main.dlg, IDC_PROGRESS);
    int low, high, pos;
    rig.data("BMP 1\r\nPAGE 2\r\n");
    rig.run();
    headlessProgress(bar, &low, &high, &pos);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 15);  // bytes on disk, CRs included
    EXPECT_EQ(pos, 15);
    rig.data("");
    rig.run();
    headlessProgress(bar, &low, &high, &pos);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(pos, 0);
}

TEST(ExportCommand, AsksForTheDataFileFirstAndStopsOnCancel) {
    ExportRig rig;
    rig.run();
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].owner, rig.main.dlg);
    EXPECT_EQ(rig.boxes[0].text, kNoDataText);
    EXPECT_EQ(rig.boxes[0].caption, kExportCaption);
    EXPECT_EQ(rig.browsed, 0);

    rig.data("PAGE 1\n");
    rig.cancelBrowser = true;
    rig.run();
    EXPECT_EQ(rig.browsed, 1);
    EXPECT_EQ(rig.browseTitle, kBrowseTitle);
    EXPECT_TRUE(rig.boxes.empty());
    EXPECT_TRUE(rig.usbFiles().empty());
}

TEST(ExportCommand, ReplacesTheUpdateFileAndLeavesNothingElse) {
    ExportRig rig;
    rig.put(kUpdateFileName, std::string(5000, 'o'));
    rig.data("PAGE 1\n");
    rig.run();
    EXPECT_TRUE(rig.succeeded());
    EXPECT_EQ(rig.read(kUpdateFileName), "PAGE 1\r\n" + kDefaultTail);
    EXPECT_EQ(rig.usbFiles(), std::vector<std::string>{kUpdateFileName});
}

TEST(ExportCommand, FileNameJoinsTheFolderWithOneSeparator) {
    ExportRig rig;
    rig.data("PAGE 1\n");
    for (const std::string& folder : {rig.dir.file("usb"), rig.dir.file("usb") + "/"}) {
        rig.folder = folder;
        rig.run();
        EXPECT_TRUE(rig.succeeded()) << folder;
        EXPECT_EQ(rig.usbFiles(), std::vector<std::string>{kUpdateFileName});
        EXPECT_FALSE(fs::exists(rig.dir.file("usbv3update.dat")));
        fs::remove(rig.usb(kUpdateFileName));
    }
    EXPECT_EQ(joinFolder("/", kUpdateFileName), "/v3update.dat");
    EXPECT_EQ(joinFolder("/media/usb", kGaijiFileName), "/media/usb/v3gaiji.dat");
}

TEST(ExportCommand, FoldersThatDoNotFitTheBufferAreRefused) {
    ExportRig rig;
    rig.data("PAGE 1\n");
    // The name with its separator needs 13 bytes; the buffer holds 263 and a NUL.
    const std::string deep = folderOfLength(rig.dir.file("d"), kDestBufSize - 1 - 13);
    for (const std::string& folder : {deep, deep + "/"}) {
        fs::create_directories(folder);
        rig.folder = folder;
        rig.run();
        EXPECT_TRUE(rig.succeeded()) << folder.size();
        EXPECT_TRUE(fs::exists(joinFolder(folder, kUpdateFileName)));
    }
    fs::remove(joinFolder(deep, kUpdateFileName));
    rig.folder = deep + "x";
    fs::create_directories(rig.folder);
    rig.run();
    rig.expectFailure(joinFolder(rig.folder, kUpdateFileName), ENAMETOOLONG);
    EXPECT_TRUE(fs::is_empty(rig.folder));
}

TEST(ExportCommand, GaijiCopyFollowsTheBoxAndTheFile) {
    ExportRig rig;
    rig.data("PAGE 1\n");
    rig.put(kGaijiFileName, "old");
    // Box on, no file: a warning, then the update file all the same, no copy.
    rig.main.check(IDC_TRANSFER_GAIJI);
    rig.run();
    ASSERT_EQ(rig.boxes.size(), 2u);
    EXPECT_EQ(rig.boxes[0].owner, rig.main.dlg);
    EXPECT_EQ(rig.boxes[0].text, kNoGaijiText);
    EXPECT_EQ(rig.boxes[0].caption, kExportCaption);
    EXPECT_TRUE(rig.succeeded());
    EXPECT_EQ(rig.read(kUpdateFileName), "PAGE 1\r\n" + kDefaultTail);
    EXPECT_EQ(rig.read(kGaijiFileName), "old");

    // A file, box off: no copy, no warning.
    const std::string glyphs("G\r\n\x1a\0\xff\n", 7);
    rig.gaijiFilePath = rig.dir.write("glyphs.txt", glyphs);
    rig.main.check(IDC_TRANSFER_GAIJI, false);
    rig.run();
    EXPECT_EQ(rig.boxes.size(), 1u);
    EXPECT_TRUE(rig.succeeded());
    EXPECT_EQ(rig.read(kGaijiFileName), "old");

    // Both: copied byte for byte over the old one, also from the stick onto itself.
    rig.main.check(IDC_TRANSFER_GAIJI);
    rig.run();
    EXPECT_TRUE(rig.succeeded());
    EXPECT_EQ(rig.read(kGaijiFileName), glyphs);
    rig.gaijiFilePath = rig.usb(kGaijiFileName);
    rig.run();
    EXPECT_TRUE(rig.succeeded());
    EXPECT_EQ(rig.read(kGaijiFileName), glyphs);
    EXPECT_EQ(rig.usbFiles(), (std::vector<std::string>{kGaijiFileName, kUpdateFileName}));
}

TEST(ExportCommand, MissingInputFilesAreReported) {
    ExportRig rig;
    rig.put(kUpdateFileName, "old update");
    rig.put(kGaijiFileName, "old glyphs");
    rig.dataFilePath = rig.dir.file("gone.v3");
    rig.run();
    rig.expectFailure(rig.dataFilePath, ENOENT);
    EXPECT_EQ(rig.read(kUpdateFileName), "old update");

    rig.data("PAGE 1\n");
    rig.main.check(IDC_TRANSFER_GAIJI);
    rig.gaijiFilePath = rig.dir.file("gone.txt");
    rig.run();
    rig.expectFailure(rig.gaijiFilePath, ENOENT);
    EXPECT_EQ(rig.read(kGaijiFileName), "old glyphs");
    EXPECT_EQ(rig.usbFiles(), (std::vector<std::string>{kGaijiFileName, kUpdateFileName}));
}

TEST(ExportCommand, DataFileWithANulByteOrUnreadableTouchesNothingOnTheStick) {
    ExportRig rig;
    rig.put(kUpdateFileName, "old update");
    rig.put(kGaijiFileName, "old glyphs");
    rig.gaijiFilePath = rig.dir.write("glyphs.txt", "G 1\r\n");
    rig.main.check(IDC_TRANSFER_GAIJI);
    // The serial write refuses this file; the stick must not take it either.
    rig.data(std::string("PAGE 1\r\nB 00\0FF\r\n", 17));
    rig.run();
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].owner, rig.main.dlg);
    EXPECT_EQ(rig.boxes[0].caption, kExportCaption);
    EXPECT_EQ(rig.boxes[0].text, "書き込みデータにNULバイトがあります\n" + rig.dataFilePath +
                                     "\n位置 12 (0xC)");  // bytes on disk, CRs counted

    rig.dataFilePath = "/proc/self/mem";  // opens, but reading fails (EIO)
    rig.run();
    rig.expectFailure(rig.dataFilePath, EIO);
    EXPECT_EQ(rig.read(kUpdateFileName), "old update");
    EXPECT_EQ(rig.read(kGaijiFileName), "old glyphs");
    EXPECT_EQ(rig.usbFiles(), (std::vector<std::string>{kGaijiFileName, kUpdateFileName}));
}

TEST(ExportCommand, MissingFolderIsReported) {
    ExportRig rig;
    rig.data("PAGE 1\n");
    rig.folder = rig.dir.file("not-plugged-in");
    rig.run();
    rig.expectFailure(joinFolder(rig.folder, kUpdateFileName), ENOENT);
}

TEST(ExportCommand, UnwritableFolderKeepsTheOldFile) {
    ExportRig rig;
    rig.data("PAGE 1\n");
    rig.put(kUpdateFileName, "old update");
    // Readable for the ordinary user the child may become; the stick itself is read-only.
    const auto rx = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                    fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(rig.dir.path, rx);
    fs::permissions(rig.dataFilePath, fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read | fs::perms::others_read);
    fs::permissions(rig.folder, rx & ~fs::perms::owner_write);
    const auto texts = exportInChild(rig, dropRoot);
    fs::permissions(rig.folder, fs::perms::owner_all);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find(rig.usb(kUpdateFileName)), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find(std::strerror(EACCES)), std::string::npos) << texts[0];
    EXPECT_EQ(rig.read(kUpdateFileName), "old update");
    EXPECT_EQ(rig.usbFiles(), std::vector<std::string>{kUpdateFileName});
}

TEST(ExportCommand, FullStickKeepsTheOldFiles) {
    ExportRig rig;
    rig.data(std::string(200000, 'd') + "\n");
    rig.put(kUpdateFileName, "old update");
    rig.put(kGaijiFileName, "old glyphs");
    auto texts = exportInChild(rig, [] { limitFileSize(4096); });
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find(rig.usb(kUpdateFileName)), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find(std::strerror(EFBIG)), std::string::npos) << texts[0];
    EXPECT_EQ(rig.read(kUpdateFileName), "old update");

    // The update file fits, the glyphs do not.
    rig.data("PAGE 1\n");
    rig.gaijiFilePath = rig.dir.write("glyphs.txt", std::string(100000, 'g'));
    rig.main.check(IDC_TRANSFER_GAIJI);
    texts = exportInChild(rig, [] { limitFileSize(4096); });
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find(rig.usb(kGaijiFileName)), std::string::npos) << texts[0];
    EXPECT_EQ(rig.read(kUpdateFileName), "PAGE 1\r\n" + kDefaultTail);
    EXPECT_EQ(rig.read(kGaijiFileName), "old glyphs");
    EXPECT_EQ(rig.usbFiles(), (std::vector<std::string>{kGaijiFileName, kUpdateFileName}));
}

namespace {

// zemtabulo-cli export with `args`, after `restrict` in its process.
ProgramResult runCli(std::vector<std::string> args, const std::function<void()>& restrict = {}) {
    args.insert(args.begin(), {ZT_CLI_PATH, "export"});
    return runProgram(args, {}, "", restrict);
}

}  // namespace

TEST(ExportCli, WritesTheFilesWithTheGivenOptions) {
    TempDir dir;
    const std::string data = dir.write("data.v3", "BMP 1\nPAGE 2");
    const std::string glyphs = dir.write("glyphs.txt", "G 1\r\n");
    fs::create_directories(dir.file("usb"));
    const ProgramResult run =
        runCli({"--data", data, "--to", dir.file("usb"), "--vertical", "--invert",
                "--transfer-settings", "--keep-sram", "--rs422", "--speed", "9600",
                "--flow-control", "--transfer-gaiji", "--gaiji", glyphs});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, std::string(kExportDoneText) + "\n");
    EXPECT_EQ(dir.read("usb/v3update.dat"),
              "BMP 1\r\nPAGE 2\r\nWD bf07b 1\r\nROTATE 1\r\nWD bf07a 0\r\nWD bf07c 0\r\nWD bf078 0\r\n"
              "WD bf303 1\r\nWD bf305 64\r\nWD bf306 0\r\nWD bf307 1\r\nWD bf075 1\r\n");
    EXPECT_EQ(dir.read("usb/v3gaiji.dat"), "G 1\r\n");
}

TEST(ExportCli, FailureAndWrongUsageExitNonZero) {
    TempDir dir;
    const std::string data = dir.write("data.v3", std::string(100000, 'd'));
    fs::create_directories(dir.file("usb"));
    dir.write("usb/v3update.dat", "old update");
    const ProgramResult full =
        runCli({"--data", data, "--to", dir.file("usb")}, [] { limitFileSize(4096); });
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find(dir.file("usb/v3update.dat")), std::string::npos) << full.out;
    EXPECT_EQ(full.out.find(kExportDoneText), std::string::npos) << full.out;
    EXPECT_EQ(dir.read("usb/v3update.dat"), "old update");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("usb")), {}), 1);

    EXPECT_EQ(runCli({"--data", data}).status, 2);
    EXPECT_EQ(runCli({"--data", data, "--to", dir.file("usb"), "--speed", "1200"}).status, 2);
    const std::string tooLong(kPathBufSize, 'p');
    EXPECT_EQ(runCli({"--data", tooLong, "--to", dir.file("usb")}).status, 2);
    EXPECT_EQ(dir.read("usb/v3update.dat"), "old update");
}
