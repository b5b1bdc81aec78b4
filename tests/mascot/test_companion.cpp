// The companion's meeting check: it barks only while it stands exactly on the startup character's
// spot, and a tick that comes while it waits after a bark is skipped. A bark that cannot play says
// why in an error box.

#include "../panel/TestWindows.h"
#include "EffectSound.h"
#include "EffectSoundPlayer.h"
#include "Program.h"
#include "Rounding.h"
#include "Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The barks are counted by the box of an output that refuses them; Windows' PlaySound under Wine
// plays, or fails without saying so, where no sound can come out.
#ifdef Q_OS_WIN
#define SKIP_WHERE_BARKS_ARE_NOT_COUNTED() QSKIP("PlaySound refuses no bark under Wine")
#else
#define SKIP_WHERE_BARKS_ARE_NOT_COUNTED()
#endif

class TestCompanion : public QObject {
    Q_OBJECT
    QTemporaryDir program;
    QTemporaryDir work;
    // With no sound server every bark fails with the output's refusal, and its error box is how
    // the test counts barks.
    int barks = 0;
    TestWindows w;
    // Every box shown.
    QList<ShownBox>& boxes = w.answering.shown;
    StartupCharacter* character = nullptr;
    Companion* companion = nullptr;

  private slots:
    void initTestCase() {
        qputenv("PULSE_SERVER",
                QByteArray("unix:") + work.path().toLocal8Bit() + "/no-such-socket");
        qputenv("XDG_RUNTIME_DIR", work.path().toLocal8Bit());
        QDir().mkpath(program.path() + QStringLiteral("/★MailData"));
        QDir().mkpath(program.path() + QStringLiteral("/Sound"));
        QFile::copy(QStringLiteral(MOKOPON_SOURCE_DIR "/assets/Sound/Kouka.wav"),
                    program.path() + QStringLiteral("/Sound/Kouka.wav"));
        Program::setFolder(program.path());
        QDir::setCurrent(work.path());
        QFile server(QStringLiteral("vbmail.ini"));
        QVERIFY(server.open(QIODevice::WriteOnly));
        server.write("SMTP=\r\nPOP3=pop.example\r\nMAIL=\r\nAPOP=0\r\n");
        server.close();
        QFile account(program.path() + QStringLiteral("/★MailData/iniIdPass.ini"));
        QVERIFY(account.open(QIODevice::WriteOnly));
        account.write("[EXEINI]\r\nNAME=u\r\nNAME2=p\r\n");
        account.close();
        w.answering.heard = [this](const ShownBox& box) {
            if (box.text == EffectSound::message(4) && box.icon == MessageBoxes::Icon::Critical &&
                box.title == QStringLiteral("エラー"))
                ++barks;
        };
        character = w.character.get();
        QVERIFY(!w.companion.isLoaded()); // not before it is first asked for
        companion = w.companion.get();
        // The timers would bark on their own; the test drives the ticks itself.
        character->tickTimer->stop();
        companion->tickTimer->stop();
        companion->meetingTimer->stop();
    }

    void parkedOneTwipOffStaysSilent() {
        // Loaded hidden, one twip off where the character stands.
        QVERIFY(!companion->isVisible());
        QCOMPARE(companion->leftTwips(), character->leftTwips() + 1);
        QCOMPARE(companion->topTwips(), character->topTwips() + 1);
        character->setLeftTwips(3000);
        character->setTopTwips(3000);
        companion->setLeftTwips(3001);
        companion->setTopTwips(3001);
        barks = 0;
        companion->meetCharacter();
        QCOMPARE(barks, 0);
        // One axis equal is not enough.
        companion->setLeftTwips(3000);
        companion->meetCharacter();
        QCOMPARE(barks, 0);
    }

    void standingOnTheSpotBarksAndWaits() {
        SKIP_WHERE_BARKS_ARE_NOT_COUNTED();
        character->setLeftTwips(3000);
        character->setTopTwips(3000);
        companion->setLeftTwips(3000);
        companion->setTopTwips(3000);
        barks = 0;
        QElapsedTimer t;
        t.start();
        companion->meetCharacter();
        QCOMPARE(barks, 1);
        QVERIFY2(t.elapsed() > 1200, qPrintable(QString::number(t.elapsed())));
    }

    void tickDuringTheWaitIsSkipped() {
        SKIP_WHERE_BARKS_ARE_NOT_COUNTED();
        character->setLeftTwips(3000);
        character->setTopTwips(3000);
        companion->setLeftTwips(3000);
        companion->setTopTwips(3000);
        barks = 0;
        bool sawWait = false;
        QTimer::singleShot(300, this, [&] {
            sawWait = companion->inMeetingWait();
            companion->meetCharacter();
        });
        companion->meetCharacter();
        QVERIFY(sawWait);
        QCOMPARE(barks, 1);
        QVERIFY(!companion->inMeetingWait());
    }

