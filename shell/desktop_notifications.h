#pragma once
// Warnings through the desktop's notification service (org.freedesktop.Notifications).
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <functional>
#include <optional>

namespace koravex {

// The arguments of one Notify call: app name "Koravex", replaces `replacesId`, the warning
// icon "dialog-warning", the title and text, no actions, normal urgency, the time-out.
QVariantList notifyArguments(const QString& title, const QString& text, uint replacesId,
                             int timeoutMs);

class DesktopNotifications : public QObject {
    Q_OBJECT
  public:
    explicit DesktopNotifications(QDBusConnection bus, QObject* parent = nullptr);

    // A service runs on the bus, or the bus starts one at the first call (its name is
    // activatable: a notification daemon is installed but not running yet).
    bool available() const;

    // Hands the warning to the service without waiting for it; each warning replaces the
    // previous one. While a call is on its way, a newer warning waits for its reply (the
    // latest one wins), so that it can carry the id to replace and never stacks. False when
    // there is no bus to call; a call the service refuses, or does not answer within
    // kCallTimeoutMs (time enough to start a daemon), is reported to `onFailed`.
    bool showWarning(const QString& title, const QString& text, int timeoutMs);

    std::function<void(const QString& title, const QString& text)> onFailed;

    uint lastId() const { return lastId_; }
    bool callPending() const { return pending_; }

    static constexpr int kCallTimeoutMs = 10000;
    // Questions to the bus itself (who owns a name, what it can start) answer at once.
    static constexpr int kBusQueryTimeoutMs = 500;

  private:
    struct Warning {
        QString title, text;
        int timeoutMs;
    };
    void send(const Warning& warning);

    QDBusConnection bus_;
    uint lastId_ = 0;
    bool pending_ = false;
    std::optional<Warning> waiting_;
};

}  // namespace koravex
