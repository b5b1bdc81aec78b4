#pragma once
// What /proc tells of a process: the CPU time of all its threads and its resident memory.

#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QString>

// Sum of user and system time of every thread of the process, in clock ticks; -1 when unknown.
inline qint64 cpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which may hold blanks, start after the last ')'.
    const QList<QByteArray> rest = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // rest[0] is field 3 (state); utime and stime are fields 14 and 15.
    return rest.value(11).toLongLong() + rest.value(12).toLongLong();
}

// Nanoseconds every thread of the process has run on a CPU so far, from the scheduler's own count
// (finer than the clock ticks of cpuTicks); -1 when unknown.
inline qint64 cpuNanoseconds(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    qint64 sum = -1;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks + u'/' + task + QStringLiteral("/schedstat"));
        if (f.open(QIODevice::ReadOnly))
            sum = qMax<qint64>(sum, 0) + f.readAll().split(' ').value(0).toLongLong();
    }
    return sum;
}

// Resident memory in kB; -1 when unknown.
inline qint64 rssKb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Resident kB by what is mapped (a file, [heap], [anon] …), from /proc/<pid>/smaps.
inline QHash<QByteArray, qint64> rssByMapping(qint64 pid) {
    QHash<QByteArray, qint64> kb;
    QFile f(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return kb;
    QByteArray current;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("Rss:")) {
            kb[current] += line.mid(4).trimmed().split(' ').value(0).toLongLong();
        } else {
            // A mapping's first line: range, perms, offset, device, inode, then the name if any.
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 5 || !fields[0].contains('-') || fields[0].contains(':'))
                continue;
            current = fields.size() > 5 ? fields.mid(5).join(' ') : QByteArrayLiteral("[anon]");
        }
    }
    return kb;
}
