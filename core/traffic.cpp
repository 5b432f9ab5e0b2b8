#include "core/traffic.h"

#include <string>

#include "core/volume_text.h"

namespace koravex {

std::string_view operStatusName(std::uint32_t status) {
    static constexpr std::string_view kNames[] = {"NON_OPERATIONAL", "UNREACHABLE", "DISCONNECTED",
                                                  "CONNECTING",      "CONNECTED",   "OPERATIONAL"};
    return status < std::size(kNames) ? kNames[status] : std::string_view{};
}

TrafficRow interfaceCells(const InterfaceRow& row, UnitScale unit) {
    const std::string_view mask = counterMask(unit);
    return TrafficRow{
        std::to_string(row.index),
        std::string(cutAtNul(row.description)),
        std::to_string(row.type),
        formatMask(mask, scaleBytes(row.inOctets, unit)),
        formatMask(mask, scaleBytes(row.outOctets, unit)),
        formatMask(mask, scaleBytes(row.speed, unit)),
        std::string(operStatusName(row.operStatus)),
    };
}

}  // namespace koravex
