#pragma once
// Fixtures for the settings tests: a temporary program folder (with or without ★MailData) and a
// temporary working directory, and a way to make file writes fail even when running as root.

#include "Program.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#ifndef Q_OS_WIN
#include <sys/resource.h>
#include <sys/stat.h>
#endif

// Plants kind at path (TestFolders::plant), or skips the row where this system has no such thing.
#define PLANT_OR_SKIP(...)                                                                         \
    do {                                                                                           \
        if (!TestFolders::canPlant(__VA_ARGS__))                                                   \
            QSKIP("nothing of this kind on this system");                                          \
        QVERIFY(TestFolders::plant(__VA_ARGS__));                                                  \
    } while (false)

// A full disk (FullDisk below), or a skipped test where it cannot be had.
#ifdef Q_OS_WIN
#define SKIP_WITHOUT_FULL_DISK() QSKIP("no way to fill the disk for one process here")
#else
#define SKIP_WITHOUT_FULL_DISK()                                                                   \
    do {                                                                                           \
    } while (false)
#endif

class TestFolders {
  public:
    explicit TestFolders(bool withDataFolder = true) : m_savedCwd(QDir::currentPath()) {
        if (withDataFolder)
            QDir(m_program.path()).mkdir(QStringLiteral("★MailData"));
        Program::setFolder(m_program.path());
        QDir::setCurrent(m_work.path());
    }
    ~TestFolders() {
        QDir::setCurrent(m_savedCwd);
        Program::setFolder(QString());
    }

    QString dataFile(const QString& name) const {
        return m_program.path() + QStringLiteral("/★MailData/") + name;
    }
    QString workFile(const QString& name) const { return m_work.path() + u'/' + name; }
    QString dataFolder() const { return m_program.path() + QStringLiteral("/★MailData"); }

    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
    }

    // Puts something that is not a plain settings file at path: "fifo" (no writer ever comes),
    // "zero" (a link to /dev/zero), "huge" (100 MB of blank lines), "folder", or "link" (a link to
    // linkTarget). False when it could not be made.
    // Windows has no FIFOs in folders and no /dev/zero, and a link there is a reparse point that
    // the settings files refuse whatever it leads to.
    static bool canPlant(const QString& kind, const QString& = {}, const QString& = {}) {
#ifdef Q_OS_WIN
        return kind != "fifo" && kind != "zero" && kind != "link";
#else
        Q_UNUSED(kind);
        return true;
#endif
    }

    static bool plant(const QString& kind, const QString& path, const QString& linkTarget = {}) {
#ifdef Q_OS_WIN
        if (!canPlant(kind))
            return false;
#else
        const QByteArray p = QFile::encodeName(path);
        if (kind == "fifo")
            return ::mkfifo(p.constData(), 0600) == 0;
        if (kind == "zero")
            return QFile::link(QStringLiteral("/dev/zero"), path);
#endif
        if (kind == "huge") {
            QFile f(path);
            const QByteArray blankLines(1024 * 1024, '\n');
            for (int i = 0; i < 100; ++i)
                if ((!f.isOpen() && !f.open(QIODevice::WriteOnly)) || f.write(blankLines) < 0)
                    return false;
            return true;
        }
        if (kind == "folder")
            return QDir().mkdir(path);
        if (kind == "link")
            return QFile::link(linkTarget, path);
        return false;
    }

  private:
    QString m_savedCwd;
    QTemporaryDir m_program;
    QTemporaryDir m_work;
};

#ifdef Q_OS_WIN
// No alarm on Windows: CTest's time-out catches a read that blocks.
inline unsigned alarm(unsigned) {
    return 0;
}
// Never made: SKIP_WITHOUT_FULL_DISK skips first.
class FullDisk {
  public:
    FullDisk() {}
};
#else
// While alive, no file can grow beyond a few bytes: the disk is as good as full. Works for root
// too, where a read-only folder would not stop a write.
class FullDisk {
  public:
    FullDisk() {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_saved;
        small.rlim_cur = 4;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FullDisk() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

  private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
};
#endif
