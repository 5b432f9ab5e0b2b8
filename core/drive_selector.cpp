#include "core/drive_selector.h"

#include <algorithm>
#include <optional>

#include "core/utf8_lower.h"
#include "core/volume_text.h"

namespace koravex {

namespace {

std::optional<DriveIcon> iconFor(DriveType type) {
    switch (type) {
        case DriveType::Removable:
            return DriveIcon::Floppy;
        case DriveType::Fixed:
            return DriveIcon::Hard;
        case DriveType::Remote:
            return DriveIcon::Network;
        case DriveType::CdRom:
            return DriveIcon::CdRom;
        case DriveType::RamDisk:
            return DriveIcon::Ram;
        default:
            return std::nullopt;  // unknown type, no root directory: not listed
    }
}

std::string bracketedVolumeName(Probes& probes, const std::string& root) {
    // A drive whose volume cannot be read (no disc) shows empty brackets.
    const std::optional<VolumeInfo> volume = probes.volumeInformation(root);
    const std::string_view name = volume ? cutAtNul(volume->name) : std::string_view{};
    std::string text = "[";
    text += utf8ToLower(name);
    text += ']';
    return text;
}

}  // namespace

std::vector<SelectorItem> buildSelectorItems(Probes& probes) {
    std::vector<SelectorItem> items;
    const std::vector<std::string> roots = probes.driveRoots();
    probes.beginDriveRound(roots);  // all drives asked together, within one budget
    for (const std::string& root : roots) {
        const char letter = root.empty() ? '\0' : asciiToLower(root[0]);
        if (letter < 'a' || letter > 'z')
            continue;  // not a drive root
        const bool seen = std::any_of(items.begin(), items.end(), [letter](const SelectorItem& i) {
            return i.letter == letter;
        });
        if (seen)
            continue;
        const std::optional<DriveIcon> icon = iconFor(probes.driveType(root));
        if (!icon)
            continue;

        SelectorItem item;
        item.letter = letter;
        item.icon = *icon;
        item.text = std::string{letter, ':'};
        if (*icon == DriveIcon::Network) {
            const std::optional<std::string> remote = probes.remoteName(root);
            item.text += ' ';
            item.text +=
                remote ? utf8ToLower(cutAtNul(*remote)) : bracketedVolumeName(probes, root);
        } else if (*icon != DriveIcon::Floppy) {
            item.text += ' ';
            item.text += bracketedVolumeName(probes, root);
        }
        items.push_back(std::move(item));
    }
    std::stable_sort(items.begin(), items.end(), [](const SelectorItem& a, const SelectorItem& b) {
        return a.letter < b.letter;
    });
    return items;
}

int selectIndexFor(const std::vector<SelectorItem>& items, char letter) {
    const std::string prefix{asciiToLower(letter), ':'};
    for (std::size_t k = 0; k < items.size(); ++k) {
        if (items[k].text.starts_with(prefix))
            return static_cast<int>(k);
    }
    return -1;
}

}  // namespace koravex
