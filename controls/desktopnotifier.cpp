#include "controls/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kObject = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");

} // namespace

CDesktopNotifier::CDesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    // Named by the service, so only its present owner's signals arrive, whoever that becomes.
    m_bus.connect(kService, kObject, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(OnActionInvoked(uint, QString)));
    m_bus.connect(kService, kObject, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(OnNotificationClosed(uint, uint)));
}

void CDesktopNotifier::Notify(const QString& path, const QString& status)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kObject, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Quillmoor") << uint(0) << QStringLiteral("quillmoor")
         << QFileInfo(path).fileName() << status
         << QStringList{kDefaultAction, QStringLiteral("Play")} << QVariantMap() << -1;
    // A desktop without a running notification service gets none started for a download: the
    // bus answers "no such service" at once, and that answer is dropped like any other error.
    call.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusMessage reply = answer->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == u"u")
                    Remember(reply.arguments().constFirst().toUInt(), path);
            });
}

void CDesktopNotifier::Remember(uint id, const QString& path)
{
    if (m_paths.contains(id))
        m_order.removeOne(id);
    m_paths.insert(id, path);
    m_order.append(id);
    while (m_order.size() > kMaxOpen)
        m_paths.remove(m_order.takeFirst());
}

void CDesktopNotifier::OnActionInvoked(uint id, const QString& action)
{
    if (action != kDefaultAction)
        return;
    const auto found = m_paths.constFind(id);
    if (found != m_paths.cend())
        emit activated(*found);
}

void CDesktopNotifier::OnNotificationClosed(uint id, uint)
{
    if (m_paths.remove(id))
        m_order.removeOne(id);
}
