#include "app/templates.h"

#include "app/main_dialog_ids.h"

namespace {

using K = ControlKind;

constexpr ControlTemplate kMainControls[] = {
    {IDC_V2, K::RadioButton, "V2ｼﾘｰｽﾞ", 154, 12, 42, 8, kHidden | kGroup},
    {IDC_V3, K::RadioButton, "V3ｼﾘｰｽﾞ", 213, 12, 42, 8, kHidden},
    {IDC_KLT103, K::RadioButton, "KLT-103", 242, 12, 42, 8, kHidden},
    {IDC_START, K::DefPushButton, "開始", 230, 100, 54, 42, kHidden | kTabStop},
    {IDC_EXIT, K::PushButton, "終了", 230, 53, 54, 14, kTabStop},
    {IDC_ABOUT, K::PushButton, "このｿﾌﾄについて", 228, 69, 54, 14, kHidden | kTabStop},
    {IDC_PROGRESS, K::Progress, "Progress1", 8, 102, 117, 7, kBorder},
    {-1, K::StaticText, "CH1", 7, 92, 37, 9, kGroup},
    {IDC_MODEL_LABEL, K::StaticText, "機種", 134, 12, 15, 8, kHidden | kVCenter},
    {IDC_STATUS, K::StaticText, "", 7, 110, 157, 10, 0},
    {IDC_PORT_SETTINGS, K::PushButton, "ﾎﾟｰﾄ設定", 228, 83, 54, 14, kHidden | kTabStop},
    {IDC_NOT_USED, K::CheckBox, "使用しない", 71, 90, 53, 10, kHidden | kTabStop},
    {IDC_DATA_FILE, K::PushButton, "ﾃﾞｰﾀﾌｧｲﾙ指定", 7, 12, 55, 11, kTabStop},
    {IDC_DATA_PATH, K::StaticText, "(書込みﾃﾞｰﾀﾌｧｲﾙ名)", 7, 27, 219, 57, 0},
    {IDC_VERTICAL, K::CheckBox, "縦表示", 71, 12, 33, 10, kTabStop},
    {IDC_STARTUP_CHECK, K::CheckBox, "起動確認", 18, 163, 43, 10, kDisabled | kTabStop},
    {IDC_KEEP_SRAM, K::CheckBox, "SRAMクリアしない", 150, 161, 69, 10,
     kHidden | kDisabled | kTabStop},
    {IDC_LATIN, K::CheckBox, "言語モード(ラテン)", 83, 161, 70, 10, kDisabled | kTabStop},
    {IDC_RS422, K::CheckBox, "ﾒｲﾝﾎﾟｰﾄRS422", 212, 179, 61, 10, kHidden | kDisabled | kTabStop},
    {IDC_LINE_SPEED, K::ComboDropList, "", 46, 178, 48, 68, kDisabled | kTabStop | kVScroll},
    {IDC_LINE_SPEED_LABEL, K::StaticText, "通信速度", 15, 180, 28, 8, kDisabled | kGroup},
    {IDC_RESPONSE_CHECK, K::CheckBox, "応答確認", 98, 179, 43, 10, kDisabled | kTabStop},
    {IDC_FLOW_CONTROL, K::CheckBox, "ﾊｰﾄﾞｳｪｱﾌﾛｰ制御", 142, 179, 69, 10, kDisabled | kTabStop},
    {IDC_TRANSFER_SETTINGS, K::CheckBox, "設定転送", 7, 145, 43, 10, kTabStop},
    {IDC_SKIP_BITMAPS, K::CheckBox, "ビットマップ転送しない", 106, 12, 76, 10, kTabStop},
    {IDC_EXPORT, K::PushButton, "USBメモリに\n書き出し", 230, 31, 54, 21, kTabStop | kMultiline},
    {IDC_INVERT, K::CheckBox, "表示反転", 186, 12, 40, 12, kTabStop},
    {IDC_TRANSFER_GAIJI, K::CheckBox, "外字転送する", 7, 116, 56, 10, kTabStop},
    {IDC_GAIJI_FILE, K::PushButton, "外字ファイル指定", 61, 116, 54, 11, kTabStop},
    {IDC_GAIJI_PATH, K::StaticText, "(外字ファイル)", 7, 131, 214, 12, 0},
};

constexpr ControlTemplate kPortControls[] = {
    {IDC_OK, K::DefPushButton, "OK", 7, 24, 50, 14, kTabStop},
    {IDC_CANCEL, K::PushButton, "ｷｬﾝｾﾙ", 73, 24, 50, 14, kTabStop},
    {-1, K::StaticText, "CH1", 19, 7, 22, 12, kVCenter | kGroup},
    {IDC_PORT_LIST, K::ComboDropList, "", 45, 7, 42, 89, kVScroll | kTabStop},
};

constexpr ControlTemplate kAboutControls[] = {
    {IDC_ABOUT_LOGO, K::StaticBitmap, "137", 19, 4, 75, 18, 0},
    {-1, K::StaticText, "ZEM-TABULO ver1.5", 32, 26, 112, 8, kNoPrefix | kGroup},
    {-1, K::StaticText, "V3シリーズ表示器 データ書込みツール", 32, 36, 119, 8, kGroup},
    {IDC_OK, K::DefPushButton, "OK", 195, 6, 30, 11, kTabStop | kGroup},
    {IDC_ABOUT_NOTE, K::StaticText, "(string_tableを修正)", 167, 25, 62, 8, kGroup},
};

}  // namespace

const DialogTemplate kMainTemplate{IDD_MAIN, "ZEM-7720PNLB4(V3モード)  TABULO Ver1.0.1",
                                   200,      200,
                                   291,      197,
                                   false,    "ＭＳ Ｐゴシック",
                                   9,        kMainControls};

const DialogTemplate kPortSettingsTemplate{
    IDD_PORT_SETTINGS, "シリアルポートの設定", 0, 0, 130, 45, true, "ＭＳ Ｐゴシック", 9,
    kPortControls};

const DialogTemplate kAboutTemplate{IDD_ABOUT, "ﾊﾞｰｼﾞｮﾝ情報", 100,      100, 229,
                                    57,        false,         "System", 8,   kAboutControls};
