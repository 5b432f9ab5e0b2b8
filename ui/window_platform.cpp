#include "ui/window_platform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QScreen>
#include <QUrl>
#include <QWidget>

namespace koravex {

void WindowPlatform::windowCreated(QWidget&) {}

void WindowPlatform::beforeMapping(QWidget&) {}

void WindowPlatform::placeBottomRight(QWidget& window) {
    const QScreen* where = window.screen();
    if (!where)
        return;
    const QRect area = where->availableGeometry();
    const QSize outer = window.frameGeometry().size();
    window.move(area.x() + area.width() - outer.width(), area.y() + area.height() - outer.height());
    placedFrame_ = outer;
}

void WindowPlatform::windowMoved(QWidget& window) {
    if (window.isVisible() && window.frameGeometry().size() != placedFrame_)
        placeBottomRight(window);
}

void WindowPlatform::windowHidden(QWidget&) {}

void WindowPlatform::errorBeep() {
    QApplication::beep();
}

void WindowPlatform::openLink(QWidget&, const QString& url) {
    QDesktopServices::openUrl(QUrl(url));
}

}  // namespace koravex
