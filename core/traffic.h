#pragma once
// The interface table's cells.
#include <cstdint>
#include <string_view>

#include "core/display_model.h"
#include "core/probes.h"
#include "core/units.h"

namespace koravex {

// "NON_OPERATIONAL" .. "OPERATIONAL" for 0..5; an empty text for any other value.
std::string_view operStatusName(std::uint32_t status);

// Index, description, type, received, sent, speed and status. Counters and speed are
// 64-bit and go through the unit's divisor and the counter mask (the speed too, although
// it counts bits per second).
TrafficRow interfaceCells(const InterfaceRow& row, UnitScale unit);

}  // namespace koravex
