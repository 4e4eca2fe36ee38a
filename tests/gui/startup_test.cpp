// Start-up of the desktop program: SCI.INI, the main dialog as its template builds it, and the
// message for a working directory too deep.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "app/templates.h"
#include "gui_driver.h"
#include "gui_test_util.h"
#include "platform/qt/qt_ui.h"

class StartupTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { setUpOnce(); }
    void init() { resetProgram(); }

    // Without SCI.INI it is created holding COM1; one that is there is read, not written.
    void readsOrCreatesTheIniFileAndShowsTheDialog() {
        const struct {
            const char *ini, *port, *after;
        } rows[] = {{nullptr, "COM1", "COM1\r\n"},
                    {"COM12\r\nCOM3\r\n", "COM12", "COM12\r\nCOM3\r\n"}};
        for (const auto& row : rows) {
            resetProgram();
            TempDir dir;
            dir.enter();
            if (row.ini) dir.write("SCI.INI", row.ini);
            QString title;
            const int result = gui::runProgram([&] {
                QWidget* w = qtWidget(gui::mainDlg());
                if (w && w->isVisible()) title = w->windowTitle();
            });
            QCOMPARE(result, 0);
            QCOMPARE(title, QString("ZEM-7720PNLB4(V3モード)  TABULO Ver1.0.1"));
            QCOMPARE(dir.read("SCI.INI"), std::string(row.after));
            QCOMPARE(gui::desktop().portName, std::string(row.port));
        }
    }

    // The dialog as its template describes it, with Start, About and Port settings shown.
    void mainDialogFollowsItsTemplate() {
        TempDir dir;
        dir.enter();
        gui::runProgram([] {
            auto* w = qobject_cast<QDialog*>(qtWidget(gui::mainDlg()));
            QVERIFY(w);
            // Fixed size, a caption without a close box.
            QCOMPARE(w->minimumSize(), w->maximumSize());
            QVERIFY(!(w->windowFlags() & Qt::WindowCloseButtonHint));
            QVERIFY(!(w->windowFlags() & Qt::WindowSystemMenuHint));

            for (int id : {IDC_START, IDC_ABOUT, IDC_PORT_SETTINGS, IDC_EXIT, IDC_DATA_FILE,
                           IDC_EXPORT, IDC_TRANSFER_SETTINGS, IDC_PROGRESS, IDC_STATUS})
                QVERIFY2(isWindowVisible(dlgItem(gui::mainDlg(), id)), qPrintable(QString::number(id)));
            for (int id : {IDC_V2, IDC_V3, IDC_KLT103, IDC_MODEL_LABEL, IDC_NOT_USED, IDC_KEEP_SRAM,
                           IDC_RS422}) {
                QVERIFY2(dlgItem(gui::mainDlg(), id), "hidden controls exist");
                QVERIFY2(!isWindowVisible(dlgItem(gui::mainDlg(), id)), qPrintable(QString::number(id)));
            }
            // Hidden controls are read like the others.
            setButtonState(gui::mainDlg(), IDC_NOT_USED, kChecked);
            QCOMPARE(buttonState(gui::mainDlg(), IDC_NOT_USED), int(kChecked));

            auto* start = qobject_cast<QPushButton*>(qtWidget(dlgItem(gui::mainDlg(), IDC_START)));
            QVERIFY(start && start->isDefault());
            QCOMPARE(w->focusWidget(), start);  // the first tab stop shown and enabled
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_DATA_PATH)),
                     std::string("(書込みﾃﾞｰﾀﾌｧｲﾙ名)"));
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_EXPORT)),
                     std::string("USBメモリに\n書き出し"));
            // Dialog units follow the dialog font: x by a quarter of its average character
            // width, y by an eighth of its height.
            QCOMPARE(QFontInfo(w->font()).family(), QString("IPAPGothic"));
            int bx = 0, by = 0;
            qtBaseUnits(w->font(), &bx, &by);
            QVERIFY(bx > 3 && by > 8);
            QCOMPARE(w->size(), QSize((291 * bx + 2) / 4, (197 * by + 4) / 8));
            QCOMPARE(start->geometry(), QRect((230 * bx + 2) / 4, (100 * by + 4) / 8,
                                              (54 * bx + 2) / 4, (42 * by + 4) / 8));
            QWidget* path = qtWidget(dlgItem(gui::mainDlg(), IDC_DATA_PATH));
            QCOMPARE(path->geometry(), QRect((7 * bx + 2) / 4, (27 * by + 4) / 8,
                                             (219 * bx + 2) / 4, (57 * by + 4) / 8));
        });
    }

    void tooDeepDirectoryShowsTheMessageAndEnds() {
        TempDir dir;
        std::filesystem::path deep = dir.path;
        while (deep.string().size() <= kMaxWorkDirLength) deep /= std::string(40, 'd');
        std::filesystem::create_directories(deep);
        dir.enter();  // left again when the test ends
        std::filesystem::current_path(deep);
        std::string caption, text;
        bool owned = true;
        gui::whenShown([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                       [&](QWidget* w) {
                           auto* box = qobject_cast<QMessageBox*>(w);
                           caption = box->windowTitle().toStdString();
                           text = box->text().toStdString();
                           owned = box->parentWidget() != nullptr;
                           box->done(QMessageBox::Ok);
                       });
        const int result = zemtabuloMain(gui::desktop());
        QCOMPARE(result, 0);
        QCOMPARE(caption, std::string("ZemTabulo"));
        QCOMPARE(text, std::string("Scrivanaがあるフォルダの階層が深すぎます"));
        QVERIFY(!owned);
        QVERIFY(!gui::mainDlg());  // no main dialog was run
        QVERIFY(!std::filesystem::exists(deep / "SCI.INI"));
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
