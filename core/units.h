#pragma once
// Unit scale, digit masks and gauge values.
#include <cstdint>
#include <string>
#include <string_view>

namespace koravex {

// Position of the unit track bar: 0 at the top (megabytes) to 2 (bytes).
enum class UnitScale { Megabytes = 0, Kilobytes = 1, Bytes = 2 };

// 1048576, 1024 or 1.
double unitDivisor(UnitScale unit);

// The byte count over the unit's divisor, fraction kept (both divisions are exact).
double scaleBytes(std::uint64_t bytes, UnitScale unit);

// Writes a non-negative value into a mask: every '#' is a digit place, every other
// byte is a literal copied unchanged (so UTF-8 words pass through whole). The value
// is rounded half away from zero; digits are right-aligned into the places; surplus
// leading digits stand ungrouped in front of the first place; 0 writes no digit.
std::string formatMask(std::string_view mask, double value);

// Rounds half to even into a signed 32-bit whole number (saturating at the ends).
std::int32_t gaugeValue(double scaled);

// Masks of the shown texts, by unit.
std::string_view totalMemoryMask(UnitScale unit);
std::string_view availableMemoryMask(UnitScale unit);
std::string_view driveMask(UnitScale unit);
std::string_view counterMask(UnitScale unit);

}  // namespace koravex
