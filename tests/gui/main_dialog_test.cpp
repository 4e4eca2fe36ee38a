// The main dialog on its real widgets: the dependent options, the choosers, Start without a
// data file, the keys, and the export.
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "app/templates.h"
#include "gui_driver.h"
#include "gui_test_util.h"
#include "platform/qt/qt_ui.h"

namespace {

constexpr int kDependent[] = {IDC_STARTUP_CHECK,    IDC_LATIN,          IDC_LINE_SPEED,
                              IDC_LINE_SPEED_LABEL, IDC_RESPONSE_CHECK, IDC_FLOW_CONTROL};

bool isChooser(QWidget* w, const char* title) {
    return qobject_cast<QFileDialog*>(w) && w->windowTitle() == QString::fromUtf8(title);
}

// Every column of a chooser's detail view as wide as what it shows, and all of them in view.
bool columnsWhole(QFileDialog* chooser) {
    auto* view = chooser->findChild<QTreeView*>();
    if (!view || view->model()->rowCount(view->rootIndex()) == 0) return false;
    const QAbstractItemView* items = view;  // its size hint of a column is public
    for (int c = 0; c < view->header()->count(); ++c)
        if (view->header()->sectionSize(c) < items->sizeHintForColumn(c)) return false;
    return view->header()->length() <= view->viewport()->width();
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { setUpOnce(); }
    void init() { resetProgram(); }

    // The list of line speeds offers four, 38400 chosen.
    void transferSettingsTogglesTheEightControls() {
        TempDir dir;
        dir.enter();
        gui::runProgram([] {
            auto* combo = qobject_cast<QComboBox*>(qtWidget(dlgItem(gui::mainDlg(), IDC_LINE_SPEED)));
            QCOMPARE(combo->count(), 4);
            QCOMPARE(combo->currentText(), QString("38400"));
            QCOMPARE(shownSettings().lineSpeed, 3);
            for (int id : kDependent) QVERIFY(!isWindowEnabled(dlgItem(gui::mainDlg(), id)));
            gui::click(gui::mainDlg(), IDC_TRANSFER_SETTINGS);
            QVERIFY(shownSettings().transferSettings);
            for (int id : kDependent) {
                QVERIFY(isWindowEnabled(dlgItem(gui::mainDlg(), id)));
                QVERIFY(isWindowVisible(dlgItem(gui::mainDlg(), id)));
            }
            for (int id : {IDC_KEEP_SRAM, IDC_RS422}) {
                QVERIFY(isWindowEnabled(dlgItem(gui::mainDlg(), id)));
                QVERIFY(!isWindowVisible(dlgItem(gui::mainDlg(), id)));  // enabled, still hidden
            }
            // A disabled box keeps its state and its reader still reports it.
            gui::click(gui::mainDlg(), IDC_LATIN);
            gui::click(gui::mainDlg(), IDC_TRANSFER_SETTINGS);
            for (int id : kDependent) QVERIFY(!isWindowEnabled(dlgItem(gui::mainDlg(), id)));
            QVERIFY(!isWindowEnabled(dlgItem(gui::mainDlg(), IDC_KEEP_SRAM)));
            QVERIFY(shownSettings().latin);
        });
    }

    // A given folder, else where removable media are mounted for the user (media/USER before
    // run/media/USER), else home. The rows build on each other's folders.
    void folderBrowserStartsWhereMediaAreMounted() {
        TempDir root;
        const std::string r = root.path.string(), media = r + "/media/op";
        const struct {
            const char* made;
            std::string folder, user, want;
        } rows[] = {{"", "", "op", "~"},
                    {"run/media/op", "", "op", r + "/run/media/op"},
                    {"media/op", "", "op", media},
                    {"", "", "", "~"},  // no user: not media/ itself
                    {"", r + "/run", "op", r + "/run"},
                    {"", r + "/none", "op", media}};
        for (const auto& row : rows) {
            std::filesystem::create_directories(root.path / row.made);
            QCOMPARE(qtBrowseStart(row.folder, r, row.user, "~"), row.want);
        }
    }

    // The chooser speaks Japanese and shows its columns whole (a plain text file's type is a
    // long text). A cancel leaves the label; a chosen file shows in it, the chooser opens on it
    // the next time, and a cancel then keeps it.
    void chosenFilesShowInTheirLabels() {
        TempDir dir;
        dir.enter();
        const std::string data = dir.write("screens.v3", "PAGE 1\r\n");
        const std::string gaiji = dir.write("chars.txt", "glyphs\r\n");
        bool mustExist = false, whole = false;
        QString reopenedOn;
        QStringList filters, gaijiFilters, texts;
        gui::runProgram([&] {
            gui::whenShown([](QWidget* w) { return isChooser(w, "画面データの指定"); },
                           [&](QWidget* w) {
                               auto* fd = qobject_cast<QFileDialog*>(w);
                               mustExist = fd->fileMode() == QFileDialog::ExistingFile;
                               filters = fd->nameFilters();
                               for (auto* b : fd->findChildren<QPushButton*>()) texts << b->text();
                               for (auto* l : fd->findChildren<QLabel*>()) texts << l->text();
                               whole = gui::waitFor([fd] { return columnsWhole(fd); });
                               fd->reject();
                           });
            gui::click(gui::mainDlg(), IDC_DATA_FILE);
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_DATA_PATH)),
                     std::string("(書込みﾃﾞｰﾀﾌｧｲﾙ名)"));
            QVERIFY(gui::desktop().dataFilePath.empty());

            gui::whenShown([](QWidget* w) { return isChooser(w, "画面データの指定"); },
                           [&](QWidget* w) { gui::chooseFile(w, data); });
            gui::click(gui::mainDlg(), IDC_DATA_FILE);
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_DATA_PATH)), data);

            gui::whenShown([](QWidget* w) { return isChooser(w, "画面データの指定"); },
                           [&](QWidget* w) {
                               auto* fd = qobject_cast<QFileDialog*>(w);
                               reopenedOn = fd->selectedFiles().value(0);
                               fd->reject();
                           });
            gui::click(gui::mainDlg(), IDC_DATA_FILE);
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_DATA_PATH)), data);

            gui::whenShown([](QWidget* w) { return isChooser(w, "外字ファイルの指定"); },
                           [&](QWidget* w) {
                               gaijiFilters = qobject_cast<QFileDialog*>(w)->nameFilters();
                               gui::chooseFile(w, gaiji);
                           });
            gui::click(gui::mainDlg(), IDC_GAIJI_FILE);
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_GAIJI_PATH)), gaiji);
        });
        QVERIFY(mustExist);
        QCOMPARE(filters, QStringList{"V3データファイル files(*.*) (*)"});
        QCOMPARE(texts, (QStringList{"開く(&O)", "キャンセル",
                                     "アドレス:", "ファイル名(&N):", "ファイルの種類:"}));
        QVERIFY(whole);
        QCOMPARE(gui::desktop().dataFilePath, data);
        QCOMPARE(gui::desktop().gaijiFilePath, gaiji);
        QCOMPARE(reopenedOn, QString::fromStdString(data));
        QCOMPARE(gaijiFilters,
                 (QStringList{"外字ファイル files(*.txt) (*.txt)", "All Files(*.*) (*)"}));
    }

    // Escape and the close request leave the dialog open; Enter on a check box presses the
    // default button, Start, which without a data file says so in a box owned by the dialog;
    // Exit ends it.
    void keysCloseRequestAndStartWithoutDataFile() {
        TempDir dir;
        dir.enter();
        QWidget* main = nullptr;
        QString seen;  // the box: its caption, text, and whether it is modal to the dialog
        bool openAfterEscapeAndClose = false;
        const int result = gui::runProgram([&] {
            main = qtWidget(gui::mainDlg());
            QTest::keyClick(main, Qt::Key_Escape);
            main->close();
            openAfterEscapeAndClose = main->isVisible() && qtWidget(gui::mainDlg());
            gui::whenShown([](QWidget* w) { return qobject_cast<QMessageBox*>(w); },
                           [&](QWidget* w) {
                               auto* box = qobject_cast<QMessageBox*>(w);
                               const bool modal = box->windowModality() == Qt::WindowModal;
                               seen = box->windowTitle() + "|" + box->text() + "|" +
                                      (modal && box->parentWidget() == main ? "modal" : "");
                               box->done(QMessageBox::Ok);
                           });
            qtWidget(dlgItem(gui::mainDlg(), IDC_VERTICAL))->setFocus();
            QTest::keyClick(qtWidget(dlgItem(gui::mainDlg(), IDC_VERTICAL)), Qt::Key_Return);
            QCOMPARE(seen, QString("ZemTabulo|データファイルが未設定です|modal"));
            QVERIFY(isWindowEnabled(dlgItem(gui::mainDlg(), IDC_START)));
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_STATUS)), std::string());
            gui::click(gui::mainDlg(), IDC_EXIT);
        });
        QVERIFY(openAfterEscapeAndClose);
        QCOMPARE(result, 0);
        QVERIFY(!gui::findShown([](QWidget* w) { return qobject_cast<QDialog*>(w); }));
    }

    void exportWritesTheUpdateFile() {
        TempDir dir;
        dir.enter();
        TempDir stick;
        const std::string data = dir.write("screens.v3", "line one\r\nline two\r\n");
        std::string browserTitle, doneText;
        gui::runProgram([&] {
            gui::whenShown([](QWidget* w) { return isChooser(w, "画面データの指定"); },
                           [&](QWidget* w) { gui::chooseFile(w, data); });
            gui::click(gui::mainDlg(), IDC_DATA_FILE);
            gui::click(gui::mainDlg(), IDC_VERTICAL);

            gui::whenShown([](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; },
                           [&](QWidget* w) {
                               auto* fd = qobject_cast<QFileDialog*>(w);
                               browserTitle = fd->windowTitle().toStdString();
                               QVERIFY(fd->testOption(QFileDialog::ShowDirsOnly));
                               fd->setDirectory(QString::fromStdString(stick.path.string()));
                               QMetaObject::invokeMethod(fd, "accept");
                               // The closing box of the export, shown without owner.
                               gui::whenShown(
                                   [](QWidget* w) { return qobject_cast<QMessageBox*>(w); },
                                   [&](QWidget* w) {
                                       doneText =
                                           qobject_cast<QMessageBox*>(w)->text().toStdString();
                                       qobject_cast<QMessageBox*>(w)->done(QMessageBox::Ok);
                                   });
                           });
            gui::click(gui::mainDlg(), IDC_EXPORT);
        });
        QCOMPARE(browserTitle, std::string("データ書き出すUSBメモリを選択"));
        QCOMPARE(doneText, std::string("USBメモリ書込みが終了しました"));
        const std::string update = stick.read("v3update.dat");
        QVERIFY2(update.rfind("line one\r\nline two\r\n", 0) == 0, update.c_str());
        QVERIFY(update.find("bf07b 1") != std::string::npos);  // Vertical display is on
    }
};

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
