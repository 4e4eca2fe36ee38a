// Shared inside the Qt backend: the window record behind a Window handle, and the hop onto the
// GUI thread that every control call takes.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/ui.h"

struct WindowObj {
    QPointer<QWidget> widget;
    WindowObj* dialog = nullptr;  // the dialog a control belongs to; a dialog's own self
    int id = -1;
    ControlKind kind = ControlKind::StaticText;
    bool isDialog = false;
    std::string text;
    int32_t low = 0, high = 100, pos = 0;  // progress bars
    uint32_t colour = kNoColour;           // static text background
    // Dialogs only.
    DlgProc proc = nullptr;
    void* data = nullptr;
    bool ended = false;
    int result = 0;
    std::vector<std::unique_ptr<WindowObj>> children;
};

inline bool onGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

// Runs `f` on the GUI thread and returns its result. From another thread this is a blocking
// queued call, like a window message sent to a control: the caller waits, the GUI thread
// carries it out when it next dispatches events, and never waits for the caller.
template <class F>
auto onGui(F&& f) -> decltype(f()) {
    if (onGuiThread()) return f();
    using R = decltype(f());
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<F>(f),
                                  Qt::BlockingQueuedConnection);
    } else {
        R result{};
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { result = f(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// Windows still open; each handle is checked on the GUI thread before it is used, so a call
// that arrives after its dialog closed does nothing. GUI thread only.
bool isAlive(Window w);
void registerWindow(Window w);
void unregisterWindow(Window w);

// Sends a command to the dialog procedure of `dlg`, as a click or key would.
void sendCommand(Window dlg, int id);

// The control property a static text is painted from: its background colour, none for the
// dialog's own.
constexpr const char* kColourProperty = "colour";

// The window a message box or chooser is owned by, or nullptr. GUI thread only.
QWidget* ownerWidget(Window owner);
