#include "app/station_texts.h"

#include "station/station_run.h"

namespace {

// A job whose device was pulled out mid-write (auto mode): the reason starts kRemovedReason.
bool removedEnd(const EndInfo& end) {
    return end.reason.rfind(kRemovedReason, 0) == 0;
}

}  // namespace

std::string stepName(const std::string& step) {
    static const struct {
        const char* step;
        const char* name;
    } kNames[] = {{"open", "ﾎﾟｰﾄ"}, {"fws", "開始"},    {"fs", "保存"},  {"erase", "消去"},
                  {"data", "ﾃﾞｰﾀ"}, {"fs_end", "保存"}, {"fwe", "終了"}, {"sb", "ｻﾑ"}};
    for (const auto& n : kNames)
        if (step == n.step) return n.name;
    return step;
}

std::string ngWords(const EndInfo& end, const std::string& port, bool vanished) {
    if (removedEnd(end)) return "取外し";
    if (vanished) return "中断";
    switch (end.result) {
        case SlotResult::SumMismatch:
            return "ｻﾑ不一致";
        case SlotResult::SumUnreadable:
            return "ｻﾑ読取不可";
        case SlotResult::Interrupted:
            return "中断";
        default:
            break;
    }
    if (port.empty()) return "ﾎﾟｰﾄ未設定";
    if (end.step == "open" || end.step.empty()) return "ﾎﾟｰﾄ使用不可";
    if (end.reason.rfind("no answer", 0) == 0) return stepName(end.step) + "無応答";
    return stepName(end.step) + "失敗";
}

std::string failureText(const EndInfo& end) {
    if (end.result != SlotResult::Failed) return end.reason;
    if (removedEnd(end)) return "書込み中に取り外されました: " + end.reason;
    if (end.step == jobstep::kOpen) return "ﾎﾟｰﾄを使用できません: " + end.reason;
    if (end.reason.rfind("commGetc:", 0) == 0 || end.reason.rfind("commPutc:", 0) == 0)
        return "通信異常: " + end.reason;
    if (end.step == jobstep::kData) return std::string(jobtext::kBadData) + ": " + end.reason;
    return end.reason;
}

std::string unitRefusalText(UnitVerdict verdict, const std::string& slot, const std::string& id,
                            const std::string& pattern) {
    switch (verdict) {
        case UnitVerdict::Missing:
            return slot + ": 製造番号が入力されていません";
        case UnitVerdict::Unusable:
            return slot + ": 製造番号に使えない文字があります: " + id + "\n(英数字と記号、" +
                   std::to_string(kMaxUnitIdSize) + "文字まで)";
        case UnitVerdict::NoMatch:
            return slot + ": 製造番号の形式が違います: " + id + "\n形式: " + pattern;
        default:
            return "";
    }
}

std::string reworkQuestion(const std::string& slot, const std::string& id) {
    return slot + ": 製造番号 " + id + " は書込み済み(OK)です。\n再作業として書き込みますか?";
}

std::string sameUnitText(const std::string& slot, const std::string& id, const std::string& other) {
    return slot + ": 製造番号 " + id + " は " + other + " と同じです";
}

std::string unitPatternText(const std::string& why) {
    return "STATION.INI の unit-pattern が正しくありません\n" + why;
}

std::string unitColumnMissingText(const std::string& log) {
    return "ログファイルの見出し行が古い形式のため、製造番号を記録できません\n" + log;
}
