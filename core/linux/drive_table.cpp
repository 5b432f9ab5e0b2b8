#include "core/linux/drive_table.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
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

void appendDevNumber(std::string& out, unsigned major, unsigned minor) {
    out += std::to_string(major);
    out += ':';
    out += std::to_string(minor);
}

const OpticalDevice* findOptical(const std::vector<OpticalDevice>& optical, const MountEntry& e) {
    for (const auto& o : optical) {
        if ((e.major != 0 && o.major == e.major && o.minor == e.minor) ||
            (e.source.starts_with("/dev/") && e.source.substr(5) == o.name)) {
            return &o;
        }
    }
    return nullptr;
}

// What drive an entry belongs to: its kind, and its key written into `key` (left empty when
// the entry is no drive). The key is built in a buffer reused for every entry: most entries
// of a busy host are no drive or another mount of a drive already seen.
DriveKind classify(const MountEntry& e, const std::vector<OpticalDevice>& optical, bool isRoot,
                   std::string& key) {
    key.clear();
    const auto keyOf = [&](std::string_view prefix, std::string_view a, std::string_view b) {
        key += prefix;
        key += a;
        key += ':';
        key += b;
    };
    DriveKind kind = DriveKind::Other;
    if (isNetworkFileSystem(e.fsType)) {
        kind = DriveKind::Network;
        keyOf("net:", e.fsType, e.source);
    } else if (isFuse(e.fsType)) {
        if (isRoot || underUserMountPlace(e.mountPoint)) {
            kind = DriveKind::Fuse;
            keyOf("fuse:", e.fsType, e.source);
        }
    } else if (e.fsType == "tmpfs" || e.fsType == "ramfs") {
        if (isRoot || e.mountPoint == "/tmp" || underUserMountPlace(e.mountPoint)) {
            kind = DriveKind::Ram;
            key += "ram:";
            key += e.mountPoint;
        }
    } else if (e.source.starts_with("/dev/") &&
               !(e.fsType == "squashfs" && e.source.starts_with("/dev/loop"))) {
        const OpticalDevice* o = findOptical(optical, e);
        kind = o != nullptr ? DriveKind::Optical : DriveKind::Block;
        if (o != nullptr) {
            key += "dev:";
            appendDevNumber(key, o->major, o->minor);
        } else if (e.major != 0) {
            key += "dev:";
            appendDevNumber(key, e.major, e.minor);
        } else {
            // btrfs and its like report an anonymous device per subvolume: the source names it.
            key += "src:";
            key += e.source;
        }
    }
    if (key.empty() && isRoot) {
        kind = DriveKind::Other;
        keyOf("root:", e.fsType, e.source);
    }
    return kind;
}

// A drive seen for the first time: only drives get their texts copied.
DriveCandidate candidateOf(const MountEntry& e, DriveKind kind, bool isRoot,
                           const std::string& key) {
    DriveCandidate c;
    c.key = key;
    c.kind = kind;
    c.isRoot = isRoot;
    c.mounted = true;
    c.mountId = e.mountId;
    c.major = e.major;
    c.minor = e.minor;
    c.fsType = std::string(e.fsType);
    c.source = std::string(e.source);
    c.mountPoints.emplace_back(e.mountPoint);
    return c;
}

// Hash lookups by a key's text, without making a string of it.
struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

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
    std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> byKey;
    std::unordered_map<std::uint64_t, std::size_t> ramByDevice;
    byKey.reserve(table.size() + optical.size());
    const auto device = [](unsigned major, unsigned minor) {
        return (static_cast<std::uint64_t>(major) << 32) | minor;
    };
    std::string key;
    key.reserve(256);
    const auto add = [&](const MountEntry& e, DriveKind kind, bool isRoot) {
        byKey.emplace(key, drives.size());
        if (kind == DriveKind::Ram) {
            ramByDevice.emplace(device(e.major, e.minor), drives.size());
        }
        drives.push_back(candidateOf(e, kind, isRoot, key));
    };
    if (root != nullptr) {
        add(*root, classify(*root, optical, true, key), true);
    }
    for (const auto& e : table) {
        if (&e == root || e.mountPoint == "/") {
            continue;
        }
        const DriveKind kind = classify(e, optical, false, key);
        if (key.empty()) {
            continue;
        }
        // The first drive with the same key; a RAM disk mounted twice is one drive too.
        std::size_t same = drives.size();
        if (auto it = byKey.find(std::string_view(key)); it != byKey.end()) {
            same = it->second;
        }
        if (kind == DriveKind::Ram) {
            if (auto it = ramByDevice.find(device(e.major, e.minor)); it != ramByDevice.end()) {
                same = std::min(same, it->second);
            }
        }
        if (same != drives.size()) {
            drives[same].mountPoints.emplace_back(e.mountPoint);
        } else {
            add(e, kind, false);
        }
    }
    for (const auto& o : optical) {
        key = "dev:";
        appendDevNumber(key, o.major, o.minor);
        if (!byKey.contains(std::string_view(key))) {
            DriveCandidate c;
            c.key = key;
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
