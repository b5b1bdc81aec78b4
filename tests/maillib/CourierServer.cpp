#include "CourierServer.h"

#include "DovecotServer.h"
#include "ServerFixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using serverfixture::writeFile;

// The mailbox process runs as nobody, as the user database says.
constexpr uid_t kMailUid = 65534;
constexpr gid_t kMailGid = 65534;

} // namespace

CourierServer::~CourierServer() {
    stop();
}

bool CourierServer::writeConfig() {
    const QDir dir(m_dir->path());
    const QByteArray d = QFile::encodeName(dir.path());
    const QByteArray pw =
        "{SHA}" + QCryptographicHash::hash("secret", QCryptographicHash::Sha1).toBase64();
    QFile key(dir.filePath("server.key"));
    QFile cert(dir.filePath("server.pem"));
    if (!key.open(QIODevice::ReadOnly) || !cert.open(QIODevice::ReadOnly))
        return false;
    // The system's Diffie-Hellman parameters, made when courier-base was installed, if any:
    // making new ones takes minutes.
    QFile dh(QStringLiteral("/etc/courier/dhparams.pem"));
    const QByteArray dhParams = dh.open(QIODevice::ReadOnly) ? dh.readAll() : QByteArray();
    const QByteArray root = CourierServer::kCourierPopRoot;
    const QByteArray login = root + "/usr/lib/courier/courier/courierpop3login";
    const QByteArray mailbox = root + "/usr/lib/courier/courier/courierpop3d";
    const QByteArray tcpd = "/usr/sbin/couriertcpd -address=127.0.0.1 -maxprocs=40 "
                            "-maxperip=40 -nodnslookup -noidentlookup";
    QByteArray script;
    script += "set -e\n";
    script += "mkdir -p /run/courier/authdaemon\n";
    script += "mount --bind " + d + "/etc /etc/courier\n";
    script += "mount --bind " + d + "/authdaemon /run/courier/authdaemon\n";
    script += "/usr/sbin/makeuserdb\n";
    script += "/usr/lib/courier/courier-authlib/authdaemond &\n";
    script += "i=0\nwhile [ ! -S /run/courier/authdaemon/socket ]; do\n"
              "  i=$((i+1)); [ $i -lt 1000 ] || exit 1; sleep 0.01\ndone\n";
    script += "export POP3AUTH= POP3AUTH_TLS= POP3_PROXY=0 COURIERTLS=/usr/bin/couriertls "
              "TLS_CERTFILE=/etc/courier/pop3d.pem TLS_VERIFYPEER=NONE\n";
    if (!dhParams.isEmpty())
        script += "export TLS_DHPARAMS=/etc/courier/dhparams.pem\n";
    script += "POP3_STARTTLS=YES POP3_TLS_REQUIRED=1 " + tcpd + " -stderr=" + d + "/pop3.log " +
              QByteArray::number(m_pop3Port) + " " + login + " " + mailbox + " Maildir &\n";
    script += "POP3_TLS=1 POP3_STARTTLS=NO POP3_TLS_REQUIRED=0 " + tcpd + " -stderr=" + d +
              "/pop3s.log " + QByteArray::number(m_pop3sPort) +
              " /usr/bin/couriertls -server -tcpd " + login + " " + mailbox + " Maildir &\n";
    script += "wait\n";
    return dir.mkpath("etc") && dir.mkpath("authdaemon") &&
           writeFile(dir.filePath("etc/authdaemonrc"),
                     "authmodulelist=\"authuserdb\"\ndaemons=1\n"
                     "authdaemonvar=/run/courier/authdaemon\nDEBUG_LOGIN=0\n") &&
           writeFile(dir.filePath("etc/userdb"), "alice\tuid=" + QByteArray::number(kMailUid) +
                                                     "|gid=" + QByteArray::number(kMailGid) +
                                                     "|home=" + d + "/home/alice|systempw=" + pw +
                                                     "\n") &&
           ::chmod(QFile::encodeName(dir.filePath("etc/userdb")).constData(), 0600) == 0 &&
           writeFile(dir.filePath("etc/pop3d.pem"), key.readAll() + cert.readAll()) &&
           (dhParams.isEmpty() || writeFile(dir.filePath("etc/dhparams.pem"), dhParams)) &&
           writeFile(dir.filePath("run.sh"), script);
}

