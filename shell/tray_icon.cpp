#include "shell/tray_icon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
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

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

// The watcher's IsStatusNotifierHostRegistered. A watcher that is not running is not started
// for this question: the bus answers at once that there is none.
QDBusMessage hostQuestion() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({kWatcher, QStringLiteral("IsStatusNotifierHostRegistered")});
    get.setAutoStartService(false);
    return get;
}

TrayKind kindFrom(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return TrayKind::XEmbed;
    const QVariant value = reply.arguments().front().value<QDBusVariant>().variant();
    return value.toBool() ? TrayKind::StatusNotifier : TrayKind::XEmbed;
}

}  // namespace

void askTrayKind(const QDBusConnection& bus, QObject* context,
                 std::function<void(TrayKind)> answer) {
    if (!bus.isConnected()) {
        QTimer::singleShot(0, context, [answer] { answer(TrayKind::XEmbed); });
        return;
    }
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(hostQuestion(), kTrayQueryTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [answer = std::move(answer)](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         answer(kindFrom(call->reply()));
                     });
}

TrayKind detectTrayKind() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return TrayKind::XEmbed;
    return kindFrom(bus.call(hostQuestion(), QDBus::Block, kTrayQueryTimeoutMs));
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
