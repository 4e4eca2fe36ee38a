#include "gui_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include "app/startup.h"
#include "platform/qt/qt_ui.h"
#include "writer/options.h"

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

int runProgram(const std::function<void()>& script) {
    QTimer::singleShot(0, qApp, [script] {
        script();
        closeBoxes();
        if (mainDlg && qtWidget(mainDlg)) endDialog(mainDlg, IDC_EXIT);
    });
    const int result = zemtabuloMain();
    mainDlg = nullptr;
    return result;
}

}  // namespace gui
