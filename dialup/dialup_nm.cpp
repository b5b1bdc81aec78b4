#include "DialUp.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <algorithm>

namespace {

const QString NmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString NmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString NmInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString ActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString SettingsInterface =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Our own connection rather than the shared default one: Qt keeps a default bus that failed to
// connect in that state for good, and the system bus may come up after we started.
const QString ConnectionName = QStringLiteral("mokopon-dialup");

// The button runs on the GUI thread: a stuck NetworkManager must not freeze the desktop for the
// D-Bus default of 25 seconds per call, so every call is short and the whole hang-up has a cap.
constexpr int CallTimeoutMs = 1000;
constexpr int TotalBudgetMs = 3000;

// Connection types that are a modem or point-to-point link, what dial-up means here.
bool isModemType(const QString& type) {
    return type == QLatin1String("ppp") || type == QLatin1String("pppoe") ||
           type == QLatin1String("gsm") || type == QLatin1String("cdma") ||
           type == QLatin1String("bluetooth");
}

QDBusConnection systemBus() {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, ConnectionName);
    if (!bus.isConnected()) {
        // The bus daemon may have restarted since we last used it: forget the dead connection
        // and try once more.
        QDBusConnection::disconnectFromBus(ConnectionName);
        bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, ConnectionName);
        if (!bus.isConnected())
            QDBusConnection::disconnectFromBus(ConnectionName);
    }
    return bus;
}

class NetworkManagerLink {
  public:
    explicit NetworkManagerLink(const QDBusConnection& bus)
        : m_bus(bus), m_deadline(TotalBudgetMs) {}

    QList<QDBusObjectPath> activeConnections() {
        const QVariant value = property(NmPath, NmInterface, QStringLiteral("ActiveConnections"));
        QList<QDBusObjectPath> paths;
        // Check the signature first: reading a mismatched argument only warns and gives junk.
        if (value.userType() == qMetaTypeId<QDBusArgument>()) {
            const auto arg = value.value<QDBusArgument>();
            if (arg.currentSignature() == QLatin1String("ao"))
                arg >> paths;
        }
        return paths;
    }

    bool isDialUp(const QDBusObjectPath& active) {
        const QString type =
            property(active.path(), ActiveInterface, QStringLiteral("Type")).toString();
        if (!isModemType(type))
            return false;
        if (type == QLatin1String("bluetooth"))
            return bluetoothKind(active) != BluetoothKind::Network;
        return true;
    }

    void deactivate(const QDBusObjectPath& active) {
        QDBusMessage msg = call(NmPath, NmInterface, QStringLiteral("DeactivateConnection"));
        msg << QVariant::fromValue(active);
        send(msg);
    }

  private:
    enum class BluetoothKind { DialUp, Network, Unknown };

    // A Bluetooth link is either dial-up networking (DUN, a phone as modem) or a personal area
    // network (PANU/NAP, more like Ethernet); only the settings tell which. When they cannot be
    // read the link is taken for dial-up, as the user asked for those to go.
    BluetoothKind bluetoothKind(const QDBusObjectPath& active) {
        const auto settingsPath =
            property(active.path(), ActiveInterface, QStringLiteral("Connection"))
                .value<QDBusObjectPath>();
        if (settingsPath.path().isEmpty())
            return BluetoothKind::Unknown;
        const QDBusMessage reply =
            send(call(settingsPath.path(), SettingsInterface, QStringLiteral("GetSettings")));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return BluetoothKind::Unknown;
        const QVariant first = reply.arguments().constFirst();
        if (first.userType() != qMetaTypeId<QDBusArgument>())
            return BluetoothKind::Unknown;
        const auto arg = first.value<QDBusArgument>();
        if (arg.currentSignature() != QLatin1String("a{sa{sv}}"))
            return BluetoothKind::Unknown;
        QMap<QString, QVariantMap> settings;
        arg >> settings;
        const QString kind =
            settings.value(QStringLiteral("bluetooth")).value(QStringLiteral("type")).toString();
        if (kind == QLatin1String("dun"))
            return BluetoothKind::DialUp;
        if (kind == QLatin1String("panu") || kind == QLatin1String("nap"))
            return BluetoothKind::Network;
        return BluetoothKind::Unknown;
    }

    QVariant property(const QString& path, const QString& interface, const QString& name) {
        QDBusMessage msg = call(path, PropertiesInterface, QStringLiteral("Get"));
        msg << interface << name;
        const QDBusMessage reply = send(msg);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().constFirst().value<QDBusVariant>().variant();
    }

    static QDBusMessage call(const QString& path, const QString& interface, const QString& member) {
        QDBusMessage msg = QDBusMessage::createMethodCall(NmService, path, interface, member);
        // A NetworkManager that is not running has no connections to hang up; do not start it.
        msg.setAutoStartService(false);
        return msg;
    }

    QDBusMessage send(const QDBusMessage& msg) {
        const qint64 left = m_deadline.remainingTime();
        if (left == 0)
            return {};
        return m_bus.call(msg, QDBus::Block, int(std::min<qint64>(left, CallTimeoutMs)));
    }

    QDBusConnection m_bus;
    QDeadlineTimer m_deadline;
};

} // namespace

void hangUpDialUpConnections() {
    const QDBusConnection bus = systemBus();
    if (!bus.isConnected())
        return;
    NetworkManagerLink nm(bus);
    // Pick them all first, then hang up in the listed order, as the list stood when asked.
    QList<QDBusObjectPath> dialUp;
    for (const QDBusObjectPath& active : nm.activeConnections()) {
        if (nm.isDialUp(active))
            dialUp.append(active);
    }
    for (const QDBusObjectPath& active : dialUp)
        nm.deactivate(active);
}
