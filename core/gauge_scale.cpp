#include "core/gauge_scale.h"

#include <cmath>
#include <limits>

#include "core/units.h"

namespace koravex {

GaugeSetting gaugeFor(double total, double used, double divisor) {
    double max = total > 0.0 ? total / divisor : 0.0;
    double progress = used > 0.0 ? used / divisor : 0.0;
    if (!std::isfinite(max))
        max = 0.0;
    if (!std::isfinite(progress))
        progress = 0.0;
    // Halving is exact for doubles, so the share is kept to the last bit. The limit is the
    // value that would round beyond the signed 32-bit maximum.
    constexpr double kLimit = static_cast<double>(std::numeric_limits<std::int32_t>::max()) + 0.5;
    while (max >= kLimit) {
        max /= 2.0;
        progress /= 2.0;
    }
    return GaugeSetting{gaugeValue(max), gaugeValue(progress)};
}

}  // namespace koravex
