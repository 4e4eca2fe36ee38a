// Dialogs built from their templates: one widget per control at its place in dialog units,
// converted with the dialog font's own metrics; run modally until endDialog.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/qt/qt_internal.h"
#include "platform/qt/qt_ui.h"

namespace {

// Japanese proportional Gothic faces, best first; the template's face is not on this system.
const QStringList kGothicFamilies = {"IPAPGothic", "IPA Pゴシック", "Noto Sans CJK JP",
                                     "IPAGothic",  "VL PGothic",    "Sans Serif"};
// The "System" face of a template is the system font: on a Japanese desktop a 16-pixel one.
constexpr int kSystemFontPixels = 16;
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// A large static text's face, in hundredths of the control's height.
constexpr int kLargeTextPercent = 60;
// Pixels kept free beside a large static text's line.
constexpr int kLargeTextMargin = 6;

std::unordered_set<WindowObj*> g_alive;
std::map<int, std::vector<int>> g_revealed;  // dialog id -> control ids shown anyway

// Dialogs open now, each with a serial of its own, for postCommand from any thread: a posted
// command must not reach a later dialog that happens to get the ended one's address.
std::mutex g_openLock;
std::unordered_map<const WindowObj*, uint64_t> g_open;
uint64_t g_lastSerial = 0;

// Dialog units to pixels: x by a quarter of the average character width, y by an eighth of
// the character height, rounded as the system's MulDiv does.
struct Units {
    int baseX, baseY;
    int x(int du) const { return (du * baseX + 2) / 4; }
    int y(int du) const { return (du * baseY + 4) / 8; }
};

// A static text control: left aligned, top or vertically centred, wrapped at word boundaries
// or, for a long path without any, anywhere; a large one is bold and centred both ways.
// Its text is the widget's "text" property, which setWindowText sets; a background colour,
// when set, is drawn under black text.
class StaticText : public QWidget {
  public:
    StaticText(const QString& text, unsigned style, QWidget* parent)
        : QWidget(parent), style_(style) {
        setProperty("text", text);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const Qt::Alignment vertical = (style_ & kVCenter) ? Qt::AlignVCenter : Qt::AlignTop;
        QTextOption option((style_ & kLargeText) ? Qt::AlignCenter : Qt::AlignLeft | vertical);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        const QColor back = property(kColourProperty).value<QColor>();
        if (back.isValid()) {
            p.fillRect(rect(), back);
            p.setPen(Qt::black);
        } else {
            p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                     QPalette::WindowText));
        }
        const QString text = property("text").toString();
        if (style_ & kLargeText) {
            // One line; a text wider than the field is drawn smaller rather than cut.
            option.setWrapMode(QTextOption::NoWrap);
            QFont f = font();
            const int room = width() - kLargeTextMargin;
            const int need = QFontMetrics(f).horizontalAdvance(text);
            if (need > room && room > 0) f.setPixelSize(std::max(1, f.pixelSize() * room / need));
            p.setFont(f);
        }
        p.drawText(QRectF(rect()), text, option);
    }

    // The large face follows the control's height.
    void resizeEvent(QResizeEvent*) override {
        if (!(style_ & kLargeText)) return;
        QFont large = parentWidget() ? parentWidget()->font() : font();
        large.setBold(true);
        large.setPixelSize(std::max(1, height() * kLargeTextPercent / 100));
        setFont(large);
    }

  private:
    unsigned style_;
};

// The push button `key` pressed alone stands for: the first shown and enabled one whose
// caption marks that key with an ampersand.
QPushButton* mnemonicButton(const QWidget* dialog, const QKeyEvent* key) {
    const Qt::KeyboardModifiers plain = Qt::ShiftModifier | Qt::KeypadModifier;
    if (key->modifiers() & ~plain) return nullptr;
    for (QPushButton* b : dialog->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
        const QKeySequence mark = QKeySequence::mnemonic(b->text());
        if (!mark.isEmpty() && mark[0].key() == Qt::Key(key->key()) && b->isVisible() &&
            b->isEnabled())
            return b;
    }
    return nullptr;
}

