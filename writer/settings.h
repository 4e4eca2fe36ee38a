// The device settings of a write or an export, as one value, and the one table that says for
// each setting how the device, the command line, STATION.INI and the dialogs name it. Every
// place that turns settings into something else (register lines, update file lines, flags,
// INI keys, check boxes) walks this table, so a setting is added or changed here alone.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// The Line speed list's items, and the one selected at first.
inline constexpr const char* kLineSpeedTexts[] = {"4800", "9600", "19200", "38400"};
inline constexpr int kLineSpeedCount = 4;
inline constexpr int kDefaultLineSpeed = 3;

struct WriteSettings {
    bool vertical = false;
    bool invert = false;  // the export only: the update file's ROTATE line
    bool transferSettings = false;
    bool startupCheck = false;
    bool keepSram = false;
    bool latin = false;
    bool rs422 = false;
    // Index into kLineSpeedTexts; -1 (nothing selected) sends no speed and the device keeps
    // the one it has.
    int lineSpeed = kDefaultLineSpeed;
    bool responseCheck = false;
    bool flowControl = false;
    bool skipBitmaps = false;    // the serial write only: the page part alone is sent
    bool transferGaiji = false;  // the export only: v3gaiji.dat beside the update file

    bool operator==(const WriteSettings&) const = default;
};

// How a row's register value is formed from its member.
enum class RegisterForm {
    None,       // no register of its own (it steers the others or the job)
    Bool,       // 1 when on, 0 when off
    NotBool,    // 0 when on, 1 when off
    LineSpeed,  // the speed's value (0, 64, 128, 192) into `reg`, or `altReg` with RS-422
    Rotate,     // the update file's "ROTATE 1" / "ROTATE 0" line; nothing on the serial line
};

// Which commands take the setting's flag.
enum SettingCommands : unsigned { kForWrite = 1, kForExport = 2, kForBoth = 3 };

struct SettingRow {
    bool WriteSettings::*member;  // nullptr for the Line speed (WriteSettings::lineSpeed)
    const char* flag;             // the command-line flag, "--vertical"
    const char* iniKey;           // the STATION.INI key; nullptr where the station has none
    int controlId;                // the control of the main dialog (and the station window)
    const char* reg;              // the device register, nullptr for none
    const char* altReg;           // LineSpeed: the register used with RS-422
    RegisterForm form;
    bool transferOnly;  // sent only with the settings transfer (設定転送) on
    unsigned commands;
    const char* help;
};

// The rows in the order the register lines go out; the flags and INI keys keep it too, the
// Line speed after the boxes.
inline constexpr std::array<SettingRow, 12> kSettingRows{{
    {&WriteSettings::vertical, "--vertical", "vertical", 1041, "bf07b", nullptr,
     RegisterForm::Bool, false, kForBoth, "Vertical display"},
    {&WriteSettings::invert, "--invert", nullptr, 1063, nullptr, nullptr, RegisterForm::Rotate,
     false, kForExport, "Invert display"},
    {&WriteSettings::transferSettings, "--transfer-settings", "transfer-settings", 1059, nullptr,
     nullptr, RegisterForm::None, false, kForBoth, "Transfer settings"},
    {&WriteSettings::startupCheck, "--startup-check", "startup-check", 1042, "bf07a", nullptr,
     RegisterForm::Bool, true, kForBoth, "Startup check"},
    {&WriteSettings::keepSram, "--keep-sram", nullptr, 1043, "bf07c", nullptr,
     RegisterForm::NotBool, true, kForBoth, "Keep SRAM"},
    {&WriteSettings::latin, "--latin", "latin", 1044, "bf078", nullptr, RegisterForm::Bool, true,
     kForBoth, "Latin language mode"},
    {&WriteSettings::rs422, "--rs422", nullptr, 1045, "bf303", nullptr, RegisterForm::Bool, true,
     kForBoth, "Main port RS-422"},
    {nullptr, "--speed", "line-speed", 1046, "bf304", "bf305", RegisterForm::LineSpeed, true,
     kForBoth, "Line speed of the device's main port"},
    {&WriteSettings::responseCheck, "--response-check", "response-check", 1047, "bf306", nullptr,
     RegisterForm::Bool, true, kForBoth, "Response check"},
    {&WriteSettings::flowControl, "--flow-control", "flow-control", 1058, "bf307", nullptr,
     RegisterForm::Bool, true, kForBoth, "Hardware flow control"},
    {&WriteSettings::skipBitmaps, "--skip-bitmaps", "skip-bitmaps", 1060, nullptr, nullptr,
     RegisterForm::None, false, kForWrite, "Skip bitmaps: send only the page part"},
    {&WriteSettings::transferGaiji, "--transfer-gaiji", nullptr, 1064, nullptr, nullptr,
     RegisterForm::None, false, kForExport, "Copy the external character file as v3gaiji.dat"},
}};

// The row of a member (or of the Line speed, for nullptr); a compile-time lookup, so that a
// control id can be taken from the table.
constexpr const SettingRow& settingRow(bool WriteSettings::*member) {
    for (const SettingRow& row : kSettingRows)
        if (row.member == member) return row;
    return kSettingRows[0];  // not reached for a member of the table
}

// The register value of a Line speed index: 0, 64, 128, 192; -1 for no selection.
int lineSpeedValue(int index);
// The Line speed index of a speed in bit/s ("9600" -> 1); -1 when it is none of the list's.
int lineSpeedIndex(const std::string& text);

// The register writes of the serial job, in groups: after each group the job pauses, then
// sends the next; "UC" follows the last. The group of the settings transfer is there only
// when it is on.
std::vector<std::vector<std::string>> serialSettingsGroups(const WriteSettings& s);

// The settings lines of the update file, without line ends.
std::vector<std::string> updateSettingsLines(const WriteSettings& s);

// The settings as zemtabulo-cli write's flags: every box that is on, then "--speed N" unless
// the speed is the default. The job of a slot is given these; the log records them.
std::vector<std::string> writeSettingsFlags(const WriteSettings& s);
// The same, space separated.
std::string writeSettingsOptions(const WriteSettings& s);
