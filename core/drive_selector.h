#pragma once
// The drive selector's items: letter order, text and icon by drive type.
#include <string>
#include <vector>

#include "core/drive_icon.h"
#include "core/probes.h"

namespace koravex {

struct SelectorItem {
    char letter = 'a';  // lower case
    // "c: [system]" for fixed, CD-ROM and RAM drives (the volume name in lower case, empty
    // brackets when it cannot be read), "a:" for removable ones, "z: //server/share" for a
    // network drive with a remote name (else its bracketed volume name).
    std::string text;
    DriveIcon icon = DriveIcon::Hard;
    bool operator==(const SelectorItem&) const = default;
};

// Every drive of a listed type, ordered by letter; drives of unknown type or without a
// root directory are left out.
std::vector<SelectorItem> buildSelectorItems(Probes& probes);

// Index of the first item whose text starts with the lower-case letter and a colon, -1
// when there is none (also for the NUL letter).
int selectIndexFor(const std::vector<SelectorItem>& items, char letter);

}  // namespace koravex