// Escape and the window's close request reach the procedure as the cancel command; a dialog
// whose procedure ignores it stays open.
// A key the focused control does not take (an edit box or a list takes typed characters; a
// button does not) comes here: a push button marking it in its caption is pressed, as by its
// Alt mnemonic.
class TemplateDialog : public QDialog {
  public:
    TemplateDialog(WindowObj* obj, QWidget* parent) : QDialog(parent), obj_(obj) {}
    void reject() override { sendCommand(obj_, 2); }

  protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (QPushButton* b = mnemonicButton(this, e)) {
            b->click();
            return;
        }
        QDialog::keyPressEvent(e);
    }

  private:
    WindowObj* obj_;
};

bool revealed(int dialogId, int controlId) {
    auto it = g_revealed.find(dialogId);
    if (it == g_revealed.end()) return false;
    for (int id : it->second)
        if (id == controlId) return true;
    return false;
}

QWidget* makeButton(const ControlTemplate& c, WindowObj* dlg, QWidget* parent) {
    const QString caption = QString::fromUtf8(c.caption);
    const int id = c.id;
    auto command = [dlg, id] { sendCommand(dlg, id); };
    switch (c.kind) {
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(caption, parent);
            QObject::connect(box, &QCheckBox::clicked, box, command);
            return box;
        }
        case ControlKind::RadioButton: {
            auto* radio = new QRadioButton(caption, parent);
            QObject::connect(radio, &QRadioButton::clicked, radio, command);
            return radio;
        }
        default: {
            auto* button = new QPushButton(caption, parent);
            button->setAutoDefault(true);
            button->setDefault(c.kind == ControlKind::DefPushButton);
            QObject::connect(button, &QPushButton::clicked, button, command);
            return button;
        }
    }
}

QWidget* makeCombo(const ControlTemplate& c, WindowObj* dlg, QWidget* parent, const Units& u) {
    auto* combo = new QComboBox(parent);
    const int id = c.id;
    QObject::connect(combo, &QComboBox::activated, combo, [dlg, id] { sendCommand(dlg, id); });
    // The template's height is the height with the list open.
    const int closed = combo->sizeHint().height();
    const int row = QFontMetrics(parent->font()).height() + 2;
    combo->setMaxVisibleItems(std::max(1, (u.y(c.cy) - closed) / row));
    return combo;
}

// An edit box a scanner types into: Latin text without the input method, and its Enter taken
// by the box itself (a QLineEdit passes it on, and the dialog would press its default button).
class ScanField : public QLineEdit {
  public:
    ScanField(const QString& text, WindowObj* dlg, int id, QWidget* parent)
        : QLineEdit(text, parent), dlg_(dlg), id_(id) {
        setInputMethodHints(Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);
        setAttribute(Qt::WA_InputMethodEnabled, false);
    }

  protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter) {
            QLineEdit::keyPressEvent(e);
            return;
        }
        e->accept();
        sendCommand(dlg_, id_);
    }

  private:
    WindowObj* dlg_;
    int id_;
};

QWidget* makeScanField(const ControlTemplate& c, WindowObj* dlg, QWidget* parent) {
    return new ScanField(QString::fromUtf8(c.caption), dlg, c.id, parent);
}

QWidget* makeControl(const ControlTemplate& c, WindowObj* dlg, QWidget* parent, const Units& u) {
    switch (c.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
        case ControlKind::CheckBox:
        case ControlKind::RadioButton:
            return makeButton(c, dlg, parent);
        case ControlKind::StaticText:
            return new StaticText(QString::fromUtf8(c.caption), c.style, parent);
        case ControlKind::StaticBitmap: {
            auto* label = new QLabel(parent);
            label->setPixmap(QPixmap(QString(":/bitmaps/%1.bmp").arg(c.caption)));
            return label;
        }
        case ControlKind::ComboDropList:
            return makeCombo(c, dlg, parent, u);
        case ControlKind::Progress: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
        case ControlKind::Edit:
            if (c.style & kScanField) return makeScanField(c, dlg, parent);
            return new QLineEdit(QString::fromUtf8(c.caption), parent);
    }
    return nullptr;
}

