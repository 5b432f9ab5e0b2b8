#pragma once
// What the main window asks of its platform beyond the toolkit: its place on the screen, what
// the window manager is told before a mapping, the error sound and the opening of a link. The
// shell hands in its platform's (shell/posix: X11, shell/windows: Win32); this base class does
// everything with Qt alone, as the tests and a platform without one of its own have it.
#include <QSize>
#include <QString>

class QWidget;

namespace koravex {

class WindowPlatform {
  public:
    WindowPlatform() = default;
    virtual ~WindowPlatform() = default;
    WindowPlatform(const WindowPlatform&) = delete;
    WindowPlatform& operator=(const WindowPlatform&) = delete;

    // The window is made and placed: what the window manager takes time to answer is asked now.
    virtual void windowCreated(QWidget& window);
    // Before every mapping of the window.
    virtual void beforeMapping(QWidget& window);
    // Puts the window's frame in the bottom-right corner of its screen's work area, and keeps
    // it there as the window manager adds or changes the frame. Qt alone: the available
    // geometry and Qt's frame geometry.
    virtual void placeBottomRight(QWidget& window);
    // Qt moved the window (its move event): with Qt alone, a frame that changed size since the
    // last placement places it again.
    virtual void windowMoved(QWidget& window);
    // The program hid the window.
    virtual void windowHidden(QWidget& window);

    // The error sound of a low-space warning (QApplication::beep).
    virtual void errorBeep();
    // Opens a web page in the user's browser.
    virtual void openLink(QWidget& window, const QString& url);

  protected:
    // The frame's outer size as Qt knows it, kept by a placement for windowMoved.
    void rememberPlacedFrame(QSize outer) { placedFrame_ = outer; }

  private:
    QSize placedFrame_;  // the outer size the last placement used
};

}  // namespace koravex
