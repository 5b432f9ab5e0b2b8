#pragma once
// The low-space watch: the check of one drive and the alert text.
#include <optional>
#include <string>
#include <string_view>

#include "core/probes.h"

namespace koravex {

// "На диске: " + root + " осталось меньше " + threshold as typed + " Mb дискового пространства".
std::string alertText(std::string_view root, std::string_view thresholdText);

// Checks one ticked drive: reads its space (a failed read skips the drive), and with the
// alert switched on converts the threshold (throws ConversionError for a text that is not a
// whole number) and compares the volume's total free count with N * 1048576 (strictly less).
// Returns the alert text when the drive is low.
std::optional<std::string> checkLowSpace(Probes& probes, std::string_view root, bool alertOn,
                                         std::string_view thresholdText);

}  // namespace koravex
