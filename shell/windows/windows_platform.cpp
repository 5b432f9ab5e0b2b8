#include "shell/windows/windows_platform.h"

#include <windows.h>

#include <shellapi.h>
#include <QWidget>

namespace koravex {

void WindowsPlatform::placeBottomRight(QWidget& window) {
    if (window.testAttribute(Qt::WA_WState_Created) && window.internalWinId() != 0) {
        const HWND handle = reinterpret_cast<HWND>(window.internalWinId());
        RECT area{};
        RECT outer{};
        if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) && GetWindowRect(handle, &outer)) {
            SetWindowPos(handle, nullptr, area.right - (outer.right - outer.left),
                         area.bottom - (outer.bottom - outer.top), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            rememberPlacedFrame(window.frameGeometry().size());
            return;
        }
    }
    WindowPlatform::placeBottomRight(window);
}

void WindowsPlatform::errorBeep() {
    MessageBeep(MB_ICONHAND);
}

void WindowsPlatform::openLink(QWidget& window, const QString& url) {
    ShellExecuteW(reinterpret_cast<HWND>(window.winId()), L"open",
                  reinterpret_cast<const wchar_t*>(url.utf16()), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace koravex