bool CourierServer::start() {
    if (!QFile::exists(QString::fromLatin1(kCourierPopRoot) +
                       "/usr/lib/courier/courier/courierpop3d")) {
        m_error = QStringLiteral("courier-pop is not unpacked in %1 (tools/deps.sh does that)")
                      .arg(QString::fromLatin1(kCourierPopRoot));
        return false;
    }
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        m_error = "no temporary folder";
        return false;
    }
    ::chmod(QFile::encodeName(m_dir->path()).constData(), 0755);
    QDir root(m_dir->path());
    for (const char* sub : {"cur", "new", "tmp"})
        root.mkpath(QStringLiteral("home/alice/Maildir/%1").arg(sub));
    for (const QString& p :
         {QStringLiteral("home/alice"), QStringLiteral("home/alice/Maildir"),
          QStringLiteral("home/alice/Maildir/cur"), QStringLiteral("home/alice/Maildir/new"),
          QStringLiteral("home/alice/Maildir/tmp")}) {
        if (::chown(QFile::encodeName(root.filePath(p)).constData(), kMailUid, kMailGid) != 0) {
            m_error = "cannot chown " + p;
            return false;
        }
    }
    if (!DovecotServer::makeServerCertificate(m_dir->path(), &m_error))
        return false;
    m_pop3Port = serverfixture::freePort();
    m_pop3sPort = serverfixture::freePort();
    while (m_pop3sPort == m_pop3Port)
        m_pop3sPort = serverfixture::freePort();
    if (!m_pop3Port || !m_pop3sPort || !writeConfig()) {
        m_error = "cannot write the config";
        return false;
    }
    m_process.setWorkingDirectory(m_dir->path());
    // A process namespace of its own: when its first process ends, the kernel ends the rest.
    return serverfixture::startServer(
        m_process, "unshare",
        {"--mount", "--propagation", "private", "--pid", "--fork", "--kill-child", "sh",
         m_dir->filePath("run.sh")},
        [this] {
            // The POP3S port says nothing before a handshake: taking the connection is enough.
            QTcpSocket tls;
            tls.connectToHost(QHostAddress::LocalHost, m_pop3sPort);
            return serverfixture::greets(m_pop3Port, 2000) && tls.waitForConnected(2000);
        },
        [this] { return log(); }, &m_error);
}

void CourierServer::stop() {
    // unshare ignores SIGTERM while it waits, as the first process of a namespace does; once
    // unshare is killed, its child is, and with it the kernel ends the whole namespace.
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool CourierServer::addMessage(const QByteArray& message) {
    const QString path = m_dir->filePath(QStringLiteral("home/alice/Maildir/new/") +
                                         serverfixture::maildirFileName(m_messageSerial++));
    // Courier keeps Maildir files with bare LF line ends and adds the CR itself.
    return writeFile(path, QByteArray(message).replace("\r\n", "\n")) &&
           ::chown(QFile::encodeName(path).constData(), kMailUid, kMailGid) == 0;
}

bool CourierServer::clearMailbox() {
    for (const char* sub : {"new", "cur"}) {
        QDir dir(m_dir->filePath(QStringLiteral("home/alice/Maildir/") + sub));
        for (const QString& f : dir.entryList(QDir::Files)) {
            if (!dir.remove(f) && dir.exists(f))
                return false;
        }
    }
    return true;
}

QByteArray CourierServer::log() const {
    QByteArray all;
    for (const char* name : {"pop3.log", "pop3s.log"}) {
        QFile f(m_dir ? m_dir->filePath(name) : QString());
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}
