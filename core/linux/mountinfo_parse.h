#pragma once
// Pure parser for the kernel's mount table, /proc/self/mountinfo.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace koravex {

// One mount. The texts are views into the parsed buffer (escapes decoded there): they stay
// valid while that buffer lives and is not read into again.
struct MountEntry {
    unsigned mountId = 0;
    unsigned major = 0;  // st_dev of the filesystem; 0 for anonymous devices (tmpfs, nfs, btrfs)
    unsigned minor = 0;
    std::string_view mountPoint;  // escapes decoded
    std::string_view fsType;      // "ext4", "fuse.sshfs", ...
    std::string_view source;      // "/dev/sda1", "server:/export", escapes decoded
};

// Parses text[0, size) where it lies: escapes are decoded inside the buffer and every entry
// points into it, in the kernel's order. The entries replace what `table` held, keeping its
// room, so that reading a table of thousands of mounts again allocates nothing per mount.
// False, with `table` empty, when any line is malformed (a table that is partly garbage is
// not trusted at all).
bool parseMountinfoInPlace(char* text, std::size_t size, std::vector<MountEntry>& table);

// A parsed copy of a table, owning the text its entries point into.
class MountTable {
  public:
    MountTable() = default;
    MountTable(MountTable&&) = default;  // the text's buffer moves along: views stay valid
    MountTable& operator=(MountTable&&) = default;
    MountTable(const MountTable&) = delete;
    MountTable& operator=(const MountTable&) = delete;

    const std::vector<MountEntry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    const MountEntry& operator[](std::size_t i) const { return entries_[i]; }

  private:
    friend std::optional<MountTable> parseMountinfo(std::string_view text);
    std::vector<char> text_;
    std::vector<MountEntry> entries_;
};

// The whole table, in the kernel's order; nullopt when any line is malformed.
std::optional<MountTable> parseMountinfo(std::string_view text);

// Undoes the kernel's octal escapes ("\040" for a blank, "\134" for a backslash). A backslash
// that starts no valid escape stays as it is; nullopt when an escape would give a NUL.
std::optional<std::string> decodeMountEscapes(std::string_view field);

}  // namespace koravex
