#include "ServerFixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <unistd.h>

namespace serverfixture {

bool run(const QString& program, const QStringList& args, const QString& dir, QString* error) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + QChar(u' ') + args.join(QChar(u' ')) + QStringLiteral(": ") +
                 QString::fromLocal8Bit(p.readAll()) + p.errorString();
        return false;
    }
    return true;
}

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

bool greets(quint16 port, int timeoutMs) {
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    if (!probe.waitForConnected(timeoutMs) || !probe.waitForReadyRead(timeoutMs) ||
        !probe.readLine().startsWith("+OK"))
        return false;
    probe.write("QUIT\r\n");
    probe.waitForBytesWritten(1000);
    return true;
}

bool startServer(QProcess& process, const QString& program, const QStringList& args,
                 const std::function<bool()>& ready, const std::function<QByteArray()>& log,
                 QString* error) {
    const QString name = QFileInfo(program).fileName();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        *error = name + ": " + process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (process.state() != QProcess::Running) {
            *error = name + " ended: " + QString::fromLocal8Bit(process.readAll() + log());
            return false;
        }
        if (ready())
            return true;
        QThread::msleep(50);
    }
    *error = name + " did not answer: " + QString::fromLocal8Bit(process.readAll() + log());
    return false;
}

void stopServer(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
}

QString maildirFileName(int serial) {
    return QStringLiteral("%1.%2.M%3.mokopon").arg(1700000000 + serial).arg(::getpid()).arg(serial);
}

} // namespace serverfixture
