#pragma once
// The window's platform on Windows: the placement by the system's work area and the window's
// own rectangle, the error sound (MessageBeep) and the shell's opening of a link.
#include "ui/window_platform.h"

namespace koravex {

class WindowsPlatform : public WindowPlatform {
  public:
    // Once the native window exists its own rectangle is used (GetWindowRect in the work area
    // of SPI_GETWORKAREA): the frame Qt assumes can differ from the one the system draws by a
    // few pixels. Before that, Qt's placement.
    void placeBottomRight(QWidget& window) override;
    void errorBeep() override;  // MessageBeep(MB_ICONHAND)
    // ShellExecuteW "open" with SW_SHOWNORMAL: a browser started hidden shows nothing.
    void openLink(QWidget& window, const QString& url) override;
};

}  // namespace koravex
