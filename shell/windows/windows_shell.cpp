#include "shell/windows/windows_shell.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

#include "shell/windows/instance_windows.h"
#include "ui/main_window.h"

namespace koravex {

namespace {

// GetCursorPos answers in device pixels; Qt places widgets in its own device-independent
// pixels, which differ on a scaled screen.
QPoint logicalPoint(POINT cursor) {
    const QPoint device(cursor.x, cursor.y);
    for (const QScreen* screen : QGuiApplication::screens()) {
        const qreal ratio = screen->devicePixelRatio();
        const QRect logical = screen->geometry();
        const QRect native(logical.topLeft(), logical.size() * ratio);
        if (native.contains(device)) {
            return logical.topLeft() + (device - logical.topLeft()) / ratio;
        }
    }
    return device;
}

}  // namespace

WindowsShell::WindowsShell(Probes& probes, TrayRecord::NotifyCall notify,
                           std::function<void()> endEventLoop,
                           std::function<void()> startQuitDeadline)
    : tray_(std::move(notify)),
      endEventLoop_(std::move(endEventLoop)),
      startQuitDeadline_(std::move(startQuitDeadline)) {
    WindowHooks hooks;
    hooks.addTrayIcon = [this] { tray_.add(); };
    hooks.showBalloon = [this](const QString& title, const QString& text) {
        return tray_.showBalloon(title, text);
    };
    hooks.quit = [this] { quit(); };
    hooks.platform = &platform_;
    window_ = std::make_unique<TForm1>(probes, std::move(hooks));
    tray_.onRightButtonDown = [this](POINT cursor) { openMenuAt(cursor); };
    tray_.onLeftDoubleClick = [this] { window_->Details1Click(); };
    tray_.onQuitRequest = [this] { quit(); };
    // The native window exists from here on; a later start looks for the marker.
    mainWindow_ = reinterpret_cast<HWND>(window_->winId());
    markMainWindow(mainWindow_);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

WindowsShell::~WindowsShell() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    if (mainWindow_ != nullptr) {
        unmarkMainWindow(mainWindow_);
    }
}

void WindowsShell::openMenuAt(POINT cursor) {
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(tray_.window());
    window_->popupMenu()->popup(logicalPoint(cursor));
}

void WindowsShell::showAtStart() {
    window_->show();
    window_->Details1Click();
}

void WindowsShell::quit() {
    // The count starts first: deleting the icon waits on the shell, which may be hung, and
    // ending the loop hides the window, which under Wine without a window manager waits 2 s.
    if (!quitting_) {
        quitting_ = true;
        if (startQuitDeadline_) {
            startQuitDeadline_();
        }
        tray_.remove();
    }
    if (endEventLoop_) {
        endEventLoop_();
    }
}

bool WindowsShell::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "windows_generic_MSG") {
        return false;
    }
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->hwnd == mainWindow_ && msg->message == WM_USER) {
        window_->Details1Click();
        return true;
    }
    return false;
}

}  // namespace koravex
