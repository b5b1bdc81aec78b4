#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QStringList>

// A stand-in for NetworkManager on a private bus: it owns the service name, lists the active
// connections it is given, answers their Type (and for Bluetooth, the settings that tell DUN from
// PAN), answers its State once given one, and records every DeactivateConnection in the order
// received.
class FakeNetworkManager : public QDBusVirtualObject {
    Q_OBJECT
  public:
    struct Active {
        QString type;
        // For Bluetooth: "dun", "panu", or empty when the settings cannot be read.
        QString bluetoothKind;
        bool refuseDeactivation = false;
    };

    FakeNetworkManager(const QDBusConnection& bus, QObject* parent);
    ~FakeNetworkManager() override;

    void setActive(const QList<Active>& active);
    // NMState: 20 disconnected, 70 connected to the internet, ...; 0 leaves State unanswered.
    void setState(uint state) { m_state = state; }
    // Every property asked for, as "interface.name".
    QStringList propertiesAsked() const { return m_asked; }
    // Leave calls on objects under this path unanswered, like a hung daemon.
    void setSilentUnder(const QString& path) { m_silentUnder = path; }
    bool start();
    void stop();

    // The object path the fake gives the i-th listed connection.
    QString activePath(int i) const;
    QStringList deactivated() const { return m_deactivated; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

  private:
    int indexOf(const QString& path, const QString& prefix) const;
    QDBusMessage property(const QDBusMessage& message) const;
    QDBusMessage settings(int index, const QDBusMessage& message) const;

    QDBusConnection m_bus;
    QList<Active> m_active;
    QStringList m_deactivated;
    mutable QStringList m_asked;
    uint m_state = 0;
    QString m_silentUnder;
    bool m_started = false;
};
