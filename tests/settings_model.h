// The settings lines of the update file for every setting of the dialog's options, written
// apart from the export, for the export tests and the update file fuzz target alike.
#pragma once

#include <iterator>
#include <string>

#include "app/main_dialog_ids.h"
#include "platform/ui.h"

// Bit i of an options word checks box i; bits 12 to 14 hold the Line speed entry plus one.
inline constexpr int kOptionBoxes[] = {IDC_VERTICAL,      IDC_INVERT,         IDC_TRANSFER_SETTINGS,
                                       IDC_STARTUP_CHECK, IDC_KEEP_SRAM,      IDC_LATIN,
                                       IDC_RS422,         IDC_RESPONSE_CHECK, IDC_FLOW_CONTROL};
inline constexpr unsigned kTransferBit = 2, kSpeedShift = 12;

inline void setOptions(Window dlg, unsigned options) {
    for (size_t i = 0; i < std::size(kOptionBoxes); ++i)
        setButtonState(dlg, kOptionBoxes[i], options >> i & 1 ? kChecked : kUnchecked);
    comboSetSel(dlgItem(dlg, IDC_LINE_SPEED), int(options >> kSpeedShift & 7) - 1);  // -1 .. 6
}

// The lines in their order, each with CR LF: the option bit, the line with the bit clear and
// set, whether it goes only with the settings transfer, and whether the Line speed's value
// follows (no line without one).
inline std::string settingsModel(unsigned options) {
    static const struct {
        unsigned bit;
        const char *off, *on;
        bool transfer, speed;
    } rows[] = {
        {0, "WD bf07b 0", "WD bf07b 1", false, false},
        {1, "ROTATE 0", "ROTATE 1", false, false},
        {3, "WD bf07a 0", "WD bf07a 1", true, false},
        {4, "WD bf07c 1", "WD bf07c 0", true, false},
        {5, "WD bf078 0", "WD bf078 1", true, false},
        {6, "WD bf303 0", "WD bf303 1", true, false},
        {6, "WD bf304 ", "WD bf305 ", true, true},
        {7, "WD bf306 0", "WD bf306 1", true, false},
        {8, "WD bf307 0", "WD bf307 1", true, false},
        {0, "WD bf075 1", "WD bf075 1", false, false},
    };
    // The speed value for each Line speed entry plus one: none for no entry or past the list.
    static const char* const speeds[] = {nullptr, "0",     "64",    "128",
                                         "192",   nullptr, nullptr, nullptr};
    const char* speed = speeds[options >> kSpeedShift & 7];
    std::string out;
    for (const auto& row : rows) {
        if ((row.transfer && !(options >> kTransferBit & 1)) || (row.speed && !speed)) continue;
        out += std::string(options >> row.bit & 1 ? row.on : row.off) + (row.speed ? speed : "");
        out += "\r\n";
    }
    return out;
}
