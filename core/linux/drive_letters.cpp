#include "core/linux/drive_letters.h"

namespace koravex {

std::vector<char> DriveLetters::assign(const std::vector<DriveCandidate>& drives) {
    std::vector<char> letters;
    letters.reserve(drives.size());
    for (const auto& d : drives) {
        if (d.isRoot) {
            letters.push_back('C');
            continue;
        }
        auto it = byKey_.find(d.key);
        // A device once at "/" and now elsewhere does not take C from the root.
        if (it != byKey_.end() && it->second != 'C') {
            letters.push_back(it->second);
        } else if (next_ <= 'Z') {
            byKey_[d.key] = next_;
            letters.push_back(next_++);
        } else {
            letters.push_back('\0');
        }
    }
    return letters;
}

}  // namespace koravex
