#pragma once
// Small pieces the real-server fixtures share.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

namespace serverfixture {

// Runs program in dir to its end; false with what it printed in *error unless it exits with 0.
bool run(const QString& program, const QStringList& args, const QString& dir, QString* error);
// A TCP port of 127.0.0.1 nothing listens on just now; 0 when none could be had.
quint16 freePort();
bool writeFile(const QString& path, const QByteArray& data);
// Waits up to timeoutMs for a POP3 greeting on 127.0.0.1:port.
bool greets(quint16 port, int timeoutMs);

// Starts a server's program and waits up to 15 s for ready(); false with what it printed and
// log() in *error when it ends before or never gets ready.
bool startServer(QProcess& process, const QString& program, const QStringList& args,
                 const std::function<bool()>& ready, const std::function<QByteArray()>& log,
                 QString* error);
void stopServer(QProcess& process);
// The name of a new message file in a Maildir, the serial-th one of this process.
QString maildirFileName(int serial);

} // namespace serverfixture
