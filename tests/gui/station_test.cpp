// The station window on its real widgets: a whole run of four slots started with Enter, each
// slot's job a zemtabulo-cli child (beside this test in build/bin) writing into its own v3sim.
// clang-format off
// Before Qt, whose `slots` keyword would take StationConfig::slots.
#include "app/station_window_ini.h"
// clang-format on

#include <stdlib.h>

#include <QtTest>
#include <array>

#include "app/station_window.h"
#include "gui_driver.h"
#include "gui_test_util.h"
#include "platform/qt/qt_ui.h"
#include "sim_harness.h"

namespace {

constexpr int kSlots = 4;
constexpr int kRunTimeoutMs = 60000;
// The jobs are children: they take the scaled clock from the environment.
constexpr const char* kTimeScale = "20";
const std::string kTitle = "ZemTabulo ステーション";

struct Shown {
    std::string text;
    QRgb corner;  // painted just inside the result field's top left corner
};

bool allIdle(Window dlg) {
    for (int s = 0; s < kSlots; ++s)
        if (!isWindowEnabled(dlgItem(dlg, slotControlId(s, kSlotStart)))) return false;
    return true;
}

// Enter on the window as it opened (全台開始 has the focus) starts every slot at once; waits for
// them all to end.
void runAll(QWidget* window, std::array<Shown, kSlots>& shown) {
    Window dlg = qtWindow(window);
    QVERIFY(window->focusWidget() == qtWidget(dlgItem(dlg, IDC_ST_START_ALL)));
    QTest::keyClick(window->focusWidget(), Qt::Key_Return);
    for (int s = 0; s < kSlots; ++s)
        QVERIFY2(!isWindowEnabled(dlgItem(dlg, slotControlId(s, kSlotStart))),
                 qPrintable(QString::number(s)));
    QVERIFY(gui::waitFor([dlg] { return allIdle(dlg); }, kRunTimeoutMs));
    const QImage shot = window->grab().toImage();
    for (int s = 0; s < kSlots; ++s) {
        Window field = dlgItem(dlg, slotControlId(s, kSlotResult));
        const QPoint corner = qtWidget(field)->geometry().topLeft() + QPoint(2, 2);
        shown[size_t(s)] = {windowText(field), shot.pixel(corner)};
    }
}

}  // namespace

class StationTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { setUpOnce(); }
    void cleanup() { unsetenv("ZEMTABULO_TIME_SCALE"); }

    void fourSlotsEndOkOrNgInColourAndAreLogged() {
        TempDir dir;
        dir.enter();
        setenv("ZEMTABULO_TIME_SCALE", kTimeScale, 1);
        const char* sums[kSlots] = {"5A3C", "5A3C", "1111", "5A3C"};
        std::array<SimProcess, kSlots> sims;
        std::string ini = "slots=4\r\ndata=d.v3\r\nlog=log.csv\r\nexpect-sum=5A3C\r\n";
        for (int s = 0; s < kSlots; ++s) {
            QVERIFY(sims[size_t(s)].start({"--jobs", "1", "--sum", sums[s]},
                                          {std::string("ZEMTABULO_TIME_SCALE=") + kTimeScale}));
            ini += "slot" + std::to_string(s + 1) + ".port=" + sims[size_t(s)].slavePath + "\r\n";
        }
        dir.write("d.v3", "BMP 1\nB 00\nPAGE 1\nTEXT hello\n");
        dir.write(kStationIniName, ini);

        std::array<Shown, kSlots> shown{};
        gui::whenShown([](QWidget* w) { return w->windowTitle().toStdString() == kTitle; },
                       [&](QWidget* w) {
                           runAll(w, shown);
                           gui::closeBoxes();
                           endDialog(qtWindow(w), IDC_ST_EXIT);
                       });
        QCOMPARE(stationMain({}), 0);

        for (int s = 0; s < kSlots; ++s) {
            const bool ok = s != 2;
            QCOMPARE(shown[size_t(s)].text, std::string(ok ? "OK 5A3C" : "NG ｻﾑ不一致"));
            QCOMPARE(shown[size_t(s)].corner, QRgb((ok ? kOkColour : kNgColour) | 0xFF000000u));
        }
        const std::string log = dir.read("log.csv");
        size_t lines = 0;
        for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
        QCOMPARE(lines, size_t(1 + kSlots));  // the header and a record per device
    }

    // A label scanned into a row's field with real key events: the row's own job starts with
    // the id (Enter is the field's, never the window's Start-all button), the field empties,
    // and the focus goes on to the next free row's field for the next scan.
    void aScannedIdStartsItsRowAlone() {
        TempDir dir;
        dir.enter();
        setenv("ZEMTABULO_TIME_SCALE", kTimeScale, 1);
        std::array<SimProcess, kSlots> sims;
        std::string ini = "slots=4\r\ndata=d.v3\r\nlog=log.csv\r\nunit=required\r\n";
        for (int s = 0; s < kSlots; ++s) {
            QVERIFY(sims[size_t(s)].start({"--jobs", "1"},
                                          {std::string("ZEMTABULO_TIME_SCALE=") + kTimeScale}));
            ini += "slot" + std::to_string(s + 1) + ".port=" + sims[size_t(s)].slavePath + "\r\n";
        }
        dir.write("d.v3", "BMP 1\nB 00\nPAGE 1\nTEXT hello\n");
        dir.write(kStationIniName, ini);

        std::array<bool, kSlots> running{};
        std::string fieldAfter = "?";
        QWidget* focusAfter = nullptr;
        QWidget* nextField = nullptr;
        gui::whenShown([](QWidget* w) { return w->windowTitle().toStdString() == kTitle; },
                       [&](QWidget* w) {
                           Window dlg = qtWindow(w);
                           QWidget* field = qtWidget(dlgItem(dlg, slotControlId(1, kSlotUnit)));
                           nextField = qtWidget(dlgItem(dlg, slotControlId(2, kSlotUnit)));
                           field->setFocus();
                           QTest::keyClicks(field, "SN-0001");
                           QTest::keyClick(field, Qt::Key_Return);
                           for (int s = 0; s < kSlots; ++s)
                               running[size_t(s)] =
                                   !isWindowEnabled(dlgItem(dlg, slotControlId(s, kSlotStart)));
                           fieldAfter = windowText(dlgItem(dlg, slotControlId(1, kSlotUnit)));
                           focusAfter = w->focusWidget();
                           gui::waitFor([dlg] { return allIdle(dlg); }, kRunTimeoutMs);
                           gui::closeBoxes();
                           endDialog(dlg, IDC_ST_EXIT);
                       });
        QCOMPARE(stationMain({}), 0);

        QCOMPARE(running, (std::array<bool, kSlots>{false, true, false, false}));
        QCOMPARE(fieldAfter, std::string());
        QVERIFY(focusAfter == nextField);
        const std::string log = dir.read("log.csv");
        QVERIFY2(log.find("," + sims[1].slavePath + ",") != std::string::npos, log.c_str());
        QVERIFY2(log.find(",SN-0001\r\n") != std::string::npos, log.c_str());
        QVERIFY2(log.find(sims[0].slavePath) == std::string::npos, "one record, the row's");
    }
};

QTEST_MAIN(StationTest)
#include "station_test.moc"
