#include "writer/settings.h"

namespace {

// Written after each group of register writes: the device takes the group from there on.
constexpr const char* kCommitLine = "WD bf075 1";

std::string reg(const char* name, int value) {
    return std::string("WD ") + name + " " + std::to_string(value);
}

// The row's line, or nothing (empty) when it has none for these settings.
std::string registerLine(const SettingRow& row, const WriteSettings& s) {
    const bool on = row.member && s.*row.member;
    switch (row.form) {
        case RegisterForm::Bool: return reg(row.reg, on ? 1 : 0);
        case RegisterForm::NotBool: return reg(row.reg, on ? 0 : 1);
        case RegisterForm::LineSpeed: {
            const int value = lineSpeedValue(s.lineSpeed);
            return value < 0 ? std::string() : reg(s.rs422 ? row.altReg : row.reg, value);
        }
        case RegisterForm::Rotate:
        case RegisterForm::None: break;
    }
    return std::string();
}

// The register lines of the rows that go with the transfer (`transfer`) or without it.
std::vector<std::string> registerLines(const WriteSettings& s, bool transfer, bool withRotate) {
    std::vector<std::string> lines;
    for (const SettingRow& row : kSettingRows) {
        if (row.transferOnly != transfer) continue;
        if (row.form == RegisterForm::Rotate && withRotate)
            lines.push_back(s.*row.member ? "ROTATE 1" : "ROTATE 0");
        if (std::string line = registerLine(row, s); !line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace

int lineSpeedValue(int index) {
    static constexpr int kValues[] = {0, 64, 128, 192};
    return index >= 0 && index < kLineSpeedCount ? kValues[index] : -1;
}

int lineSpeedIndex(const std::string& text) {
    for (int i = 0; i < kLineSpeedCount; ++i)
        if (text == kLineSpeedTexts[i]) return i;
    return -1;
}

std::vector<std::vector<std::string>> serialSettingsGroups(const WriteSettings& s) {
    std::vector<std::vector<std::string>> groups;
    groups.push_back(registerLines(s, false, false));
    groups.back().push_back(kCommitLine);
    if (s.transferSettings) {
        groups.push_back(registerLines(s, true, false));
        groups.back().push_back(kCommitLine);
    }
    return groups;
}

std::vector<std::string> updateSettingsLines(const WriteSettings& s) {
    std::vector<std::string> lines = registerLines(s, false, true);
    if (s.transferSettings)
        for (std::string& line : registerLines(s, true, true)) lines.push_back(std::move(line));
    lines.push_back(kCommitLine);
    return lines;
}

std::vector<std::string> writeSettingsFlags(const WriteSettings& s) {
    std::vector<std::string> flags;
    for (const SettingRow& row : kSettingRows)
        if (row.member && (row.commands & kForWrite) && s.*row.member) flags.push_back(row.flag);
    // The default entry, 38400, is the flag's default too.
    if (s.lineSpeed >= 0 && s.lineSpeed < kDefaultLineSpeed)
        flags.insert(flags.end(), {settingRow(nullptr).flag, kLineSpeedTexts[s.lineSpeed]});
    return flags;
}

std::string writeSettingsOptions(const WriteSettings& s) {
    std::string out;
    for (const std::string& flag : writeSettingsFlags(s)) out += (out.empty() ? "" : " ") + flag;
    return out;
}
