#pragma once
// The window's platform on an X11 display (Xorg, Xwayland): the placement from what the window
// manager says (_NET_FRAME_EXTENTS, asked for with _NET_REQUEST_FRAME_EXTENTS and followed on
// PropertyNotify; _NET_WORKAREA), the task-bar hints before every mapping. Without an X11
// connection, or under a manager that does not report frame extents, it does what Qt alone does.
#include <QAbstractNativeEventFilter>
#include <memory>

#include "ui/window_platform.h"

namespace koravex {

class X11WindowPlatform : public WindowPlatform, public QAbstractNativeEventFilter {
  public:
    X11WindowPlatform();
    ~X11WindowPlatform() override;

    void windowCreated(QWidget& window) override;
    void beforeMapping(QWidget& window) override;
    void placeBottomRight(QWidget& window) override;
    void windowMoved(QWidget& window) override;
    void windowHidden(QWidget& window) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    struct X11;
    std::unique_ptr<X11> x11_;  // null without an X11 connection
};

}  // namespace koravex
