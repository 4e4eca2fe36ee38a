#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "writer/text_stream.h"

namespace {

std::vector<std::string> pieces(const std::string& content, size_t cap = kPieceBufSize) {
    TempDir dir;
    TextStream in;
    EXPECT_EQ(in.open(dir.write("data.v3", content)), 0);
    std::vector<std::string> out;
    std::vector<char> buf(cap);
    while (size_t n = in.readPiece(buf.data(), buf.size())) {
        EXPECT_EQ(buf[n], '\0');
        out.emplace_back(buf.data(), n);
    }
    EXPECT_EQ(in.error(), 0);
    return out;
}

using V = std::vector<std::string>;

int noSuchFile() {
#ifdef _WIN32
    return 2;  // ERROR_FILE_NOT_FOUND
#else
    return ENOENT;
#endif
}

}  // namespace

TEST(TextStream, LineEndsSubAndNulAsATextStreamReadsThem) {
    EXPECT_EQ(pieces("A\nB\n"), (V{"A\n", "B\n"}));
    EXPECT_EQ(pieces("A\r\nB\r\n"), (V{"A\n", "B\n"}));
    EXPECT_EQ(pieces("A\rB\r\r\n"), (V{"A\rB\r\n"}));  // a lone CR stays
    EXPECT_EQ(pieces("last line"), (V{"last line"}));
    EXPECT_EQ(pieces("ends in CR\r"), (V{"ends in CR\r"}));
    EXPECT_EQ(pieces(""), V{});
    EXPECT_EQ(pieces("A\nB\x1a" "C\nD\n"), (V{"A\n", "B"}));
    EXPECT_EQ(pieces("\x1a" "A\n"), V{});
    EXPECT_EQ(pieces(std::string("A\0B\n", 4)), (V{std::string("A\0B\n", 4)}));  // NUL is data
}

TEST(TextStream, LongLinesComeIn99BytePieces) {
    std::string line(150, 'x');
    EXPECT_EQ(pieces(line + "\n"), (V{std::string(99, 'x'), std::string(51, 'x') + "\n"}));
    EXPECT_EQ(pieces(std::string(98, 'y') + "\r\n"), (V{std::string(98, 'y') + "\n"}));
    EXPECT_EQ(pieces(std::string(99, 'z') + "\n"), (V{std::string(99, 'z'), "\n"}));
}

TEST(TextStream, SizeAndPositionCountTheFileOnDisk) {
    TempDir dir;
    TextStream in;
    ASSERT_EQ(in.open(dir.write("d", "AB\r\nCD\r\n")), 0);
    EXPECT_EQ(in.size(), 8u);
    char buf[kPieceBufSize];
    EXPECT_EQ(in.readPiece(buf, sizeof buf), 3u);
    EXPECT_EQ(in.rawPosition(), 4u);
}

TEST(TextStream, MissingFilesAndDirectoriesDoNotOpen) {
    TempDir dir;
    TextStream in;
    EXPECT_EQ(in.open(dir.file("missing")), noSuchFile());
    EXPECT_EQ(in.open(dir.path.string()), kErrIsFolder);
    EXPECT_FALSE(in.isOpen());
}

TEST(DataCheck, FindsTheFirstNulByteBeforeTheEndOfTheData) {
    const size_t block = kDataCheckBlockSize;
    std::string late(block + 10, 'x');
    late[block + 3] = '\0';
    std::string afterSub(block + 10, 'x');
    afterSub[block - 1] = '\x1a';
    afterSub[block + 3] = '\0';
    const struct {
        const char* name;
        std::string content;
        int64_t nulAt;
    } cases[] = {
        {"clean", "A\r\nB\rC\n", -1},
        {"empty", "", -1},
        {"NUL", std::string("PAGE 1\nB 00\0FF\n", 15), 11},
        // The offset counts the file on disk, CRs of CR LF pairs included.
        {"after CR LF", std::string("A\r\nB\r\n\0\0", 8), 6},
        {"behind 0x1A", std::string("A\n\x1a\0", 4), -1},
        {"in a later block", late, int64_t(block + 3)},
        {"behind 0x1A of an earlier block", afterSub, -1},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const DataCheck check = checkDataFile(dir.write("d.v3", c.content));
        EXPECT_EQ(check.err, 0) << c.name;
        EXPECT_EQ(check.nulAt, c.nulAt) << c.name;
        EXPECT_EQ(check.ok(), c.nulAt < 0) << c.name;
    }
    EXPECT_EQ(dataCheckText(DataCheck{0, 1234}), "a NUL byte at offset 1234 (0x4D2)");
}

TEST(DataCheck, FilesThatCannotBeReadToTheirEndFail) {
    TempDir dir;
    EXPECT_EQ(checkDataFile(dir.file("missing")).err, noSuchFile());
    EXPECT_EQ(checkDataFile(dir.path.string()).err, kErrIsFolder);
#ifndef _WIN32
    const DataCheck unreadable = checkDataFile("/proc/self/mem");  // opens, but reads fail
    EXPECT_EQ(unreadable.err, EIO);
    EXPECT_FALSE(unreadable.ok());
    EXPECT_EQ(dataCheckText(unreadable), std::strerror(EIO));
#endif
}
