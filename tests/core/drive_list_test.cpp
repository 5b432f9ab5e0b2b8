#include "core/drive_list.h"

#include <gtest/gtest.h>

#include "tests/support/fake_probes.h"
#include "core/volume_text.h"

namespace koravex {
namespace {

TEST(DriveListTest, ImageByDriveType) {
    const struct {
        DriveType type;
        int image;
    } cases[] = {{DriveType::Removable, 0}, {DriveType::Fixed, 1},          {DriveType::CdRom, 2},
                 {DriveType::Remote, 0},    {DriveType::RamDisk, 0},        {DriveType::Unknown, 0},
                 {DriveType::NoRootDir, 0}, {static_cast<DriveType>(77), 0}};
    for (const auto& c : cases) {
        FakeProbes p;
        p.drives["X:\\"] = FakeProbes::Drive{c.type, std::nullopt, std::nullopt, {}};
        const auto items = buildDriveList(p);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].image, c.image) << static_cast<int>(c.type);
        EXPECT_EQ(items[0].caption, "X:\\");
    }
}

TEST(DriveListTest, SampleMachineInEnumerationOrder) {
    FakeProbes p = FakeProbes::sample();
    const std::vector<DriveListItem> expected = {
        {"C:\\", 1, {"system", "ext4", "A1B2C3D"}},
        {"D:\\", 2, {}},  // no disc at start-up: caption and image only
        {"E:\\", 0, {"USB STICK", "vfat", "5E2F0001"}},
    };
    EXPECT_EQ(buildDriveList(p), expected);
}

// A platform whose enumeration is not sorted and repeats nothing.
class UnsortedRoots : public FakeProbes {
  public:
    std::vector<std::string> driveRoots() override { return {"Z:\\", "A:\\", "M:\\"}; }
};

TEST(DriveListTest, KeepsThePlatformsOrder) {
    UnsortedRoots p;
    const auto items = buildDriveList(p);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].caption, "Z:\\");
    EXPECT_EQ(items[1].caption, "A:\\");
    EXPECT_EQ(items[2].caption, "M:\\");
}

TEST(VolumeTextTest, SerialWithoutLeadingZeros) {
    const struct {
        std::uint32_t serial;
        const char* text;
    } cases[] = {{0, "0"},      {0x0A1B2C3Du, "A1B2C3D"}, {0xFFFFFFFFu, "FFFFFFFF"},
                 {0x10u, "10"}, {0x00000F00u, "F00"},     {0x80000000u, "80000000"}};
    for (const auto& c : cases)
        EXPECT_EQ(serialHex(c.serial), c.text);
}

TEST(VolumeTextTest, CutAtFirstNul) {
    EXPECT_EQ(cutAtNul(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(cutAtNul(std::string_view("\0", 1)), "");
    EXPECT_EQ(cutAtNul("plain"), "plain");
}

}  // namespace
}  // namespace koravex
