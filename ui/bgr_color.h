#pragma once
// Colours as the settings and the gauges keep them: 0x00BBGGRR, red in the low byte. The
// byte above blue is ignored.
#include <QColor>
#include <cstdint>

namespace koravex {

inline QColor fromBgr(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

// Any colour, whatever its spec (HSV, CMYK), as its RGB value; the alpha channel is dropped.
inline std::uint32_t toBgr(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<std::uint32_t>(rgb.red()) | (static_cast<std::uint32_t>(rgb.green()) << 8) |
           (static_cast<std::uint32_t>(rgb.blue()) << 16);
}

}  // namespace koravex
