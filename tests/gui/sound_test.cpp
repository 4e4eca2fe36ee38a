// Sound through libcanberra on ALSA, with the device the test's environment configures: the
// null device (sounds end at once) or a card that is not there.
#include <QElapsedTimer>
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

    void returnsAtOnceWithoutADevice() {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 4; ++i) playSound("ringin.wav");
        QVERIFY(timer.elapsed() < kQuickMs);
        QVERIFY(!qtSoundDevice());
    }
};

QTEST_MAIN(SoundTest)
#include "sound_test.moc"
