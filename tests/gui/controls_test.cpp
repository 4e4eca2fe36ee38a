// Controls of the station window on the Qt backend: edit box, keys by mnemonic, posted
// commands, the large coloured result field and the Yes/No box. A small dialog of its own.
#include <QFontInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <thread>

#include "gui_driver.h"
#include "platform/qt/qt_ui.h"

namespace {

enum : int { kOk = 1, kCancel = 2, kResult = 10, kSerial = 11, kStart = 12, kStop = 13 };
constexpr int kPosted = 100;  // first id of the posted commands
constexpr int kLate = 99;     // posted after the end
constexpr int kPosts = 200;

constexpr ControlTemplate kControls[] = {
    {kResult, ControlKind::StaticText, "OK", 8, 8, 140, 40, kLargeText},
    {-1, ControlKind::StaticText, "番号", 8, 56, 30, 10, 0},
    {kSerial, ControlKind::Edit, "", 40, 54, 108, 14, kTabStop | kBorder},
    {kStart, ControlKind::PushButton, "開始(&1)", 8, 76, 44, 14, kTabStop},
    {kStop, ControlKind::PushButton, "停止(&2)", 56, 76, 44, 14, kTabStop | kDisabled},
    {kOk, ControlKind::DefPushButton, "OK", 104, 76, 44, 14, kTabStop},
};
const DialogTemplate kTemplate{900, "controls", 0, 0, 156, 98, true, "System", 0, kControls};

struct Seen {
    int id;
    std::thread::id thread;
};
std::vector<Seen> g_seen;  // commands the procedure got, GUI thread only
Window g_dlg = nullptr;

bool procedure(Window dlg, unsigned msg, int id) {
    if (msg == kMsgInitDialog) g_dlg = dlg;
    if (msg != kMsgCommand) return msg == kMsgInitDialog;
    g_seen.push_back({id, std::this_thread::get_id()});
    if (id == kCancel) endDialog(dlg, kCancel);
    return true;
}

std::vector<int> seenIds() {
    std::vector<int> ids;
    for (const Seen& s : g_seen) ids.push_back(s.id);
    return ids;
}

// Runs the dialog with `script` started inside its modal loop; ends it afterwards.
void withDialog(const std::function<void(Window)>& script) {
    g_seen.clear();
    QTimer::singleShot(0, qApp, [&] {
        script(g_dlg);
        if (qtWidget(g_dlg)) endDialog(g_dlg, 0);
    });
    dialogBox(kTemplate, nullptr, procedure);
}

QWidget* widgetOf(int id) {
    return qtWidget(dlgItem(g_dlg, id));
}

// Runs `call` on a thread of its own while the GUI thread keeps dispatching events.
bool onOtherThread(const std::function<void()>& call) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        call();
        done = true;
    });
    const bool ended = gui::waitFor([&] { return done.load(); });
    t.join();
    return ended;
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT

  private slots:
    void editBoxTakesTypedTextAndPassesEnterOn() {
        withDialog([](Window dlg) {
            Window edit = dlgItem(dlg, kSerial);
            auto* line = qobject_cast<QLineEdit*>(qtWidget(edit));
            QVERIFY(line);
            QCOMPARE(qtWidget(dlg)->focusWidget(), line);  // the first tab stop
            setWindowText(edit, "A-");
            QCOMPARE(line->text(), QString("A-"));
            // Digits go into the box: no command, and 開始(&1) is not pressed.
            QTest::keyClicks(line, "123");
            QCOMPARE(windowText(edit), std::string("A-123"));
            QVERIFY(g_seen.empty());
            QTest::keyClick(line, Qt::Key_Return);  // the default button
            QCOMPARE(seenIds(), std::vector<int>{kOk});
            enableWindow(edit, false);
            QVERIFY(!line->isEnabled());
            QVERIFY(!isWindowEnabled(edit));
        });
    }

    void keyAloneOrWithAltPressesTheMarkedButton() {
        struct Row {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            std::vector<int> expected;
        };
        const Row rows[] = {
            {Qt::Key_1, Qt::NoModifier, {kStart}},   {Qt::Key_1, Qt::KeypadModifier, {kStart}},
            {Qt::Key_2, Qt::NoModifier, {}},  // 停止(&2) is disabled
            {Qt::Key_3, Qt::NoModifier, {}},         {Qt::Key_1, Qt::ControlModifier, {}},
            {Qt::Key_Return, Qt::NoModifier, {kOk}},
        };
        withDialog([&](Window) {
            QVERIFY(QTest::qWaitForWindowActive(qtWidget(g_dlg)));
            QWidget* ok = widgetOf(kOk);
            ok->setFocus();
            QVERIFY(ok->hasFocus());
            for (const Row& row : rows) {
                g_seen.clear();
                QTest::keyClick(ok, row.key, row.modifiers);
                QCOMPARE(seenIds(), row.expected);
            }
            // Qt's own mnemonic, shown underlined, still answers Alt (pressed with a delay).
            g_seen.clear();
            QCOMPARE(qobject_cast<QPushButton*>(widgetOf(kStart))->shortcut(),
                     QKeySequence(Qt::ALT | Qt::Key_1));
            QTest::keyClick(ok, Qt::Key_1, Qt::AltModifier);
            QTRY_COMPARE(seenIds(), std::vector<int>{kStart});
        });
    }

    // Posts from a thread arrive in order on the GUI thread, later than the call; one posted
    // after the end reaches neither that dialog nor the next (which may get its address).
    void postedCommandsArriveInOrderAndNotAfterTheEnd() {
        withDialog([](Window dlg) {
            postCommand(dlg, kPosted);
            QVERIFY(g_seen.empty());  // posted, not sent
            std::thread poster([dlg] {
                for (int i = 1; i < kPosts; ++i) postCommand(dlg, kPosted + i);
            });
            poster.join();
            QTRY_COMPARE(int(g_seen.size()), kPosts);
            for (int i = 0; i < kPosts; ++i) {
                QCOMPARE(g_seen[i].id, kPosted + i);
                QCOMPARE(g_seen[i].thread, std::this_thread::get_id());
            }
            endDialog(dlg, 0);
            std::thread late([dlg] { postCommand(dlg, kLate); });
            late.join();
        });
        withDialog([](Window) { QTest::qWait(50); });
        QVERIFY(g_seen.empty());
    }

    void largeFieldIsBoldAndPaintedInItsColour() {
        withDialog([](Window dlg) {
            Window field = dlgItem(dlg, kResult);
            QWidget* w = qtWidget(field);
            QFontInfo large(w->font()), normal(qtWidget(dlg)->font());
            QVERIFY(large.bold());
            QVERIFY2(large.pixelSize() > 2 * normal.pixelSize(),
                     qPrintable(QString("%1 %2").arg(large.pixelSize()).arg(normal.pixelSize())));
            QCOMPARE(controlColour(field), kNoColour);
            const QRgb dialogBack = qtWidget(dlg)->palette().color(QPalette::Window).rgb();
            for (uint32_t rgb : {0x00C000u, 0xFF2000u, kNoColour}) {
                QVERIFY(onOtherThread([&] { setControlColour(field, rgb); }));
                QCOMPARE(controlColour(field), rgb);
                const QImage shot = qtWidget(dlg)->grab().toImage();
                const QPoint corner = w->geometry().topLeft() + QPoint(2, 2);
                const QRgb want = rgb == kNoColour ? dialogBack : (rgb | 0xFF000000u);
                QCOMPARE(shot.pixel(corner), want);
                // The text on a colour is black.
                bool black = false;
                const QRect r = w->geometry();
                for (int y = r.top(); y <= r.bottom() && !black; ++y)
                    for (int x = r.left(); x <= r.right() && !black; ++x)
                        black = (shot.pixel(x, y) & 0xFFFFFFu) == 0;
                QVERIFY(black);
            }
        });
    }

    void yesNoBoxAnswersTheButtonPressed() {
        struct Row {
            bool fromThread;
            QMessageBox::StandardButton press;  // NoButton: Enter
            bool expected;
        };
        const Row rows[] = {{false, QMessageBox::Yes, true},
                            {false, QMessageBox::No, false},
                            {true, QMessageBox::Yes, true},
                            {true, QMessageBox::NoButton, false}};
        for (const Row& row : rows) {
            QString yes, no, byDefault;
            gui::whenShown([](QWidget* w) { return qobject_cast<QMessageBox*>(w); },
                           [&](QWidget* w) {
                               auto* box = qobject_cast<QMessageBox*>(w);
                               yes = box->button(QMessageBox::Yes)->text();
                               no = box->button(QMessageBox::No)->text();
                               byDefault = box->defaultButton()->text();
                               if (row.press == QMessageBox::NoButton)
                                   QTest::keyClick(box, Qt::Key_Return);
                               else
                                   box->button(row.press)->click();
                           });
            bool answer = !row.expected;
            auto ask = [&] { answer = askYesNo(nullptr, "書き込みますか?", "確認"); };
            if (row.fromThread)
                QVERIFY(onOtherThread(ask));
            else
                ask();
            QCOMPARE(answer, row.expected);
            QCOMPARE(yes, QString("はい"));
            QCOMPARE(no, QString("いいえ"));
            QCOMPARE(byDefault, no);
        }
    }
};

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
