#include "platform/resources.h"

#include <iterator>

namespace {

struct StringEntry {
    int id;
    const char* text;
};

constexpr StringEntry kStringTable[] = {
    {1, "ZEMをブートモードにして再起動してください。"},
    {2, "ZEMスクリヴァーナ"},
    {3, "接続中に異常が発生しました"},
    {4, "ﾎﾟｰﾄがｵｰﾌﾟﾝできません"},
    {5, "読込みｿﾌﾄ転送に失敗しました"},
    {6, "ﾃﾞｰﾀ転送に失敗しました"},
    {7, "\u3000"},
    {8, "現在使用中です"},
    {9, "ファイル読み込みに失敗しました"},
    {10, "ﾌｫﾝﾄ書込みに失敗しました"},
    {11, "Scrivanaがあるフォルダの階層が深すぎます"},
    {12, "ZemTabulo"},
    {13, "データファイルが未設定です"},
};

}  // namespace

std::string resString(int id) {
    for (const StringEntry& e : kStringTable) {
        if (e.id != id) continue;
        std::string text = e.text;
        if (text.size() > kResStringBufSize - 1) text.resize(kResStringBufSize - 1);
        return text;
    }
    return std::string();
}
