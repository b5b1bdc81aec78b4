// mokopon-mail: one mail connection, for the program that started it. It serves the POP3
// session's calls (Pop3Session.h) over stdin and stdout (MailFrames.h), so that the program itself
// loads neither Qt Network nor TLS, and what a check costs in memory goes with this process. It
// ends after the close, after a connect that failed, or when stdin ends (the program is gone).

#include "ChildProcess.h"
#include "MailFrames.h"
#include "Pop3Session.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

using namespace MailFrames;

// The program's frames, read blocking from stdin: between calls, and while the session asks
// whether a server offered STLS.
QByteArray readFrame() {
    // fread waits for all it asks for: the length first, then exactly the frame's bytes.
    QByteArray buffer(4, '\0');
    if (std::fread(buffer.data(), 1, 4, stdin) != 4)
        std::exit(0); // the program is gone
    const quint32 size = announcedLength(buffer);
    if (size > quint32(kMaxFrameBytes))
        std::exit(1);
    buffer.resize(4 + qsizetype(size));
    if (std::fread(buffer.data() + 4, 1, size, stdin) != size)
        std::exit(0);
    return buffer.mid(4);
}

void send(const QByteArray& frame) {
    std::fwrite(frame.constData(), 1, size_t(frame.size()), stdout);
    std::fflush(stdout);
}

// The program keeps which servers offered STLS in its file; the session asks it here.
class ProgramTlsMemory final : public TlsServerMemory {
  public:
    bool offeredStls(const QString& host, quint16 port) override {
        send(frame(OfferedStls, host, port));
        QDataStream in(readFrame());
        quint8 kind = 0;
        bool offered = false;
        setUp(in) >> kind >> offered;
        return kind == StlsAnswer && in.status() == QDataStream::Ok && offered;
    }
    void rememberStls(const QString& host, quint16 port) override {
        send(frame(RememberStls, host, port));
    }
};

// Every reply begins with the result and, on a failure, the session's text.
QDataStream& reply(QDataStream& out, qint32 result, const Pop3Session& session) {
    return setUp(out) << quint8(Reply) << result << (result < 0 ? session.error() : QString());
}

template <typename... Values>
void sendReply(qint32 result, const Pop3Session& session, const Values&... values) {
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    reply(out, result, session);
    ((out << values), ...);
    send(withLength(payload));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ChildProcess::useBinaryStandardStreams();
    ProgramTlsMemory memory;

    // The first frame is the connect, with the options the program set.
    QDataStream connect(readFrame());
    quint8 kind = 0;
    QList<qint32> options;
    QString server;
    setUp(connect) >> kind >> options >> server;
    if (kind != Connect)
        return 1;
    Pop3Session::Settings settings;
    for (qsizetype i = 0; i + 1 < options.size(); i += 2)
        Pop3Session::applyOption(settings, options[i], options[i + 1]);
    settings.tlsMemory = &memory;
    Pop3Session session(settings);
    if (!session.open(server)) {
        sendReply(-1, session);
        return 0;
    }
    sendReply(0, session);

    for (;;) {
        QDataStream in(readFrame());
        setUp(in) >> kind;
        switch (kind) {
        case Authenticate: {
            QString id, pass;
            bool apop = false;
            in >> id >> pass >> apop;
            sendReply(session.login(id, pass, apop), session);
            break;
        }
        case AuthenticateUidl: {
            QString id, pass;
            bool apop = false;
            qint32 keep = 0;
            in >> id >> pass >> apop >> keep;
            Pop3Session::UidListing listing;
            const bool listed = session.loginListingUids(id, pass, apop, keep, listing);
            QStringList uids;
            if (listed && listing.uidsKnown)
                for (const QByteArray& uid : std::as_const(listing.uids))
                    uids.append(QString::fromLatin1(uid));
            QByteArray payload;
            QDataStream out(&payload, QIODevice::WriteOnly);
            reply(out, listed ? listing.count : -1, session)
                << (listed && listing.uidsKnown ? listing.firstNumber : 0);
            writeList(out, uids);
            send(withLength(payload));
            break;
        }
        case FetchHeader:
        case FetchMail: {
            qint32 number = 0;
            in >> number;
            Pop3Session::Fields f;
            QString body;
            const bool ok =
                kind == FetchHeader ? session.status(number, f) : session.fetch(number, f, body);
            sendReply(ok ? 0 : -1, session, f.subject, f.date, f.from, f.header, body);
            break;
        }
        case MailSize: {
            qint32 number = 0;
            in >> number;
            sendReply(qint32(std::clamp<qint64>(session.size(number), 0,
                                                std::numeric_limits<qint32>::max())),
                      session);
            break;
        }
        case Close:
            session.close();
            sendReply(0, session);
            return 0;
        default:
            return 1;
        }
    }
}
