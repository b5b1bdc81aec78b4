#pragma once
// Small pieces the real-server fixtures share.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace serverfixture {

// Runs program in dir to its end; false with what it printed in *error unless it exits with 0.
bool run(const QString& program, const QStringList& args, const QString& dir, QString* error);
// A TCP port of 127.0.0.1 nothing listens on just now; 0 when none could be had.
quint16 freePort();
bool writeFile(const QString& path, const QByteArray& data);
// Waits up to timeoutMs for a POP3 greeting on 127.0.0.1:port.
bool greets(quint16 port, int timeoutMs);

} // namespace serverfixture