    void screenKeepingBringsBothIntoTheCorner() {
        SKIP_WHERE_BARKS_ARE_NOT_COUNTED();
        const float w = float(character->framePictures[0].width()) * Twips::perPixelX();
        const float h = float(character->framePictures[0].height()) * Twips::perPixelY();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const float cornerLeft =
            float(roundHalfEven(float(screen.width()) * Twips::perPixelX() - w));
        const float cornerTop =
            float(roundHalfEven(float(screen.height()) * Twips::perPixelY() - h));
        character->setLeftTwips(cornerLeft);
        character->setTopTwips(cornerTop);
        companion->setLeftTwips(cornerLeft + 1);
        companion->setTopTwips(cornerTop + 1);
        barks = 0;
        companion->meetCharacter();
        QCOMPARE(barks, 0);
        // The companion's own tick pulls it back into the corner, onto the character's spot.
        companion->tick();
        QCOMPARE(companion->leftTwips(), cornerLeft);
        QCOMPARE(companion->topTwips(), cornerTop);
        companion->meetCharacter();
        QCOMPARE(barks, 1);
    }

    // The panel holds the hidden character above the screen; the companion's screen keeping pulls
    // it onto the screen, off the spot, and the character's own tick must not meet it there.
    void heldAboveTheScreenTheCharacterIsNeverMet() {
        ControlPanel* panel = w.panel.get();
        panel->setTopTwips(150);
        panel->holdCharacter();
        QVERIFY(character->topTwips() < 0);
        panel->bark();
        barks = 0;
        companion->tick();
        QCOMPARE(companion->topTwips(), 0.0f);
        character->tick();
        companion->meetCharacter();
        QCOMPARE(barks, 0);
        QVERIFY(character->topTwips() < 0);
        QVERIFY(panel->unload());
    }

    // Nothing lets the user set the sound check boxes: no access key, no focus.
    void soundBoxesAreOutOfTheUsersReach() {
        for (CharacterWindow* w :
             {static_cast<CharacterWindow*>(character), static_cast<CharacterWindow*>(companion)}) {
            w->show();
            w->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w));
            for (Qt::Key k : {Qt::Key_S, Qt::Key_L, Qt::Key_O})
                QTest::keyClick(w, k, Qt::AltModifier);
            for (int i = 0; i < 6; ++i) {
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w,
                                Qt::Key_Tab);
                QVERIFY(!qobject_cast<QCheckBox*>(QApplication::focusWidget()));
            }
            QVERIFY(!w->synchronousBox->isChecked() && !w->loopBox->isChecked() &&
                    !w->inMemoryBox->isChecked());
            w->hide();
        }
    }

    void companionFramesIgnoreStandIn() {
        companion->frameStep = 0;
        QList<int> seen;
        for (int i = 0; i < 8; ++i) {
            companion->tick();
            seen << companion->frameStep;
        }
        QCOMPARE(seen, (QList<int>{1, 2, 3, 4, 5, 6, 7, 1}));
        QVERIFY(companion->hasRegion());
    }

    // The sound boxes and the sound file as a bark finds them, and why it cannot play then.
    void failedBarkSaysWhy_data() {
        QTest::addColumn<bool>("synchronous");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<bool>("fromMemory");
        QTest::addColumn<QString>("sound"); // "kept", "missing" or "too large"
        QTest::addColumn<int>("code");
        QTest::newRow("no sound server")
            << false << false << false << "kept" << int(EffectSoundPlayer::Refused);
        QTest::newRow("synchronous and loop")
            << true << true << false << "kept" << int(EffectSoundPlayer::BadFlags);
        QTest::newRow("from memory, file missing")
            << false << false << true << "missing" << int(EffectSoundPlayer::FileMissing);
        QTest::newRow("from memory, file too large")
            << false << false << true << "too large" << int(EffectSoundPlayer::TooLarge);
    }

    void failedBarkSaysWhy() {
        QFETCH(bool, synchronous);
        QFETCH(bool, loop);
        QFETCH(bool, fromMemory);
        QFETCH(QString, sound);
        QFETCH(int, code);
        if (code == EffectSoundPlayer::Refused)
            SKIP_WHERE_BARKS_ARE_NOT_COUNTED();
        const QString file = program.path() + QStringLiteral("/Sound/Kouka.wav");
        const QString kept = work.path() + QStringLiteral("/Kouka.wav");
        QVERIFY(QFile::copy(file, kept));
        auto restore = qScopeGuard([&] {
            companion->synchronousBox->setChecked(false);
            companion->loopBox->setChecked(false);
            companion->inMemoryBox->setChecked(false);
            QFile::remove(file);
            QFile::rename(kept, file);
        });
        if (sound != u"kept")
            QVERIFY(QFile::remove(file));
        if (sound == u"too large") {
            QFile big(file);
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(EffectSoundPlayer::MemoryLimit + 1));
        }
        companion->synchronousBox->setChecked(synchronous);
        companion->loopBox->setChecked(loop);
        companion->inMemoryBox->setChecked(fromMemory);

        boxes.clear();
        companion->playSound();
        QCOMPARE(boxes.size(), 1);
        const ShownBox box = boxes.first();
        QCOMPARE(box.text, EffectSound::message(code));
        QVERIFY(!box.text.isEmpty());
        QCOMPARE(box.icon, MessageBoxes::Icon::Critical);
        QCOMPARE(box.title, QStringLiteral("エラー"));
    }
};

QTEST_MAIN(TestCompanion)
#include "test_companion.moc"
