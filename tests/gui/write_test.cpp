// Whole write jobs through the real widgets against v3sim, and the calls the job's threads
// make into the controls.
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QtTest>
#include <fstream>
#include <mutex>
#include <thread>

#include "gui_driver.h"
#include "gui_test_util.h"
#include "platform/clock.h"
#include "platform/qt/qt_ui.h"
#include "sim_harness.h"

namespace {

// Virtual milliseconds per real one: the job's pauses of 1 s and 3 s take 50 and 150 ms.
constexpr uint32_t kTimeScale = 20;
constexpr int kJobTimeoutMs = 30000;
// The job's own pauses: 1 s in flash mode, 1 s after the settings, 3 s before the sum query.
constexpr int kJobPauseSeconds = 5;

const QStringList kJobStatuses = {
    "画面書込み",     "ﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始", "ﾌﾗｯｼｭ消去終了",    "ﾃﾞｰﾀ書き込み中",
    "ﾃﾞｰﾀ書込み終了", "書き込み終了",          "データ sum=1234 ", "データ sum=1234  設定保存済",
};
const QStringList kAllSounds = {"ringin.wav", "carib.wav",  "ringin.wav",
                                "ringin.wav", "ringin.wav", "end.wav"};

// Every text the status line shows, as it is set on the widget.
class StatusRecorder : public QObject {
  public:
    QStringList texts;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::DynamicPropertyChange) {
            const QString text = o->property("text").toString();
            if (!text.isEmpty() && (texts.isEmpty() || texts.last() != text)) texts << text;
        }
        return false;
    }
};

struct SoundLog {
    std::mutex lock;
    QStringList files;
    void add(const std::string& f) {
        std::lock_guard<std::mutex> g(lock);
        files << QString::fromStdString(f);
    }
    QStringList taken() {
        std::lock_guard<std::mutex> g(lock);
        return files;
    }
};

// Runs the exit probe (offscreen) in `dir`: its exit status, -1 when it did not end by itself.
int runProbe(const QStringList& args, const std::string& dir = ".", QByteArray* out = nullptr) {
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    probe.setProcessEnvironment(env);
    probe.setWorkingDirectory(QString::fromStdString(dir));
    probe.start(ZT_EXIT_PROBE, args);
    if (!probe.waitForFinished(20000) || probe.exitStatus() != QProcess::NormalExit) return -1;
    if (out) *out = probe.readAllStandardOutput();
    return probe.exitCode();
}

bool isChooser(QWidget* w) {
    return w->windowTitle() == "画面データの指定";
}

void chooseData(const std::string& path) {
    gui::whenShown(isChooser, [path](QWidget* w) { gui::chooseFile(w, path); });
    gui::click(gui::mainDlg(), IDC_DATA_FILE);
}

QMessageBox* sumBox() {
    return qobject_cast<QMessageBox*>(gui::findShown([](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        return box && box->windowTitle().isEmpty() && box->text().startsWith("データ sum=");
    }));
}

}  // namespace

class WriteTest : public QObject {
    Q_OBJECT

    SoundLog sounds;

  private slots:
    void initTestCase() {
        setUpOnce();
        qtSetSoundObserver([this](const std::string& f) { sounds.add(f); });
    }
    void init() {
        resetProgram();
        useScaledClock(kTimeScale, 0);
        std::lock_guard<std::mutex> g(sounds.lock);
        sounds.files.clear();
    }
    void cleanup() { useScaledClock(1, 0); }

