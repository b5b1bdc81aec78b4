#include "NetworkState.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>

namespace {

// A connection of its own: the automatic check asks from the background thread.
const QString ConnectionName = QStringLiteral("mokopon-network-state");
constexpr int CallTimeoutMs = 1000;

// NetworkManager's NMState values that mean no connection is up.
constexpr uint NmStateAsleep = 10;
constexpr uint NmStateConnecting = 40;

} // namespace

bool networkKnownDown() {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, ConnectionName);
    if (!bus.isConnected()) {
        // A bus that is not there now may come later: forget the failed connection.
        QDBusConnection::disconnectFromBus(ConnectionName);
        return false;
    }
    QDBusMessage msg = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.NetworkManager"),
        QStringLiteral("/org/freedesktop/NetworkManager"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    msg << QStringLiteral("org.freedesktop.NetworkManager") << QStringLiteral("State");
    // A NetworkManager that is not running says nothing; do not start it.
    msg.setAutoStartService(false);
    const QDBusMessage reply = bus.call(msg, QDBus::Block, CallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariant state = reply.arguments().constFirst().value<QDBusVariant>().variant();
    if (state.userType() != QMetaType::UInt)
        return false;
    const uint s = state.toUInt();
    return s >= NmStateAsleep && s <= NmStateConnecting;
}
