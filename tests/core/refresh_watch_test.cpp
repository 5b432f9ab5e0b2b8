// The low-space watch and the interface table within one refresh.
#include <gtest/gtest.h>

#include "core/low_space.h"
#include "core/refresh.h"
#include "tests/support/fake_probes.h"

namespace koravex {
namespace {

constexpr std::int64_t kMiB = 1048576;

// Drives D, E, F, G: E is not ready (no medium); the others have the given free megabytes.
FakeProbes watchedMachine() {
    FakeProbes p;
    const auto drive = [](std::int64_t freeMb) {
        FakeProbes::Drive d;
        d.space = DriveSpace{freeMb * kMiB, 1000 * kMiB, freeMb * kMiB};
        d.volume = VolumeInfo{"v", 1, "ext4"};
        return d;
    };
    p.drives["D:\\"] = drive(10);
    p.drives["E:\\"] = FakeProbes::Drive{DriveType::Removable, std::nullopt, std::nullopt, {}};
    p.drives["F:\\"] = drive(500);
    p.drives["G:\\"] = drive(50);
    p.interfaces = std::vector<InterfaceRow>{{1, "lo", 24, 0, 5, 0, 0}};
    return p;
}

RefreshInputs watching(std::string threshold, bool alertOn = true) {
    RefreshInputs in;
    in.driveLetter = 'F';
    in.alertOn = alertOn;
    in.threshold = std::move(threshold);
    for (const char* root : {"D:\\", "E:\\", "F:\\", "G:\\"})
        in.drives.push_back({root, true});
    return in;
}

TEST(RefreshWatchTest, AlertsForEveryLowTickedDriveInListOrder) {
    const struct {
        const char* threshold;
        std::vector<std::string> roots;
    } cases[] = {
        {"100", {"D:\\", "G:\\"}},
        {"11", {"D:\\"}},
        {"10", {}},  // equal is not less
        {"501", {"D:\\", "F:\\", "G:\\"}},
        {"$33", {"D:\\", "G:\\"}},  // 51 MB
        {"0", {}},
    };
    for (const auto& c : cases) {
        FakeProbes p = watchedMachine();
        const DisplayModel m = runRefresh(p, watching(c.threshold));
        ASSERT_EQ(m.alerts.size(), c.roots.size()) << c.threshold;
        for (std::size_t k = 0; k < c.roots.size(); ++k) {
            EXPECT_EQ(m.alerts[k].root, c.roots[k]);
            EXPECT_EQ(m.alerts[k].text, alertText(c.roots[k], c.threshold));
        }
        EXPECT_FALSE(m.error);
    }
}

TEST(RefreshWatchTest, OnlyTickedAndReadyDrivesAreChecked) {
    FakeProbes p = watchedMachine();
    RefreshInputs in = watching("100");
    in.drives[0].ticked = false;  // D unticked
    const DisplayModel m = runRefresh(p, in);
    ASSERT_EQ(m.alerts.size(), 1u);
    EXPECT_EQ(m.alerts[0].root, "G:\\");
    // Volume: selected F, then readiness of E, F, G. Space: selected F, then F and G (E not ready).
    EXPECT_EQ(p.volumeCalls, 4);
    EXPECT_EQ(p.driveSpaceCalls, 3);
}

TEST(RefreshWatchTest, SwitchedOffWatchStillQueriesButNeitherConvertsNorAlerts) {
    FakeProbes p = watchedMachine();
    const DisplayModel m = runRefresh(p, watching("", false));
    EXPECT_TRUE(m.alerts.empty());
    EXPECT_FALSE(m.error);
    EXPECT_EQ(p.driveSpaceCalls, 4);  // selected F, then ticked and ready D, F, G
}

TEST(RefreshWatchTest, BadThresholdIsRecordedAndTheRunGoesOn) {
    const struct {
        const char* threshold;
        const char* message;
    } cases[] = {{"", "'' is not a valid integer value"},
                 {"1e3", "'1e3' is not a valid integer value"},
                 {"100 ", "'100 ' is not a valid integer value"}};
    for (const auto& c : cases) {
        FakeProbes p = watchedMachine();
        const DisplayModel m = runRefresh(p, watching(c.threshold));
        ASSERT_TRUE(m.error);
        EXPECT_EQ(*m.error, c.message);
        EXPECT_TRUE(m.alerts.empty());
        // The first ready drive raised it; the other drives' checks were skipped.
        EXPECT_EQ(p.driveSpaceCalls, 2);
        EXPECT_EQ(p.volumeCalls, 2);
        // The interface table is still rebuilt and the texts are written.
        ASSERT_TRUE(m.traffic);
        EXPECT_EQ(m.traffic->size(), 1u);
        EXPECT_EQ(p.interfaceCalls, 1);
        EXPECT_EQ(m.label8, "Диск: F:\\");
    }
}

TEST(RefreshWatchTest, BadThresholdWithoutAReadyTickedDriveRaisesNothing) {
    FakeProbes p = watchedMachine();
    RefreshInputs in = watching("");
    in.drives = {{"E:\\", true}, {"Q:\\", true}, {"D:\\", false}};
    const DisplayModel m = runRefresh(p, in);
    EXPECT_FALSE(m.error);
}

TEST(RefreshWatchTest, InterfaceTableRows) {
    const struct {
        std::optional<std::vector<InterfaceRow>> table;
        std::size_t rows;
    } cases[] = {
        {std::vector<InterfaceRow>{}, 0},                       // no interfaces: empty table
        {std::nullopt, 0},                                      // failed query: empty table
        {std::vector<InterfaceRow>(600, InterfaceRow{}), 600},  // no 513-row limit
    };
    for (const auto& c : cases) {
        FakeProbes p;
        p.interfaces = c.table;
        const DisplayModel m = runRefresh(p, RefreshInputs{});
        ASSERT_TRUE(m.traffic);
        EXPECT_EQ(m.traffic->size(), c.rows);
    }
}

TEST(RefreshWatchTest, RowsKeepTheQueryOrderAndTheUnit) {
    FakeProbes p;
    p.interfaces = std::vector<InterfaceRow>{{7, "wlan0", 71, 54000000, 2, 5000000000ull, 1},
                                             {1, "lo", 24, 0, 5, 0, 0}};
    RefreshInputs in;
    in.unit = UnitScale::Bytes;
    const DisplayModel m = runRefresh(p, in);
    ASSERT_TRUE(m.traffic);
    ASSERT_EQ(m.traffic->size(), 2u);
    EXPECT_EQ((*m.traffic)[0], (TrafficRow{"7", "wlan0", "71", "5000 000 000", "  1", "54 000 000",
                                           "DISCONNECTED"}));
    EXPECT_EQ((*m.traffic)[1][0], "1");
}

TEST(RefreshWatchTest, FiguresAndWatchAreReadOnlyWhenAsked) {
    constexpr FigureParts all;
    constexpr FigureParts none = FigureParts::none();
    constexpr FigureParts memory{.memory = true, .drive = false, .interfaces = false};
    constexpr FigureParts drive{.memory = false, .drive = true, .interfaces = false};
    constexpr FigureParts interfaces{.memory = false, .drive = false, .interfaces = true};
    const struct {
        FigureParts figures;
        bool watch;
        int memoryCalls, interfaceCalls;
        bool memoryLabels, driveLabels, table, alerts;
    } cases[] = {
        {all, true, 1, 1, true, true, true, true},
        {none, true, 0, 0, false, false, false, true},  // hidden window: only the watch
        {all, false, 1, 1, true, true, true, false},    // window shown again: only the figures
        {none, false, 0, 0, false, false, false, false},
        // A shown window reads the shown tab's figures alone.
        {memory, true, 1, 0, true, false, false, true},
        {drive, true, 0, 0, false, true, false, true},
        {interfaces, true, 0, 1, false, false, true, true},
        {drive, false, 0, 0, false, true, false, false},  // the drives tab just shown
    };
    for (const auto& c : cases) {
        FakeProbes p = watchedMachine();
        RefreshInputs in = watching("100");
        in.figures = c.figures;
        in.watch = c.watch;
        const DisplayModel m = runRefresh(p, in);
        SCOPED_TRACE(testing::Message()
                     << c.figures.memory << c.figures.drive << c.figures.interfaces << c.watch);
        EXPECT_EQ(p.memoryCalls, c.memoryCalls);
        EXPECT_EQ(p.interfaceCalls, c.interfaceCalls);
        EXPECT_EQ(!m.label2.empty() && !m.label7.empty(), c.memoryLabels);
        EXPECT_EQ(!m.label8.empty() && !m.label9.empty() && !m.label11.empty(), c.driveLabels);
        EXPECT_EQ(m.traffic.has_value(), c.table);
        EXPECT_EQ(m.alerts.size(), c.alerts ? 2u : 0u);
        // The selected drive F: is read twice for the figures; the watch reads each ticked
        // drive's volume and the ready ones' space.
        EXPECT_EQ(p.driveSpaceCalls, (c.figures.drive ? 1 : 0) + (c.watch ? 3 : 0));
    }
    // A bad threshold is found by the watch alone.
    FakeProbes p = watchedMachine();
    RefreshInputs in = watching("x");
    in.figures = none;
    EXPECT_TRUE(runRefresh(p, in).error);
    in.watch = false;
    in.figures = all;
    EXPECT_FALSE(runRefresh(p, in).error);
}

}  // namespace
}  // namespace koravex