    void wholeJobThroughTheDialog() {
        TempDir dir;
        dir.enter();
        SimProcess sim;
        QVERIFY(sim.start({"--jobs", "1", "--sum", "1234"},
                          {"ZEMTABULO_TIME_SCALE=" + std::to_string(kTimeScale)}));
        dir.write("COMPORTS.INI", "COM1=" + sim.slavePath + "\n");
        const std::string data = dir.write("screens.v3", "PAGE 1\r\nTEXT\r\nENDPAGE\r\n");

        StatusRecorder status;
        bool scriptEnded = false;  // every check in the script was made
        QString endText;
        qint64 elapsedMs = 0;
        QElapsedTimer clock;  // holds the job's whole run
        gui::runProgram([&] {
            qtWidget(dlgItem(gui::mainDlg(), IDC_STATUS))->installEventFilter(&status);
            chooseData(data);
            QWidget* main = qtWidget(gui::mainDlg());
            QCOMPARE(main->focusWidget(), qtWidget(dlgItem(gui::mainDlg(), IDC_START)));
            clock.start();
            gui::click(gui::mainDlg(), IDC_START);
            QVERIFY(!isWindowEnabled(dlgItem(gui::mainDlg(), IDC_START)));
            // Enter while Start is disabled presses nothing, Exit least of all.
            QTest::keyClick(main->focusWidget() ? main->focusWidget() : main, Qt::Key_Return);
            QVERIFY(main->isVisible());

            // The sum box has no owner and leaves the main dialog usable.
            QVERIFY(gui::waitFor([] { return sumBox() != nullptr; }, kJobTimeoutMs));
            QMessageBox* box = sumBox();
            QCOMPARE(box->parentWidget(), nullptr);
            QCOMPARE(QApplication::activeModalWidget(), nullptr);
            gui::click(gui::mainDlg(), IDC_VERTICAL);
            QVERIFY(shownSettings().vertical);
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_STATUS)), std::string("書き込み終了"));
            QVERIFY(!isWindowEnabled(dlgItem(gui::mainDlg(), IDC_START)));
            box->done(QMessageBox::Ok);

