#pragma once
// The settings tab's drive list: one item per drive root, filled once at start-up.
#include <string>
#include <vector>

#include "core/probes.h"

namespace koravex {

struct DriveListItem {
    std::string caption;  // the root as the drive enumeration gives it, "X:\"
    // Large image: 1 fixed drive, 2 CD-ROM drive, 0 removable and every other type.
    int image = 0;
    // Volume name, file-system name and serial (upper-case hex, no leading zeros) when the
    // volume could be read at start-up; empty otherwise (caption and image only).
    std::vector<std::string> subItems;
    bool operator==(const DriveListItem&) const = default;
};

// One item per root in the order the probes give them; the tick boxes start unticked.
std::vector<DriveListItem> buildDriveList(Probes& probes);

}  // namespace koravex
