#include "platform/win32/dialog_template_win32.h"

// <windows.h> comes before the headers that build on it.
// clang-format off
#include <commctrl.h>
// clang-format on

#include <cstdlib>
#include <limits>

namespace {

// The predefined control classes, given by ordinal as the resource compiler writes them.
constexpr WORD kOrdinal = 0xFFFF;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboClass = 0x0085;
// The field widths of the DIALOG form: a WORD control count and id, short coordinates.
constexpr size_t kMaxControls = std::numeric_limits<WORD>::max();
constexpr int kMaxId = std::numeric_limits<WORD>::max();

// Appends the fields of the template, little-endian as the resource form is.
class TemplateWriter {
  public:
    void word(WORD w) { words_.push_back(w); }
    void dword(DWORD d) {
        word(LOWORD(d));
        word(HIWORD(d));
    }
    void coord(int v) { word(WORD(short(v))); }
    void text(const std::wstring& s) {
        words_.insert(words_.end(), s.begin(), s.end());
        word(0);
    }
    void ordinal(WORD id) {
        word(kOrdinal);
        word(id);
    }
    // Each control's fields start on a DWORD boundary.
    void alignDword() {
        if (words_.size() % 2) word(0);
    }
    std::vector<WORD> take() { return std::move(words_); }

  private:
    std::vector<WORD> words_;
};

bool fitsShort(int v) {
    return v >= std::numeric_limits<short>::min() && v <= std::numeric_limits<short>::max();
}

bool fits(int x, int y, int cx, int cy) {
    return fitsShort(x) && fitsShort(y) && fitsShort(cx) && fitsShort(cy);
}

// The window styles every kind shares. Controls are shown unless the template hides them.
DWORD windowStyle(unsigned style) {
    DWORD s = WS_CHILD;
    if (!(style & kHidden)) s |= WS_VISIBLE;
    if (style & kDisabled) s |= WS_DISABLED;
    if (style & kTabStop) s |= WS_TABSTOP;
    if (style & kGroup) s |= WS_GROUP;
    if (style & kBorder) s |= WS_BORDER;
    if (style & kVScroll) s |= WS_VSCROLL;
    return s;
}

DWORD staticTextStyle(unsigned style) {
    DWORD s = SS_LEFT;
    // A result field: one line, in the middle both ways.
    if (style & kLargeText) s = SS_CENTER | SS_CENTERIMAGE;
    if (style & kVCenter) s |= SS_CENTERIMAGE;
    if (style & kNoPrefix) s |= SS_NOPREFIX;
    return s;
}

DWORD buttonStyle(DWORD type, unsigned style) {
    return type | ((style & kMultiline) ? DWORD(BS_MULTILINE) : 0);
}

struct ControlClass {
    WORD ordinal;         // 0 when named
    const wchar_t* name;  // for the classes of the common controls
    DWORD style;
};

ControlClass classOf(const ControlTemplate& c) {
    switch (c.kind) {
        case ControlKind::PushButton:
            return {kButtonClass, nullptr, buttonStyle(BS_PUSHBUTTON, c.style)};
        case ControlKind::DefPushButton:
            return {kButtonClass, nullptr, buttonStyle(BS_DEFPUSHBUTTON, c.style)};
        case ControlKind::CheckBox:
            return {kButtonClass, nullptr, buttonStyle(BS_AUTOCHECKBOX, c.style)};
        case ControlKind::RadioButton:
            return {kButtonClass, nullptr, buttonStyle(BS_AUTORADIOBUTTON, c.style)};
        case ControlKind::StaticText:
            return {kStaticClass, nullptr, staticTextStyle(c.style)};
        case ControlKind::StaticBitmap:
            return {kStaticClass, nullptr, SS_BITMAP};
        case ControlKind::ComboDropList:
            return {kComboClass, nullptr, CBS_DROPDOWNLIST};
        case ControlKind::Progress:
            return {0, PROGRESS_CLASSW, 0};
        case ControlKind::Edit:
            return {kEditClass, nullptr, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER};
    }
    return {kStaticClass, nullptr, SS_LEFT};
}

// A bitmap's caption names its resource: a number as an ordinal, as in the .rc.
void bitmapName(TemplateWriter& w, const char* caption) {
    char* end = nullptr;
    const long id = std::strtol(caption, &end, 10);
    if (*caption && *end == '\0' && id > 0 && id <= kMaxId)
        w.ordinal(WORD(id));
    else
        w.text(win32Wide(caption));
}

bool writeControl(TemplateWriter& w, const ControlTemplate& c) {
    if (c.id < -1 || c.id > kMaxId || !fits(c.x, c.y, c.cx, c.cy)) return false;
    const ControlClass cls = classOf(c);
    w.alignDword();
    w.dword(windowStyle(c.style) | cls.style);
    w.dword(0);  // extended style
    w.coord(c.x);
    w.coord(c.y);
    w.coord(c.cx);
    w.coord(c.cy);
    w.word(WORD(c.id));  // -1, a control without an id, is 0xFFFF as in the resources
    if (cls.name)
        w.text(cls.name);
    else
        w.ordinal(cls.ordinal);
    if (c.kind == ControlKind::StaticBitmap)
        bitmapName(w, c.caption ? c.caption : "");
    else
        w.text(win32Wide(c.caption));
    w.word(0);  // no creation data
    return true;
}

}  // namespace

std::wstring win32Wide(const char* utf8) {
    if (!utf8 || !*utf8) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (n <= 1) return std::wstring();
    std::wstring text(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), n);
    text.resize(size_t(n - 1));
    return text;
}

// As the .rc writes its dialogs: a modal frame with a caption and no close box, centred when
// asked, in the template's font.
std::vector<WORD> win32DialogTemplate(const DialogTemplate& tmpl) {
    if (tmpl.controls.size() > kMaxControls || !fits(tmpl.x, tmpl.y, tmpl.cx, tmpl.cy) ||
        tmpl.pointSize <= 0 || tmpl.pointSize > kMaxId)
        return {};
    TemplateWriter w;
    w.dword(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | (tmpl.centred ? DS_CENTER : 0));
    w.dword(0);  // extended style
    w.word(WORD(tmpl.controls.size()));
    w.coord(tmpl.x);
    w.coord(tmpl.y);
    w.coord(tmpl.cx);
    w.coord(tmpl.cy);
    w.word(0);  // no menu
    w.word(0);  // the system's dialog class
    w.text(win32Wide(tmpl.title));
    w.word(WORD(tmpl.pointSize));
    w.text(win32Wide(tmpl.font));
    for (const ControlTemplate& c : tmpl.controls)
        if (!writeControl(w, c)) return {};
    return w.take();
}
