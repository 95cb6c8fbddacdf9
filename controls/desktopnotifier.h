#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

// Tells the desktop that a download ended, through the freedesktop notification service, and
// reports a click on the notification. Without a bus or a notification service it does
// nothing and says nothing.
class CDesktopNotifier final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDesktopNotifier)

public:
    // Notifications whose click is still awaited; past this, the oldest are forgotten, so a
    // service that never reports closing cannot grow the list without end.
    static constexpr qsizetype kMaxOpen = 64;

    explicit CDesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                              QObject* parent = nullptr);

    // Shows a notification titled with the file's name, with status as its text and a Play
    // action. Returns at once; the service answers later, or never.
    void Notify(const QString& path, const QString& status);

signals:
    // The user clicked the notification of the file at path.
    void activated(const QString& path);

private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnNotificationClosed(uint id, uint reason);

private:
    void Remember(uint id, const QString& path);

    QDBusConnection m_bus;
    QHash<uint, QString> m_paths;
    QList<uint> m_order; // ids in m_paths, oldest first
};
