#include "KnownTlsServers.h"

#include "ProgramFolders.h"
#include "SafeFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Room for kMaxServers lines of long host names; a larger file is not ours.
constexpr qint64 kFileCap = 128 * 1024;

QString key(const QString& host, quint16 port) {
    return host.toLower() + QLatin1Char(':') + QString::number(port);
}

} // namespace

KnownTlsServers& knownTlsServers() {
    static KnownTlsServers servers(ProgramFolders::mailData() +
                                   QStringLiteral("/stls-servers.txt"));
    return servers;
}

KnownTlsServers::KnownTlsServers(const QString& filePath) : m_path(filePath) {}

void KnownTlsServers::loadOnce() {
    if (m_loaded)
        return;
    m_loaded = true;
    const SafeFile::Contents file = SafeFile::readRegularFile(m_path, kFileCap);
    if (file.found != SafeFile::Found::Read)
        return;
    for (const QByteArray& line : file.bytes.split('\n')) {
        const QString server = QString::fromUtf8(line).trimmed();
        if (!server.isEmpty() && !m_servers.contains(server))
            m_servers << server;
    }
    while (m_servers.size() > kMaxServers)
        m_servers.removeFirst();
}

bool KnownTlsServers::offeredStls(const QString& host, quint16 port) {
    QMutexLocker lock(&m_mutex);
    loadOnce();
    return m_servers.contains(key(host, port));
}

void KnownTlsServers::rememberStls(const QString& host, quint16 port) {
    QMutexLocker lock(&m_mutex);
    loadOnce();
    const QString server = key(host, port);
    if (m_servers.contains(server))
        return;
    m_servers << server;
    while (m_servers.size() > kMaxServers)
        m_servers.removeFirst();
    // Only into an existing data folder; a file that cannot be written leaves the memory of
    // this run, which still guards every later check until the program ends.
    if (!QFileInfo(m_path).dir().exists())
        return;
    SafeFile::replaceFile(m_path, (m_servers.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
