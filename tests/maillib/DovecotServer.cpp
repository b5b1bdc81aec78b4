#include "DovecotServer.h"

#include "ServerFixture.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using serverfixture::freePort;
using serverfixture::run;
using serverfixture::writeFile;

// Mail is kept as nobody: Dovecot will not run a mail process as root.
constexpr uid_t kMailUid = 65534;
constexpr gid_t kMailGid = 65534;

struct TestCa {
    QTemporaryDir dir;
    QString error;
    bool ok = false;
    TestCa() {
        ok = run(QStringLiteral("openssl"),
                 {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                  "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
                  "/CN=mokopon test CA"},
                 dir.path(), &error);
        if (ok)
            qputenv("SSL_CERT_FILE", QFile::encodeName(dir.filePath("ca.pem")));
    }
};

TestCa& testCa() {
    static TestCa ca;
    return ca;
}

} // namespace

DovecotServer::DovecotServer() : DovecotServer(Options{}) {}

DovecotServer::DovecotServer(const Options& options) : m_options(options) {}

DovecotServer::~DovecotServer() {
    stop();
}

QString DovecotServer::caFile() {
    return testCa().dir.filePath("ca.pem");
}

bool DovecotServer::makeCertificate() {
    return makeServerCertificate(m_dir->path(), &m_error);
}

bool DovecotServer::makeServerCertificate(const QString& dir, QString* error) {
    if (!testCa().ok) {
        *error = testCa().error;
        return false;
    }
    writeFile(QDir(dir).filePath("ext.cnf"), "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
    return run("openssl",
               {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost"},
               dir, error) &&
           run("openssl",
               {"x509", "-req", "-in", "server.csr", "-CA", caFile(), "-CAkey",
                testCa().dir.filePath("ca.key"), "-CAcreateserial", "-CAserial", "ca.srl", "-out",
                "server.pem", "-days", "2", "-extfile", "ext.cnf"},
               dir, error);
}

bool DovecotServer::writeConfig() {
    const QByteArray d = QFile::encodeName(m_dir->path());
    QByteArray conf;
    conf += "base_dir = " + d + "/run\n";
    conf += "state_dir = " + d + "/state\n";
    conf += "log_path = " + d + "/dovecot.log\n";
    conf += "info_log_path = " + d + "/dovecot.log\n";
    conf += "protocols = pop3\n";
    conf += "listen = 127.0.0.1, 127.0.0.2\n";
    conf += "first_valid_uid = 0\n";
    conf += "auth_failure_delay = 0\n"; // keeps the wrong-password cases short
    conf += "default_login_user = dovenull\n";
    conf += "default_internal_user = dovecot\n";
    conf += "mail_location = maildir:~/Maildir\n";
    conf += "auth_mechanisms = plain" + QByteArray(m_options.apop ? " apop" : "") + "\n";
    if (m_options.tls) {
        conf += "ssl = yes\n";
        conf += "ssl_cert = <" + d + "/server.pem\n";
        conf += "ssl_key = <" + d + "/server.key\n";
        // Even a loopback client must start TLS before it may send a password.
        conf += "disable_plaintext_auth = yes\n";
    } else {
        conf += "ssl = no\n";
        conf += "disable_plaintext_auth = no\n";
    }
    conf += "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " + d + "/passwd\n}\n";
    conf += "userdb {\n  driver = static\n  args = uid=" + QByteArray::number(kMailUid) +
            " gid=" + QByteArray::number(kMailGid) + " home=" + d + "/home/%u\n}\n";
    // Without the penalty socket, failed logins from 127.0.0.1 are not slowed down further.
    conf +=
        "service anvil {\n  chroot =\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n";
    conf += "service pop3-login {\n  chroot =\n";
    conf += "  inet_listener pop3 {\n    port = " + QByteArray::number(m_pop3Port) + "\n  }\n";
    conf += "  inet_listener pop3s {\n    port = " + QByteArray::number(m_pop3sPort) +
            "\n    ssl = yes\n  }\n}\n";
    return writeFile(m_dir->filePath("dovecot.conf"), conf) &&
           writeFile(m_dir->filePath("passwd"), "alice:{PLAIN}secret::::::\n"
                                                "bob:{PLAIN}hunter2::::::\n");
}

bool DovecotServer::start() {
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        m_error = "no temporary folder";
        return false;
    }
    // The login and mail processes run as other users and must reach the folder.
    ::chmod(QFile::encodeName(m_dir->path()).constData(), 0755);
    QDir root(m_dir->path());
    for (const char* user : {"alice", "bob"}) {
        for (const char* sub : {"cur", "new", "tmp"})
            root.mkpath(QStringLiteral("home/%1/Maildir/%2").arg(user, sub));
    }
    root.mkpath("run");
    root.mkpath("state");
    for (const char* user : {"alice", "bob"}) {
        const QString home = root.filePath(QStringLiteral("home/") + user);
        for (const QString& p : {home, home + "/Maildir", home + "/Maildir/cur",
                                 home + "/Maildir/new", home + "/Maildir/tmp"}) {
            if (::chown(QFile::encodeName(p).constData(), kMailUid, kMailGid) != 0) {
                m_error = "cannot chown " + p;
                return false;
            }
        }
    }
    ::chown(QFile::encodeName(root.filePath("home")).constData(), kMailUid, kMailGid);
    if (m_options.tls && !makeCertificate())
        return false;
    if (!m_options.tls && !testCa().ok) {
        m_error = testCa().error;
        return false;
    }
    m_pop3Port = freePort();
    m_pop3sPort = m_options.pop3sPort ? m_options.pop3sPort : freePort();
    while (m_pop3sPort == m_pop3Port)
        m_pop3Port = freePort();
    if (!m_pop3Port || !m_pop3sPort || !writeConfig()) {
        m_error = "cannot write the config";
        return false;
    }
    return serverfixture::startServer(
        m_process, "/usr/sbin/dovecot", {"-F", "-c", m_dir->filePath("dovecot.conf")},
        [this] { return serverfixture::greets(m_pop3Port, 2000); }, [this] { return log(); },
        &m_error);
}

void DovecotServer::stop() {
    serverfixture::stopServer(m_process);
}

bool DovecotServer::addMessage(const QString& user, const QByteArray& message) {
    const QString path =
        m_dir->filePath(QStringLiteral("home/%1/Maildir/new/%2")
                            .arg(user, serverfixture::maildirFileName(m_messageSerial++)));
    return writeFile(path, message) &&
           ::chown(QFile::encodeName(path).constData(), kMailUid, kMailGid) == 0;
}

bool DovecotServer::clearMailbox(const QString& user) {
    // Dovecot may still be moving a message (from new to cur, or a flag into its name) for a
    // session that just ended, so a file listed may be gone: remove until nothing is left.
    for (int pass = 0; pass < 100; ++pass) {
        bool empty = true;
        for (const char* sub : {"new", "cur"}) {
            QDir dir(m_dir->filePath(QStringLiteral("home/%1/Maildir/%2").arg(user, sub)));
            for (const QString& f : dir.entryList(QDir::Files)) {
                dir.remove(f);
                empty = false;
            }
        }
        if (empty)
            return true;
    }
    return false;
}

QByteArray DovecotServer::log() const {
    QFile f(m_dir ? m_dir->filePath("dovecot.log") : QString());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
