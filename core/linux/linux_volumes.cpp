// The device side of the drives: optical devices, drive types from sysfs, and the label and
// UUID of a volume from udev's database, the /dev/disk links or the device itself.
#include <algorithm>

#include "core/linux/drive_query.h"
#include "core/linux/linux_probes.h"
#include "core/linux/volume_parse.h"

namespace koravex {
namespace {

std::string_view baseName(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view firstLine(std::string_view text) {
    return text.substr(0, text.find('\n'));
}

// "11:0" -> {11, 0}.
std::optional<std::pair<unsigned, unsigned>> parseDevNumber(std::string_view text) {
    text = firstLine(text);
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size() ||
        text.size() > 21) {
        return std::nullopt;
    }
    unsigned long parts[2] = {0, 0};
    std::string_view fields[2] = {text.substr(0, colon), text.substr(colon + 1)};
    for (int i = 0; i < 2; ++i) {
        for (char c : fields[i]) {
            if (c < '0' || c > '9' || parts[i] > 0xFFFFFFFul) {
                return std::nullopt;
            }
            parts[i] = parts[i] * 10 + static_cast<unsigned long>(c - '0');
        }
    }
    return std::pair{static_cast<unsigned>(parts[0]), static_cast<unsigned>(parts[1])};
}

std::string devNumber(unsigned major, unsigned minor) {
    return std::to_string(major) + ":" + std::to_string(minor);
}

}  // namespace

std::vector<OpticalDevice> LinuxProbes::opticalDevices() {
    std::vector<OpticalDevice> found;
    auto names = calls_.listDir(roots_.sys + "/block");
    if (!names) {
        return found;
    }
    std::sort(names->begin(), names->end());
    for (const auto& name : *names) {
        if (!name.starts_with("sr")) {
            continue;
        }
        auto text = calls_.readFile(roots_.sys + "/block/" + name + "/dev", 64);
        auto dev = text ? parseDevNumber(*text) : std::nullopt;
        if (dev) {
            found.push_back(OpticalDevice{name, dev->first, dev->second});
        }
    }
    return found;
}

DriveType LinuxProbes::typeOf(const DriveCandidate& c) {
    if (c.isRoot) {
        return DriveType::Fixed;
    }
    switch (c.kind) {
        case DriveKind::Optical:
            return DriveType::CdRom;
        case DriveKind::Network:
            return DriveType::Remote;
        case DriveKind::Ram:
            return DriveType::RamDisk;
        case DriveKind::Fuse:
        case DriveKind::Other:
            return DriveType::Fixed;
        case DriveKind::Block:
            break;
    }
    // The device's sysfs directory; a partition asks its parent disk.
    std::string base = c.major != 0
                           ? roots_.sys + "/dev/block/" + devNumber(c.major, c.minor)
                           : roots_.sys + "/class/block/" + std::string(baseName(c.source));
    bool partition = calls_.readFile(base + "/partition", 64).has_value();
    auto removable = calls_.readFile(base + (partition ? "/../removable" : "/removable"), 64);
    return removable && firstLine(*removable) == "1" ? DriveType::Removable : DriveType::Fixed;
}

VolumeIds readVolumeIds(SysCalls& calls, const LinuxRoots& roots, const DriveCandidate& c) {
    VolumeIds ids;
    ids.mountId = c.mountId;
    if (c.kind != DriveKind::Block && c.kind != DriveKind::Optical) {
        return ids;  // network, RAM and FUSE volumes have no label of their own here
    }
    // The device numbers: btrfs reports an anonymous one, its source device has the real one.
    std::optional<std::pair<unsigned, unsigned>> dev;
    if (c.major != 0) {
        dev = std::pair{c.major, c.minor};
    } else if (auto text = calls.readFile(
                   roots.sys + "/class/block/" + std::string(baseName(c.source)) + "/dev", 64)) {
        dev = parseDevNumber(*text);
    }
    std::string kernelName(baseName(c.source));
    if (dev) {
        if (auto link =
                calls.readLink(roots.sys + "/dev/block/" + devNumber(dev->first, dev->second))) {
            kernelName = std::string(baseName(*link));
        }
        // 1. udev's database, where udev runs.
        if (auto data = calls.readFile(
                roots.runUdev + "/data/b" + devNumber(dev->first, dev->second), 1 << 16)) {
            UdevVolume u = parseUdevData(*data);
            ids.label = u.label.value_or("");
            ids.uuid = u.uuid.value_or("");
            return ids;
        }
    }
    // 2. The /dev/disk links, named by label and by UUID, pointing at the device.
    auto sourceName = baseName(c.source);
    auto linkFor = [&](const std::string& dir) -> std::optional<std::string> {
        auto links = calls.listDir(dir);
        if (!links) {
            return std::nullopt;
        }
        std::sort(links->begin(), links->end());
        for (const auto& name : *links) {
            auto target = calls.readLink(dir + "/" + name);
            if (target && (baseName(*target) == sourceName || baseName(*target) == kernelName)) {
                return decodeHexEscapes(name);
            }
        }
        return std::string();
    };
    auto label = linkFor(roots.devDisk + "/by-label");
    auto uuid = linkFor(roots.devDisk + "/by-uuid");
    if (label || uuid) {
        ids.label = label.value_or("");
        ids.uuid = uuid.value_or("");
        return ids;
    }
    // 3. No udev on this machine: ask the device itself, where it can be read.
    // The mount source may be an alias the device node does not carry ("/dev/root").
    std::vector<std::string> paths;
    if (c.source.starts_with("/dev/")) {
        paths.push_back(c.source);
    }
    if (!kernelName.empty() && "/dev/" + kernelName != c.source) {
        paths.push_back("/dev/" + kernelName);
    }
    for (const auto& path : paths) {
        if (auto probed = calls.probeDevice(path)) {
            ids.label = probed->label;
            ids.uuid = probed->uuid;
            break;
        }
    }
    return ids;
}

}  // namespace koravex
