#pragma once
// Which filesystems of the mount table a user would call drives, in drive order.
// Pure: the mount table and the machine's optical devices in, drive candidates out.
#include <string>
#include <string_view>
#include <vector>

#include "core/linux/mountinfo_parse.h"

namespace koravex {

enum class DriveKind {
    Block,    // a filesystem on a device under /dev/ (disk, partition, loop image)
    Optical,  // a CD/DVD device, mounted or not
    Network,  // nfs, cifs, sshfs, ...
    Fuse,     // another FUSE filesystem mounted where users mount drives
    Ram,      // tmpfs or ramfs at /tmp or under /media, /mnt, /run/media
    Other,    // "/" on something of none of these kinds
};

struct OpticalDevice {
    std::string name;  // "sr0"
    unsigned major = 0;
    unsigned minor = 0;
};

struct DriveCandidate {
    std::string key;  // identity of the device across mounts and unmounts
    DriveKind kind = DriveKind::Other;
    bool isRoot = false;  // the filesystem at "/", always drive C
    bool mounted = false;
    unsigned mountId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string fsType;
    std::string source;
    // Where the drive is mounted, the first (its drive mount point) first; further bind
    // mounts and subvolumes of the same device follow.
    std::vector<std::string> mountPoints;
};

// The root first, then the others in mount-table order (one per device), then every optical
// device without a mounted medium.
std::vector<DriveCandidate> selectDrives(const std::vector<MountEntry>& table,
                                         const std::vector<OpticalDevice>& optical);

bool isNetworkFileSystem(std::string_view fsType);
// The file-system name shown for a mount type: "fuse.sshfs" -> "sshfs".
std::string fileSystemName(std::string_view fsType);
// Whether path lies at or below dir, component-wise ("/mnt/a" holds "/mnt/a/b", not "/mnt/ab").
bool pathWithin(std::string_view path, std::string_view dir);

}  // namespace koravex
