#include "core/units.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace koravex {

double unitDivisor(UnitScale unit) {
    switch (unit) {
        case UnitScale::Megabytes:
            return 1048576.0;
        case UnitScale::Kilobytes:
            return 1024.0;
        case UnitScale::Bytes:
            break;
    }
    return 1.0;
}

double scaleBytes(std::uint64_t bytes, UnitScale unit) {
    return static_cast<double>(bytes) / unitDivisor(unit);
}

std::string formatMask(std::string_view mask, double value) {
    if (!(value > 0.0) || !std::isfinite(value))
        value = 0.0;                         // no sign is ever written
    const double whole = std::round(value);  // halves away from zero
    std::string digits;
    if (whole >= 1.0 && whole < 18446744073709551616.0) {
        // A whole double below 2^64 is an exact 64-bit count: its digits without printf.
        char buf[24];
        const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(whole));
        digits.assign(buf, end.ptr);
    } else if (whole >= 1.0) {
        char buf[400];  // %.0f of a double never needs more than 309 digits
        const int n = std::snprintf(buf, sizeof buf, "%.0f", whole);
        if (n > 0)
            digits.assign(buf, static_cast<std::size_t>(n));
    }
    std::size_t places = 0;
    for (char c : mask)
        places += (c == '#');

    std::string out;
    out.reserve(mask.size() + digits.size());
    // Digit index for the first place: places may be fewer than digits (surplus goes in
    // front) or more (leading places stay empty).
    std::size_t placeIndex = 0;
    const std::size_t surplus = digits.size() > places ? digits.size() - places : 0;
    const std::size_t empty = places > digits.size() ? places - digits.size() : 0;
    for (char c : mask) {
        if (c != '#') {
            out.push_back(c);
            continue;
        }
        if (placeIndex == 0 && surplus > 0) {
            out.append(digits, 0, surplus + 1);
        } else if (placeIndex >= empty) {
            out.push_back(digits[placeIndex - empty + surplus]);
        }
        ++placeIndex;
    }
    return out;
}

std::int32_t gaugeValue(double scaled) {
    if (std::isnan(scaled))
        return 0;
    const double r = std::nearbyint(scaled);  // default rounding mode: halves to even
    if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

std::string_view totalMemoryMask(UnitScale unit) {
    switch (unit) {
        case UnitScale::Megabytes:
            return "Всего: # ### ### Mb";
        case UnitScale::Kilobytes:
            return "Всего: # ### ### Kb";
        case UnitScale::Bytes:
            break;
    }
    return "Всего: ### ### ### ### B";
}

std::string_view availableMemoryMask(UnitScale unit) {
    switch (unit) {
        case UnitScale::Megabytes:
            return "Доступно: # ### ### Mb";
        case UnitScale::Kilobytes:
            return "Доступно: # ### ### Kb";
        case UnitScale::Bytes:
            break;
    }
    return "Доступно: ### ### ### ### B";
}

std::string_view driveMask(UnitScale unit) {
    switch (unit) {
        case UnitScale::Megabytes:
            return "### ### ### MB";
        case UnitScale::Kilobytes:
            return "### ### ### KB";
        case UnitScale::Bytes:
            break;
    }
    return "### ### ### B";
}

std::string_view counterMask(UnitScale unit) {
    return unit == UnitScale::Bytes ? "### ### ###" : "### ###";
}

}  // namespace koravex
