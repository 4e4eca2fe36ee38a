// zt_control_ids OUTPUT: writes the dialogs' ids as shell assignments (NAME=ID, one a line) for
// the Wine scripts (tools/wine/), which find controls by id from outside the programs. The values
// are the compiled headers' own, so an id made by any constant expression comes out as the
// programs see it; the names are the enumerators'. The station's rows are numbered from 1, as
// STATION.INI numbers them: IDC_SLOT1_RESULT is slotControlId(0, kSlotResult).
#include <cstdio>
#include <string>

#include "app/main_dialog_ids.h"
#include "app/station_window.h"
#include "app/templates.h"

namespace {

struct NamedId {
    const char* name;
    int id;
};
#define ZT_ID(name) \
    NamedId {       \
#name, name \
    }

constexpr NamedId kIds[] = {
    // DialogId, and the station window's
    ZT_ID(IDD_MAIN),
    ZT_ID(IDD_ABOUT),
    ZT_ID(IDD_PORT_SETTINGS),
    ZT_ID(IDD_STATION),
    // MainDialogId
    ZT_ID(IDC_EXIT),
    ZT_ID(IDC_START),
    ZT_ID(IDC_ABOUT),
    ZT_ID(IDC_PROGRESS),
    ZT_ID(IDC_V2),
    ZT_ID(IDC_MODEL_LABEL),
    ZT_ID(IDC_V3),
    ZT_ID(IDC_STATUS),
    ZT_ID(IDC_KLT103),
    ZT_ID(IDC_PORT_SETTINGS),
    ZT_ID(IDC_DATA_FILE),
    ZT_ID(IDC_NOT_USED),
    ZT_ID(IDC_VERTICAL),
    ZT_ID(IDC_STARTUP_CHECK),
    ZT_ID(IDC_KEEP_SRAM),
    ZT_ID(IDC_LATIN),
    ZT_ID(IDC_RS422),
    ZT_ID(IDC_LINE_SPEED),
    ZT_ID(IDC_RESPONSE_CHECK),
    ZT_ID(IDC_DATA_PATH),
    ZT_ID(IDC_FLOW_CONTROL),
    ZT_ID(IDC_TRANSFER_SETTINGS),
    ZT_ID(IDC_SKIP_BITMAPS),
    ZT_ID(IDC_EXPORT),
    ZT_ID(IDC_LINE_SPEED_LABEL),
    ZT_ID(IDC_INVERT),
    ZT_ID(IDC_TRANSFER_GAIJI),
    ZT_ID(IDC_GAIJI_FILE),
    ZT_ID(IDC_GAIJI_PATH),
    // SmallDialogId
    ZT_ID(IDC_OK),
    ZT_ID(IDC_CANCEL),
    ZT_ID(IDC_PORT_LIST),
    ZT_ID(IDC_ABOUT_LOGO),
    ZT_ID(IDC_ABOUT_NOTE),
    // StationControlId (the rows' ids follow, whole)
    ZT_ID(IDC_ST_EXIT),
    ZT_ID(IDC_ST_START_ALL),
    ZT_ID(IDC_ST_DATA_FILE),
    ZT_ID(IDC_ST_DATA_PATH),
    ZT_ID(IDC_ST_EXPECT_LABEL),
    ZT_ID(IDC_ST_EXPECT),
    ZT_ID(IDC_ST_FIRST_SUM),
    ZT_ID(IDC_ST_LOG_LABEL),
    ZT_ID(IDC_ST_LOG),
    ZT_ID(IDC_ST_LINE_STATUS),
};

struct NamedPart {
    const char* name;
    SlotPart part;
};
// The parts that are controls (kSlotEvent is a command, not a window).
constexpr NamedPart kSlotParts[] = {
    {"NAME", kSlotName},         {"PORT", kSlotPort},     {"STATUS", kSlotStatus},
    {"PROGRESS", kSlotProgress}, {"RESULT", kSlotResult}, {"START", kSlotStart},
    {"UNIT", kSlotUnit},
    {"AUTO", kSlotAuto},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zt_control_ids OUTPUT\n");
        return 2;
    }
    std::string text = "# The dialogs' ids, written by zt_control_ids from the headers in app/.\n";
    for (const NamedId& n : kIds) text += std::string(n.name) + "=" + std::to_string(n.id) + "\n";
    for (int slot = 0; slot < kMaxStationSlots; ++slot)
        for (const NamedPart& p : kSlotParts)
            text += "IDC_SLOT" + std::to_string(slot + 1) + "_" + p.name + "=" +
                    std::to_string(slotControlId(slot, p.part)) + "\n";
    // A failed write leaves no file behind, which the next build would take as made.
    std::FILE* f = std::fopen(argv[1], "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::perror(argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
