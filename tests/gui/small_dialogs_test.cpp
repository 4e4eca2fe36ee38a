// Port settings and About on their real widgets.
#include <sys/stat.h>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QtTest>

#include "app/templates.h"
#include "gui_driver.h"
#include "gui_test_util.h"
#include "platform/qt/qt_ui.h"

namespace {

constexpr const char* kPortTitle = "シリアルポートの設定";

// Opens Port settings with `act` run on it, from inside the program; false when it never ran.
[[nodiscard]] bool withPortSettings(const std::function<void(Window)>& act) {
    bool ran = false;
    gui::whenShown([](QWidget* w) { return w->windowTitle() == QString::fromUtf8(kPortTitle); },
                   [act, &ran](QWidget* w) {
                       Window dlg = qtWindow(w);
                       ran = true;
                       act(dlg);
                       if (qtWidget(dlg)) endDialog(dlg, IDC_CANCEL);
                   });
    gui::click(gui::mainDlg(), IDC_PORT_SETTINGS);
    return ran;
}

std::string preselected(const std::string& name) {
    std::string text = "?";
    gui::desktop().portName = name;
    const bool ran = withPortSettings([&](Window dlg) {
        Window list = dlgItem(dlg, IDC_PORT_LIST);
        const int sel = comboSel(list);
        text = sel < 0 ? "(none)" : comboText(list, sel);
    });
    return ran ? text : "(not shown)";
}

}  // namespace

class SmallDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { setUpOnce(); }
    void init() { resetProgram(); }

    void portSettingsPreselectsTheEqualEntryFirst() {
        TempDir dir;
        dir.enter();
        // The last: a prefix that equals no entry still finds one by the list's own search.
        const std::pair<const char*, const char*> rows[] = {
            {"COM1", "COM1 "}, {"COM3 ", "COM3 "},  {"COM12", "COM12"}, {"com12", "COM12"},
            {"COM2", "COM2 "}, {"COM31", "(none)"}, {"LPT1", "(none)"}, {"COM", "COM2 "}};
        gui::runProgram([&] {
            for (const auto& [name, want] : rows) QCOMPARE(preselected(name), std::string(want));
        });
    }

    void okWritesTheChoiceAndCancelKeepsIt() {
        TempDir dir;
        dir.enter();
        gui::runProgram([&] {
            QVERIFY(withPortSettings([](Window dlg) {
                QWidget* w = qtWidget(dlg);  // modal to the main dialog, no close box
                QCOMPARE(w->parentWidget(), qtWidget(gui::mainDlg()));
                QCOMPARE(w->windowModality(), Qt::WindowModal);
                QVERIFY(!(w->windowFlags() & Qt::WindowCloseButtonHint));
                QCOMPARE(comboCount(dlgItem(dlg, IDC_PORT_LIST)), 30);
                QCOMPARE(comboText(dlgItem(dlg, IDC_PORT_LIST), 9), std::string("COM10"));
                comboSetSel(dlgItem(dlg, IDC_PORT_LIST), 6);
                gui::click(dlg, IDC_OK);
                QVERIFY(!qtWidget(dlg)->isVisible());  // closed
            }));
            QCOMPARE(gui::desktop().portName, std::string("COM7 "));
            QCOMPARE(dir.read("SCI.INI"), std::string("COM7 \r\n"));

            QVERIFY(withPortSettings([](Window dlg) {
                QCOMPARE(
                    comboText(dlgItem(dlg, IDC_PORT_LIST), comboSel(dlgItem(dlg, IDC_PORT_LIST))),
                    std::string("COM7 "));
                comboSetSel(dlgItem(dlg, IDC_PORT_LIST), 20);
                QTest::keyClick(qtWidget(dlg), Qt::Key_Escape);  // Cancel
                QVERIFY(!qtWidget(dlg)->isVisible());
            }));
            QCOMPARE(gui::desktop().portName, std::string("COM7 "));
            QCOMPARE(dir.read("SCI.INI"), std::string("COM7 \r\n"));
        });
    }

    // SCI.INI that cannot be written: the dialog stays open and a box says so.
    void unwritableIniKeepsTheDialogOpen() {
        TempDir dir;
        dir.enter();
        std::string boxCaption;
        bool stillOpen = false;
        gui::runProgram([&] {
            gui::desktop().iniPath = dir.file("no-such-dir/SCI.INI");
            QVERIFY(withPortSettings([&](Window dlg) {
                comboSetSel(dlgItem(dlg, IDC_PORT_LIST), 4);
                gui::whenShown([](QWidget* w) { return qobject_cast<QMessageBox*>(w); },
                               [&](QWidget* w) {
                                   boxCaption = w->windowTitle().toStdString();
                                   qobject_cast<QMessageBox*>(w)->done(QMessageBox::Ok);
                               });
                gui::click(dlg, IDC_OK);
                stillOpen = qtWidget(dlg) && qtWidget(dlg)->isVisible();
            }));
        });
        QVERIFY(stillOpen);
        QCOMPARE(boxCaption, std::string("シリアルポートの設定"));
        QCOMPARE(gui::desktop().portName, std::string("COM5 "));
    }

    void aboutShowsTheLogoAndOneIdeographicSpace() {
        TempDir dir;
        dir.enter();
        std::string note;
        QSize logo;
        bool owned = false;
        gui::runProgram([&] {
            gui::whenShown([](QWidget* w) { return w->windowTitle() == "ﾊﾞｰｼﾞｮﾝ情報"; },
                           [&](QWidget* w) {
                               Window dlg = qtWindow(w);
                               note = windowText(dlgItem(dlg, IDC_ABOUT_NOTE));
                               auto* label =
                                   qobject_cast<QLabel*>(qtWidget(dlgItem(dlg, IDC_ABOUT_LOGO)));
                               logo = label ? label->pixmap().size() : QSize();
                               owned = w->parentWidget() == qtWidget(gui::mainDlg());
                               QTest::keyClick(w, Qt::Key_Return);  // OK
                           });
            gui::click(gui::mainDlg(), IDC_ABOUT);  // returns once Return has closed it
        });
        QCOMPARE(note, std::string("\u3000"));
        QCOMPARE(logo, QSize(150, 40));
        QVERIFY(owned);
    }
};

QTEST_MAIN(SmallDialogsTest)
#include "small_dialogs_test.moc"
