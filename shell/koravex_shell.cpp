#include "shell/koravex_shell.h"

#include <unistd.h>
#include <QMenu>

#include "ui/main_window.h"

namespace koravex {

KoravexShell::KoravexShell(Probes& probes, TrayKind trayKind, QDBusConnection bus,
                           std::function<void()> endEventLoop)
    : tray_(trayKind), notifications_(std::move(bus)), endEventLoop_(std::move(endEventLoop)) {
    build(probes);
}

KoravexShell::KoravexShell(Probes& probes, std::function<TrayKind()> detectTrayKind,
                           QDBusConnection bus, std::function<void()> endEventLoop)
    : tray_(std::move(detectTrayKind)),
      notifications_(std::move(bus)),
      endEventLoop_(std::move(endEventLoop)) {
    build(probes);
}

void KoravexShell::build(Probes& probes) {
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
    return hooks;
}

InstanceGreeting KoravexShell::greeting(const QByteArray& executablePath) const {
    const QString className = QString::fromLatin1(window_->metaObject()->className());
    return {className.section(QStringLiteral("::"), -1).toUtf8(), window_->isVisible(),
            executablePath};
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
    // A StatusNotifierItem tray hands balloons to the notification service and drops them
    // without a word where none runs; our own call to that service can tell, so that the
    // caption says "not" instead of a warning silently lost.
    if (tray_.kind() != TrayKind::StatusNotifier &&
        tray_.showWarning(title, text, kBalloonTimeoutMs)) {
        return true;
    }
    return notifications_.showWarning(title, text, kBalloonTimeoutMs);
}

void KoravexShell::quit() {
    tray_.remove();
    if (endEventLoop_) {
        endEventLoop_();
    }
}

}  // namespace koravex
