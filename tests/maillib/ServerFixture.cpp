#include "ServerFixture.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

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

} // namespace serverfixture
