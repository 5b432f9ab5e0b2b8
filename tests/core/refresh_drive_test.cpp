// The drives tab's texts and pie as one refresh writes them.
#include <gtest/gtest.h>

#include "tests/support/fake_probes.h"
#include "core/refresh.h"

namespace koravex {
namespace {

FakeProbes oneDrive(std::optional<DriveSpace> space, std::optional<VolumeInfo> volume) {
    FakeProbes p;
    FakeProbes::Drive d;
    d.space = space;
    d.volume = volume;
    p.drives["C:\\"] = d;
    return p;
}

TEST(RefreshDriveTest, SpaceTextsAndPieByUnit) {
    const struct {
        std::int64_t free, total;
        UnitScale unit;
        const char* label9;
        const char* label10;
        GaugeSetting gauge1;
    } cases[] = {
        // Over 4 GB: the counts are 64-bit. The prefix's blank and the empty group's blank.
        {42949672960,
         85899345920,
         UnitScale::Megabytes,
         "Свободно на диске:  40 960 MB",
         "Всего на диске  81 920 MB",
         {81920, 40960}},
        {42949672960,
         85899345920,
         UnitScale::Kilobytes,
         "Свободно на диске: 41 943 040 KB",
         "Всего на диске 83 886 080 KB",
         {81920, 40960}},
        {42949672960,
         85899345920,
         UnitScale::Bytes,
         "Свободно на диске: 42949 672 960 B",
         "Всего на диске 85899 345 920 B",
         {81920, 40960}},
        // 2.5 MB: the text rounds half away from zero, the gauge half to even.
        {0,
         2621440,
         UnitScale::Megabytes,
         "Свободно на диске:    MB",
         "Всего на диске   3 MB",
         {2, 2}},
        {1048576,
         3670016,
         UnitScale::Megabytes,
         "Свободно на диске:   1 MB",
         "Всего на диске   4 MB",
         {4, 2}},  // 3.5 -> 4, 2.5 used -> 2
        // 16 EiB-class volume: the pie is scaled down, keeping its share.
        {std::int64_t{1} << 61,
         std::int64_t{1} << 62,
         UnitScale::Megabytes,
         "Свободно на диске: 2199023 255 552 MB",
         "Всего на диске 4398046 511 104 MB",
         {1073741824, 536870912}},
        // Nonsense from a backend: more free than total draws no negative slice.
        {2097152,
         1048576,
         UnitScale::Megabytes,
         "Свободно на диске:   2 MB",
         "Всего на диске   1 MB",
         {1, 0}},
    };
    for (const auto& c : cases) {
        FakeProbes p = oneDrive(DriveSpace{c.free, c.total, c.free}, std::nullopt);
        RefreshInputs in;
        in.unit = c.unit;
        const DisplayModel m = runRefresh(p, in);
        EXPECT_EQ(m.label9, c.label9) << c.total;
        EXPECT_EQ(m.label10, c.label10) << c.total;
        EXPECT_EQ(m.gauge1, c.gauge1) << c.total;
    }
}

TEST(RefreshDriveTest, UnreadableDriveShowsFailureTextsAndAnEmptyPie) {
    // An empty CD-ROM: both queries fail.
    FakeProbes p = FakeProbes::sample();
    RefreshInputs in;
    in.driveLetter = 'D';
    const DisplayModel m = runRefresh(p, in);
    for (const std::string* label : {&m.label9, &m.label10, &m.label11, &m.label12, &m.label13})
        EXPECT_EQ(*label, kCannotDetermine);
    EXPECT_EQ(m.gauge1, (GaugeSetting{0, 0}));
    // The memory texts are still written (not left showing stale figures).
    EXPECT_EQ(m.label2, "Всего: 8 388 608 Kb");
    EXPECT_FALSE(m.label7.empty());
    EXPECT_GT(m.gauge2.max, 0);
}

TEST(RefreshDriveTest, VolumeTexts) {
    const struct {
        VolumeInfo volume;
        const char* label11;
        const char* label12;
        const char* label13;
    } cases[] = {
        {{"system", 0x0A1B2C3Du, "ext4"},
         "Файловая система: ext4",
         "system",
         "Серийный номер: A1B2C3D"},
        {{"", 0, "vfat"}, "Файловая система: vfat", "", "Серийный номер: 0"},
        {{"ДАННЫЕ", 0xFFFFFFFFu, "ntfs"},
         "Файловая система: ntfs",
         "ДАННЫЕ",
         "Серийный номер: FFFFFFFF"},
        {{std::string("bad\0tail", 8), 0x10u, std::string("xfs\0", 4)},
         "Файловая система: xfs",
         "bad",
         "Серийный номер: 10"},
    };
    for (const auto& c : cases) {
        FakeProbes p = oneDrive(std::nullopt, c.volume);
        const DisplayModel m = runRefresh(p, RefreshInputs{});
        EXPECT_EQ(m.label11, c.label11);
        EXPECT_EQ(m.label12, c.label12);
        EXPECT_EQ(m.label13, c.label13);
        EXPECT_EQ(m.label9, kCannotDetermine);  // space and volume fail independently
    }
}

// Records the roots it is asked about.
class RootRecorder : public FakeProbes {
  public:
    std::vector<std::string> asked;
    std::optional<DriveSpace> driveSpace(std::string_view root) override {
        asked.emplace_back(root);
        return FakeProbes::driveSpace(root);
    }
};

TEST(RefreshDriveTest, DriveLetterAsTheSelectorHoldsIt) {
    const struct {
        char letter;
        const char* label8;
        const char* root;
    } cases[] = {{'C', "Диск: C:\\", "C:\\"}, {'c', "Диск: c:\\", "c:\\"}, {'\0', "Диск: ", ""}};
    for (const auto& c : cases) {
        RootRecorder p;
        FakeProbes::Drive d;
        d.space = DriveSpace{0, 1048576, 0};
        p.drives[c.root] = d;  // the queries' result decides the texts, also for ""
        RefreshInputs in;
        in.driveLetter = c.letter;
        const DisplayModel m = runRefresh(p, in);
        EXPECT_EQ(m.label8, c.label8);
        ASSERT_EQ(p.asked.size(), 1u);
        EXPECT_EQ(p.asked[0], c.root);
        EXPECT_EQ(m.label10, "Всего на диске  1 024 KB") << c.label8;
    }
}

}  // namespace
}  // namespace koravex

namespace koravex {
namespace {

// After the drives tab has been shown the selector holds a lower-case letter; the refresh
// must still find the drive, as the platform matches letters in either case.
TEST(RefreshDriveTest, LowerCaseLetterFindsTheSampleDrive) {
    for (char letter : {'C', 'c'}) {
        FakeProbes p = FakeProbes::sample();
        RefreshInputs in;
        in.driveLetter = letter;
        const DisplayModel m = runRefresh(p, in);
        EXPECT_NE(m.label9, kCannotDetermine) << letter;
        EXPECT_EQ(m.label11, "Файловая система: ext4") << letter;
    }
}

}  // namespace
}  // namespace koravex
