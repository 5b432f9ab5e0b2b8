#include "shell/koravex_shell.h"

#include <unistd.h>
#include <QMenu>
#include <QTimer>

#include "shell/posix/x11_window_platform.h"
#include "ui/main_window.h"

namespace koravex {

KoravexShell::KoravexShell(Probes& probes, TrayKind trayKind, QDBusConnection bus,
                           std::function<void()> endEventLoop)
    : KoravexShell(
          probes, [trayKind] { return trayKind; }, std::move(bus), std::move(endEventLoop)) {}

KoravexShell::KoravexShell(Probes& probes, std::function<TrayKind()> detectTrayKind,
                           QDBusConnection bus, std::function<void()> endEventLoop)
    : tray_(std::move(detectTrayKind)),
      notifications_(std::move(bus)),
      endEventLoop_(std::move(endEventLoop)),
      platform_(std::make_unique<X11WindowPlatform>()) {
    notifications_.onFailed = [this](const QString& title, const QString& text) {
        deliveryFailed(title, text);
    };
    window_ = std::make_unique<TForm1>(probes, makeHooks());
    // No event has been handled since the icon was added, so no click can miss the menu.
    tray_.attach(window_->popupMenu(), [this] { window_->Details1Click(); });
}

KoravexShell::~KoravexShell() = default;

WindowHooks KoravexShell::makeHooks() {
    WindowHooks hooks;
    hooks.addTrayIcon = [this] { tray_.add(); };
    hooks.showBalloon = [this](const QString& title, const QString& text) {
        return showBalloon(title, text);
    };
    hooks.quit = [this] { quit(); };
    hooks.platform = platform_.get();
    // The event loop's first turn comes after the window was mapped.
    hooks.afterShown = [this](std::function<void()> work) {
        QTimer::singleShot(0, this, std::move(work));
    };
    return hooks;
}

InstanceGreeting KoravexShell::greeting(const std::string& executablePath) const {
    const QString className = QString::fromLatin1(window_->metaObject()->className());
    // A minimized window is not on the screen: a second start has it shown (restored), not
    // merely raised.
    const bool onScreen = window_->isVisible() && !(window_->windowState() & Qt::WindowMinimized);
    return {className.section(QStringLiteral("::"), -1).toStdString(), onScreen, executablePath};
}

void KoravexShell::handleCommand(InstanceCommand command) {
    switch (command) {
        case InstanceCommand::Activate:
            window_->Details1Click();
            break;
        case InstanceCommand::Raise:
            window_->raise();
            window_->activateWindow();
            break;
    }
}

bool KoravexShell::showBalloon(const QString& title, const QString& text) {
    // The desktop's notification service shows warnings where its user looks for them, beside
    // the other programs' ones, and never over a menu or the window; an XEmbed tray's own
    // balloon is only for desktops without one. A service the bus would start counts: the
    // call starts it. Whether there is one is asked without waiting: where there is none,
    // the warning comes back through deliveryFailed.
    if (notifications_.showWarning(title, text, kBalloonTimeoutMs)) {
        return true;
    }
    // No bus at all. A StatusNotifierItem tray hands balloons to that same service and drops
    // them without a word where there is none: the caption says "not" instead.
    return tray_.kind() != TrayKind::StatusNotifier &&
           tray_.showWarning(title, text, kBalloonTimeoutMs);
}

void KoravexShell::deliveryFailed(const QString& title, const QString& text) {
    // No service runs or can be started, or it refused the warning or never answered: the
    // tray's own balloon shows it where it can, else the caption says that it was not shown.
    if (tray_.kind() != TrayKind::StatusNotifier &&
        tray_.showWarning(title, text, kBalloonTimeoutMs)) {
        return;
    }
    window_->setWindowTitle(QStringLiteral("not"));
}

void KoravexShell::quit() {
    // First: in the program this starts the deadline that bounds what follows (the icon's
    // removal is a bus call for a StatusNotifierItem host, an X request for an XEmbed tray).
    if (endEventLoop_) {
        endEventLoop_();
    }
    tray_.remove();
}

}  // namespace koravex
