#include "Pop3Address.h"

#include <QUrl>

namespace {

std::optional<quint16> parsePort(const QString& text) {
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

bool plausibleHost(const QString& host) {
    if (host.isEmpty())
        return false;
    for (QChar c : host) {
        if (c.isSpace() || c == u'/' || c == u'@' || c == u'?' || c == u'#')
            return false;
    }
    return true;
}

} // namespace

std::optional<Pop3Address> Pop3Address::parse(const QString& setting) {
    const QString text = setting.trimmed();
    Pop3Address address;
    if (text.contains(u"://") || text.startsWith(u'[')) {
        const QUrl url(text.contains(u"://") ? text : QStringLiteral("pop3://") + text,
                       QUrl::StrictMode);
        if (!url.isValid())
            return std::nullopt;
        const QString scheme = url.scheme().toLower();
        if (scheme == u"pop3s")
            address.implicitTls = true;
        else if (scheme != u"pop3")
            return std::nullopt;
        if (!url.userInfo().isEmpty() || !url.query().isEmpty() || !url.fragment().isEmpty() ||
            (!url.path().isEmpty() && url.path() != u"/"))
            return std::nullopt;
        address.host = url.host();
        address.port = address.implicitTls ? kPop3sPort : kPop3Port;
        if (url.port() != -1) {
            if (url.port() == 0)
                return std::nullopt;
            address.port = quint16(url.port());
        }
    } else if (text.count(u':') == 1) {
        const qsizetype colon = text.indexOf(u':');
        address.host = text.left(colon);
        const auto port = parsePort(text.mid(colon + 1));
        if (!port)
            return std::nullopt;
        address.port = *port;
    } else {
        // A bare host; more than one colon is an IPv6 address without a port.
        address.host = text;
    }
    if (address.host.endsWith(u'.'))
        address.host.chop(1);
    if (!plausibleHost(address.host))
        return std::nullopt;
    if (address.port == kPop3sPort)
        address.implicitTls = true;
    return address;
}
