#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A session bus of a test's own: a dbus-daemon listening on a socket in a temporary folder,
// which starts on demand only the services given here. It ends with the object, or with the
// test process if that dies first.
class CPrivateBus final {
    Q_DISABLE_COPY_MOVE(CPrivateBus)

public:
    // activatable: bus name -> the shell script the bus runs to start that service.
    explicit CPrivateBus(const QMap<QString, QByteArray>& activatable = {});
    ~CPrivateBus();

    // The address to connect to; empty when the daemon did not start, and Error() says why.
    QString Address() const { return m_address; }
    QString Error() const { return m_error; }
    // Ends the daemon now, as a session whose bus goes away.
    void Stop();

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};

// A named connection of a test's own to a bus, closed with the object.
class CBusConnection final {
    Q_DISABLE_COPY_MOVE(CBusConnection)

public:
    CBusConnection(const QString& address, const QString& name)
        : m_name(name), m_bus(QDBusConnection::connectToBus(address, name))
    {
    }
    ~CBusConnection() { QDBusConnection::disconnectFromBus(m_name); }

    QDBusConnection& operator*() { return m_bus; }
    QDBusConnection* operator->() { return &m_bus; }

private:
    QString m_name;
    QDBusConnection m_bus;
};
