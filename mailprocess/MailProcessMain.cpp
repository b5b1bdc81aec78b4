// mokopon-mail: one mail connection, for the program that started it. It serves the mail
// library's operations over stdin and stdout (MailFrames.h), so that the program itself loads
// neither Qt Network nor TLS, and what a check costs in memory goes with this process. It ends
// after the close, or when stdin ends (the program is gone).

#include "ChildProcess.h"
#include "MailFrames.h"
#include "MailLibrary.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace MailFrames;

// The program's frames, read blocking from stdin: between calls, and while the library asks
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

// The program keeps which servers offered STLS in its file; the library asks it here.
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

QString lastError() {
    QString buffer;
    qint32 length = 8192;
    const qint32 chars = copyLastMailError(0, buffer, length);
    return buffer.left(qMax(0, chars));
}

// The failure text goes with every reply; the program keeps it when the result is a failure.
QString errorIf(bool failed) {
    return failed ? lastError() : QString();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ChildProcess::useBinaryStandardStreams();
    startMailLibrary();
    ProgramTlsMemory memory;
    setMailTlsServerMemory(&memory);

    qint32 handle = -1;
    for (;;) {
        QDataStream in(readFrame());
        quint8 kind = 0;
        setUp(in) >> kind;
        switch (kind) {
        case Connect: {
            QList<qint32> options;
            QString server;
            in >> options >> server;
            for (qsizetype i = 0; i + 1 < options.size(); i += 2)
                setMailOption(options[i], options[i + 1]);
            handle = pop3Connect(server);
            send(frame(Reply, handle < 0 ? -1 : 0, errorIf(handle < 0)));
            break;
        }
        case Authenticate: {
            QString id, pass;
            qint32 apop = 0;
            in >> id >> pass >> apop;
            const qint32 count = pop3Authenticate(handle, id, pass, apop);
            send(frame(Reply, count, errorIf(count < 0)));
            break;
        }
        case AuthenticateUidl: {
            QString id, pass;
            qint32 apop = 0, keep = 0, firstNumber = 0;
            in >> id >> pass >> apop >> keep;
            QStringList uids;
            const qint32 count =
                pop3AuthenticateUidl(handle, id, pass, apop, keep, uids, firstNumber);
            QByteArray reply;
            QDataStream out(&reply, QIODevice::WriteOnly);
            setUp(out) << quint8(Reply) << count << errorIf(count < 0) << firstNumber;
            writeList(out, uids);
            send(withLength(reply));
            break;
        }
        case FetchHeader:
        case FetchMail: {
            qint32 number = 0;
            in >> number;
            QString subject, date, from, header, body;
            const qint32 rc =
                kind == FetchHeader
                    ? pop3FetchHeader(handle, number, subject, date, from, header, 0)
                    : pop3FetchMail(handle, number, subject, date, from, header, body, 0, 0);
            send(frame(Reply, rc, errorIf(rc < 0), subject, date, from, header, body));
            break;
        }
        case MailSize: {
            qint32 number = 0;
            in >> number;
            send(frame(Reply, pop3MailSize(handle, number), QString()));
            break;
        }
        case Close:
            send(frame(Reply, pop3Close(handle), QString()));
            return 0;
        default:
            return 1;
        }
    }
}
