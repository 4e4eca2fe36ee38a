// The sum verdicts and exit statuses of a write, and the event stream's reading side.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/events.h"
#include "station/verdict.h"

namespace {

using R = SlotResult;

std::vector<R> verdicts(std::vector<SlotOutcome> slots, const std::string& expected) {
    applySumVerdicts(slots, expected);
    std::vector<R> out;
    for (const SlotOutcome& s : slots) out.push_back(s.result);
    return out;
}

TEST(SumVerdicts, ExpectedSumOrMajority) {
    const SlotOutcome a{R::Ok, "5A3C"}, aLower{R::Ok, "5a3c"}, b{R::Ok, "1111"},
        c{R::Ok, "2222"}, failed{R::Failed, ""}, unreadable{R::SumUnreadable, ""};
    struct Case {
        const char* name;
        std::vector<SlotOutcome> slots;
        std::string expected;
        std::vector<R> want;
    } cases[] = {
        {"one slot, no expectation", {b}, "", {R::Ok}},
        {"expected, any letter case", {aLower}, "5A3C", {R::Ok}},
        {"expected, differing", {b}, "5A3C", {R::SumMismatch}},
        {"unreadable stays unreadable", {unreadable}, "5A3C", {R::SumUnreadable}},
        {"majority", {a, aLower, b}, "", {R::Ok, R::Ok, R::SumMismatch}},
        {"failed slots have no vote", {a, failed, failed, b, a}, "",
         {R::Ok, R::Failed, R::Failed, R::SumMismatch, R::Ok}},
        {"a tie marks every sum", {a, b}, "", {R::SumMismatch, R::SumMismatch}},
        {"a tie for the most", {a, a, b, b, c}, "",
         {R::SumMismatch, R::SumMismatch, R::SumMismatch, R::SumMismatch, R::SumMismatch}},
        {"expectation beats majority", {b, b, a}, "5a3c", {R::SumMismatch, R::SumMismatch, R::Ok}},
        {"all agree", {a, a, a, unreadable}, "", {R::Ok, R::Ok, R::Ok, R::SumUnreadable}},
    };
    for (const Case& c : cases) EXPECT_EQ(verdicts(c.slots, c.expected), c.want) << c.name;
}

TEST(SumVerdicts, ExitStatusOrder) {
    auto status = [](std::vector<R> results) {
        std::vector<SlotOutcome> slots;
        for (R r : results) slots.push_back({r, ""});
        return exitStatusOf(slots);
    };
    EXPECT_EQ(status({R::Ok, R::Ok}), 0);
    EXPECT_EQ(status({R::Ok, R::SumUnreadable}), 3);
    EXPECT_EQ(status({R::SumMismatch, R::Ok}), 3);
    EXPECT_EQ(status({R::SumMismatch, R::Failed}), 1);
    EXPECT_EQ(status({R::Failed, R::Interrupted, R::Ok}), 130);
}

TEST(SumVerdicts, HexSums) {
    for (const char* good : {"0", "5a3C", "FFFFFFFFFFFFFFF"}) EXPECT_TRUE(isHexSum(good)) << good;
    for (const char* bad : {"", "5G", "0x12", " 12", "FFFFFFFFFFFFFFFF"})
        EXPECT_FALSE(isHexSum(bad)) << bad;
}

TEST(EventStream, LinesAcrossPiecesAndOverlongOnesDropped) {
    LineSplitter split;
    std::vector<std::string> lines;
    auto take = [&lines](const std::string& l) { lines.push_back(l); };
    const std::string stream = "{\"event\":\"a\"}\r\n{\"event\":\"b\"}\n\n";
    for (char c : stream) split.feed(&c, 1, take);
    const std::string huge(kMaxEventLine + 1, 'x');
    split.feed(huge.data(), huge.size(), take);
    split.feed("tail\nnext\n", 10, take);
    EXPECT_EQ(lines, (std::vector<std::string>{"{\"event\":\"a\"}", "{\"event\":\"b\"}", "", "next"}));
}

TEST(EventStream, EndEventsRoundTripAndBadLinesAreNoEvents) {
    EndInfo end{R::SumMismatch,       3,    61.2345, "sb", "sum 1111, expected 5A3C",
                std::string(64, 'e'), 21467};
    EndInfo back;
    ASSERT_TRUE(readEndInfo(*parseEvent(endEvent("COM3", end).dump()), back));
    EXPECT_EQ(back.result, R::SumMismatch);
    EXPECT_EQ(back.exit, 3);
    EXPECT_DOUBLE_EQ(back.seconds, 61.235);
    EXPECT_EQ(back.reason, end.reason);
    EXPECT_EQ(back.dataSha256, end.dataSha256);
    EXPECT_EQ(back.dataBytes, 21467u);
    // The end of a child that tells no data digest (an older one, or one that stopped short of
    // the file's end) still reads, without one.
    ASSERT_TRUE(readEndInfo(
        *parseEvent("{\"event\":\"end\",\"result\":\"ok\",\"exit\":0,\"seconds\":1}"), back));
    EXPECT_EQ(back.dataSha256, "");
    EXPECT_EQ(back.dataBytes, 0u);
    for (const char* bad : {"", "[]", "{\"event\":3}", "{\"port\":\"COM1\"}", "{\"event\":\"x\""})
        EXPECT_FALSE(parseEvent(bad)) << bad;
    EXPECT_FALSE(readEndInfo(*parseEvent("{\"event\":\"end\",\"result\":\"great\",\"exit\":0,"
                                         "\"seconds\":1}"),
                             back));
    EXPECT_TRUE(sumEvent("COM1", "")["sum"].is_null());
}

}  // namespace
