#pragma once

#include <QString>
#include <optional>

// Where a POP3 server setting points: "host", "host:port", "pop3://host[:port]" or
// "pop3s://host[:port]". Plain addresses use port 110 and switch to TLS with STLS when the
// server offers it; pop3s is TLS from the first byte on port 995.
struct Pop3Address {
    QString host;
    quint16 port = 110;
    bool implicitTls = false;

    static std::optional<Pop3Address> parse(const QString& setting);
};