QRect controlRect(const ControlTemplate& c, QWidget* w, const Units& u) {
    QRect r(u.x(c.x), u.y(c.y), u.x(c.cx), u.y(c.cy));
    // A bitmap control takes the size of its bitmap; a drop-down list its closed height.
    if (c.kind == ControlKind::StaticBitmap) r.setSize(w->sizeHint());
    if (c.kind == ControlKind::ComboDropList) r.setHeight(w->sizeHint().height());
    return r;
}

bool takesFocus(ControlKind kind) {
    return kind != ControlKind::StaticText && kind != ControlKind::StaticBitmap &&
           kind != ControlKind::Progress;
}

void addControls(const DialogTemplate& t, WindowObj* dlg, QDialog* w, const Units& u) {
    QWidget* previous = nullptr;
    for (const ControlTemplate& c : t.controls) {
        auto obj = std::make_unique<WindowObj>();
        obj->dialog = dlg;
        obj->id = c.id;
        obj->kind = c.kind;
        obj->text = c.caption;
        QWidget* widget = makeControl(c, dlg, w, u);
        obj->widget = widget;
        widget->setGeometry(controlRect(c, widget, u));
        if ((c.style & kHidden) && !revealed(t.id, c.id)) widget->hide();
        if (c.style & kDisabled) widget->setEnabled(false);
        if (takesFocus(c.kind)) {
            widget->setFocusPolicy((c.style & kTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
            if (c.style & kTabStop) {
                if (previous) QWidget::setTabOrder(previous, widget);
                previous = widget;
            }
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        registerWindow(obj.get());
        dlg->children.push_back(std::move(obj));
    }
}

QPoint dialogPosition(const DialogTemplate& t, QWidget* owner, QSize size, const Units& u) {
    if (t.centred) {
        QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
        QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
        return area.center() - QPoint(size.width() / 2, size.height() / 2);
    }
    QPoint at(u.x(t.x), u.y(t.y));
    return owner ? owner->mapToGlobal(at) : at;
}

std::unique_ptr<TemplateDialog> buildDialog(const DialogTemplate& t, WindowObj* dlg,
                                            QWidget* owner) {
    auto w = std::make_unique<TemplateDialog>(dlg, owner);
    // A caption and a frame only: no system menu, so no close box; not resizable.
    w->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    w->setWindowTitle(QString::fromUtf8(t.title));
    w->setFont(qtDialogFont(t.font, t.pointSize));
    Units u{};
    qtBaseUnits(w->font(), &u.baseX, &u.baseY);
    const QSize size(u.x(t.cx), u.y(t.cy));
    w->setFixedSize(size);
    w->move(dialogPosition(t, owner, size, u));
    dlg->widget = w.get();
    addControls(t, dlg, w.get(), u);
    return w;
}

// Keyboard focus to the first tab stop that is shown and enabled.
void focusFirstTabStop(WindowObj* dlg) {
    for (auto& c : dlg->children) {
        QWidget* w = c->widget;
        if (w && w->focusPolicy() == Qt::StrongFocus && w->isVisible() && w->isEnabled()) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void runModal(WindowObj* dlg, QDialog* w, bool owned) {
    // An owned dialog blocks its owner only; the main dialog blocks nothing, so that a box
    // without owner shown meanwhile stays usable.
    w->setWindowModality(owned ? Qt::WindowModal : Qt::NonModal);
    QEventLoop loop;
    QObject::connect(w, &QDialog::finished, &loop, &QEventLoop::quit);
    w->show();
    w->activateWindow();
    focusFirstTabStop(dlg);
    if (!dlg->ended) loop.exec(QEventLoop::DialogExec);
}

}  // namespace

bool isAlive(Window w) {
    return w && g_alive.count(w) != 0;
}
void registerWindow(Window w) {
    g_alive.insert(w);
}
void unregisterWindow(Window w) {
    g_alive.erase(w);
}

void sendCommand(Window dlg, int id) {
    if (isAlive(dlg) && dlg->proc && !dlg->ended) dlg->proc(dlg, kMsgCommand, id);
}

namespace {

void openDialog(const WindowObj* dlg) {
    std::lock_guard<std::mutex> lock(g_openLock);
    g_open[dlg] = ++g_lastSerial;
}

void closeDialog(const WindowObj* dlg) {
    std::lock_guard<std::mutex> lock(g_openLock);
    g_open.erase(dlg);
}

// 0 for a dialog that is not open.
uint64_t openSerial(const WindowObj* dlg) {
    std::lock_guard<std::mutex> lock(g_openLock);
    auto it = g_open.find(dlg);
    return it == g_open.end() ? 0 : it->second;
}

}  // namespace

void postCommand(Window dlg, int id) {
    const uint64_t serial = openSerial(dlg);
    if (serial == 0) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [dlg, id, serial] {
            if (openSerial(dlg) == serial) sendCommand(dlg, id);
        },
        Qt::QueuedConnection);
}

QWidget* ownerWidget(Window owner) {
    return isAlive(owner) ? owner->widget.data() : nullptr;
}

void qtShowHiddenControls(int dialogId, std::initializer_list<int> ids) {
    g_revealed[dialogId] = std::vector<int>(ids);
}

QWidget* qtWidget(Window w) {
    return isAlive(w) ? w->widget.data() : nullptr;
}

Window qtWindow(const QWidget* widget) {
    for (WindowObj* w : g_alive)
        if (w->widget == widget) return w;
    return nullptr;
}

QFont qtDialogFont(const std::string& face, int pointSize) {
    QFont font;
    font.setFamilies(kGothicFamilies);
    font.setStyleHint(QFont::SansSerif);
    if (face == "System") {
        font.setPixelSize(kSystemFontPixels);
    } else {
        font.setPointSize(pointSize);
    }
    return font;
}

void qtBaseUnits(const QFont& font, int* baseX, int* baseY) {
    QFontMetrics fm(font);
    *baseX = (fm.horizontalAdvance(QString::fromLatin1(kAlphabet)) / 26 + 1) / 2;
    *baseY = fm.height();
}

void* dialogData(Window dlg) { return dlg ? dlg->data : nullptr; }

int dialogBox(const DialogTemplate& tmpl, Window owner, DlgProc proc, void* data) {
    if (!onGuiThread()) return onGui([&] { return dialogBox(tmpl, owner, proc, data); });
    auto dlg = std::make_unique<WindowObj>();
    dlg->dialog = dlg.get();
    dlg->id = tmpl.id;
    dlg->isDialog = true;
    dlg->text = tmpl.title;
    dlg->proc = proc;
    dlg->data = data;
    QWidget* ownerW = ownerWidget(owner);
    std::unique_ptr<TemplateDialog> w = buildDialog(tmpl, dlg.get(), ownerW);
    registerWindow(dlg.get());
    openDialog(dlg.get());
    proc(dlg.get(), kMsgInitDialog, 0);
    if (!dlg->ended) runModal(dlg.get(), w.get(), ownerW != nullptr);
    closeDialog(dlg.get());
    const int result = dlg->result;
    for (auto& c : dlg->children) unregisterWindow(c.get());
    unregisterWindow(dlg.get());
    w.reset();
    return result;
}

void endDialog(Window dlg, int result) {
    onGui([&] {
        if (!isAlive(dlg) || dlg->ended) return;
        dlg->ended = true;
        dlg->result = result;
        if (auto* w = qobject_cast<QDialog*>(dlg->widget.data())) w->done(result);
    });
}
