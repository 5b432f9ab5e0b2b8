#pragma once
// The application shell on Windows: the main window, marked for a later start to find, the
// tray record, the popup menu at the cursor, and WM_USER from a second start.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <functional>
#include <memory>

#include "core/probes.h"
#include "shell/windows/tray_record.h"
#include "shell/windows/windows_platform.h"
#include "ui/window_hooks.h"

namespace koravex {

class TForm1;

class WindowsShell : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
  public:
    // Creates the main window (which adds the tray icon while it is created) and marks it.
    // `endEventLoop` is what the tray menu's Close finally runs; `startQuitDeadline` what it
    // runs first, before anything that may wait.
    WindowsShell(Probes& probes, TrayRecord::NotifyCall notify, std::function<void()> endEventLoop,
                 std::function<void()> startQuitDeadline = {});
    ~WindowsShell() override;

    TForm1& window() { return *window_; }
    TrayRecord& tray() { return tray_; }
    HWND mainWindow() const { return mainWindow_; }

    // The first showing at start: shown, then placed in the corner by the window's own
    // rectangle, which exists only once the system has shown it.
    void showAtStart();
    // The tray menu's Close, and WM_CLOSE or the session's end sent to the tray record's
    // window: the deadline started, the icon deleted, the event loop told to end. A later
    // quit only tells the loop again.
    void quit();

    // WM_USER posted to the main window runs the show operation.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    void openMenuAt(POINT cursor);

    TrayRecord tray_;
    std::function<void()> endEventLoop_;
    std::function<void()> startQuitDeadline_;
    WindowsPlatform platform_;  // outlives the window
    std::unique_ptr<TForm1> window_;
    HWND mainWindow_ = nullptr;
    bool quitting_ = false;
};

// The whole program on Windows: the instance mutex, the hand-over or the window and the
// event loop. Returns the exit code (0 in both outcomes).
int runKoravex();

}  // namespace koravex
