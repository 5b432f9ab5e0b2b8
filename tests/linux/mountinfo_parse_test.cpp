#include "core/linux/mountinfo_parse.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

TEST(MountinfoTest, ReadsEveryFieldTheDrivesNeed) {
    auto table = parseMountinfo(
        "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 shared:7 - ext3 /dev/root rw\n"
        "40 26 0:44 / /media/user/My\\040Disk rw shared:3 - vfat /dev/sdb1 rw\n"
        "41 26 0:45 net:[4026531840] /run/ns rw - nsfs nsfs rw\n");
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 4u);
    const MountEntry& root = (*table)[0];
    EXPECT_EQ(root.mountId, 26u);
    EXPECT_EQ(root.major, 254u);
    EXPECT_EQ(root.minor, 0u);
    EXPECT_EQ(root.mountPoint, "/");
    EXPECT_EQ(root.fsType, "ext4");
    EXPECT_EQ(root.source, "/dev/vda");
    // Optional fields before the separator are skipped, however many there are.
    EXPECT_EQ((*table)[1].mountPoint, "/mnt2");
    EXPECT_EQ((*table)[1].fsType, "ext3");
    EXPECT_EQ((*table)[1].major, 98u);
    EXPECT_EQ((*table)[2].mountPoint, "/media/user/My Disk");
    EXPECT_EQ((*table)[3].fsType, "nsfs");
}

TEST(MountinfoTest, MissingSuperOptionsAndBlankLinesAreAccepted) {
    auto table = parseMountinfo("\n1 0 8:1 / / rw - ext4 /dev/sda1\n\n");
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 1u);
    EXPECT_EQ((*table)[0].source, "/dev/sda1");
}

TEST(MountinfoTest, MalformedTablesAreRejectedWhole) {
    const char* bad[] = {
        "1 0 8:1 / / rw ext4 /dev/sda1 rw\n",              // no separator
        "1 0 8:1 / / rw -\n",                              // nothing after the separator
        "1 0 8:1 / / rw - ext4\n",                         // no source
        "x 0 8:1 / / rw - ext4 /dev/sda1 rw\n",            // id not a number
        "1 0 81 / / rw - ext4 /dev/sda1 rw\n",             // device without colon
        "1 0 8:x / / rw - ext4 /dev/sda1 rw\n",            // minor not a number
        "1 0 99999999999:1 / / rw - ext4 /dev/sda1 rw\n",  // major beyond 32 bits
        "1 0 8:1 / relative rw - ext4 /dev/sda1 rw\n",     // mount point not absolute
        "1 0 8:1 / /a\\000b rw - ext4 /dev/sda1 rw\n",     // escape giving NUL
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 8:2\n",   // second line truncated
        "1 0 8:1 /\n",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(parseMountinfo(text)) << text;
    }
}

TEST(MountinfoTest, EscapesDecoded) {
    struct Case {
        const char* in;
        std::optional<std::string> out;
    } cases[] = {
        {"/mnt/a\\040b", "/mnt/a b"},
        {"/mnt/tab\\011x", "/mnt/tab\tx"},
        {"/mnt/nl\\012", "/mnt/nl\n"},
        {"/mnt/back\\134slash", "/mnt/back\\slash"},
        {"/mnt/\\342\\202\\254", "/mnt/\xE2\x82\xAC"},
        {"/mnt/short\\04", "/mnt/short\\04"},  // incomplete escape stays
        {"/mnt/not\\089", "/mnt/not\\089"},    // 8 and 9 are no octal digits
        {"/mnt/end\\", "/mnt/end\\"},
        {"/mnt/nul\\000", std::nullopt},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeMountEscapes(c.in), c.out) << c.in;
    }
}

}  // namespace
}  // namespace koravex
