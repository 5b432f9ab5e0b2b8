#pragma once
// The windowing platform to ask Qt for. On a Wayland session the window could neither place
// itself in the corner nor stay on top, so the X11 platform is preferred through XWayland
// when that is there; a platform the user chose is left alone.
#include <QByteArray>

namespace koravex {

// The value to give QT_QPA_PLATFORM, or an empty array to leave it as it is.
QByteArray preferredPlatform(const QByteArray& userChoice, const QByteArray& waylandDisplay,
                             const QByteArray& x11Display);

// Applies preferredPlatform() to this process's environment; call before QApplication.
void applyPlatformPreference();

}  // namespace koravex
