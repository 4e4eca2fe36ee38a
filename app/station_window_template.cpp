#include <algorithm>

#include "app/main_dialog_ids.h"
#include "app/station_window.h"

namespace {

using K = ControlKind;

// Static texts of each row, kept for the life of the program (templates hold pointers).
constexpr const char* kSlotNames[kMaxStationSlots] = {
    "治具1", "治具2",  "治具3",  "治具4",  "治具5",  "治具6",  "治具7",  "治具8",
    "治具9", "治具10", "治具11", "治具12", "治具13", "治具14", "治具15", "治具16"};
// Keys 1-9 press the first nine Start buttons.
constexpr const char* kStartCaptions[kMaxStationSlots] = {
    "開始(&1)", "開始(&2)", "開始(&3)", "開始(&4)", "開始(&5)", "開始(&6)", "開始(&7)", "開始(&8)",
    "開始(&9)", "開始",     "開始",     "開始",     "開始",     "開始",     "開始",     "開始"};

// Layout in dialog units.
constexpr int kWidth = 600;
// The unit id's column, after the port's: what follows it moves right by this.
constexpr int kUnitWidth = 80;
constexpr int kRowsTop = 86;
constexpr int kTallRow = 24;   // rows when there are few
constexpr int kShortRow = 15;  // rows when there are many: 16 fit a 768-pixel screen
constexpr int kTallRowsUpTo = 8;
constexpr int kBottomMargin = 7;
// The auto box between the unit id and the status text, which it narrows.
constexpr int kAutoX = 132 + kUnitWidth;
constexpr int kAutoWidth = 30;
constexpr int kStatusX = kAutoX + kAutoWidth + 2;
constexpr int kStatusRight = 272 + kUnitWidth;

// 全台開始 comes first: the window opens with the focus on it, so that Enter starts every slot.
const ControlTemplate kTopControls[] = {
    {IDC_ST_START_ALL, K::DefPushButton, "全台開始", 459 + kUnitWidth, 7, 54, 28,
     kTabStop | kGroup},
    {IDC_ST_DATA_FILE, K::PushButton, "ﾃﾞｰﾀﾌｧｲﾙ指定", 7, 7, 55, 12, kTabStop},
    {IDC_ST_DATA_PATH, K::StaticText, "(書込みﾃﾞｰﾀﾌｧｲﾙ名)", 68, 7, 380 + kUnitWidth, 12,
     kVCenter | kNoPrefix},
    {IDC_VERTICAL, K::CheckBox, "縦表示", 7, 24, 40, 10, kTabStop | kGroup},
    {IDC_SKIP_BITMAPS, K::CheckBox, "ビットマップ転送しない", 52, 24, 90, 10, kTabStop},
    {IDC_TRANSFER_SETTINGS, K::CheckBox, "設定転送", 147, 24, 45, 10, kTabStop},
    {IDC_STARTUP_CHECK, K::CheckBox, "起動確認", 18, 39, 43, 10, kDisabled | kTabStop},
    {IDC_LATIN, K::CheckBox, "言語モード(ラテン)", 64, 39, 75, 10, kDisabled | kTabStop},
    {IDC_RESPONSE_CHECK, K::CheckBox, "応答確認", 142, 39, 43, 10, kDisabled | kTabStop},
    {IDC_FLOW_CONTROL, K::CheckBox, "ﾊｰﾄﾞｳｪｱﾌﾛｰ制御", 188, 39, 69, 10, kDisabled | kTabStop},
    {IDC_LINE_SPEED_LABEL, K::StaticText, "通信速度", 262, 40, 30, 8, kDisabled | kGroup},
    {IDC_LINE_SPEED, K::ComboDropList, "", 294, 38, 48, 68, kDisabled | kTabStop | kVScroll},
    {IDC_ST_LINE_STATUS, K::StaticText, "", 262, 24, 186, 10, kNoPrefix},
    {IDC_ST_EXPECT_LABEL, K::StaticText, "期待ｻﾑ", 7, 56, 30, 8, kGroup},
    {IDC_ST_EXPECT, K::Edit, "", 38, 54, 60, 12, kTabStop | kBorder},
    {IDC_ST_FIRST_SUM, K::CheckBox, "最初の1台の値を使う", 104, 55, 85, 10, kTabStop},
    {IDC_ST_LOG_LABEL, K::StaticText, "ログファイル", 196, 56, 42, 8, kGroup},
    {IDC_ST_LOG, K::Edit, "", 240, 54, 208 + kUnitWidth, 12, kTabStop | kBorder},
    {IDC_ST_EXIT, K::PushButton, "終了", 459 + kUnitWidth, 40, 54, 14, kTabStop},
    {-1, K::StaticText, "治具", 7, 74, 34, 8, kGroup},
    {-1, K::StaticText, "ポート", 44, 74, 40, 8, 0},
    {-1, K::StaticText, "製造番号", 132, 74, 60, 8, 0},
    {-1, K::StaticText, "自動", kAutoX, 74, 30, 8, 0},
    {-1, K::StaticText, "状態", kStatusX, 74, 40, 8, 0},
    {-1, K::StaticText, "進捗", 276 + kUnitWidth, 74, 40, 8, 0},
    {-1, K::StaticText, "結果", 340 + kUnitWidth, 74, 40, 8, 0},
};

void addAutoBox(std::vector<ControlTemplate>& out, int slot, int mid) {
    out.push_back({slotControlId(slot, kSlotAuto), K::CheckBox, "自動", kAutoX, mid - 5, kAutoWidth,
                   10, kTabStop});
}

void addRow(std::vector<ControlTemplate>& out, int slot, int y, int height) {
    const int inner = height - 3;
    const int mid = y + inner / 2;
    auto id = [slot](SlotPart part) { return slotControlId(slot, part); };
    out.push_back({id(kSlotName), K::StaticText, kSlotNames[slot], 7, y, 34, inner,
                   kVCenter | kNoPrefix | kGroup});
    out.push_back({id(kSlotPort), K::ComboDropList, "", 44, mid - 6, 84, 120, kTabStop | kVScroll});
    out.push_back({id(kSlotUnit), K::Edit, "", 132, mid - 6, kUnitWidth - 4, 12,
                   kTabStop | kBorder | kScanField});
    const int x = kUnitWidth;
    addAutoBox(out, slot, mid);
    out.push_back({id(kSlotStatus), K::StaticText, "", kStatusX, y, kStatusRight - kStatusX, inner,
                   kVCenter | kNoPrefix});
    out.push_back({id(kSlotProgress), K::Progress, "", 276 + x, mid - 4, 60, 8, kBorder});
    out.push_back({id(kSlotResult), K::StaticText, "", 340 + x, y, 116, inner,
                   kLargeText | kBorder | kNoPrefix});
    out.push_back(
        {id(kSlotStart), K::PushButton, kStartCaptions[slot], 459 + x, mid - 6, 54, 13, kTabStop});
}

}  // namespace

std::unique_ptr<StationTemplate> stationTemplate(int slots) {
    slots = std::clamp(slots, 1, kMaxStationSlots);
    auto t = std::make_unique<StationTemplate>();
    t->controls.assign(std::begin(kTopControls), std::end(kTopControls));
    const int row = slots <= kTallRowsUpTo ? kTallRow : kShortRow;
    for (int s = 0; s < slots; ++s) addRow(t->controls, s, kRowsTop + s * row, row);
    const int height = kRowsTop + slots * row + kBottomMargin;
    t->dialog = DialogTemplate{IDD_STATION, "ZemTabulo ステーション", 0, 0,          kWidth, height,
                               true,        "ＭＳ Ｐゴシック",        9, t->controls};
    return t;
}
