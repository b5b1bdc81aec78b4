#include "FakeNetworkManager.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace {

const QString Service = QStringLiteral("org.freedesktop.NetworkManager");
const QString Root = QStringLiteral("/org/freedesktop/NetworkManager");
const QString ActivePrefix = Root + QStringLiteral("/ActiveConnection/");
const QString SettingsPrefix = Root + QStringLiteral("/Settings/");

using Settings = QMap<QString, QVariantMap>;

} // namespace

FakeNetworkManager::FakeNetworkManager(const QDBusConnection& bus, QObject* parent)
    : QDBusVirtualObject(parent), m_bus(bus) {
    qDBusRegisterMetaType<Settings>();
}

FakeNetworkManager::~FakeNetworkManager() {
    stop();
}

void FakeNetworkManager::setActive(const QList<Active>& active) {
    m_active = active;
}

bool FakeNetworkManager::start() {
    m_started = m_bus.registerVirtualObject(Root, this, QDBusConnection::SubPath) &&
                m_bus.registerService(Service);
    return m_started;
}

void FakeNetworkManager::stop() {
    if (!m_started)
        return;
    m_bus.unregisterService(Service);
    m_bus.unregisterObject(Root, QDBusConnection::UnregisterTree);
    m_started = false;
}

// Numbered downwards, so that the listed order and the order of the paths differ.
QString FakeNetworkManager::activePath(int i) const {
    return ActivePrefix + QString::number(100 - i);
}

int FakeNetworkManager::indexOf(const QString& path, const QString& prefix) const {
    if (!path.startsWith(prefix))
        return -1;
    bool ok = false;
    const int i = 100 - path.mid(prefix.size()).toInt(&ok);
    return ok && i >= 0 && i < m_active.size() ? i : -1;
}

QString FakeNetworkManager::introspect(const QString&) const {
    return {};
}

bool FakeNetworkManager::handleMessage(const QDBusMessage& message,
                                       const QDBusConnection& connection) {
    if (!m_silentUnder.isEmpty() && message.path().startsWith(m_silentUnder))
        return true;
    QDBusMessage reply;
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") &&
        message.member() == QLatin1String("Get")) {
        reply = property(message);
    } else if (message.path() == Root &&
               message.interface() == QLatin1String("org.freedesktop.NetworkManager") &&
               message.member() == QLatin1String("DeactivateConnection") &&
               message.signature() == QLatin1String("o")) {
        const QString path = message.arguments().constFirst().value<QDBusObjectPath>().path();
        m_deactivated.append(path);
        const int i = indexOf(path, ActivePrefix);
        if (i < 0)
            reply = message.createErrorReply(
                QStringLiteral("org.freedesktop.NetworkManager.ConnectionNotActive"),
                QStringLiteral("not active"));
        else if (m_active[i].refuseDeactivation)
            reply = message.createErrorReply(
                QStringLiteral("org.freedesktop.NetworkManager.PermissionDenied"),
                QStringLiteral("not allowed"));
        else
            reply = message.createReply();
    } else if (message.interface() ==
                   QLatin1String("org.freedesktop.NetworkManager.Settings.Connection") &&
               message.member() == QLatin1String("GetSettings")) {
        reply = settings(indexOf(message.path(), SettingsPrefix), message);
    } else {
        reply = message.createErrorReply(QDBusError::UnknownMethod, message.member());
    }
    connection.send(reply);
    return true;
}

QDBusMessage FakeNetworkManager::property(const QDBusMessage& message) const {
    const QVariantList args = message.arguments();
    const QString interface = args.value(0).toString();
    const QString name = args.value(1).toString();
    m_asked << interface + QLatin1Char('.') + name;
    if (message.path() == Root && interface == QLatin1String("org.freedesktop.NetworkManager") &&
        name == QLatin1String("State") && m_state != 0)
        return message.createReply(QVariant::fromValue(QDBusVariant(m_state)));
    if (message.path() == Root && interface == QLatin1String("org.freedesktop.NetworkManager") &&
        name == QLatin1String("ActiveConnections")) {
        QList<QDBusObjectPath> paths;
        for (int i = 0; i < m_active.size(); ++i)
            paths.append(QDBusObjectPath(activePath(i)));
        return message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(paths))));
    }
    const int i = indexOf(message.path(), ActivePrefix);
    if (i >= 0 && interface == QLatin1String("org.freedesktop.NetworkManager.Connection.Active")) {
        if (name == QLatin1String("Type"))
            return message.createReply(QVariant::fromValue(QDBusVariant(m_active[i].type)));
        if (name == QLatin1String("Connection"))
            return message.createReply(QVariant::fromValue(QDBusVariant(
                QVariant::fromValue(QDBusObjectPath(SettingsPrefix + QString::number(100 - i))))));
    }
    return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such property"));
}

QDBusMessage FakeNetworkManager::settings(int index, const QDBusMessage& message) const {
    if (index < 0 || m_active[index].bluetoothKind.isEmpty())
        return message.createErrorReply(
            QStringLiteral("org.freedesktop.NetworkManager.Settings.PermissionDenied"),
            QStringLiteral("not allowed"));
    Settings settings;
    settings[QStringLiteral("connection")][QStringLiteral("type")] = m_active[index].type;
    settings[QStringLiteral("bluetooth")][QStringLiteral("type")] = m_active[index].bluetoothKind;
    return message.createReply(QVariant::fromValue(settings));
}
