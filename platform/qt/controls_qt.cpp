// The control calls of platform/ui.h on Qt widgets. Each runs on the GUI thread (a blocking
// queued call from any other) and does nothing for a window that has gone.
#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <algorithm>

#include "platform/qt/qt_internal.h"
#include "platform/qt/qt_ui.h"

namespace {

QString qs(const std::string& s) {
    return QString::fromUtf8(s.c_str(), qsizetype(s.size()));
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

void showText(WindowObj* w, const std::string& text) {
    QWidget* widget = w->widget;
    if (!widget) return;
    if (w->isDialog) {
        widget->setWindowTitle(qs(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(qs(text));
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(qs(text));
    } else if (w->kind == ControlKind::StaticText) {
        widget->setProperty("text", qs(text));
        widget->update();
    }
}

QComboBox* comboOf(Window w) {
    return isAlive(w) ? qobject_cast<QComboBox*>(w->widget) : nullptr;
}

// The bar shows an empty range as empty; Qt would show a busy indicator.
void showProgress(WindowObj* w) {
    auto* bar = qobject_cast<QProgressBar*>(w->widget);
    if (!bar) return;
    if (w->high <= w->low) {
        bar->setRange(0, 1);
        bar->setValue(0);
        return;
    }
    bar->setRange(w->low, w->high);
    bar->setValue(w->pos);
}

}  // namespace

Window dlgItem(Window dlg, int id) {
    return onGui([&]() -> Window {
        if (!isAlive(dlg)) return nullptr;
        for (auto& c : dlg->children)
            if (c->id == id) return c.get();
        return nullptr;
    });
}

void setWindowText(Window w, const std::string& text) {
    onGui([&] {
        if (!isAlive(w)) return;
        w->text = text;
        showText(w, text);
    });
}

std::string windowText(Window w) {
    return onGui([&]() -> std::string {
        if (!isAlive(w)) return std::string();
        if (QComboBox* combo = comboOf(w)) return combo->currentText().toStdString();
        // An edit box holds what was typed into it.
        if (auto* edit = qobject_cast<QLineEdit*>(w->widget)) return edit->text().toStdString();
        return w->text;
    });
}

void enableWindow(Window w, bool enable) {
    onGui([&] {
        if (!isAlive(w) || !w->widget) return;
        QWidget* widget = w->widget;
        // Qt would hand the focus of a control being disabled to the next one, and Enter would
        // then press that button (Exit, after Start). The focus goes to the dialog itself
        // instead, where Enter means the default button only.
        if (!enable && widget->window() != widget && widget->window()->focusWidget() == widget)
            widget->window()->setFocus(Qt::OtherFocusReason);
        widget->setEnabled(enable);
    });
}

void setFocus(Window w) {
    onGui([&] {
        if (!isAlive(w) || !w->widget) return;
        w->widget->setFocus(Qt::TabFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(w->widget)) edit->selectAll();
    });
}

bool isWindowEnabled(Window w) {
    return onGui([&] {
        if (!isAlive(w) || !w->widget) return false;
        QWidget* widget = w->widget;
        return widget->isEnabledTo(widget->parentWidget());
    });
}

bool isWindowVisible(Window w) {
    return onGui([&] { return isAlive(w) && w->widget && w->widget->isVisible(); });
}

void updateWindow(Window w) {
    onGui([&] {
        if (isAlive(w) && w->widget) w->widget->repaint();
    });
}

void invalidateWindow(Window w) {
    onGui([&] {
        if (isAlive(w) && w->widget) w->widget->update();
    });
}

int checkState(Window button) {
    return onGui([&] {
        if (!isAlive(button)) return int(kUnchecked);
        auto* b = qobject_cast<QAbstractButton*>(button->widget);
        return b && b->isCheckable() && b->isChecked() ? int(kChecked) : int(kUnchecked);
    });
}

int buttonState(Window dlg, int id) {
    return checkState(dlgItem(dlg, id));
}

namespace {

// Radio buttons are set one by one here; Qt's own exclusiveness would refuse to clear one.
void setChecked(QAbstractButton* b, bool on) {
    if (!b || !b->isCheckable()) return;
    const bool exclusive = b->autoExclusive();
    b->setAutoExclusive(false);
    b->setChecked(on);
    b->setAutoExclusive(exclusive);
}

}  // namespace

void setButtonState(Window dlg, int id, int state) {
    Window w = dlgItem(dlg, id);
    onGui([&] {
        if (isAlive(w)) setChecked(qobject_cast<QAbstractButton*>(w->widget), state == kChecked);
    });
}

void checkRadioButton(Window dlg, int first, int last, int check) {
    onGui([&] {
        if (!isAlive(dlg)) return;
        for (auto& c : dlg->children)
            if (c->id >= first && c->id <= last)
                setChecked(qobject_cast<QAbstractButton*>(c->widget), c->id == check);
    });
}

int comboAdd(Window combo, const std::string& text) {
    return onGui([&] {
        QComboBox* c = comboOf(combo);
        if (!c) return -1;
        const int selected = c->currentIndex();
        c->addItem(qs(text));
        // Adding to an empty list selects nothing, as in the list the program was written for.
        c->setCurrentIndex(selected);
        return c->count() - 1;
    });
}

int comboCount(Window combo) {
    return onGui([&] {
        QComboBox* c = comboOf(combo);
        return c ? c->count() : 0;
    });
}

void comboSetSel(Window combo, int index) {
    onGui([&] {
        if (QComboBox* c = comboOf(combo))
            c->setCurrentIndex(index >= 0 && index < c->count() ? index : -1);
    });
}

int comboSel(Window combo) {
    return onGui([&] {
        QComboBox* c = comboOf(combo);
        return c ? c->currentIndex() : -1;
    });
}

std::string comboText(Window combo, int index) {
    return onGui([&]() -> std::string {
        QComboBox* c = comboOf(combo);
        if (!c || index < 0 || index >= c->count()) return std::string();
        return c->itemText(index).toStdString();
    });
}

int comboFindPrefix(Window combo, int start, const std::string& text) {
    return onGui([&] {
        QComboBox* c = comboOf(combo);
        if (!c) return -1;
        const int n = c->count();
        const std::string want = upper(text);
        for (int k = 1; k <= n; ++k) {
            const int i = ((start < 0 ? -1 : start) + k) % n;
            if (upper(c->itemText(i).toStdString()).compare(0, want.size(), want) == 0) return i;
        }
        return -1;
    });
}

void progressSetRange(Window bar, int32_t low, int32_t high) {
    onGui([&] {
        if (!isAlive(bar)) return;
        bar->low = low;
        bar->high = high;
        bar->pos = std::clamp(bar->pos, low, std::max(low, high));
        showProgress(bar);
    });
}

void progressSetPos(Window bar, int32_t pos) {
    onGui([&] {
        if (!isAlive(bar)) return;
        bar->pos = std::clamp(pos, bar->low, std::max(bar->low, bar->high));
        showProgress(bar);
    });
}

void qtProgress(Window bar, int* low, int* high, int* pos) {
    onGui([&] {
        *low = isAlive(bar) ? bar->low : 0;
        *high = isAlive(bar) ? bar->high : 0;
        *pos = isAlive(bar) ? bar->pos : 0;
    });
}

void setControlColour(Window w, uint32_t rgb) {
    onGui([&] {
        if (!isAlive(w)) return;
        w->colour = rgb;
        if (!w->widget) return;
        const QVariant back = rgb == kNoColour ? QVariant() : QVariant(QColor(QRgb(rgb)));
        w->widget->setProperty(kColourProperty, back);
        w->widget->update();
    });
}

uint32_t controlColour(Window w) {
    return onGui([&] { return isAlive(w) ? w->colour : kNoColour; });
}
