#pragma once
// The program's one tray icon on Windows: one NOTIFYICONDATAW record kept for the whole run,
// handed to Shell_NotifyIconW to add the icon, to raise each low-space balloon and to delete
// the icon at Close. The record belongs to a small hidden window of ours, which receives the
// icon's callback message 0x0800 with the mouse message the shell saw in lParam, and the
// requests to end that Windows and other programs send to a program's windows.
#include <windows.h>

#include <shellapi.h>

#include <QString>
#include <functional>

namespace koravex {

class TrayRecord {
  public:
    static constexpr UINT kCallbackMessage = 0x0800;
    static constexpr UINT kIconId = 1;
    static constexpr UINT kBalloonTimeoutMs = 20000;
    // The record's layout with the 128-character tip and the balloon fields, without the
    // fields of later shells (guidItem, hBalloonIcon): the shell then reports the mouse
    // messages themselves in lParam.
    static constexpr DWORD kRecordSize = NOTIFYICONDATAW_V2_SIZE;

    // Shell_NotifyIconW, or what a test puts in its place.
    using NotifyCall = std::function<BOOL(DWORD message, NOTIFYICONDATAW* record)>;

    // `icon` is shown in the tray (not owned; null takes the executable's icon resource).
    explicit TrayRecord(NotifyCall notify = {}, HICON icon = nullptr);
    ~TrayRecord();
    TrayRecord(const TrayRecord&) = delete;
    TrayRecord& operator=(const TrayRecord&) = delete;

    // What a right-button press (with the cursor position, screen pixels) and a left double
    // click on the icon run.
    std::function<void(POINT cursor)> onRightButtonDown;
    std::function<void()> onLeftDoubleClick;
    // What WM_CLOSE to the record's window (taskkill without /F, an installer or updater
    // closing the program) and WM_ENDSESSION with wParam TRUE (the session ends) run. The
    // window itself stays: destroyed, it would take the icon's messages with it and leave a
    // program without an icon running. WM_QUERYENDSESSION is answered TRUE and runs nothing:
    // another program may still refuse, and then the session goes on with ours in it.
    std::function<void()> onQuitRequest;

    // Fills the record (flags NIF_MESSAGE | NIF_ICON | NIF_TIP, tip "Koravex") and adds the
    // icon once; the result is not tested, as a tray may appear later.
    void add();
    // The low-space balloon: adds NIF_INFO to the flags for good, the icon again, the text
    // (at most 255 characters) and title (at most 63), 20000 ms, the warning icon; the
    // result of NIM_MODIFY.
    bool showBalloon(const QString& title, const QString& text);
    // The icon added again, when the task bar was restarted (its "TaskbarCreated" message):
    // an icon that vanished with the old task bar could no longer be shown or closed.
    void addAgain();
    // Clears the flags and deletes the icon; later calls do nothing.
    void remove();

    const NOTIFYICONDATAW& record() const { return record_; }
    HWND window() const { return window_; }

  private:
    static ATOM registerWindowClass();
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void handleCallback(LPARAM mouseMessage);
    void requestQuit();

    NotifyCall notify_;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    NOTIFYICONDATAW record_{};
    bool added_ = false;
    bool removed_ = false;
};

// The executable's application icon (resource 1) at the size the tray draws; null when the
// executable has none.
HICON applicationTrayIcon();

}  // namespace koravex
