#include "station/unit.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>
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

// Calls `record` with each whole record of the log (its line end included), read in blocks: a
// record ends at a line end outside quotes, i.e. after an even count of quotes. Stops when
// `record` returns false, or at a record longer than any of ours.
void forEachRecord(std::istream& in, const std::function<bool(std::string_view)>& record) {
    std::string buf(kLogReadBufSize, '\0'), pending;
    size_t quotes = 0;
    while (in.read(buf.data(), std::streamsize(buf.size())) || in.gcount() > 0) {
        std::string_view chunk(buf.data(), size_t(in.gcount()));
        while (!chunk.empty()) {
            const size_t nl = chunk.find('\n');
            const std::string_view piece =
                chunk.substr(0, nl == chunk.npos ? chunk.size() : nl + 1);
            chunk.remove_prefix(piece.size());
            for (const char* q = piece.data(); (q = static_cast<const char*>(std::memchr(
                                                    q, '"', piece.data() + piece.size() - q)));
                 ++q)
                ++quotes;
            if (nl == std::string_view::npos || quotes % 2 == 1) {
                pending.append(piece);
                if (pending.size() > kMaxLogFieldBytes) return;
                continue;
            }
            quotes = 0;
            bool more;
            if (pending.empty()) {
                more = record(piece);
            } else {
                pending.append(piece);
                more = record(pending);
                pending.clear();
            }
            if (!more) return;
        }
    }
}

// The record's fields (RFC 4180), its line end left out. Most records hold no quote: those are
// cut at their commas alone.
void splitRecord(std::string_view line, std::vector<std::string>& fields) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    fields.clear();
    if (line.find('"') == std::string_view::npos) {
        for (size_t from = 0;;) {
            const size_t comma = line.find(',', from);
            fields.emplace_back(line.substr(from, comma == line.npos ? line.npos : comma - from));
            if (comma == line.npos) return;
            from = comma + 1;
        }
    }
    fields.emplace_back();
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += c;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
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
    okRecords_.clear();
    okUnits_.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        return std::filesystem::exists(path, ec) ? kErrInvalidData : 0;
    }
    std::vector<std::string> fields, names;
    size_t unit = 0, result = 0, id = 0, reason = 0;
    bool header = true;
    const auto column = [&names](const char* name) {
        return size_t(std::find(names.begin(), names.end(), name) - names.begin());
    };
    const auto at = [&fields](size_t i) {
        return i < fields.size() ? unguarded(fields[i]) : std::string();
    };
    forEachRecord(in, [&](std::string_view line) {
        splitRecord(line, fields);
        if (header) {
            header = false;
            names = fields;
            if (!names.empty() && names[0].rfind(kUtf8Bom, 0) == 0) names[0].erase(0, 3);
            unit = column("unit"), result = column("result"), id = column("id"),
            reason = column("reason");
            return unit < names.size();
        }
        // A line torn by a crash is no record.
        if (fields.size() == names.size()) take(at(unit), at(result), at(id), at(reason));
        return true;
    });
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
    if (unit.empty() || result != "ok") return;
    okRecords_[id] = unit;
    ++okUnits_[unit];
}

bool UnitLedger::recordedOk(const std::string& unit) const {
    return okUnits_.count(unit) != 0;
}
