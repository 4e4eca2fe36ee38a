// The program's resources in the .exe against the templates and the string table that the
// other builds hold as data: the same ids, kinds, captions, styles, places, fonts and order.
#include "platform/resources.h"

// <windows.h> comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
// clang-format on

#include <cstring>
#include <string>
#include <vector>

#include "app/templates.h"

// platform/resources.cpp, built into this test under another name (see CMakeLists.txt).
std::string portableResString(int id);

namespace {

std::string utf8(const wchar_t* w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(std::strlen(s.c_str()));
    return s;
}

// Reads a dialog resource of either form (DIALOG or DIALOGEX).
class DialogReader {
  public:
    explicit DialogReader(int id) {
        HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
        if (r) p_ = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, r)));
    }
    bool found() const { return p_ != nullptr; }
    const BYTE* pos() const { return p_; }

    WORD word() { return take<WORD>(); }
    DWORD dword() { return take<DWORD>(); }
    short coord() { return take<short>(); }
    // A string or an ordinal (0xFFFF followed by a number, given as "#n").
    std::string text() {
        const auto* w = reinterpret_cast<const WCHAR*>(p_);
        if (w[0] == 0xFFFF) {
            p_ += 4;
            return "#" + std::to_string(w[1]);
        }
        std::string s = utf8(w);
        p_ += (wcslen(w) + 1) * sizeof(WCHAR);
        return s;
    }
    void skip(size_t n) { p_ += n; }
    void alignDword(const BYTE* base) {
        while ((p_ - base) % 4) ++p_;
    }

  private:
    template <typename T>
    T take() {
        T v;
        std::memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return v;
    }
    const BYTE* p_ = nullptr;
};

struct Item {
    DWORD style = 0;
    int id = 0, x = 0, y = 0, cx = 0, cy = 0;
    std::string cls, caption;
};

struct Dialog {
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0, pointSize = 0;
    std::string title, font;
    std::vector<Item> items;
};

Item readItem(DialogReader& r, bool ex, const BYTE* base) {
    r.alignDword(base);
    Item it;
    if (ex) {
        r.dword();  // help id
        r.dword();  // extended style
        it.style = r.dword();
    } else {
        it.style = r.dword();
        r.dword();
    }
    it.x = r.coord();
    it.y = r.coord();
    it.cx = r.coord();
    it.cy = r.coord();
    it.id = ex ? int(LONG(r.dword())) : int(short(r.word()));
    it.cls = r.text();
    it.caption = r.text();
    r.skip(r.word());  // creation data
    return it;
}

Dialog readDialog(int id) {
    DialogReader r(id);
    Dialog d;
    if (!r.found()) return d;
    const BYTE* base = r.pos();
    const bool ex = reinterpret_cast<const WORD*>(base)[1] == 0xFFFF;
    if (ex) {
        r.skip(4 + 4 + 4);  // version, signature, help id, extended style
        d.style = r.dword();
    } else {
        d.style = r.dword();
        r.dword();
    }
    const WORD count = r.word();
    d.x = r.coord();
    d.y = r.coord();
    d.cx = r.coord();
    d.cy = r.coord();
    r.text();  // menu
    r.text();  // class
    d.title = r.text();
    if (d.style & DS_SETFONT) {
        d.pointSize = r.word();
        if (ex) r.skip(4);  // weight, italic, character set
        d.font = r.text();
    }
    for (WORD i = 0; i < count; ++i) d.items.push_back(readItem(r, ex, base));
    return d;
}

// A control class by name, in capitals: the predefined ones may be given by their ordinal.
std::string className(const std::string& cls) {
    if (cls == "#128") return "BUTTON";
    if (cls == "#130") return "STATIC";
    if (cls == "#133") return "COMBOBOX";
    std::string s = cls;
    for (char& ch : s) ch = char(toupper(static_cast<unsigned char>(ch)));
    return s;
}

// The class and the type bits a control of this kind has in a resource.
void expectKind(const ControlTemplate& c, const Item& it) {
    struct Kind {
        const char* cls;
        DWORD type, mask;
    };
    Kind k{};
    switch (c.kind) {
        case ControlKind::PushButton:
            k = {"BUTTON", BS_PUSHBUTTON, BS_TYPEMASK};
            break;
        case ControlKind::DefPushButton:
            k = {"BUTTON", BS_DEFPUSHBUTTON, BS_TYPEMASK};
            break;
        case ControlKind::CheckBox:
            k = {"BUTTON", BS_AUTOCHECKBOX, BS_TYPEMASK};
            break;
        case ControlKind::RadioButton:
            k = {"BUTTON", BS_AUTORADIOBUTTON, BS_TYPEMASK};
            break;
        case ControlKind::StaticText:
            k = {"STATIC", SS_LEFT, SS_TYPEMASK};
            break;
        case ControlKind::StaticBitmap:
            k = {"STATIC", SS_BITMAP, SS_TYPEMASK};
            break;
        case ControlKind::ComboDropList:
            k = {"COMBOBOX", CBS_DROPDOWNLIST, 3};
            break;
        case ControlKind::Progress:
            k = {"MSCTLS_PROGRESS32", 0, 0};
            break;
        case ControlKind::Edit:
            k = {"EDIT", ES_LEFT, ES_CENTER | ES_RIGHT};
            break;
    }
    EXPECT_EQ(className(it.cls), k.cls);
    EXPECT_EQ(it.style & k.mask, k.type);
}