            // The end box is owned by the main dialog and modal to it.
            QVERIFY(gui::waitFor([] { return gui::shownBox("ZemScrivana"); }, kJobTimeoutMs));
            QMessageBox* end = gui::shownBox("ZemScrivana");
            QCOMPARE(end->parentWidget(), qtWidget(gui::mainDlg()));
            QCOMPARE(end->windowModality(), Qt::WindowModal);
            QVERIFY(!isWindowEnabled(dlgItem(gui::mainDlg(), IDC_START)));
            auto* bar = qobject_cast<QProgressBar*>(qtWidget(dlgItem(gui::mainDlg(), IDC_PROGRESS)));
            QCOMPARE(bar->maximum(), 100);
            QCOMPARE(bar->value(), 100);
            endText = end->text();
            elapsedMs = clock.elapsed();
            end->done(QMessageBox::Ok);
            QVERIFY(gui::waitFor([] { return isWindowEnabled(dlgItem(gui::mainDlg(), IDC_START)); }));
            scriptEnded = true;
        });
        QVERIFY(scriptEnded);
        QCOMPARE(status.texts, kJobStatuses);
        // The job's time in the scaled clock: at least its own pauses, at most what the test saw.
        const QRegularExpression endLine("^書込みが終了しました\n書き込み時間は([0-9]+)秒です$");
        const int seconds = endLine.match(endText).captured(1).toInt();
        QVERIFY2(seconds >= kJobPauseSeconds && seconds <= (elapsedMs + 1) * kTimeScale / 1000,
                 qPrintable(endText));
        QCOMPARE(sounds.taken(), kAllSounds);
        QCOMPARE(sim.wait(5000), 0);  // the device saw its one job through
        const std::string settings = framed("WD bf07b 0") + "\n" + framed("WD bf075 1") + "\n";
        QCOMPARE(QByteArray::fromStdString(sim.captured()),
                 QByteArray::fromStdString(framed("FWS") + "\r\nFS\nFimageerase\nPAGE 1\nTEXT\n" +
                                           "ENDPAGE\nFs\nFWE\n" + settings + framed("UC") + "\n" +
                                           framed("Sb") + "\r\n"));
    }

    // No device on COM1: eight failed opens, then the end is announced at once.
    void portThatCannotOpenEndsAtOnce() {
        useScaledClock(1, 0);  // real seconds: none pass before the end is announced
        TempDir dir;
        dir.enter();
        dir.write("COMPORTS.INI", "COM1=" + dir.file("no-such-device") + "\n");
        const std::string data = dir.write("screens.v3", "PAGE 1\nENDPAGE\n");
        QString endText;
        gui::runProgram([&] {
            chooseData(data);
            gui::click(gui::mainDlg(), IDC_START);
            QVERIFY(gui::waitFor([] { return gui::shownBox("ZemScrivana"); }));
            QCOMPARE(windowText(dlgItem(gui::mainDlg(), IDC_STATUS)), std::string("ﾎﾟｰﾄが使用できません"));
            endText = gui::shownBox("ZemScrivana")->text();
            gui::shownBox("ZemScrivana")->done(QMessageBox::Ok);
            QVERIFY(gui::waitFor([] { return isWindowEnabled(dlgItem(gui::mainDlg(), IDC_START)); }));
        });
        QCOMPARE(endText, QString("書込みが終了しました\n書き込み時間は0秒です"));
        QCOMPARE(sounds.taken(), QStringList(kAllSounds.mid(2)));
    }

    // Calls from another thread are carried out before they return, on the GUI thread.
    void callsFromAnotherThreadAreSynchronous() {
        TempDir dir;
        dir.enter();
        gui::runProgram([] {
            std::atomic<int> done{0};
            std::string seen;
            int sel = -1, low = 0, high = 0, pos = 0;
            std::thread worker([&] {
                Window status = dlgItem(gui::mainDlg(), IDC_STATUS);
                setWindowText(status, "ﾃﾞｰﾀ書き込み中");
                seen = windowText(status);
                Window bar = dlgItem(gui::mainDlg(), IDC_PROGRESS);
                progressSetRange(bar, 0, 500);
                progressSetPos(bar, 700);  // clamped to the range
                qtProgress(bar, &low, &high, &pos);
                enableWindow(dlgItem(gui::mainDlg(), IDC_START), false);
                sel = shownSettings().lineSpeed;
                done = 1;
            });
            QVERIFY(gui::waitFor([&] { return done.load() == 1; }));
            worker.join();
            QCOMPARE(seen, std::string("ﾃﾞｰﾀ書き込み中"));
            QCOMPARE(sel, 3);
            QCOMPARE(high, 500);
            QCOMPARE(pos, 500);
            QVERIFY(!qtWidget(dlgItem(gui::mainDlg(), IDC_START))->isEnabled());
        });
    }

    // The port error stop ends the program from the worker thread with the given status. The
    // end lets a sound being played end, and waits for no thread otherwise.
    void exitFromAWorkerThreadEndsTheProgramAfterTheSound() {
        QByteArray out;
        QCOMPARE(runProbe({"worker", "7"}, ".", &out), 7);
        QCOMPARE(out, QByteArray("heard\n"));
    }

    // Exit during the data transfer ends the program at once; nothing after the data is sent.
    void exitDuringAWriteEndsTheProgramAtOnce() {
        TempDir dir;
        SimProcess sim;
        QVERIFY(sim.start({"--jobs", "1", "--rate", "3840"}));
        dir.write("COMPORTS.INI", "COM1=" + sim.slavePath + "\n");
        const std::string data = dir.file("sample.v3");
        std::filesystem::copy_file(ZT_SAMPLE_DATA, data);
        QCOMPARE(runProbe({"write", QString::fromStdString(data)}, dir.path.string()), 0);
        const std::string sent = sim.captured();
        QVERIFY(sent.find("Fimageerase") != std::string::npos);  // the job had begun
        QVERIFY(sent.find("FWE") == std::string::npos);
        QVERIFY(sent.size() < std::filesystem::file_size(data));
    }
};

QTEST_MAIN(WriteTest)
#include "write_test.moc"
