#pragma once
// Pure parsers for volume details: udev's database entries, the escaped names of the
// /dev/disk/by-label links, and the volume serial taken from a filesystem UUID.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace koravex {

// Undoes udev's "\xHH" escapes ("My\x20Disk" -> "My Disk"). A backslash that starts no
// complete escape stays as it is.
std::string decodeHexEscapes(std::string_view text);

// A volume name as the window may show it: cut at the first NUL and to at most 255 bytes,
// never in the middle of a UTF-8 sequence.
std::string volumeNameText(std::string_view label);

struct UdevVolume {
    std::optional<std::string> label;  // decoded; empty optional when the entry names none
    std::optional<std::string> uuid;
};

// One entry of /run/udev/data ("E:ID_FS_LABEL_ENC=...", "E:ID_FS_UUID=..."). The encoded
// label is preferred: the plain one has its blanks replaced by udev.
UdevVolume parseUdevData(std::string_view text);

// Serial number from a filesystem UUID: FAT's "1A2B-3C4D" gives 0x1A2B3C4D, NTFS's sixteen
// hex digits their low 32 bits, any other UUID its first eight hex digits. nullopt when the
// text is no UUID of these forms.
std::optional<std::uint32_t> serialFromUuid(std::string_view uuid);

}  // namespace koravex
