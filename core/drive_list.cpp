#include "core/drive_list.h"

#include "core/volume_text.h"

namespace koravex {

namespace {

int imageFor(DriveType type) {
    switch (type) {
        case DriveType::Fixed:
            return 1;
        case DriveType::CdRom:
            return 2;
        default:
            return 0;  // removable and every other type
    }
}

}  // namespace

std::vector<DriveListItem> buildDriveList(Probes& probes) {
    std::vector<DriveListItem> items;
    const std::vector<std::string> roots = probes.driveRoots();
    probes.beginDriveRound(roots);  // all drives asked together, within one budget
    for (const std::string& root : roots) {
        DriveListItem item;
        item.image = imageFor(probes.driveType(root));
        item.caption = root;
        if (const std::optional<VolumeInfo> volume = probes.volumeInformation(root)) {
            item.subItems = {std::string(cutAtNul(volume->name)),
                             std::string(cutAtNul(volume->fileSystem)), serialHex(volume->serial)};
        }
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace koravex
