// The single-instance lock: nothing left at the lock file's path blocks a start; a running holder
// does, and its end frees the lock.

#include "InstanceLock.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using Result = InstanceLock::Result;

namespace {

// "--hold-lock PATH": tries the lock, says how it went, and keeps it until killed.
int holdLock(const char* path) {
    InstanceLock lock(QFile::decodeName(path));
    std::puts(lock.tryLock() == Result::Taken ? "held" : "refused");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

// Another process of this program trying the lock; its first line says what it got.
std::unique_ptr<QProcess> startHolder(const QString& path, QByteArray* said) {
    auto p = std::make_unique<QProcess>();
    p->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-lock"), path});
    while (!p->canReadLine() && p->waitForReadyRead(10000)) {
    }
    *said = p->readLine().trimmed();
    return p;
}

void stop(QProcess& p) {
    p.kill();
    p.waitForFinished(5000);
}

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestInstanceLock : public QObject {
    Q_OBJECT
  private slots:
    void startRules_data();
    void startRules();
};

void TestInstanceLock::startRules_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("result");
    const int taken = int(Result::Taken);
    QTest::newRow("no lock file") << "none" << taken;
    QTest::newRow("empty lock file") << "empty" << taken;
    QTest::newRow("garbage") << "garbage" << taken;
    QTest::newRow("a live process of another host") << "foreign" << taken;
    QTest::newRow("left by a killed holder") << "killed" << taken;
    QTest::newRow("a FIFO") << "fifo" << taken;
    QTest::newRow("a link to a file elsewhere") << "link" << taken;
    QTest::newRow("held by a running process") << "held" << int(Result::HeldElsewhere);
    QTest::newRow("a folder in the way") << "folder" << int(Result::Unavailable);
}

void TestInstanceLock::startRules() {
    QFETCH(QString, setup);
    QFETCH(int, result);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mokopon.lock"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    const QByteArray elsewhereBytes("not a lock\n");
    auto write = [&](const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    };
    std::unique_ptr<QProcess> holder;
    QByteArray said;
    if (setup == "empty")
        write(QByteArray());
    else if (setup == "garbage")
        write(QByteArray("\xff\xfe\0garbage\n", 11));
    else if (setup == "foreign")
        write(QByteArray::number(QCoreApplication::applicationPid()) +
              "\nmokopon\nfar-away-host\n");
    else if (setup == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (setup == "folder")
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("mokopon.lock")));
    else if (setup == "link") {
        QFile f(elsewhere);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(elsewhereBytes) > 0);
        f.close();
        QVERIFY(QFile::link(elsewhere, path));
    } else if (setup == "killed" || setup == "held") {
        holder = startHolder(path, &said);
        QCOMPARE(said, QByteArray("held"));
        if (setup == "killed")
            stop(*holder);
    }

    QElapsedTimer t;
    t.start();
    InstanceLock lock(path);
    QCOMPARE(int(lock.tryLock()), result);
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    if (setup == "link")
        QCOMPARE(read(elsewhere), elsewhereBytes);

    if (result == int(Result::Taken)) {
        // Really held: another process is refused while this one lives.
        auto second = startHolder(path, &said);
        QCOMPARE(said, QByteArray("refused"));
        stop(*second);
    }
    if (holder) {
        stop(*holder);
        // The holder's end frees the lock, whatever it left in the file.
        QCOMPARE(lock.tryLock(), Result::Taken);
    }
}

int main(int argc, char* argv[]) {
    if (argc == 3 && qstrcmp(argv[1], "--hold-lock") == 0)
        return holdLock(argv[2]);
    QCoreApplication app(argc, argv);
    TestInstanceLock test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_instancelock.moc"
