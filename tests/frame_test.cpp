#include <gtest/gtest.h>

#include <string>

#include "writer/frame.h"

namespace {

std::string parse(const std::string& reply) {
    char text[kFrameTextSize];
    const char* got = frameParse(reply.c_str(), text);
    return got ? std::string(got) : std::string("<none>");
}

std::string stx(const std::string& s) { return "\x02" + s; }

}  // namespace

TEST(Frame, SumIsXorAsTwoLowercaseDigits) {
    char sum[3];
    frameSum("", sum);
    EXPECT_STREQ(sum, "00");
    frameSum("FWS", sum);
    EXPECT_STREQ(sum, "42");
    frameSum("WD bf305 128", sum);
    EXPECT_STREQ(sum, "1a");
    frameSum("\xff", sum);  // bytes count as unsigned
    EXPECT_STREQ(sum, "ff");
}

TEST(Frame, BuildWrapsTextWithoutLineEnd) {
    EXPECT_EQ(frameBuild("FWS"), std::string("\x02" "FWS" "\x03" "42"));
    EXPECT_EQ(frameBuild("UC"), std::string("\x02" "UC" "\x03" "16"));
    EXPECT_EQ(frameBuild("Sb"), std::string("\x02" "Sb" "\x03" "31"));
    EXPECT_EQ(frameBuild("WD bf075 1"), std::string("\x02" "WD bf075 1" "\x03" "14"));
}

TEST(Frame, ParseAcceptsOnlyExactFrames) {
    EXPECT_EQ(parse(stx("FWS\x03" "42")), "FWS");
    EXPECT_EQ(parse(stx("WD bf305 128\x03" "1a")), "WD bf305 128");
    EXPECT_EQ(parse(stx("1234\x03" "04")), "1234");
    EXPECT_EQ(parse(stx("\x03" "00")), "");

    EXPECT_EQ(parse(stx("FWS\x03" "43")), "<none>");           // wrong sum
    EXPECT_EQ(parse(stx("WD bf305 128\x03" "1A")), "<none>");  // upper case digits
    EXPECT_EQ(parse("FWS\x03" "42"), "<none>");                // no STX
    EXPECT_EQ(parse(stx("FWS\x03" "4")), "<none>");            // a digit missing
    EXPECT_EQ(parse(stx("FWS\x03" "42x")), "<none>");          // a byte after the digits
    EXPECT_EQ(parse(stx("FWS")), "<none>");                    // ends before ETX
}

TEST(Frame, ParseLooksForEtxWithinHundredBytes) {
    std::string text99(99, 'A');  // 99 A's XOR to 'A'
    char sum[3];
    frameSum(text99.c_str(), sum);
    EXPECT_EQ(parse(stx(text99 + "\x03" + sum)), text99);

    std::string text100(100, 'A');
    frameSum(text100.c_str(), sum);
    EXPECT_EQ(parse(stx(text100 + "\x03" + sum)), "<none>");
    EXPECT_EQ(parse(stx(std::string(300, 'B'))), "<none>");
}
