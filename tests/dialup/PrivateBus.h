#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A dbus-daemon of our own in a temporary folder, open to everyone on it, so that the tests never
// reach the machine's real system bus. Activatable services go into `serviceDir()` before start.
class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Starts the daemon; on failure `error()` says why.
    bool start();
    // Stops the daemon, dropping every connection, and starts it again at the same address.
    bool restart();
    QString address() const { return m_address; }
    QString serviceDir() const { return m_dir.filePath(QStringLiteral("services")); }
    QString error() const { return m_error; }

  private:
    void stop();

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};
