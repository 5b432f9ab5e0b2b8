#pragma once
// Warnings through the desktop's notification service (org.freedesktop.Notifications), for
// desktops that run one but have no tray to show a balloon.
#include <QDBusConnection>
#include <QString>
#include <QVariantList>

namespace koravex {

// The arguments of one Notify call: app name "Koravex", replaces `replacesId`, the warning
// icon "dialog-warning", the title and text, no actions, normal urgency, the time-out.
QVariantList notifyArguments(const QString& title, const QString& text, uint replacesId,
                             int timeoutMs);

class DesktopNotifications {
  public:
    explicit DesktopNotifications(QDBusConnection bus);

    // False when no service runs or it did not accept the notification within a second.
    // Each warning replaces the previous one, as a new balloon replaces the last on its icon.
    bool showWarning(const QString& title, const QString& text, int timeoutMs);

    static constexpr int kCallTimeoutMs = 1000;

  private:
    QDBusConnection bus_;
    uint lastId_ = 0;
};

}  // namespace koravex
