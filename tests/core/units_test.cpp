#include "core/units.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

struct MaskCase {
    const char* mask;
    double value;
    const char* expected;
};

class FormatMaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(FormatMaskTest, WritesDigitsIntoPlaces) {
    const MaskCase& c = GetParam();
    EXPECT_EQ(formatMask(c.mask, c.value), c.expected) << c.mask << " <- " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, FormatMaskTest,
    ::testing::Values(
        MaskCase{"Всего: ### ### ### ### B", 4294967295.0, "Всего: 4 294 967 295 B"},
        MaskCase{"Всего: # ### ### Mb", 512, "Всего:   512 Mb"},
        MaskCase{"# ### ### Mb", 12345678, "12 345 678 Mb"}, MaskCase{"# ### ### Mb", 5, "  5 Mb"},
        MaskCase{"# ### ### Mb", 0, "   Mb"},
        MaskCase{"### ### ### B", 1500000000000.0, "1500000 000 000 B"},
        MaskCase{"### ### ###", 1000000000, "1000 000 000"},
        MaskCase{"### ###", 1234567, "1234 567"}, MaskCase{"### ###", 0, " "},
        MaskCase{"### ### ###", 0, "  "}, MaskCase{"### ###", 0.5, " 1"},
        MaskCase{"### ###", 0.4, " "}, MaskCase{"### ###", 2.5, " 3"},
        MaskCase{"### ###", 9765.625, "9 766"}, MaskCase{"### ###", 976562.5, "976 563"},
        MaskCase{"### ### ### MB", 2.5, "  3 MB"}, MaskCase{"### ### ### MB", 40960, " 40 960 MB"},
        MaskCase{"### ###", -7, " "},  // no sign is ever written
        MaskCase{" Mb", 123, " Mb"},   // a mask without places writes its literals only
        MaskCase{"### ###", 1.8446744073709552e19, "18446744073709551 616"},
        // the largest double below 2^64, the last one written as a 64-bit count
        MaskCase{"### ###", 18446744073709549568.0, "18446744073709549 568"}));

TEST(UnitScaleTest, DivisorsAndScaling) {
    EXPECT_EQ(unitDivisor(UnitScale::Megabytes), 1048576.0);
    EXPECT_EQ(unitDivisor(UnitScale::Kilobytes), 1024.0);
    EXPECT_EQ(unitDivisor(UnitScale::Bytes), 1.0);
    EXPECT_EQ(scaleBytes(2621440, UnitScale::Megabytes), 2.5);
    EXPECT_EQ(scaleBytes(10000000, UnitScale::Kilobytes), 9765.625);
    EXPECT_EQ(scaleBytes(4294967295u, UnitScale::Bytes), 4294967295.0);
}

TEST(GaugeValueTest, RoundsHalfToEven) {
    const struct {
        double in;
        std::int32_t out;
    } cases[] = {{2.5, 2},
                 {3.5, 4},
                 {0.5, 0},
                 {0.4, 0},
                 {0.6, 1},
                 {1.5, 2},
                 {2147483647.0, 2147483647},
                 {1e12, 2147483647},
                 {-1e12, -2147483647 - 1}};
    for (const auto& c : cases)
        EXPECT_EQ(gaugeValue(c.in), c.out) << c.in;
}

TEST(MaskChoiceTest, EachUnitHasItsWords) {
    EXPECT_EQ(totalMemoryMask(UnitScale::Megabytes), "Всего: # ### ### Mb");
    EXPECT_EQ(availableMemoryMask(UnitScale::Kilobytes), "Доступно: # ### ### Kb");
    EXPECT_EQ(availableMemoryMask(UnitScale::Bytes), "Доступно: ### ### ### ### B");
    EXPECT_EQ(driveMask(UnitScale::Kilobytes), "### ### ### KB");
    EXPECT_EQ(counterMask(UnitScale::Bytes), "### ### ###");
    EXPECT_EQ(counterMask(UnitScale::Megabytes), "### ###");
}

}  // namespace
}  // namespace koravex
