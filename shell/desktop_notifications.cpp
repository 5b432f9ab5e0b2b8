#include "shell/desktop_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace koravex {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage busCall(const QDBusConnection& bus, const QString& method, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(args);
    return bus.call(call, QDBus::Block, DesktopNotifications::kBusQueryTimeoutMs);
}
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

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

bool DesktopNotifications::available() const {
    if (!bus_.isConnected())
        return false;
    const QDBusMessage owner = busCall(bus_, QStringLiteral("NameHasOwner"), {kService});
    if (owner.type() == QDBusMessage::ReplyMessage && !owner.arguments().isEmpty() &&
        owner.arguments().front().toBool())
        return true;
    const QDBusMessage names = busCall(bus_, QStringLiteral("ListActivatableNames"), {});
    return names.type() == QDBusMessage::ReplyMessage && !names.arguments().isEmpty() &&
           names.arguments().front().toStringList().contains(kService);
}

bool DesktopNotifications::showWarning(const QString& title, const QString& text, int timeoutMs) {
    if (!bus_.isConnected())
        return false;
    if (pending_) {
        waiting_ = Warning{title, text, timeoutMs};
        return true;
    }
    send(Warning{title, text, timeoutMs});
    return true;
}

void DesktopNotifications::send(const Warning& warning) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                       kService, QStringLiteral("Notify"));
    call.setArguments(notifyArguments(warning.title, warning.text, lastId_, warning.timeoutMs));
    pending_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, warning](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                pending_ = false;
                const QDBusPendingReply<uint> reply = *done;
                if (reply.isValid()) {
                    lastId_ = reply.value();
                } else if (onFailed) {
                    onFailed(warning.title, warning.text);
                }
                if (waiting_) {
                    const Warning next = *waiting_;
                    waiting_.reset();
                    send(next);
                }
            });
}

}  // namespace koravex
