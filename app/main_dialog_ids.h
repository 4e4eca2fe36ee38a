// The main dialog's control ids, shared by its template, its procedure and the tests that
// drive it.
#pragma once

#include "writer/settings.h"

// Control ids of the main dialog; those of the settings come from the settings table.
enum MainDialogId : int {
    IDC_EXIT = 8,
    IDC_START = 1003,
    IDC_ABOUT = 1008,
    IDC_PROGRESS = 1009,
    IDC_V2 = 1026,
    IDC_MODEL_LABEL = 1028,
    IDC_V3 = 1029,
    IDC_STATUS = 1030,
    IDC_KLT103 = 1031,
    IDC_PORT_SETTINGS = 1038,
    IDC_DATA_FILE = 1039,
    IDC_NOT_USED = 1040,
    IDC_VERTICAL = settingRow(&WriteSettings::vertical).controlId,
    IDC_STARTUP_CHECK = settingRow(&WriteSettings::startupCheck).controlId,
    IDC_KEEP_SRAM = settingRow(&WriteSettings::keepSram).controlId,
    IDC_LATIN = settingRow(&WriteSettings::latin).controlId,
    IDC_RS422 = settingRow(&WriteSettings::rs422).controlId,
    IDC_LINE_SPEED = settingRow(nullptr).controlId,
    IDC_RESPONSE_CHECK = settingRow(&WriteSettings::responseCheck).controlId,
    IDC_DATA_PATH = 1050,
    IDC_FLOW_CONTROL = settingRow(&WriteSettings::flowControl).controlId,
    IDC_TRANSFER_SETTINGS = settingRow(&WriteSettings::transferSettings).controlId,
    IDC_SKIP_BITMAPS = settingRow(&WriteSettings::skipBitmaps).controlId,
    IDC_EXPORT = 1061,
    IDC_LINE_SPEED_LABEL = 1062,
    IDC_INVERT = settingRow(&WriteSettings::invert).controlId,
    IDC_TRANSFER_GAIJI = settingRow(&WriteSettings::transferGaiji).controlId,
    IDC_GAIJI_FILE = 1065,
    IDC_GAIJI_PATH = 1066,
};
