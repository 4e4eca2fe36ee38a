#include "gui_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <memory>

#include "app/main_dialog_ids.h"
#include "app/startup.h"
#include "platform/qt/qt_ui.h"

namespace gui {

namespace {
constexpr int kPollMs = 5;
}

bool waitFor(const std::function<bool()>& cond, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!cond()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPollMs);
        QThread::msleep(1);
    }
    return true;
}

QWidget* findShown(const std::function<bool(QWidget*)>& match) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && match(w)) return w;
    return nullptr;
}

void whenShown(const std::function<bool(QWidget*)>& match, const std::function<void(QWidget*)>& act,
               int timeoutMs) {
    auto* timer = new QTimer(qApp);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* w = findShown(match);
        if (!w && clock->elapsed() < timeoutMs) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (w) act(w);
    });
    timer->start(kPollMs);
}

QMessageBox* shownBox(const std::string& caption) {
    return qobject_cast<QMessageBox*>(findShown([&](QWidget* w) {
        return qobject_cast<QMessageBox*>(w) && w->windowTitle().toStdString() == caption;
    }));
}

void click(Window dlg, int id) {
    if (auto* b = qobject_cast<QAbstractButton*>(qtWidget(dlgItem(dlg, id)))) b->click();
}

void clickLater(Window dlg, int id) {
    QTimer::singleShot(0, qApp, [dlg, id] { click(dlg, id); });
}

void chooseFile(QWidget* chooser, const std::string& path) {
    auto* dialog = qobject_cast<QFileDialog*>(chooser);
    if (!dialog) return;
    dialog->selectFile(QString::fromStdString(path));
    QMetaObject::invokeMethod(dialog, "accept");
}

void closeBoxes() {
    while (QWidget* w = findShown([](QWidget* w) { return qobject_cast<QMessageBox*>(w); }))
        qobject_cast<QMessageBox*>(w)->done(QMessageBox::Ok);
}

namespace {
std::unique_ptr<Desktop> g_desktop;
}  // namespace

Desktop& desktop() {
    if (!g_desktop) g_desktop = std::make_unique<Desktop>();
    return *g_desktop;
}

// The last one is left to the process's end: a job's threads may still hold it.
void freshDesktop() { g_desktop.release(), g_desktop = std::make_unique<Desktop>(); }

int runProgram(const std::function<void()>& script) {
    QTimer::singleShot(0, qApp, [script] {
        script();
        closeBoxes();
        if (mainDlg() && qtWidget(mainDlg())) endDialog(mainDlg(), IDC_EXIT);
    });
    return zemtabuloMain(desktop());
}

}  // namespace gui
