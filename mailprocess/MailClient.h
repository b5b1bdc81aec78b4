#pragma once
// The mail library's operations (MailLibrary.h gives what they do and their bounds) as the
// program calls them: each connection is a mail process of its own (mokopon-mail, found beside
// the executable or in the installed module folder), started by the connect and ended by the
// close, so that the program never loads Qt Network or TLS and a check's memory leaves with it.
//
// Call everything but stop from one thread. Each call waits for the process's reply no longer
// than the library's own bound of that call plus a margin; a process that hangs, ends, or writes
// what is no reply fails the call with a text of its own, and the connection is dropped. The
// password goes over the process's stdin only.

#include "MailOptions.h"
#include "TlsServerMemory.h"

#include <QString>
#include <QStringList>

namespace MailClient {

// Connects fail until this has run, and again after stop.
qint32 start();
// Kept for the connections opened afterwards; their process applies it as the library does
// (a value out of range is left at the library's default there). -1 for an unknown option.
qint32 setOption(qint32 option, qint32 value);
// The program's memory of servers that offered STLS, which the processes ask over their pipe.
// nullptr: one that lasts while the program runs, started empty.
void setTlsServerMemory(TlsServerMemory* memory);
// Ends every mail process at once; a call waiting on one fails. Any thread may call it.
qint32 stop();

qint32 connect(const QString& server);
qint32 authenticate(qint32 handle, const QString& id, const QString& pass, qint32 apop);
qint32 authenticateUidl(qint32 handle, const QString& id, const QString& pass, qint32 apop,
                        qint32 keep, QStringList& uids, qint32& firstNumber);
// fields: subject, date, from, header.
qint32 fetchHeader(qint32 handle, qint32 number, QString (&fields)[4]);
qint32 mailSize(qint32 handle, qint32 number);
qint32 fetchMail(qint32 handle, qint32 number, QString (&fields)[4], QString& body);
qint32 close(qint32 handle);
// The text of the last failure.
QString lastError();

// Tests start another program as the mail process; an empty program brings back mokopon-mail.
void setProcessCommand(const QString& program, const QStringList& arguments = {});

} // namespace MailClient
