#include "core/linux/volume_parse.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

TEST(SerialFromUuidTest, EachUuidForm) {
    struct Case {
        const char* uuid;
        std::optional<std::uint32_t> serial;
    } cases[] = {
        {"1A2B-3C4D", 0x1A2B3C4D},         // FAT
        {"1a2b-3c4d", 0x1A2B3C4D},         // FAT, lower case
        {"0000-0001", 0x00000001},         // leading zeros kept as value
        {"0123456789ABCDEF", 0x89ABCDEF},  // NTFS: low 32 bits
        {"0123456789abcdef", 0x89ABCDEF},
        {"3e6be9de-8139-11d1-9106-a43f08d823a6", 0x3E6BE9DE},  // ext4, btrfs, xfs
        {"2023-01-01-12-00-00-00", 0x20230101},                // ISO 9660 date
        {"ABCDEF01", 0xABCDEF01},                              // eight digits alone
        {"1A2B-3C4", std::nullopt},                            // too short
        {"1A2B3C4", std::nullopt},
        {"", std::nullopt},
        {"XYZW-3C4D", std::nullopt},
        {"3e6be9de-8139-11d1-9106-a43f08d823g6", std::nullopt},
        {"3e6be9de 8139", std::nullopt},
        {"----------", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(serialFromUuid(c.uuid), c.serial) << c.uuid;
    }
}

TEST(HexEscapesTest, DecodesUdevEscapes) {
    struct Case {
        const char* in;
        std::string out;
    } cases[] = {
        {"My\\x20Stick", "My Stick"},
        {"a\\x2fb", "a/b"},
        {"\\x5cx20", "\\x20"},  // an escaped backslash is not decoded twice
        {"\\xD0\\x94\\xD0\\xB8\\xD1\\x81\\xD0\\xBA", "\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA"},
        {"end\\x2", "end\\x2"},
        {"bad\\xZZ", "bad\\xZZ"},
        {"\\", "\\"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeHexEscapes(c.in), c.out) << c.in;
    }
}

TEST(VolumeNameTextTest, CutAtNulAndAt255BytesOnCharacterBoundary) {
    EXPECT_EQ(volumeNameText(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(volumeNameText(std::string(300, 'x')), std::string(255, 'x'));
    // 127 two-byte letters (254 bytes) and one more: the cut may not split the last one.
    std::string cyr;
    for (int i = 0; i < 128; ++i) {
        cyr += "\xD0\x94";
    }
    std::string got = volumeNameText(cyr);
    EXPECT_EQ(got.size(), 254u);
    EXPECT_EQ(got, cyr.substr(0, 254));
    EXPECT_EQ(volumeNameText("DATA"), "DATA");
}

TEST(UdevDataTest, PrefersEncodedLabel) {
    struct Case {
        const char* text;
        std::optional<std::string> label;
        std::optional<std::string> uuid;
    } cases[] = {
        {"E:ID_FS_LABEL=My_Disk\nE:ID_FS_LABEL_ENC=My\\x20Disk\nE:ID_FS_UUID=1A2B-3C4D\n",
         "My Disk", "1A2B-3C4D"},
        {"E:ID_FS_LABEL_ENC=My\\x20Disk\nE:ID_FS_LABEL=My_Disk\n", "My Disk", std::nullopt},
        {"E:ID_FS_LABEL=Only_Plain\n", "Only_Plain", std::nullopt},
        {"E:ID_FS_UUID=abc\nE:ID_FS_TYPE=ext4\n", std::nullopt, "abc"},
        {"S:disk/by-label/x\nI:123\nG:systemd\n", std::nullopt, std::nullopt},
        {"E:ID_FS_LABEL_ENC=", "", std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"E:ID_FS_UUID", std::nullopt, std::nullopt},  // truncated, no '='
    };
    for (const auto& c : cases) {
        UdevVolume v = parseUdevData(c.text);
        EXPECT_EQ(v.label, c.label) << c.text;
        EXPECT_EQ(v.uuid, c.uuid) << c.text;
    }
}

}  // namespace
}  // namespace koravex
