#include "core/linux/meminfo_parse.h"

#include <gtest/gtest.h>

namespace koravex {
namespace {

constexpr std::uint64_t kKiB = 1024;

struct MemCase {
    const char* name;
    const char* text;
    MemoryStatus want;  // virtual pair left 0
};

class MeminfoTest : public ::testing::TestWithParam<MemCase> {};

TEST_P(MeminfoTest, GivesPhysicalAndCommitFigures) {
    MemoryStatus got = memoryFromMeminfo(parseMeminfo(GetParam().text));
    const MemoryStatus& want = GetParam().want;
    EXPECT_EQ(got.totalPhys, want.totalPhys);
    EXPECT_EQ(got.availPhys, want.availPhys);
    EXPECT_EQ(got.totalPageFile, want.totalPageFile);
    EXPECT_EQ(got.availPageFile, want.availPageFile);
    EXPECT_EQ(got.totalVirtual, 0u);
    EXPECT_EQ(got.availVirtual, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MeminfoTest,
    ::testing::Values(
        MemCase{"Modern",
                "MemTotal:       16000 kB\nMemFree:  1000 kB\nMemAvailable:   12000 kB\n"
                "Buffers: 100 kB\nCached: 200 kB\nSwapTotal:  4000 kB\nCommitted_AS: 5000 kB\n",
                {16000 * kKiB, 12000 * kKiB, 20000 * kKiB, 15000 * kKiB, 0, 0}},
        MemCase{"OldKernelWithoutMemAvailable",
                "MemTotal: 16000 kB\nMemFree: 1000 kB\nBuffers: 100 kB\nCached: 200 kB\n"
                "SwapTotal: 0 kB\nCommitted_AS: 3000 kB\n",
                {16000 * kKiB, 1300 * kKiB, 16000 * kKiB, 13000 * kKiB, 0, 0}},
        MemCase{"OvercommittedNeverBelowZero",
                "MemTotal: 1000 kB\nMemAvailable: 10 kB\nSwapTotal: 100 kB\n"
                "Committed_AS: 999999 kB\n",
                {1000 * kKiB, 10 * kKiB, 1100 * kKiB, 0, 0, 0}},
        MemCase{"AvailableAboveTotalIsCapped",
                "MemTotal: 1000 kB\nMemAvailable: 2000 kB\nSwapTotal: 0 kB\nCommitted_AS: 0 kB\n",
                {1000 * kKiB, 1000 * kKiB, 1000 * kKiB, 1000 * kKiB, 0, 0}},
        MemCase{"MoreThan4GiBIs64Bit",
                "MemTotal: 1073741824 kB\nMemAvailable: 536870912 kB\nSwapTotal: 0 kB\n"
                "Committed_AS: 0 kB\n",
                {1ull << 40, 1ull << 39, 1ull << 40, 1ull << 40, 0, 0}},
        MemCase{"NoMemTotalGivesNothing", "MemFree: 1 kB\nMemAvailable: 1 kB\n", {}},
        MemCase{"NoAvailableAndNoFallbackLeavesPhysicalZero",
                "MemTotal: 1000 kB\nMemFree: 10 kB\nSwapTotal: 0 kB\nCommitted_AS: 10 kB\n",
                {0, 0, 1000 * kKiB, 990 * kKiB, 0, 0}},
        MemCase{"MissingCommittedLeavesPageFileZero",
                "MemTotal: 1000 kB\nMemAvailable: 10 kB\nSwapTotal: 5 kB\n",
                {1000 * kKiB, 10 * kKiB, 0, 0, 0, 0}},
        MemCase{"NonNumericValue", "MemTotal: 12a4 kB\nMemAvailable: 10 kB\n", {}},
        MemCase{"MissingUnit", "MemTotal: 1234\nMemAvailable: 10 kB\n", {}},
        MemCase{
            "OverflowingNumber", "MemTotal: 99999999999999999999 kB\nMemAvailable: 10 kB\n", {}},
        MemCase{"KilobytesBeyond64BitBytes",
                "MemTotal: 18014398509481984 kB\nMemAvailable: 10 kB\n",
                {}},
        MemCase{"DuplicatedKeyIsNotTrusted",
                "MemTotal: 1000 kB\nMemTotal: 2000 kB\nMemAvailable: 10 kB\n",
                {}},
        MemCase{"TruncatedMidLine",
                "MemTotal: 1000 kB\nMemAvailable: 10 kB\nSwapTot",
                {1000 * kKiB, 10 * kKiB, 0, 0, 0, 0}},
        MemCase{"EmptyText", "", {}},
        MemCase{"NoNewlineAtEnd",
                "MemTotal: 8 kB\nMemAvailable: 4 kB",
                {8 * kKiB, 4 * kKiB, 0, 0, 0, 0}}),
    [](const auto& param) { return std::string(param.param.name); });

struct StatmCase {
    const char* text;
    std::uint64_t pageSize;
    std::optional<std::uint64_t> want;
};

TEST(StatmTest, FirstFieldInPagesTimesPageSize) {
    const StatmCase cases[] = {
        {"12345 678 90 1 0 456 0\n", 4096, 12345ull * 4096},
        {"0 0 0 0 0 0 0\n", 4096, 0},
        {"7 1 1 1 0 1 0\n", 65536, 7ull * 65536},
        {"4503599627370496 1 1 1 0 1 0\n", 4096, std::nullopt},  // bytes beyond 64 bits
        {"abc 1 2\n", 4096, std::nullopt},
        {"", 4096, std::nullopt},
        {"123", 4096, std::nullopt},  // truncated before the first separator
        {" 12 3\n", 4096, std::nullopt},
        {"12 3\n", 0, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseStatmSize(c.text, c.pageSize), c.want) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace koravex
