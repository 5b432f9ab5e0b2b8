#include "shell/tray_icon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QMenu>
#include <QTimer>
#include <utility>

#include "ui/app_icons.h"

namespace koravex {

TrayAction trayActionFor(QSystemTrayIcon::ActivationReason reason, TrayKind kind) {
    switch (reason) {
        case QSystemTrayIcon::DoubleClick:
            return TrayAction::ShowWindow;
        case QSystemTrayIcon::Trigger:
            return kind == TrayKind::StatusNotifier ? TrayAction::ShowWindow : TrayAction::None;
        case QSystemTrayIcon::Context:
        case QSystemTrayIcon::MiddleClick:
        case QSystemTrayIcon::Unknown:
            break;
    }
    return TrayAction::None;
}

TrayKind detectTrayKind() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return TrayKind::XEmbed;
    }
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(watcher);
    if (!registered.isValid() || !registered.value()) {
        return TrayKind::XEmbed;
    }
    QDBusInterface props(watcher, QStringLiteral("/StatusNotifierWatcher"),
                         QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    props.setTimeout(1000);
    const QDBusReply<QDBusVariant> host = props.call(
        QStringLiteral("Get"), watcher, QStringLiteral("IsStatusNotifierHostRegistered"));
    return host.isValid() && host.value().variant().toBool() ? TrayKind::StatusNotifier
                                                             : TrayKind::XEmbed;
}

TrayIcon::TrayIcon(TrayKind kind, QObject* parent) : QObject(parent), kind_(kind) {}

TrayIcon::TrayIcon(std::function<TrayKind()> detect, QObject* parent)
    : QObject(parent), detect_(std::move(detect)) {}

TrayKind TrayIcon::kind() const {
    if (!kind_)
        kind_ = detect_ ? detect_() : TrayKind::XEmbed;
    return *kind_;
}

TrayIcon::~TrayIcon() {
    remove();
}

void TrayIcon::add() {
    if (added_) {
        return;
    }
    added_ = true;
    icon_ = new QSystemTrayIcon(applicationIcon(), this);
    icon_->setToolTip(QStringLiteral("Koravex"));
    connect(icon_, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    icon_->show();
}

void TrayIcon::attach(QMenu* menu, std::function<void()> showWindow) {
    showWindow_ = std::move(showWindow);
    if (icon_) {
        icon_->setContextMenu(menu);
    }
    if (menu_)
        disconnect(menu_, nullptr, this, nullptr);
    menu_ = menu;
    if (menu) {
        connect(menu, &QMenu::aboutToShow, this, &TrayIcon::closeBalloon);
        // The menu is still on the screen while it says it is about to hide.
        connect(menu, &QMenu::aboutToHide, this,
                [this] { QTimer::singleShot(0, this, &TrayIcon::showWaitingBalloon); });
    }
}

void TrayIcon::remove() {
    if (icon_) {
        icon_->hide();
        delete icon_;
    }
}

bool TrayIcon::canShowBalloon() const {
    return icon_ && icon_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIcon::showWarning(const QString& title, const QString& text, int timeoutMs) {
    if (!canShowBalloon()) {
        return false;
    }
    if (menu_ && menu_->isVisible()) {
        waiting_ = Balloon{title, text, timeoutMs};
        return true;
    }
    waiting_.reset();
    icon_->showMessage(title, text, QSystemTrayIcon::Warning, timeoutMs);
    return true;
}

void TrayIcon::closeBalloon() {
    // Qt's balloon is a top-level window of its own; Qt offers no call to close it early.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->inherits("QBalloonTip") && window->isVisible())
            window->hide();
    }
}

void TrayIcon::showWaitingBalloon() {
    if (!waiting_ || (menu_ && menu_->isVisible()))
        return;
    const Balloon balloon = *std::exchange(waiting_, std::nullopt);
    showWarning(balloon.title, balloon.text, balloon.timeoutMs);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason) {
    if (trayActionFor(reason, kind()) == TrayAction::ShowWindow && showWindow_) {
        showWindow_();
    }
}

}  // namespace koravex
