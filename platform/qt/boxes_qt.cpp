// Message boxes, the open-file chooser, the folder browser and the end of the program.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QTreeView>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/qt/qt_internal.h"
#include "platform/qt/qt_ui.h"

namespace {

// How long a thread that asked for the end waits for the GUI thread before ending by itself.
constexpr auto kLeaveGrace = std::chrono::seconds(5);

// The choosers' size in average character widths and lines of their font: room for the places
// list beside the detail view's name, size, type and date columns.
constexpr int kChooserChars = 120;
constexpr int kChooserLines = 32;

QString qs(const std::string& s) {
    return QString::fromUtf8(s.c_str(), qsizetype(s.size()));
}

using BoxSetUp = std::function<void(QMessageBox&)>;
using Answer = QMessageBox::StandardButton;

// A box's caption and text, shown as they stand.
void setUpText(QMessageBox& box, const std::string& text, const std::string& caption) {
    box.setWindowTitle(qs(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(qs(text));
}

// The standard button the box was closed with; NoButton when it was closed otherwise.
Answer answerOf(const QMessageBox& box) {
    return box.clickedButton() ? box.standardButton(box.clickedButton()) : QMessageBox::NoButton;
}

// Closed by the GUI thread, waited for by the thread that asked for the box.
struct BoxClosed {
    std::mutex lock;
    std::condition_variable changed;
    bool closed = false;
    Answer answer = QMessageBox::NoButton;

    void signal(Answer a) {
        std::lock_guard<std::mutex> g(lock);
        closed = true;
        answer = a;
        changed.notify_all();
    }
    Answer wait() {
        std::unique_lock<std::mutex> g(lock);
        changed.wait(g, [this] { return closed; });
        return answer;
    }
};

// On the GUI thread for another thread: an owned box is modal to its owner, a box without
// owner blocks nothing. Returns at once; `done` is signalled when the box is closed.
void showBoxFor(Window owner, const BoxSetUp& setUp, std::shared_ptr<BoxClosed> done) {
    QWidget* parent = ownerWidget(owner);
    auto box = std::make_unique<QMessageBox>(parent);
    setUp(*box);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    QObject::connect(box.get(), &QDialog::finished, box.get(), [b = box.get(), done] {
        b->deleteLater();
        done->signal(answerOf(*b));
    });
    QMessageBox* shown = box.release();  // deleted when it is closed
    shown->show();
    shown->activateWindow();
}

// Shows the box `setUp` makes, from any thread, until it is closed.
Answer runBox(Window owner, const BoxSetUp& setUp) {
    if (onGuiThread()) {
        QWidget* parent = ownerWidget(owner);
        QMessageBox box(parent);
        setUp(box);
        box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        box.exec();
        return answerOf(box);
    }
    auto done = std::make_shared<BoxClosed>();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [owner, setUp, done] { showBoxFor(owner, setUp, done); },
        Qt::QueuedConnection);
    return done->wait();
}

// Win32 filter block (text NUL pattern NUL ... NUL) as Qt name filters. "*.*" matches every
// file there, so it becomes "*"; several patterns are separated by ';'.
QStringList nameFilters(const std::string& block) {
    QStringList parts;
    size_t at = 0;
    while (at < block.size() && block[at] != '\0') {
        size_t end = block.find('\0', at);
        if (end == std::string::npos) end = block.size();
        parts << qs(block.substr(at, end - at));
        at = end + 1;
    }
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        patterns.replace("*.*", "*");
        filters << parts[i] + " (" + patterns + ")";
    }
    return filters;
}

// A chooser large enough for its columns, each as wide as what it shows (a localised file type
// such as "plain text document" is far wider than Qt's default column).
void sizeChooser(QFileDialog& dialog) {
    const QFontMetrics fm(dialog.font());
    dialog.resize(fm.averageCharWidth() * kChooserChars, fm.height() * kChooserLines);
    if (auto* view = dialog.findChild<QTreeView*>())
        view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

}  // namespace

void messageBox(Window owner, const std::string& text, const std::string& caption, unsigned flags) {
    runBox(owner, [text, caption, flags](QMessageBox& box) {
        setUpText(box, text, caption);
        box.setIcon((flags & kMbIconInformation) ? QMessageBox::Information : QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
    });
}

bool askYesNo(Window owner, const std::string& text, const std::string& caption) {
    const Answer answer = runBox(owner, [text, caption](QMessageBox& box) {
        setUpText(box, text, caption);
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QString::fromUtf8("はい"));
        box.button(QMessageBox::No)->setText(QString::fromUtf8("いいえ"));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    });
    return answer == QMessageBox::Yes;
}

bool chooseOpenFile(Window owner, std::string& path, size_t capacity, const std::string& filter,
                    const std::string& title) {
    return onGui([&] {
        QWidget* parent = ownerWidget(owner);
        QFileDialog dialog(parent, qs(title));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);  // the chosen file must exist
        dialog.setNameFilters(nameFilters(filter));
        sizeChooser(dialog);
        if (path.empty()) {
            dialog.setDirectory(QDir::currentPath());
        } else {
            dialog.selectFile(QFile::decodeName(path.c_str()));
        }
        dialog.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        const std::string chosen = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
        if (capacity == 0 || chosen.size() > capacity - 1) return false;  // does not fit
        path = chosen;
        return true;
    });
}

bool browseForFolder(Window owner, const std::string& title, std::string& folder) {
    return onGui([&] {
        QWidget* parent = ownerWidget(owner);
        QFileDialog dialog(parent, qs(title));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        sizeChooser(dialog);
        const std::string home = QFile::encodeName(QDir::homePath()).toStdString();
        const std::string user = qEnvironmentVariable("USER").toStdString();
        dialog.setDirectory(QFile::decodeName(qtBrowseStart(folder, "/", user, home).c_str()));
        dialog.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        folder = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
        return true;
    });
}

std::string qtBrowseStart(const std::string& folder, const std::string& root,
                          const std::string& user, const std::string& home) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!folder.empty() && fs::is_directory(folder, ec)) return folder;
    if (user.empty()) return home;
    for (const char* media : {"media", "run/media"}) {
        const fs::path there = fs::path(root) / media / user;
        if (fs::is_directory(there, ec)) return there.string();
    }
    return home;
}

void qtInstallTranslations() {
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (translator->load(QStringLiteral("qtbase_ja"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator.get()))
        translator.release();  // owned by the application from now on
}

void qtLeaveProgram(int status) {
    for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
    // The end sounds of a job are the operator's signal; one that has begun is heard out.
    qtWaitForSounds();
    std::fflush(nullptr);
    std::_Exit(status);
}

void exitProgram(int status) {
    if (onGuiThread()) qtLeaveProgram(status);
    // From the worker: the GUI thread lets go of the windows and ends the process; this thread
    // stops here meanwhile.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [status] { qtLeaveProgram(status); }, Qt::QueuedConnection);
    std::this_thread::sleep_for(kLeaveGrace);
    std::fflush(nullptr);
    std::_Exit(status);
}
