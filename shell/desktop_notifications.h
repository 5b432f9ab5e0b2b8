#pragma once
// Warnings through the desktop's notification service (org.freedesktop.Notifications).
// Nothing here waits for the bus: every question and every call goes out asynchronously, so a
// slow or stuck bus daemon or notification daemon never holds the caller's thread.
#include <QDBusConnection>
#include <QDBusMessage>
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
    // Whether the bus has a notification service: one runs, or the bus starts one at the first
    // call (its name is activatable: a daemon is installed but not running yet).
    enum class Service { None, Running, Startable };

    explicit DesktopNotifications(QDBusConnection bus, QObject* parent = nullptr);

    // Asks the bus whether a service runs or can be started and returns at once; `answer` is
    // called from the event loop with the bus's reply. No bus, or a bus that does not answer
    // within kBusQueryTimeoutMs, counts as no service.
    void findService(std::function<void(Service)> answer);

    // Hands the warning on and returns at once: first asks the bus for a service, then calls
    // it; each warning replaces the previous one. While a question or a call is on its way, a
    // newer warning waits for it (the latest one wins), so that it can carry the id to replace
    // and never stacks. False when there is no bus to call. A warning no service can take
    // (none runs or can be started, the call is refused or not answered in time) is reported
    // to `onFailed`.
    bool showWarning(const QString& title, const QString& text, int timeoutMs);

    std::function<void(const QString& title, const QString& text)> onFailed;

    uint lastId() const { return lastId_; }
    bool callPending() const { return pending_; }

    // Questions to the bus itself (who owns a name, what it can start) answer at once.
    static constexpr int kBusQueryTimeoutMs = 500;
    // A running daemon answers Notify at once; one that does not is stuck, and the warnings
    // after it must not wait long for it.
    static constexpr int kCallTimeoutMs = 3000;
    // A call that has the bus start the daemon first: time enough for a daemon to start.
    static constexpr int kStartTimeoutMs = 10000;

  private:
    struct Warning {
        QString title, text;
        int timeoutMs;
    };
    void start(const Warning& warning);
    void send(const Warning& warning, Service service);
    void finish(const Warning& warning, bool delivered);
    // An answer that refuses the warning as a repeat of the one the service shows.
    bool repeatOfShown(const QDBusMessage& reply) const;

    QDBusConnection bus_;
    uint lastId_ = 0;
    bool pending_ = false;
    std::optional<Warning> waiting_;
};

}  // namespace koravex
