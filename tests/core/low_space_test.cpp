#include "core/low_space.h"

#include <gtest/gtest.h>

#include "core/convert.h"
#include "tests/support/fake_probes.h"

namespace koravex {
namespace {

FakeProbes withFree(std::int64_t totalFree, std::int64_t freeToCaller) {
    FakeProbes p;
    FakeProbes::Drive d;
    d.space = DriveSpace{freeToCaller, std::int64_t{1} << 40, totalFree};
    p.drives["D:\\"] = d;
    return p;
}

TEST(AlertTextTest, RootAndThresholdAsTyped) {
    EXPECT_EQ(alertText("D:\\", "150"),
              "На диске: D:\\ осталось меньше 150 Mb дискового пространства");
    EXPECT_EQ(alertText("C:\\", "$64"),
              "На диске: C:\\ осталось меньше $64 Mb дискового пространства");
    EXPECT_EQ(alertText("", " 7"), "На диске:  осталось меньше  7 Mb дискового пространства");
}

TEST(CheckLowSpaceTest, TotalFreeStrictlyBelowThresholdMegabytes) {
    const struct {
        const char* threshold;
        std::int64_t totalFree;
        bool alert;
    } cases[] = {
        {"100", 104857599, true},
        {"100", 104857600, false},             // equal is not less
        {"5000", 5000LL * 1048576 - 1, true},  // beyond the spin range, used as typed
        {"5000", 5000LL * 1048576, false},
        {"0", 0, false},  // 0 or below never alerts
        {"-1", 0, false},
        {"-2147483648", -1, false},
        {"$64", 104857599, true},  // hexadecimal 100
        {"$64", 104857600, false},
        {"  100", 104857599, true},
        {"2147483647", 2147483647LL * 1048576 - 1, true},  // no 32-bit overflow in N * 1048576
        {"$FFFFFFFF", 0, false},                           // -1
    };
    for (const auto& c : cases) {
        FakeProbes p = withFree(c.totalFree, c.totalFree);
        const auto text = checkLowSpace(p, "D:\\", true, c.threshold);
        EXPECT_EQ(text.has_value(), c.alert) << c.threshold << " free " << c.totalFree;
        if (text) {
            EXPECT_EQ(*text, alertText("D:\\", c.threshold));
        }
    }
}

TEST(CheckLowSpaceTest, ComparesTheVolumesTotalFreeNotTheCallersShare) {
    FakeProbes roomyForOthers = withFree(200LL * 1048576, 1);
    EXPECT_FALSE(checkLowSpace(roomyForOthers, "D:\\", true, "100"));
    FakeProbes lowOverall = withFree(1, 200LL * 1048576);
    EXPECT_TRUE(checkLowSpace(lowOverall, "D:\\", true, "100"));
}

TEST(CheckLowSpaceTest, BadThresholdTextsRaiseTheConversionError) {
    const struct {
        const char* threshold;
        const char* message;
    } cases[] = {{"", "'' is not a valid integer value"},
                 {"100 ", "'100 ' is not a valid integer value"},
                 {"сто", "'сто' is not a valid integer value"},
                 {"$123456789", "'$123456789' is not a valid integer value"}};
    for (const auto& c : cases) {
        FakeProbes p = withFree(0, 0);
        try {
            checkLowSpace(p, "D:\\", true, c.threshold);
            ADD_FAILURE() << "accepted '" << c.threshold << "'";
        } catch (const ConversionError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(CheckLowSpaceTest, SwitchedOffOrUnreadableDrivesNeverConvert) {
    // The space is read first in both cases; a bad threshold is not converted.
    FakeProbes off = withFree(0, 0);
    EXPECT_FALSE(checkLowSpace(off, "D:\\", false, ""));
    EXPECT_EQ(off.driveSpaceCalls, 1);

    FakeProbes gone = withFree(0, 0);
    EXPECT_FALSE(checkLowSpace(gone, "E:\\", true, ""));
    EXPECT_EQ(gone.driveSpaceCalls, 1);
}

}  // namespace
}  // namespace koravex
