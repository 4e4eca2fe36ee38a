// Sound through libcanberra on ALSA, with the device the test's environment configures: the
// null device (sounds end at once) or a card that is not there.
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <mutex>

#include "platform/qt/qt_ui.h"

namespace {
// Far below the wait a sound whose end is never reported would cost (its length plus 3 s).
constexpr int kQuickMs = 1500;
}  // namespace

class SoundTest : public QObject {
    Q_OBJECT

    std::mutex lock;
    QStringList asked;

  private slots:
    void initTestCase() {
        qtSetSoundObserver([this](const std::string& f) {
            std::lock_guard<std::mutex> g(lock);
            asked << QString::fromStdString(f);
        });
    }

    // The three files beside the program and a missing one (the theme's bell): each call
    // returns when its sound is reported ended.
    void returnsWhenTheSoundHasEnded() {
        QElapsedTimer timer;
        timer.start();
        for (const char* f : {"ringin.wav", "carib.wav", "end.wav", "no-such-sound.wav"})
            playSound(f);
        QVERIFY2(timer.elapsed() < kQuickMs, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(qtSoundDevice());
        QCOMPARE(asked, (QStringList{"ringin.wav", "carib.wav", "end.wav", "no-such-sound.wav"}));
    }

    // The working directory wins, then the program's folder, then the data folder of the
    // installation the program sits in (a relocated root such as an unpacked package).
    void findsSoundsInOrder() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QDir r(root.path());
        const QString places[] = {"work", "usr/bin", "usr/share/zemtabulo"};
        for (const QString& p : places) QVERIFY(r.mkpath(p));
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(r.filePath("work")));
        const std::string bin = r.filePath("usr/bin").toStdString();
        struct Row {
            bool work, program, share;
            int expected;  // index into places, -1 for none
        };
        const Row rows[] = {{true, true, true, 0},
                            {false, true, true, 1},
                            {false, false, true, 2},
                            {true, false, true, 0},
                            {false, false, false, -1}};
        const QString name = "zt-lookup-probe.wav";
        for (const Row& row : rows) {
            const bool present[] = {row.work, row.program, row.share};
            for (int i = 0; i < 3; ++i) {
                QFile f(r.filePath(places[i] + "/" + name));
                if (present[i])
                    QVERIFY(f.open(QIODevice::WriteOnly));
                else
                    f.remove();
            }
            const std::string want =
                row.expected < 0 ? "" : r.filePath(places[row.expected] + "/" + name).toStdString();
            QCOMPARE(qtFindSound(name.toStdString(), bin), want);
        }
        QCOMPARE(qtFindSound(r.filePath("no/such.wav").toStdString(), bin), std::string());
        QVERIFY(QDir::setCurrent(saved));
    }

    // Nothing on stderr either: ALSA's complaints about the missing card are debug output.
    void returnsAtOnceWithoutADevice() {
        QTemporaryFile err;
        QVERIFY(err.open());
        const int saved = dup(STDERR_FILENO);
        QVERIFY(saved >= 0 && dup2(err.handle(), STDERR_FILENO) >= 0);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 4; ++i) playSound("ringin.wav");
        const qint64 took = timer.elapsed();
        QVERIFY(dup2(saved, STDERR_FILENO) >= 0 && close(saved) == 0 && err.seek(0));
        QVERIFY(took < kQuickMs);
        QVERIFY(!qtSoundDevice());
        QCOMPARE(err.readAll(), QByteArray());
    }
};

QTEST_MAIN(SoundTest)
#include "sound_test.moc"
