#include "shell/desktop_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace koravex {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");

// Sends `message` without waiting and calls `done` with the reply when it comes (or with the
// error once `timeoutMs` has passed). The watcher belongs to `owner`: once it is gone, so is
// the callback.
void callLater(QObject* owner, const QDBusConnection& bus, const QDBusMessage& message,
               int timeoutMs, std::function<void(const QDBusMessage&)> done) {
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, timeoutMs), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner,
                     [done = std::move(done)](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         done(call->reply());
                     });
}

QDBusMessage busQuestion(const QString& method, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(args);
    return call;
}

QVariant firstArgument(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().front();
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

void DesktopNotifications::findService(std::function<void(Service)> answer) {
    if (!bus_.isConnected()) {
        answer(Service::None);
        return;
    }
    callLater(this, bus_, busQuestion(QStringLiteral("NameHasOwner"), {kService}),
              kBusQueryTimeoutMs, [this, answer](const QDBusMessage& reply) {
                  const QVariant owned = firstArgument(reply);
                  if (!owned.isValid()) {
                      // The bus did not answer: asking it more would only wait longer.
                      answer(Service::None);
                  } else if (owned.toBool()) {
                      answer(Service::Running);
                  } else {
                      callLater(this, bus_, busQuestion(QStringLiteral("ListActivatableNames"), {}),
                                kBusQueryTimeoutMs, [answer](const QDBusMessage& names) {
                                    answer(firstArgument(names).toStringList().contains(kService)
                                               ? Service::Startable
                                               : Service::None);
                                });
                  }
              });
}

bool DesktopNotifications::showWarning(const QString& title, const QString& text, int timeoutMs) {
    if (!bus_.isConnected())
        return false;
    if (pending_) {
        waiting_ = Warning{title, text, timeoutMs};
        return true;
    }
    start(Warning{title, text, timeoutMs});
    return true;
}

void DesktopNotifications::start(const Warning& warning) {
    pending_ = true;
    findService([this, warning](Service service) {
        if (service == Service::None)
            finish(warning, false);
        else
            send(warning, service);
    });
}

void DesktopNotifications::send(const Warning& warning, Service service) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                       kService, QStringLiteral("Notify"));
    call.setArguments(notifyArguments(warning.title, warning.text, lastId_, warning.timeoutMs));
    const int timeoutMs = service == Service::Running ? kCallTimeoutMs : kStartTimeoutMs;
    callLater(this, bus_, call, timeoutMs, [this, warning](const QDBusMessage& reply) {
        const bool delivered = reply.signature() == QLatin1String("u");
        if (delivered)
            lastId_ = reply.arguments().front().toUInt();
        finish(warning, delivered || repeatOfShown(reply));
    });
}

bool DesktopNotifications::repeatOfShown(const QDBusMessage& reply) const {
    // Plasma refuses a notification like the last one it took (same program, title and text)
    // within a second of it, a replacement too ("too many similar notifications"): the one it
    // took, ours, is still on the screen with this text.
    return lastId_ != 0 && reply.type() == QDBusMessage::ErrorMessage &&
           reply.errorName() ==
               QLatin1String("org.freedesktop.Notifications.Error.ExcessNotificationGeneration");
}

void DesktopNotifications::finish(const Warning& warning, bool delivered) {
    pending_ = false;
    if (!delivered && onFailed)
        onFailed(warning.title, warning.text);
    if (waiting_ && !pending_) {
        const Warning next = *waiting_;
        waiting_.reset();
        start(next);
    }
}

}  // namespace koravex
