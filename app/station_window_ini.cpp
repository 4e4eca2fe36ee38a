#include "app/station_window_ini.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "app/station_window.h"
#include "platform/files.h"
#include "station/station_run.h"

namespace {

// STATION.INI is a few hundred bytes; anything past this is not ours and is not read.
constexpr size_t kMaxIniBytes = 64 * 1024;
constexpr size_t kReadBlock = 4096;
// The digits of the numbers STATION.INI holds: a longer value is refused before it is converted.
constexpr size_t kSlotsDigits = 2;     // up to 16
constexpr size_t kRetriesDigits = 1;   // up to kMaxRetries
constexpr size_t kDebounceDigits = 5;  // up to 60000 ms
constexpr std::string_view kAutoSuffix = ".auto";

bool parseFlag(const std::string& v, bool& out) {
    if (v != "0" && v != "1") return false;
    out = v == "1";
    return true;
}

// A whole number of at most `digits` plain digits from `low` to `high`; `out` is left as it was
// otherwise.
bool parseWhole(const std::string& v, size_t digits, int low, int high, int& out) {
    if (v.empty() || v.size() > digits ||
        !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int n = std::stoi(v);
    if (n < low || n > high) return false;
    out = n;
    return true;
}

// "slotN.name" / "slotN.port": N from 1 to 16.
bool parseSlotKey(const std::string& key, int& index, std::string& part) {
    if (key.rfind("slot", 0) != 0) return false;
    const size_t dot = key.find('.');
    if (dot == std::string::npos || dot == 4 || dot > 6) return false;
    part = key.substr(dot + 1);
    return parseWhole(key.substr(4, dot - 4), kSlotsDigits, 1, kMaxStationSlots, index) &&
           (part == "name" || part == "port");
}

// The auto mode's keys, slotN.auto and debounce: true when `key` is one of them, with `valid`
// telling whether its value was taken.
bool applyAutoKey(StationConfig& c, std::vector<StationSlotConfig>& slots, const std::string& key,
                  const std::string& value, bool& valid) {
    if (key == "debounce") {
        valid = parseWhole(value, kDebounceDigits, 0, int(kMaxDebounce.count()), c.debounceMs);
        return true;
    }
    const size_t suffix = key.size() - std::min(key.size(), kAutoSuffix.size());
    if (key.compare(suffix, std::string::npos, kAutoSuffix) != 0) return false;
    int index = 0;
    std::string part;
    // The slot's number as the other slot keys take it.
    valid = parseSlotKey(key.substr(0, suffix) + ".name", index, part) &&
            parseFlag(value, slots[size_t(index - 1)].autoMode);
    return true;
}

void putAutoKeys(const StationConfig& c, std::string& out) {
    out += "debounce=" + std::to_string(c.debounceMs) + "\r\n";
    for (size_t i = 0; i < c.slots.size(); ++i)
        out += "slot" + std::to_string(i + 1) + std::string(kAutoSuffix) + "=" +
               (c.slots[i].autoMode ? "1" : "0") + "\r\n";
}

// Applies one "key=value"; false when the key is unknown or the value is not valid for it.
bool applyKey(StationConfig& c, std::vector<StationSlotConfig>& slots, int& count,
              const std::string& key, const std::string& value) {
    for (const SettingRow& row : kSettingRows) {
        if (!row.iniKey || key != row.iniKey) continue;
        if (row.member) return parseFlag(value, c.settings.*row.member);
        const int speed = lineSpeedIndex(value);
        return speed >= 0 && (c.settings.lineSpeed = speed, true);
    }
    if (key == "slots") return parseWhole(value, kSlotsDigits, 1, kMaxStationSlots, count);
    if (key == "data") return c.data = value, true;
    if (key == "expect-sum") return c.expectSum = value, true;
    if (key == "first-sum") return parseFlag(value, c.firstSum);
    if (key == "log") return c.log = value, true;
    if (key == "locked") return parseFlag(value, c.locked);
    if (key == "retries") return parseWhole(value, kRetriesDigits, 0, kMaxRetries, c.retries);
    if (key == "retry-sum") return parseFlag(value, c.retrySum);
    if (key == "line") return c.line = value, true;
    if (key == "line-token-file") return c.lineTokenFile = value, true;
    if (key == "unit") {
        if (value != "required" && value != "optional") return false;
        c.unitRequired = value == "required";
        return true;
    }
    // Checked at the window's start, where a pattern that is no pattern is told in a box.
    if (key == "unit-pattern") return c.unitPattern = value, true;
    if (bool valid = false; applyAutoKey(c, slots, key, value, valid)) return valid;
    int index = 0;
    std::string part;
    if (!parseSlotKey(key, index, part)) return false;
    StationSlotConfig& s = slots[size_t(index - 1)];
    (part == "name" ? s.name : s.port) = value;
    return true;
}

// A value with a line break would end its line early: the rest would be read as a line of its
// own, or, with a lone CR, be taken by other readers for a line end.
bool holdsLineBreak(const StationConfig& c) {
    std::vector<const std::string*> values{&c.data, &c.expectSum, &c.log, &c.unitPattern};
    for (const StationSlotConfig& slot : c.slots)
        values.insert(values.end(), {&slot.name, &slot.port});
    return std::any_of(values.begin(), values.end(), [](const std::string* v) {
        return v->find_first_of("\r\n") != std::string::npos;
    });
}

}  // namespace

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

StationConfig defaultStationConfig(int slots) {
    StationConfig c;
    for (int i = 1; i <= slots; ++i)
        c.slots.push_back({"治具" + std::to_string(i), "COM" + std::to_string(i)});
    return c;
}

StationConfig parseStationIni(const std::string& text, std::vector<std::string>& malformed) {
    StationConfig c = defaultStationConfig(kMaxStationSlots);
    std::vector<StationSlotConfig> slots = c.slots;
    int count = kDefaultStationSlots;
    size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a BOM
        if (trimmed(line).empty() || line[0] == '#' || line[0] == ';') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos ||
            !applyKey(c, slots, count, trimmed(line.substr(0, eq)), trimmed(line.substr(eq + 1))))
            malformed.push_back("line " + std::to_string(number) + ": " + line);
    }
    c.slots.assign(slots.begin(), slots.begin() + count);
    return c;
}

