// The memory tab as one refresh writes it: 64-bit counts, gauges in kilobytes.
#include <gtest/gtest.h>

#include "tests/support/fake_probes.h"
#include "core/refresh.h"

namespace koravex {
namespace {

constexpr std::uint64_t kGiB = 1073741824;

TEST(RefreshMemoryTest, TextsByUnitFromSixtyFourBitCounts) {
    const struct {
        UnitScale unit;
        const char* label2;
        const char* label3;
    } cases[] = {
        {UnitScale::Megabytes, "Всего:  16 384 Mb", "Доступно:   512 Mb"},
        {UnitScale::Kilobytes, "Всего: 16 777 216 Kb", "Доступно:  524 288 Kb"},
        {UnitScale::Bytes, "Всего: 17 179 869 184 B", "Доступно:  536 870 912 B"},
    };
    for (const auto& c : cases) {
        FakeProbes p;
        p.memory.totalPhys = 16 * kGiB;  // wrapped to 0 in a 32-bit field
        p.memory.availPhys = kGiB / 2;
        RefreshInputs in;
        in.unit = c.unit;
        const DisplayModel m = runRefresh(p, in);
        EXPECT_EQ(m.label2, c.label2);
        EXPECT_EQ(m.label3, c.label3);
        EXPECT_EQ(m.gauge2, (GaugeSetting{16777216, 16252928}));  // kilobytes whatever the unit
    }
}

TEST(RefreshMemoryTest, EachPairFeedsItsOwnLabelsAndGauge) {
    FakeProbes p;
    p.memory = MemoryStatus{1048576 * 3, 1048576 * 1,   1048576 * 20,
                            1048576 * 5, 1048576 * 700, 1048576 * 600};
    RefreshInputs in;
    in.unit = UnitScale::Megabytes;
    const DisplayModel m = runRefresh(p, in);
    const std::string labels[] = {m.label2, m.label3, m.label4, m.label5, m.label6, m.label7};
    const char* expected[] = {"Всего:   3 Mb",    "Доступно:   1 Mb", "Всего:   20 Mb",
                              "Доступно:   5 Mb", "Всего:   700 Mb",  "Доступно:   600 Mb"};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(labels[k], expected[k]) << "Label" << k + 2;
    EXPECT_EQ(m.gauge2, (GaugeSetting{3072, 2048}));
    EXPECT_EQ(m.gauge3, (GaugeSetting{20480, 15360}));
    EXPECT_EQ(m.gauge4, (GaugeSetting{716800, 102400}));
}

TEST(RefreshMemoryTest, GaugesTooLargeForThirtyTwoBitsAreScaledTogether) {
    const struct {
        std::uint64_t total, avail;
        GaugeSetting gauge;
    } cases[] = {
        // 128 TiB of address space: 2^37 KB, halved 7 times to 2^30.
        {std::uint64_t{1} << 47, (std::uint64_t{1} << 47) - 2 * kGiB, {1073741824, 16384}},
        // Just fits: 2^31 - 1 kilobytes stays as it is.
        {(std::uint64_t{1} << 41) - 1024, 0, {2147483647, 2147483647}},
        // One kilobyte over: halved once.
        {std::uint64_t{1} << 41, std::uint64_t{1} << 40, {1073741824, 536870912}},
        // The largest count a 64-bit field can hold.
        {~std::uint64_t{0}, 0, {1073741824, 1073741824}},
        // More available than total (a confused backend): nothing in use, not a wrapped count.
        {kGiB, 2 * kGiB, {1048576, 0}},
        {0, 0, {0, 0}},
    };
    for (const auto& c : cases) {
        FakeProbes p;
        p.memory.totalVirtual = c.total;
        p.memory.availVirtual = c.avail;
        const DisplayModel m = runRefresh(p, RefreshInputs{});
        EXPECT_EQ(m.gauge4, c.gauge) << c.total;
        EXPECT_LE(m.gauge4.progress, m.gauge4.max);
    }
}

TEST(RefreshMemoryTest, GaugeRoundsHalfToEvenWhileTextsRoundHalfUp) {
    FakeProbes p;
    p.memory.totalPhys = 2560;  // 2.5 KB
    p.memory.availPhys = 1024;  // 1.5 KB in use
    const DisplayModel m = runRefresh(p, RefreshInputs{});
    EXPECT_EQ(m.gauge2, (GaugeSetting{2, 2}));
    EXPECT_EQ(m.label2, "Всего:   3 Kb");
}

}  // namespace
}  // namespace koravex
