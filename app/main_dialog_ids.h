// The main dialog's control ids, shared by its template, its procedure and the tests that
// drive it.
#pragma once

// Control ids of the main dialog.
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
    IDC_VERTICAL = 1041,
    IDC_STARTUP_CHECK = 1042,
    IDC_KEEP_SRAM = 1043,
    IDC_LATIN = 1044,
    IDC_RS422 = 1045,
    IDC_LINE_SPEED = 1046,
    IDC_RESPONSE_CHECK = 1047,
    IDC_DATA_PATH = 1050,
    IDC_FLOW_CONTROL = 1058,
    IDC_TRANSFER_SETTINGS = 1059,
    IDC_SKIP_BITMAPS = 1060,
    IDC_EXPORT = 1061,
    IDC_LINE_SPEED_LABEL = 1062,
    IDC_INVERT = 1063,
    IDC_TRANSFER_GAIJI = 1064,
    IDC_GAIJI_FILE = 1065,
    IDC_GAIJI_PATH = 1066,
};
