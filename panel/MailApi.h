#pragma once
// The mail check talks to the mail library through this interface, so that its flow can be
// tested without a server. The real one forwards to the mail process (MailClient).

#include <QString>
#include <QtGlobal>

class MailApi {
  public:
    virtual ~MailApi() = default;
    virtual qint32 connect(const QString& server) = 0;
    virtual qint32 authenticate(qint32 handle, const QString& id, const QString& pass,
                                qint32 apop) = 0;
    virtual void fetchHeader(qint32 handle, qint32 number, QString (&buffers)[4]) = 0;
    virtual qint32 mailSize(qint32 handle, qint32 number) = 0;
    virtual void fetchMail(qint32 handle, qint32 number, QString (&buffers)[4], QString& body) = 0;
    virtual void close(qint32 handle) = 0;
    // The text of the last failure, in the first buffer.
    virtual void copyLastError(QString& buffer) = 0;
};

MailApi& mailApi();
// Tests put a fake in place; nullptr restores the library.
void setMailApi(MailApi* api);
