#pragma once
// What the main window asks of the application shell. The shell fills these in before the
// window is created; a hook left empty does nothing (tests use that).
#include <QString>
#include <functional>

namespace koravex {

class WindowPlatform;

struct WindowHooks {
    // Step 4 of the window's creation: add the tray icon.
    std::function<void()> addTrayIcon;
    // A low-space balloon: title "Внимание!", the alert text, warning icon, 20000 ms.
    // Returns false when no tray or notification service could show it.
    std::function<bool(const QString& title, const QString& text)> showBalloon;
    // The tray menu's "Close": remove the tray icon and end the event loop.
    std::function<void()> quit;
    // Work the window's mapping does not need (filling the drive list of the settings tab,
    // which asks every drive; finding the page colour the figure labels paint) is handed to
    // this, to run once the window is up; left empty, it is done at once. Showing the
    // settings tab before then fills the list at once all the same.
    std::function<void(std::function<void()> work)> afterShown;
    // The platform's placement, window-manager hints, sound and link opening; it outlives the
    // window. Left empty, the window makes its own with Qt alone.
    WindowPlatform* platform = nullptr;
};

}  // namespace koravex
