#pragma once
// Which servers once offered STLS. A session on a plain connection whose server offered STLS
// before but does not now (a man in the middle who strips it from CAPA, or a server that hides
// it) sends no password: not in the clear, and no APOP digest either. The program keeps this in
// a file of its own; the library only asks and tells through this interface, so it knows no
// paths. Hosts come as the server setting names them, in lower case.

#include <QString>
#include <QtGlobal>

class TlsServerMemory {
  public:
    virtual ~TlsServerMemory() = default;
    virtual bool offeredStls(const QString& host, quint16 port) = 0;
    virtual void rememberStls(const QString& host, quint16 port) = 0;
};
