#include "shell/platform_choice.h"

#include <QtGlobal>

namespace koravex {

QByteArray preferredPlatform(const QByteArray& userChoice, const QByteArray& waylandDisplay,
                             const QByteArray& x11Display) {
    if (!userChoice.trimmed().isEmpty() || waylandDisplay.isEmpty() || x11Display.isEmpty()) {
        return {};
    }
    return QByteArrayLiteral("xcb");
}

void applyPlatformPreference() {
    const QByteArray platform = preferredPlatform(qgetenv("QT_QPA_PLATFORM"),
                                                  qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY"));
    if (!platform.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", platform);
    }
}

}  // namespace koravex
