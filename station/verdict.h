// What a slot's write came to, once its device's sum is checked: against the expected sum,
// or, without one, against the sum most slots of the run gave.
#pragma once

#include <string>
#include <vector>

enum class SlotResult { Ok, Failed, SumMismatch, SumUnreadable, Interrupted };

// ok, failed, sum-mismatch, sum-unreadable, interrupted
const char* slotResultName(SlotResult result);
bool parseSlotResult(const std::string& name, SlotResult& out);

// Exit statuses of a write, one port or many.
constexpr int kExitAllOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitSumsWrong = 3;  // every slot wrote its data; a sum is wrong or unreadable
constexpr int kExitInterrupted = 130;

struct SlotOutcome {
    SlotResult result = SlotResult::Failed;
    std::string sum;  // the device's sum as it answered; empty when none was read
};

// A sum as the operator may give it: 1 to 15 hexadecimal digits.
bool isHexSum(const std::string& text);
// Sums compare without regard to letter case.
bool sameSum(const std::string& a, const std::string& b);

// Slots that wrote their data (result Ok) and whose sum differs are marked SumMismatch:
// differing from `expected` when one is given; else, with more than one slot, differing from
// the sum the most slots gave (with a tie for the most, every slot that read a sum).
void applySumVerdicts(std::vector<SlotOutcome>& slots, const std::string& expected);

// 130 when any slot was interrupted, else 1 when any failed, else 3 when any sum is wrong or
// unreadable, else 0.
int exitStatusOf(const std::vector<SlotOutcome>& slots);
// What an exit status means, for the summary.
const char* exitStatusMeaning(int status);
