#pragma once

#include <QString>
#include <optional>

// Where a POP3 server setting points: "host", "host:port", "pop3://host[:port]" or
// "pop3s://host[:port]". Plain addresses use port 110 and switch to TLS with STLS when the
// server offers it; pop3s is TLS from the first byte on port 995. A host written with the final
// dot of a full name ("pop.example.jp.") loses it: certificates name hosts without it, and so do
// the name sent in the TLS handshake and the texts; the lookup finds the same server either way
// (and a name from the hosts file only without it).
struct Pop3Address {
    QString host;
    quint16 port = 110;
    bool implicitTls = false;

    static std::optional<Pop3Address> parse(const QString& setting);
};
