// The update file export on Windows: folders as the folder browser gives them (with or
// without a closing backslash), CR LF lines, the copy beside it and faults with the system's
// own text.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "export_rig.h"
#include "platform/serial.h"

TEST(ExportWin32, UpdateFileHasCrLfLinesInTheChosenFolder) {
    for (const char* end : {"", "\\", "/"}) {
        ExportRig rig;
        rig.folder += end;
        rig.data("A\nB\r\nC\n");
        rig.run();
        ASSERT_TRUE(rig.succeeded()) << end;
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
    rig.data("A\n");
    rig.gaijiFilePath = rig.dir.write("g.txt", glyphs);
    rig.main.check(IDC_TRANSFER_GAIJI);
    rig.run();
    EXPECT_EQ(rig.read(kGaijiFileName), glyphs);
}

TEST(ExportWin32, MissingFolderIsReportedWithTheSystemsText) {
    ExportRig rig;
    rig.folder = rig.dir.file("gone");
    rig.data("A\n");
    rig.run();
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_NE(rig.boxes[0].text.find(rig.dir.file("gone\\v3update.dat")), std::string::npos);
    EXPECT_NE(rig.boxes[0].text.find(systemErrorText(ERROR_PATH_NOT_FOUND)), std::string::npos)
        << rig.boxes[0].text;
}
