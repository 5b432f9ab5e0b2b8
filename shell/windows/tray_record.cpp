#include "shell/windows/tray_record.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

namespace koravex {

namespace {

constexpr wchar_t kWindowClass[] = L"KoravexTrayWindow";
constexpr wchar_t kTip[128] = L"Koravex";

// Copies at most `capacity - 1` UTF-16 units of `text` and a NUL, never half a surrogate pair.
template <std::size_t N>
void copyField(wchar_t (&field)[N], const QString& text) {
    std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(text.size()), N - 1);
    if (count > 0 && count < static_cast<std::size_t>(text.size()) &&
        text.at(static_cast<qsizetype>(count) - 1).isHighSurrogate()) {
        --count;
    }
    std::wmemset(field, 0, N);
    for (std::size_t i = 0; i < count; ++i) {
        field[i] = static_cast<wchar_t>(text.at(static_cast<qsizetype>(i)).unicode());
    }
}

}  // namespace

ATOM TrayRecord::registerWindowClass() {
    static const ATOM atom = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &TrayRecord::windowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kWindowClass;
        return RegisterClassExW(&wc);
    }();
    return atom;
}

HICON applicationTrayIcon() {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), LR_SHARED));
}

TrayRecord::TrayRecord(NotifyCall notify, HICON icon) : notify_(std::move(notify)) {
    if (!notify_) {
        notify_ = [](DWORD message, NOTIFYICONDATAW* record) {
            return Shell_NotifyIconW(message, record);
        };
    }
    registerWindowClass();
    // A hidden top-level window rather than a message-only one: the menu needs a window
    // that can be brought to the foreground, so that it closes when the user clicks away.
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"Koravex tray", WS_POPUP, 0, 0, 0, 0,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    icon_ = icon != nullptr ? icon : applicationTrayIcon();
}

TrayRecord::~TrayRecord() {
    remove();
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void TrayRecord::add() {
    if (added_) {
        return;
    }
    added_ = true;
    record_.cbSize = kRecordSize;
    record_.hWnd = window_;
    record_.uID = kIconId;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record_.uCallbackMessage = kCallbackMessage;
    record_.hIcon = icon_;
    std::wmemcpy(record_.szTip, kTip, 128);
    notify_(NIM_ADD, &record_);
}

bool TrayRecord::showBalloon(const QString& title, const QString& text) {
    if (!added_ || removed_) {
        return false;
    }
    record_.hIcon = icon_;
    record_.uFlags |= NIF_INFO;
    copyField(record_.szInfo, text);
    copyField(record_.szInfoTitle, title);
    record_.uTimeout = kBalloonTimeoutMs;
    record_.dwInfoFlags = NIIF_WARNING;
    return notify_(NIM_MODIFY, &record_) != FALSE;
}

void TrayRecord::addAgain() {
    if (!added_ || removed_) {
        return;
    }
    // The same record, without the balloon: a restarted task bar would show the last
    // warning again.
    NOTIFYICONDATAW again = record_;
    again.uFlags &= ~static_cast<UINT>(NIF_INFO);
    notify_(NIM_ADD, &again);
}

void TrayRecord::remove() {
    if (!added_ || removed_) {
        return;
    }
    removed_ = true;
    record_.uFlags = 0;
    notify_(NIM_DELETE, &record_);
}

LRESULT CALLBACK TrayRecord::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    auto* self = reinterpret_cast<TrayRecord*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == taskbarCreated && taskbarCreated != 0) {
        if (self != nullptr) {
            self->addAgain();
        }
        return 0;
    }
    switch (message) {
        case kCallbackMessage:  // wParam carries the icon's id; the program has one icon
            if (self != nullptr) {
                self->handleCallback(lParam);
            }
            return 0;
        case WM_CLOSE:
            if (self != nullptr) {
                self->requestQuit();
            }
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            // Once this returns with wParam TRUE the system may end the process at any
            // moment: the icon is deleted before that.
            if (wParam != FALSE && self != nullptr) {
                self->requestQuit();
            }
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void TrayRecord::requestQuit() {
    if (onQuitRequest) {
        onQuitRequest();
    }
}

void TrayRecord::handleCallback(LPARAM mouseMessage) {
    // The low 32 bits are compared as a whole: a shell that packs more into them (the
    // version 4 callback) matches neither test.
    const auto value = static_cast<std::uint32_t>(static_cast<std::uintptr_t>(mouseMessage));
    if (value == WM_RBUTTONDOWN && onRightButtonDown) {
        POINT cursor{};
        GetCursorPos(&cursor);
        onRightButtonDown(cursor);
    }
    if (value == WM_LBUTTONDBLCLK && onLeftDoubleClick) {
        onLeftDoubleClick();
    }
}

}  // namespace koravex
