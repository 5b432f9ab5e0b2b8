#pragma once
// The program's one tray icon: tip "Koravex", the application icon, the window's popup menu.
#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <optional>

class QMenu;

namespace koravex {

// How the desktop's tray reports the mouse. An XEmbed tray gives Qt the raw clicks, so a
// double click arrives as Trigger then DoubleClick; a StatusNotifierItem host only ever
// sends an activation (Trigger) for its left click and has no double click.
enum class TrayKind { XEmbed, StatusNotifier };

enum class TrayAction { None, ShowWindow };

// The right button needs no action here: Qt opens the context menu at the cursor itself
// (on the press for XEmbed, through the exported menu for StatusNotifierItem hosts).
TrayAction trayActionFor(QSystemTrayIcon::ActivationReason reason, TrayKind kind);

// The kind Qt will use in this process: StatusNotifierItem when a watcher on the session bus
// says a host is registered, XEmbed otherwise (no bus, no watcher, or no answer within
// kTrayQueryTimeoutMs). Asked without waiting: `answer` runs on `context`'s thread from the
// event loop, unless `context` is gone by then.
void askTrayKind(const QDBusConnection& bus, QObject* context,
                 std::function<void(TrayKind)> answer);
inline constexpr int kTrayQueryTimeoutMs = 1000;
// The same question, waiting up to kTrayQueryTimeoutMs for the answer: not for the window's
// thread of the program (tests use it).
TrayKind detectTrayKind();

class TrayIcon : public QObject {
    Q_OBJECT
  public:
    explicit TrayIcon(TrayKind kind, QObject* parent = nullptr);
    // The kind found out by `detect` at the first need of it: asking the session bus costs a
    // few milliseconds that a start should not wait for.
    explicit TrayIcon(std::function<TrayKind()> detect, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Adds the icon once; later calls do nothing. Shown at once; where no tray runs yet Qt
    // docks it when one appears.
    void add();
    // The icon's menu and what its show action runs; set once the window exists.
    void attach(QMenu* menu, std::function<void()> showWindow);
    // Hides and deletes the icon for good.
    void remove();
    // A warning balloon on the icon; false when there is no icon or no tray to show it.
    // One balloon at a time (a new one replaces the last); none over the open menu: a
    // balloon on its way when the menu opens is closed, one that comes while it is open is
    // shown when it closes (only the latest).
    bool showWarning(const QString& title, const QString& text, int timeoutMs);
    // Whether the tray would show a balloon now.
    bool canShowBalloon() const;
    bool balloonWaiting() const { return waiting_.has_value(); }

    QSystemTrayIcon* icon() const { return icon_; }
    TrayKind kind() const;
    // The kind as the bus said it, replacing what was assumed meanwhile.
    void setKind(TrayKind kind) { kind_ = kind; }

  private:
    struct Balloon {
        QString title, text;
        int timeoutMs;
    };
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void closeBalloon();
    void showWaitingBalloon();

    mutable std::optional<TrayKind> kind_;
    std::function<TrayKind()> detect_;
    QPointer<QSystemTrayIcon> icon_;
    bool added_ = false;
    std::function<void()> showWindow_;
    QPointer<QMenu> menu_;
    std::optional<Balloon> waiting_;
};

}  // namespace koravex