void expectStyle(const ControlTemplate& c, const Item& it) {
    const bool isStatic = c.kind == ControlKind::StaticText;
    const bool isButton = c.kind != ControlKind::StaticText &&
                          c.kind != ControlKind::StaticBitmap &&
                          c.kind != ControlKind::ComboDropList && c.kind != ControlKind::Progress &&
                          c.kind != ControlKind::Edit;
    EXPECT_EQ(!(it.style & WS_VISIBLE), bool(c.style & kHidden));
    EXPECT_EQ(bool(it.style & WS_DISABLED), bool(c.style & kDisabled));
    EXPECT_EQ(bool(it.style & WS_TABSTOP), bool(c.style & kTabStop));
    EXPECT_EQ(bool(it.style & WS_GROUP), bool(c.style & kGroup));
    EXPECT_EQ(bool(it.style & WS_BORDER), bool(c.style & kBorder));
    EXPECT_EQ(bool(it.style & WS_VSCROLL), bool(c.style & kVScroll));
    if (isStatic) {
        EXPECT_EQ(bool(it.style & SS_CENTERIMAGE), bool(c.style & kVCenter));
        EXPECT_EQ(bool(it.style & SS_NOPREFIX), bool(c.style & kNoPrefix));
    }
    if (isButton) {
        EXPECT_EQ(bool(it.style & BS_MULTILINE), bool(c.style & kMultiline));
    }
}

void expectSameDialog(const DialogTemplate& t) {
    SCOPED_TRACE("dialog " + std::to_string(t.id));
    const Dialog d = readDialog(t.id);
    ASSERT_EQ(d.items.size(), t.controls.size());
    EXPECT_EQ(d.title, t.title);
    EXPECT_EQ(d.font, t.font);
    EXPECT_EQ(d.pointSize, t.pointSize);
    EXPECT_EQ(d.cx, t.cx);
    EXPECT_EQ(d.cy, t.cy);
    if (!t.centred) {
        EXPECT_EQ(d.x, t.x);
        EXPECT_EQ(d.y, t.y);
    }
    EXPECT_EQ(bool(d.style & DS_CENTER), t.centred);
    const DWORD frame = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
    EXPECT_EQ(d.style & frame, frame);
    EXPECT_FALSE(d.style & WS_SYSMENU);  // no close box
    for (size_t i = 0; i < t.controls.size(); ++i) {
        const ControlTemplate& c = t.controls[i];
        const Item& it = d.items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(c.id));
        EXPECT_EQ(it.id, c.id);
        const std::string caption =
            c.kind == ControlKind::StaticBitmap ? "#" + std::string(c.caption) : c.caption;
        EXPECT_EQ(it.caption, caption);
        EXPECT_EQ(it.x, c.x);
        EXPECT_EQ(it.y, c.y);
        EXPECT_EQ(it.cx, c.cx);
        EXPECT_EQ(it.cy, c.cy);
        expectKind(c, it);
        expectStyle(c, it);
    }
}

}  // namespace

TEST(Resources, DialogTemplatesMatchTheProgramsData) {
    expectSameDialog(kMainTemplate);
    expectSameDialog(kPortSettingsTemplate);
    expectSameDialog(kAboutTemplate);
}

TEST(Resources, StringTableMatchesTheProgramsData) {
    for (int id = 0; id <= 14; ++id) EXPECT_EQ(resString(id), portableResString(id)) << id;
}

TEST(Resources, LogoIs150By40At24Bits) {
    HBITMAP bmp =
        static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kLogoBitmapId),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bmp, nullptr);
    DIBSECTION dib{};
    ASSERT_TRUE(GetObjectA(bmp, sizeof dib, &dib));
    EXPECT_EQ(dib.dsBm.bmWidth, 150);
    EXPECT_EQ(dib.dsBm.bmHeight, 40);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
    DeleteObject(bmp);
    EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1)), nullptr);
}

// The manifest makes UTF-8 the code page of every ...A call.
TEST(Resources, ManifestGivesTheUtf8CodePage) {
    EXPECT_EQ(GetACP(), 65001u);
}