std::string formatStationIni(const StationConfig& c) {
    std::string out;
    auto put = [&out](const std::string& key, const std::string& value) {
        out += key + "=" + value + "\r\n";
    };
    put("slots", std::to_string(c.slots.size()));
    for (size_t i = 0; i < c.slots.size(); ++i) {
        const std::string prefix = "slot" + std::to_string(i + 1);
        put(prefix + ".name", c.slots[i].name);
        put(prefix + ".port", c.slots[i].port);
    }
    put("data", c.data);
    for (const SettingRow& row : kSettingRows)
        if (row.iniKey && row.member) put(row.iniKey, c.settings.*row.member ? "1" : "0");
    const SettingRow& speed = settingRow(nullptr);
    put(speed.iniKey, kLineSpeedTexts[std::clamp(c.settings.lineSpeed, 0, kLineSpeedCount - 1)]);
    put("expect-sum", c.expectSum);
    put("first-sum", c.firstSum ? "1" : "0");
    put("log", c.log);
    put("locked", c.locked ? "1" : "0");
    put("retries", std::to_string(c.retries));
    put("retry-sum", c.retrySum ? "1" : "0");
    if (!c.line.empty()) put("line", c.line);
    if (!c.lineTokenFile.empty()) put("line-token-file", c.lineTokenFile);
    if (c.unitRequired) put("unit", "required");
    if (!c.unitPattern.empty()) put("unit-pattern", c.unitPattern);
    putAutoKeys(c, out);
    return out;
}

bool readStationIni(const std::string& path, StationConfig& config,
                    std::vector<std::string>& malformed, int& err) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        config = defaultStationConfig();
        return true;
    }
    InputFile in;
    if ((err = in.open(path)) != 0) return false;
    std::string text;
    char buf[kReadBlock];
    long long n;
    while (text.size() < kMaxIniBytes && (n = in.read(buf, sizeof buf)) > 0)
        text.append(buf, size_t(n));
    if (in.error() != 0) return err = in.error(), false;
    if (text.size() > kMaxIniBytes) text.resize(kMaxIniBytes);
    config = parseStationIni(text, malformed);
    return true;
}

int writeStationIni(const std::string& path, const StationConfig& config) {
    if (holdsLineBreak(config)) return kErrInvalidData;
    ReplacementFile out;
    if (const int err = out.open(path); err != 0) return err;
    const std::string text = formatStationIni(config);
    if (const int err = out.write(text.data(), text.size()); err != 0) return err;
    return out.commit();
}
