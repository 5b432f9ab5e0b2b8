#include "core/low_space.h"

#include <cstdint>

#include "core/convert.h"

namespace koravex {

std::string alertText(std::string_view root, std::string_view thresholdText) {
    std::string text = "На диске: ";
    text += root;
    text += " осталось меньше ";
    text += thresholdText;
    text += " Mb дискового пространства";
    return text;
}

std::optional<std::string> checkLowSpace(Probes& probes, std::string_view root, bool alertOn,
                                         std::string_view thresholdText) {
    const std::optional<DriveSpace> space = probes.driveSpace(root);
    if (!space || !alertOn)
        return std::nullopt;
    // Converted afresh at every check; a bad text throws before anything is compared.
    const std::int64_t megabytes = strToInt(thresholdText);
    if (space->totalFree < megabytes * 1048576)
        return alertText(root, thresholdText);
    return std::nullopt;
}

}  // namespace koravex
