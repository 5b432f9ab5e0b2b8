#include "core/linux/drive_table.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>

namespace koravex {
namespace {

constexpr std::array<std::string_view, 19> kNetworkTypes{
    "nfs",       "nfs4",        "cifs",           "smb3",        "smbfs",
    "ncpfs",     "ceph",        "glusterfs",      "9p",          "afs",
    "coda",      "lustre",      "davfs",          "fuse.sshfs",  "fuse.glusterfs",
    "fuse.s3fs", "fuse.rclone", "fuse.curlftpfs", "fuse.davfs2",
};

bool underUserMountPlace(std::string_view point) {
    return pathWithin(point, "/media") || pathWithin(point, "/mnt") ||
           pathWithin(point, "/run/media");
}

bool isFuse(std::string_view type) {
    return type == "fuse" || type.starts_with("fuse.");
}

std::string devNumber(unsigned major, unsigned minor) {
    return std::to_string(major) + ":" + std::to_string(minor);
}

const OpticalDevice* findOptical(const std::vector<OpticalDevice>& optical, const MountEntry& e) {
    for (const auto& o : optical) {
        if ((e.major != 0 && o.major == e.major && o.minor == e.minor) ||
            e.source == "/dev/" + o.name) {
            return &o;
        }
    }
    return nullptr;
}

// The drive an entry belongs to, or nullopt-like empty key when it is no drive.
DriveCandidate classify(const MountEntry& e, const std::vector<OpticalDevice>& optical,
                        bool isRoot) {
    DriveCandidate c;
    c.isRoot = isRoot;
    c.mounted = true;
    c.mountId = e.mountId;
    c.major = e.major;
    c.minor = e.minor;
    if (isNetworkFileSystem(e.fsType)) {
        c.kind = DriveKind::Network;
        c.key = "net:" + e.fsType + ":" + e.source;
    } else if (isFuse(e.fsType)) {
        if (isRoot || underUserMountPlace(e.mountPoint)) {
            c.kind = DriveKind::Fuse;
            c.key = "fuse:" + e.fsType + ":" + e.source;
        }
    } else if (e.fsType == "tmpfs" || e.fsType == "ramfs") {
        if (isRoot || e.mountPoint == "/tmp" || underUserMountPlace(e.mountPoint)) {
            c.kind = DriveKind::Ram;
            c.key = "ram:" + e.mountPoint;
        }
    } else if (e.source.starts_with("/dev/") &&
               !(e.fsType == "squashfs" && e.source.starts_with("/dev/loop"))) {
        const OpticalDevice* o = findOptical(optical, e);
        c.kind = o != nullptr ? DriveKind::Optical : DriveKind::Block;
        if (o != nullptr) {
            c.key = "dev:" + devNumber(o->major, o->minor);
        } else if (e.major != 0) {
            c.key = "dev:" + devNumber(e.major, e.minor);
        } else {
            // btrfs and its like report an anonymous device per subvolume: the source names it.
            c.key = "src:" + e.source;
        }
    }
    if (c.key.empty() && isRoot) {
        c.kind = DriveKind::Other;
        c.key = "root:" + e.fsType + ":" + e.source;
    }
    // Most mounts of a busy host are no drive: only drives get their texts copied.
    if (!c.key.empty()) {
        c.fsType = e.fsType;
        c.source = e.source;
        c.mountPoints.push_back(e.mountPoint);
    }
    return c;
}

}  // namespace

bool isNetworkFileSystem(std::string_view fsType) {
    return std::find(kNetworkTypes.begin(), kNetworkTypes.end(), fsType) != kNetworkTypes.end();
}

std::string fileSystemName(std::string_view fsType) {
    if (fsType.starts_with("fuse.") && fsType.size() > 5) {
        return std::string(fsType.substr(5));
    }
    return std::string(fsType);
}

bool pathWithin(std::string_view path, std::string_view dir) {
    if (dir == "/") {
        return path.starts_with('/');
    }
    return path.starts_with(dir) && (path.size() == dir.size() || path[dir.size()] == '/');
}

std::vector<DriveCandidate> selectDrives(const std::vector<MountEntry>& table,
                                         const std::vector<OpticalDevice>& optical) {
    std::vector<DriveCandidate> drives;
    // The filesystem on top at "/" is the last one mounted there.
    const MountEntry* root = nullptr;
    for (const auto& e : table) {
        if (e.mountPoint == "/") {
            root = &e;
        }
    }
    // Lookups by key and, for RAM disks, by device number: one pass over the table, however
    // many thousand mounts a container host has.
    std::unordered_map<std::string, std::size_t> byKey;
    std::unordered_map<std::uint64_t, std::size_t> ramByDevice;
    const auto device = [](const DriveCandidate& c) {
        return (static_cast<std::uint64_t>(c.major) << 32) | c.minor;
    };
    const auto add = [&](DriveCandidate c) {
        byKey.emplace(c.key, drives.size());
        if (c.kind == DriveKind::Ram) {
            ramByDevice.emplace(device(c), drives.size());
        }
        drives.push_back(std::move(c));
    };
    if (root != nullptr) {
        add(classify(*root, optical, true));
    }
    for (const auto& e : table) {
        if (&e == root || e.mountPoint == "/") {
            continue;
        }
        DriveCandidate c = classify(e, optical, false);
        if (c.key.empty()) {
            continue;
        }
        // The first drive with the same key; a RAM disk mounted twice is one drive too.
        std::size_t same = drives.size();
        if (auto it = byKey.find(c.key); it != byKey.end()) {
            same = it->second;
        }
        if (c.kind == DriveKind::Ram) {
            if (auto it = ramByDevice.find(device(c)); it != ramByDevice.end()) {
                same = std::min(same, it->second);
            }
        }
        if (same != drives.size()) {
            drives[same].mountPoints.push_back(e.mountPoint);
        } else {
            add(std::move(c));
        }
    }
    for (const auto& o : optical) {
        std::string key = "dev:" + devNumber(o.major, o.minor);
        if (!byKey.contains(key)) {
            DriveCandidate c;
            c.key = std::move(key);
            c.kind = DriveKind::Optical;
            c.major = o.major;
            c.minor = o.minor;
            c.source = "/dev/" + o.name;
            drives.push_back(std::move(c));
        }
    }
    return drives;
}

}  // namespace koravex
