#pragma once
// Pure parser for the kernel's mount table, /proc/self/mountinfo.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace koravex {

struct MountEntry {
    unsigned mountId = 0;
    unsigned major = 0;  // st_dev of the filesystem; 0 for anonymous devices (tmpfs, nfs, btrfs)
    unsigned minor = 0;
    std::string mountPoint;  // escapes decoded
    std::string fsType;      // "ext4", "fuse.sshfs", ...
    std::string source;      // "/dev/sda1", "server:/export", escapes decoded
};

// The whole table, in the kernel's order; nullopt when any line is malformed (a table that
// is partly garbage is not trusted at all).
std::optional<std::vector<MountEntry>> parseMountinfo(std::string_view text);

// Undoes the kernel's octal escapes ("\040" for a blank, "\134" for a backslash). A backslash
// that starts no valid escape stays as it is; nullopt when an escape would give a NUL.
std::optional<std::string> decodeMountEscapes(std::string_view field);

}  // namespace koravex
