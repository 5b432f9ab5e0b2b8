#include "core/traffic.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

struct SpeedCase {
    std::uint64_t value;
    UnitScale unit;
    const char* cell;
};

TEST(InterfaceCellsTest, SpeedAndCountersGoThroughTheByteDivisorAndMask) {
    const SpeedCase cases[] = {
        {10000000, UnitScale::Megabytes, " 10"},
        {10000000, UnitScale::Kilobytes, "9 766"},
        {10000000, UnitScale::Bytes, "10 000 000"},
        {1000000000, UnitScale::Megabytes, " 954"},
        {1000000000, UnitScale::Kilobytes, "976 563"},
        {1000000000, UnitScale::Bytes, "1000 000 000"},
        {0, UnitScale::Megabytes, " "},
        {0, UnitScale::Kilobytes, " "},
        {0, UnitScale::Bytes, "  "},
        // 64-bit: 5 GB received and a 10 Gbit/s link show their full figures.
        {5000000000ull, UnitScale::Bytes, "5000 000 000"},
        {10000000000ull, UnitScale::Megabytes, "9 537"},
        {4294967296ull, UnitScale::Kilobytes, "4194 304"},
    };
    for (const SpeedCase& c : cases) {
        InterfaceRow row;
        row.speed = c.value;
        row.inOctets = c.value;
        row.outOctets = c.value;
        const TrafficRow cells = interfaceCells(row, c.unit);
        EXPECT_EQ(cells[3], c.cell) << c.value << " unit " << static_cast<int>(c.unit);
        EXPECT_EQ(cells[4], c.cell) << c.value;
        EXPECT_EQ(cells[5], c.cell) << c.value;
    }
}

TEST(InterfaceCellsTest, CellsInColumnOrder) {
    const InterfaceRow row{4294967295u, "eth0", 6, 100000000, 5, 2048, 1024};
    const TrafficRow expected{"4294967295", "eth0", "6", " 2", " 1", "97 656", "OPERATIONAL"};
    EXPECT_EQ(interfaceCells(row, UnitScale::Kilobytes), expected);
}

TEST(InterfaceCellsTest, DescriptionIsCutAtItsFirstNul) {
    InterfaceRow row;
    row.description = std::string("wlan0\0garbage", 13);
    EXPECT_EQ(interfaceCells(row, UnitScale::Bytes)[1], "wlan0");
}

TEST(OperStatusNameTest, NamesZeroToFiveAndNothingElse) {
    const struct {
        std::uint32_t status;
        const char* name;
    } cases[] = {{0, "NON_OPERATIONAL"},
                 {1, "UNREACHABLE"},
                 {2, "DISCONNECTED"},
                 {3, "CONNECTING"},
                 {4, "CONNECTED"},
                 {5, "OPERATIONAL"},
                 {6, ""},
                 {4294967295u, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(operStatusName(c.status), c.name) << c.status;
        InterfaceRow row;
        row.operStatus = c.status;
        EXPECT_EQ(interfaceCells(row, UnitScale::Megabytes)[6], c.name) << c.status;
    }
}

}  // namespace
}  // namespace koravex
