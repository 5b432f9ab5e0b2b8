#pragma once
// The application shell around the main window: the tray icon, the balloon, the hand-over
// commands of a second start and the quit operation.
#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "core/probes.h"
#include "shell/desktop_notifications.h"
#include "shell/instance_protocol.h"
#include "shell/tray_icon.h"
#include "ui/window_hooks.h"
#include "ui/window_platform.h"

namespace koravex {

class TForm1;

class KoravexShell : public QObject {
    Q_OBJECT
  public:
    static constexpr int kBalloonTimeoutMs = 20000;

    // Creates the main window (which adds the tray icon while it is created). `endEventLoop`
    // is what the tray menu's Close finally runs (QCoreApplication::quit in the program).
    KoravexShell(Probes& probes, TrayKind trayKind, QDBusConnection bus,
                 std::function<void()> endEventLoop);
    // The tray's kind found out when first needed (see TrayIcon).
    KoravexShell(Probes& probes, std::function<TrayKind()> detectTrayKind, QDBusConnection bus,
                 std::function<void()> endEventLoop);
    ~KoravexShell() override;

    TForm1& window() { return *window_; }
    TrayIcon& tray() { return tray_; }

    // The greeting a second start compares: class name, executable path, visibility.
    InstanceGreeting greeting(const std::string& executablePath) const;
    // "activate" runs the show operation; "raise" brings the window to the front.
    void handleCommand(InstanceCommand command);

    // The low-space balloon: through the notification service where one runs or can be
    // started, else on the tray icon; false when neither can show it. Returns at once: a
    // warning no service takes shows the balloon on the tray later, or the caption "not".
    bool showBalloon(const QString& title, const QString& text);
    DesktopNotifications& notifications() { return notifications_; }
    // The tray menu's Close: end the event loop, remove the icon.
    void quit();

  private:
    WindowHooks makeHooks();
    void deliveryFailed(const QString& title, const QString& text);

    TrayIcon tray_;
    DesktopNotifications notifications_;
    std::function<void()> endEventLoop_;
    std::unique_ptr<WindowPlatform> platform_;  // outlives the window
    std::unique_ptr<TForm1> window_;
};

}  // namespace koravex
