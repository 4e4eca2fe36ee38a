// The update file export on Windows: folders as the folder browser gives them (with or
// without a closing backslash), CR LF lines, the copy beside it and faults with the system's
// own text.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "export/update_file.h"
#include "headless_main.h"
#include "platform/serial.h"
#include "temp_dir.h"

namespace {

const std::string kDefaultTail = "WD bf07b 0\r\nROTATE 0\r\nWD bf075 1\r\n";

struct ExportRig {
    HeadlessMain ui;
    TempDir dir;
    std::string folder;
    std::vector<std::string> boxes;

    ExportRig() {
        folder = dir.file("usb");
        CreateDirectoryA(folder.c_str(), nullptr);
        HeadlessHooks hooks;
        hooks.onMessageBox = [this](Window, const std::string& text, const std::string&) {
            boxes.push_back(text);
        };
        hooks.onBrowseFolder = [this](std::string& chosen, const std::string&) {
            chosen = folder;
            return true;
        };
        headlessSetHooks(std::move(hooks));
        dataFilePath.clear();
        gaijiFilePath.clear();
    }
    ~ExportRig() {
        dataFilePath.clear();
        gaijiFilePath.clear();
    }
    void run() { headlessClick(ui.dlg, IDC_EXPORT); }
    std::string read(const std::string& name) const { return dir.read("usb\\" + name); }
};

}  // namespace

TEST(ExportWin32, UpdateFileHasCrLfLinesInTheChosenFolder) {
    for (const char* end : {"", "\\", "/"}) {
        ExportRig rig;
        rig.folder += end;
        dataFilePath = rig.dir.write("data.v3", "A\nB\r\nC\n");
        rig.run();
        ASSERT_EQ(rig.boxes, std::vector<std::string>{kExportDoneText}) << end;
        EXPECT_EQ(rig.read(kUpdateFileName), "A\r\nB\r\nC\r\n" + kDefaultTail);
        EXPECT_FALSE(std::filesystem::exists(rig.dir.file("usbv3update.dat")));
    }
}

TEST(ExportWin32, JoinUsesTheBackslash) {
    EXPECT_EQ(joinFolder("E:\\", kUpdateFileName), "E:\\v3update.dat");
    EXPECT_EQ(joinFolder("E:\\data", kUpdateFileName), "E:\\data\\v3update.dat");
}

TEST(ExportWin32, GaijiFileIsCopiedByteForByte) {
    ExportRig rig;
    const std::string glyphs("G\r\n\x1a\0\xff\n", 7);
    dataFilePath = rig.dir.write("data.v3", "A\n");
    gaijiFilePath = rig.dir.write("g.txt", glyphs);
    rig.ui.check(IDC_TRANSFER_GAIJI);
    rig.run();
    EXPECT_EQ(rig.read(kGaijiFileName), glyphs);
}

TEST(ExportWin32, MissingFolderIsReportedWithTheSystemsText) {
    ExportRig rig;
    rig.folder = rig.dir.file("gone");
    dataFilePath = rig.dir.write("data.v3", "A\n");
    rig.run();
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_NE(rig.boxes[0].find(rig.dir.file("gone\\v3update.dat")), std::string::npos);
    EXPECT_NE(rig.boxes[0].find(systemErrorText(ERROR_PATH_NOT_FOUND)), std::string::npos)
        << rig.boxes[0];
}
