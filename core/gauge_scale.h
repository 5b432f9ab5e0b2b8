#pragma once
// Gauge settings from 64-bit amounts.
#include <cstdint>

#include "core/display_model.h"

namespace koravex {

// Maximum total/divisor and progress used/divisor as gauge values. When the maximum does not
// fit a signed 32-bit number both are divided by the same power of two until it does, so
// the shown share stays right. Negative amounts count as 0.
GaugeSetting gaugeFor(double total, double used, double divisor);

}  // namespace koravex
