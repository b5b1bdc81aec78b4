#pragma once

#include <QString>
#include <optional>

// Where a POP3 server setting points: "host", "host:port", "pop3://host[:port]" or
// "pop3s://host[:port]". Plain addresses use port 110 and switch to TLS with STLS when the
// server offers it; pop3s is TLS from the first byte on port 995. Port 995 is TLS from the first
// byte however it is written ("host:995", "pop3://host:995"): it is the port for POP3 over TLS,
// providers publish POP3S that way, and plain text never goes to it. A host written with the final
// dot of a full name ("pop.example.jp.") loses it: certificates name hosts without it, and so do
// the name sent in the TLS handshake and the texts; the lookup finds the same server either way
// (and a name from the hosts file only without it).
struct Pop3Address {
    static constexpr quint16 kPop3Port = 110;
    static constexpr quint16 kPop3sPort = 995;

    QString host;
    quint16 port = kPop3Port;
    bool implicitTls = false;

    static std::optional<Pop3Address> parse(const QString& setting);
};
