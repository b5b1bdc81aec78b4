// The real program on a private X desktop with something hostile in place of its settings files
// or its lock file: it starts and shows the character all the same, in its usual time.

#include "E2e.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <sys/stat.h>

using namespace e2e;

namespace {

// Puts kind at path: "fifo" (no writer ever comes), "zero" (a link to /dev/zero), "huge" (100 MB
// of blank lines), "folder", or bytes of a file ("empty", "garbage").
bool plant(const QString& kind, const QString& path) {
    if (kind == "fifo")
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    if (kind == "zero")
        return QFile::link(QStringLiteral("/dev/zero"), path);
    if (kind == "folder")
        return QDir().mkdir(path);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (kind == "huge") {
        const QByteArray blankLines(1024 * 1024, '\n');
        for (int i = 0; i < 100; ++i)
            if (f.write(blankLines) != blankLines.size())
                return false;
        return true;
    }
    return kind == "empty" || f.write(QByteArray("\xff\xfe\0 not a lock\n", 16)) == 16;
}

// Removes whatever stands at path, without following a link.
void clear(const QString& path) {
    if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
        QDir().rmdir(path);
    else if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
        QFile::remove(path);
}

} // namespace

class TestE2eHostileFiles : public QObject {
    Q_OBJECT
    Desktop d;

    QStringList settingsFiles() const {
        const QString data = d.programFolder() + QStringLiteral("/★MailData/");
        return {d.work() + QStringLiteral("/vbmail.ini"), data + QStringLiteral("iniIdPass.ini"),
                data + QStringLiteral("ini.ini")};
    }

  private slots:
    void initTestCase() {
        QString why;
        QVERIFY2(d.start(&why), qPrintable(why));
    }

    void startsWhateverStandsThere_data() {
        QTest::addColumn<bool>("inSettings"); // else in the lock file
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"fifo", "zero", "huge", "folder"})
            QTest::addRow("settings files: %s", kind) << true << kind;
        for (const char* kind : {"empty", "garbage", "fifo"})
            QTest::addRow("lock file: %s", kind) << false << kind;
    }

    void startsWhateverStandsThere() {
        QFETCH(bool, inSettings);
        QFETCH(QString, kind);
        const QString lock = d.runtimeDir() + QStringLiteral("/mokopon.lock");
        const QStringList settings = settingsFiles();
        for (const QString& path : settings + QStringList{lock})
            clear(path);
        if (inSettings) {
            for (const QString& path : settings)
                QVERIFY2(plant(kind, path), qPrintable(path));
        } else {
            QVERIFY(d.writeCompleteSettings());
            QVERIFY(plant(kind, lock));
        }

        QElapsedTimer t;
        t.start();
        QProcess* program = d.launch();
        QVERIFY(program->waitForStarted(5000));
        QVERIFY(!d.waitForWindow(kCharacterTitle).isEmpty());
        const qint64 shownAfter = t.elapsed();
        qInfo("character shown after %lld ms", shownAfter);
        QVERIFY2(shownAfter < 5000, qPrintable(QString::number(shownAfter)));
        // The settings read as missing, so the program asks for the server as at a first start.
        if (inSettings)
            QVERIFY(!d.waitForWindow(kServerTitle).isEmpty());
        QVERIFY2(!program->waitForFinished(300), "the program ended by itself");
        program->kill();
        QVERIFY(program->waitForFinished(5000));
        // The next row must not find this run's window.
        QTRY_VERIFY_WITH_TIMEOUT(d.findWindows(kCharacterTitle, false).isEmpty(), 5000);
    }
};

QTEST_GUILESS_MAIN(TestE2eHostileFiles)
#include "test_e2e_hostile_files.moc"
