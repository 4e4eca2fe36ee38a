#include "station/verdict.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace {

constexpr size_t kMaxSumDigits = 15;  // what fits the device's sum reply

const char* const kResultNames[] = {"ok", "failed", "sum-mismatch", "sum-unreadable",
                                    "interrupted"};

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The sum most slots gave; empty when there is a tie for the most.
std::string majoritySum(const std::vector<SlotOutcome>& slots) {
    std::map<std::string, int> counts;
    for (const SlotOutcome& s : slots)
        if (s.result == SlotResult::Ok) ++counts[upper(s.sum)];
    std::string best;
    int bestCount = 0;
    bool tie = false;
    for (const auto& [sum, n] : counts) {
        if (n > bestCount) {
            best = sum;
            bestCount = n;
            tie = false;
        } else if (n == bestCount) {
            tie = true;
        }
    }
    return tie ? std::string() : best;
}

}  // namespace

const char* slotResultName(SlotResult result) { return kResultNames[int(result)]; }

bool parseSlotResult(const std::string& name, SlotResult& out) {
    for (int i = 0; i < int(std::size(kResultNames)); ++i) {
        if (name == kResultNames[i]) {
            out = SlotResult(i);
            return true;
        }
    }
    return false;
}

bool isHexSum(const std::string& text) {
    return !text.empty() && text.size() <= kMaxSumDigits &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool sameSum(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

void applySumVerdicts(std::vector<SlotOutcome>& slots, const std::string& expected) {
    std::string reference = expected;
    if (reference.empty()) {
        if (slots.size() < 2) return;
        reference = majoritySum(slots);
    }
    // With a tie nothing matches the empty reference: every slot that read a sum is suspect.
    for (SlotOutcome& s : slots)
        if (s.result == SlotResult::Ok && !sameSum(s.sum, reference))
            s.result = SlotResult::SumMismatch;
}

int exitStatusOf(const std::vector<SlotOutcome>& slots) {
    auto any = [&slots](auto pred) { return std::any_of(slots.begin(), slots.end(), pred); };
    if (any([](const SlotOutcome& s) { return s.result == SlotResult::Interrupted; }))
        return kExitInterrupted;
    if (any([](const SlotOutcome& s) { return s.result == SlotResult::Failed; }))
        return kExitSomeFailed;
    if (any([](const SlotOutcome& s) { return s.result != SlotResult::Ok; })) return kExitSumsWrong;
    return kExitAllOk;
}

const char* exitStatusMeaning(int status) {
    switch (status) {
        case kExitAllOk: return "every device written and its sum verified";
        case kExitSomeFailed: return "a write failed";
        case kExitSumsWrong: return "every device written, but a sum is wrong or unreadable";
        case kExitInterrupted: return "interrupted";
    }
    return "";
}
