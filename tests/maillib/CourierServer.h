#pragma once
// A real Courier POP3 server for the tests: its login and mailbox processes from Debian's
// courier-pop, unpacked by tools/deps.sh into kCourierPopRoot (the package cannot be installed
// beside Dovecot), and Courier's authentication daemon with a user database of its own. Courier
// reads its configuration and reaches that daemon at fixed paths, so everything runs in private
// mount and process namespaces (as root) where those paths are the test's temporary folder; the
// whole namespace ends with stop(). The plain port offers STLS and refuses a login before it;
// the POP3S port is TLS from the first byte, with the certificate of DovecotServer's test CA.
// Courier offers no APOP.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class CourierServer {
  public:
    static constexpr const char* kCourierPopRoot = "/var/cache/mokopon-tests/courier-pop";

    CourierServer() = default;
    ~CourierServer();
    CourierServer(const CourierServer&) = delete;
    CourierServer& operator=(const CourierServer&) = delete;

    // Starts the servers and waits for their greetings; false with errorString() when it cannot.
    bool start();
    void stop();
    QString errorString() const { return m_error; }

    quint16 pop3Port() const { return m_pop3Port; }
    quint16 pop3sPort() const { return m_pop3sPort; }

    // The user "alice" / "secret".
    bool addMessage(const QByteArray& message);
    bool clearMailbox();
    // What the login processes logged, one "LOGIN," and one "LOGOUT," line per session.
    QByteArray log() const;

  private:
    bool writeConfig();

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_process;
    quint16 m_pop3Port = 0;
    quint16 m_pop3sPort = 0;
    QString m_error;
    int m_messageSerial = 0;
};
