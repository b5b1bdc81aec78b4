#pragma once
// The servers that once offered STLS, kept in a file of this program's own in the data folder
// (never in the settings files the Windows version reads), so that a server that stops offering
// it, or a line where someone strips it, never gets the password in clear, after a restart too.
//
// One "host:port" a line, UTF-8. The file is read only when regular and small, written only as a
// regular file (SafeFile), and holds the most recent kMaxServers servers. Without a data folder
// the servers are remembered for this run only: the data folder is never created.
//
// The mail library asks from the thread that runs the check; a mutex keeps the calls apart.

#include "TlsServerMemory.h"

#include <QMutex>
#include <QString>
#include <QStringList>

class KnownTlsServers final : public TlsServerMemory {
  public:
    static constexpr int kMaxServers = 256;

    explicit KnownTlsServers(const QString& filePath);

    bool offeredStls(const QString& host, quint16 port) override;
    void rememberStls(const QString& host, quint16 port) override;

  private:
    void loadOnce();

    const QString m_path;
    QMutex m_mutex;
    bool m_loaded = false;
    QStringList m_servers; // oldest first
};

// The program's memory, kept in the data folder beside the account file.
KnownTlsServers& knownTlsServers();
