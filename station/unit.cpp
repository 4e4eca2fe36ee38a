#include "station/unit.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/files.h"
#include "station/log_reader.h"
#include "station/station_run.h"

namespace {

// A field as its readers take it: one guarding apostrophe removed.
std::string unguarded(const std::string& field) {
    return !field.empty() && field[0] == '\'' ? field.substr(1) : field;
}

// The id a correcting record's reason names, or "" (correctsText).
std::string correctedId(const std::string& reason) {
    const std::string mark = correctsText("");
    const size_t at = reason.rfind(mark.substr(0, mark.size() - 1));
    if (at == std::string::npos || reason.empty() || reason.back() != ')') return "";
    const size_t from = at + mark.size() - 1;
    return reason.substr(from, reason.size() - 1 - from);
}

}  // namespace

std::string compileUnitPattern(const std::string& text, UnitPattern& out) {
    out = UnitPattern{text, nullptr};
    if (text.empty()) return "";
    try {
        out.re = std::make_shared<const std::regex>(text, std::regex::ECMAScript);
    } catch (const std::regex_error& e) {
        return "unit pattern " + text + " is no regular expression (" + e.what() + ")";
    }
    return "";
}

UnitVerdict checkUnit(const std::string& id, bool required, const UnitPattern& pattern,
                      bool recordedOk) {
    if (id.empty()) return required ? UnitVerdict::Missing : UnitVerdict::Ok;
    const bool usable =
        id.size() <= kMaxUnitIdSize &&
        std::all_of(id.begin(), id.end(), [](char c) { return c > ' ' && c <= '~'; });
    if (!usable) return UnitVerdict::Unusable;
    // A pattern that backtracks without end on an id throws rather than hangs: no match.
    try {
        if (pattern.re && !std::regex_match(id, *pattern.re)) return UnitVerdict::NoMatch;
    } catch (const std::regex_error&) {
        return UnitVerdict::NoMatch;
    }
    return recordedOk ? UnitVerdict::RecordedOk : UnitVerdict::Ok;
}

std::string unitRefusal(UnitVerdict verdict, const std::string& id, const UnitPattern& pattern) {
    switch (verdict) {
        case UnitVerdict::Ok:
            return "";
        case UnitVerdict::Missing:
            return "no unit id (the run requires one for each port)";
        case UnitVerdict::Unusable:
            return "unit id " + id + " is not 1 to " + std::to_string(kMaxUnitIdSize) +
                   " printable ASCII characters without blanks";
        case UnitVerdict::NoMatch:
            return "unit id " + id + " does not match the unit pattern " + pattern.text;
        case UnitVerdict::RecordedOk:
            return "unit " + id + " is recorded ok in the log already; writing it again is a " +
                   "rework, which --rework confirms";
    }
    return "";
}

std::string reworkReason(const std::string& reason) {
    return reason.empty() ? kReworkReason : std::string(kReworkReason) + "; " + reason;
}

int UnitLedger::read(const std::string& path) {
    path_ = path;
    offset_ = 0;
    columns_ = {};
    okRecords_.clear();
    okUnits_.clear();
    return catchUp();
}

int UnitLedger::catchUp() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        std::error_code ec;
        return std::filesystem::exists(path_, ec) ? kErrInvalidData : 0;
    }
    in.seekg(0, std::ios::end);
    // A log cut shorter (a shorter file put in its place among them) is read again from its start.
    if (uint64_t(std::streamoff(in.tellg())) < offset_) return read(path_);
    RecordReader reader(in, offset_);
    RawRecord r;
    while (reader.next(r)) {
        offset_ = r.end;
        if (!columns_.read) {
            columns_.read = true;
            std::vector<std::string>& names = r.fields;
            if (!names.empty()) dropUtf8Bom(names[0]);
            const auto column = [&names](const char* name) {
                return size_t(std::find(names.begin(), names.end(), name) - names.begin());
            };
            columns_ = {true,         names.size(),    column("unit"), column("result"),
                        column("id"), column("reason")};
            continue;
        }
        // A log without units holds no unit; a line torn by a crash is no record.
        if (columns_.unit >= columns_.count || r.fields.size() != columns_.count) continue;
        const auto at = [&r](size_t i) {
            return i < r.fields.size() ? unguarded(r.fields[i]) : std::string();
        };
        take(at(columns_.unit), at(columns_.result), at(columns_.id), at(columns_.reason));
    }
    return 0;
}

void UnitLedger::note(const LogRecord& r) {
    take(r.unit, r.result, r.id, r.reason);
}

void UnitLedger::take(const std::string& unit, const std::string& result, const std::string& id,
                      const std::string& reason) {
    if (const std::string corrected = correctedId(reason); !corrected.empty()) {
        if (const auto it = okRecords_.find(corrected); it != okRecords_.end()) {
            if (--okUnits_[it->second] == 0) okUnits_.erase(it->second);
            okRecords_.erase(it);
        }
    }
    // Its own records come twice: noted as written, then read back with the others'.
    if (unit.empty() || result != "ok" || (!id.empty() && okRecords_.count(id))) return;
    okRecords_[id] = unit;
    ++okUnits_[unit];
}

bool UnitLedger::recordedOk(const std::string& unit) const {
    return okUnits_.count(unit) != 0;
}
