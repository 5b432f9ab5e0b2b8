#include "shell/desktop_notifications.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStringList>
#include <QVariantMap>

namespace koravex {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
}  // namespace

QVariantList notifyArguments(const QString& title, const QString& text, uint replacesId,
                             int timeoutMs) {
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar{1}));
    return {QStringLiteral("Koravex"),
            replacesId,
            QStringLiteral("dialog-warning"),
            title,
            text,
            QStringList{},
            hints,
            timeoutMs};
}

DesktopNotifications::DesktopNotifications(QDBusConnection bus) : bus_(std::move(bus)) {}

bool DesktopNotifications::showWarning(const QString& title, const QString& text, int timeoutMs) {
    if (!bus_.isConnected()) {
        return false;
    }
    const QDBusReply<bool> registered = bus_.interface()->isServiceRegistered(kService);
    if (!registered.isValid() || !registered.value()) {
        return false;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                       kService, QStringLiteral("Notify"));
    call.setArguments(notifyArguments(title, text, lastId_, timeoutMs));
    const QDBusReply<uint> reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid()) {
        return false;
    }
    lastId_ = reply.value();
    return true;
}

}  // namespace koravex
