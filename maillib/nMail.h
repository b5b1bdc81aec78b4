#pragma once
// The mail library: ten operations over our own POP3 client.
//
// Start-up calls NMailInitializeWinSock and NMailSetOption; a mail check connects, authenticates,
// asks status, size and the message for every number, and closes; NMailGetMessage gives the text
// of the last failure for the user; NMailEndWinSock closes whatever is still open.

#include <QString>
#include <QtGlobal>

qint32 NMailInitializeWinSock();
// Option 1: the size of the receive buffer in bytes.
qint32 NMailSetOption(qint32 option, qint32 value);
qint32 NMailEndWinSock();

// A connection handle, or -1.
qint32 NMailPop3Connect(const QString& server);
// The number of messages; negative on failure. apop: -1 on, 0 off.
qint32 NMailPop3Authenticate(qint32 handle, const QString& id, const QString& pass, qint32 apop);
qint32 NMailPop3GetMailStatus(qint32 handle, qint32 number, QString& subject, QString& date,
                              QString& from, QString& header, qint32 flag);
qint32 NMailPop3GetMailSize(qint32 handle, qint32 number);
qint32 NMailPop3GetMail(qint32 handle, qint32 number, QString& subject, QString& date,
                        QString& from, QString& header, QString& body, qint32 path,
                        qint32 flag);
qint32 NMailPop3Close(qint32 handle);
// The text of the last failure, ended by NUL, into buffer (at most length characters).
qint32 NMailGetMessage(qint32 code, QString& buffer, qint32& length);
