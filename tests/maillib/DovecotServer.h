#pragma once
// A real Dovecot for the tests: its own config, users, Maildirs, certificates and log in a
// temporary folder, listening on free ports of 127.0.0.1 (and 127.0.0.2, whose address the
// certificate does not name). Stopped when destroyed.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class DovecotServer {
  public:
    struct Options {
        bool apop = true;      // APOP offered (a timestamp in the greeting)
        bool tls = true;       // STLS on the plain port and a POP3S port; off: plain only
        quint16 pop3sPort = 0; // the POP3S port; 0: a free one
    };

    DovecotServer();
    explicit DovecotServer(const Options& options);
    ~DovecotServer();

    // Starts Dovecot and waits for its greeting; false with errorString() when it cannot.
    bool start();
    void stop();
    QString errorString() const { return m_error; }

    quint16 pop3Port() const { return m_pop3Port; }
    quint16 pop3sPort() const { return m_pop3sPort; }
    // The CA that signed the server's certificate; the process trusts it through SSL_CERT_FILE
    // once start() has run.
    static QString caFile();
    // server.key and server.pem in dir, for localhost and 127.0.0.1, signed by that CA.
    static bool makeServerCertificate(const QString& dir, QString* error);

    // Users: "alice" / "secret" (a mailbox for each test) and "bob" / "hunter2".
    bool addMessage(const QString& user, const QByteArray& message);
    bool clearMailbox(const QString& user);
    QByteArray log() const;
    QString folder() const { return m_dir ? m_dir->path() : QString(); }

  private:
    bool writeConfig();
    bool makeCertificate();

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_process;
    quint16 m_pop3Port = 0;
    quint16 m_pop3sPort = 0;
    QString m_error;
    int m_messageSerial = 0;
};
