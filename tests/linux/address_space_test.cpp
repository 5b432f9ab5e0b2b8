#include "core/linux/address_space.h"

#include <gtest/gtest.h>

#include "tests/linux/fixture_calls.h"

namespace koravex {
namespace {

TEST(AddressSpaceTest, LayoutsAndLimits) {
    constexpr std::uint64_t kPage = 4096;
    struct Case {
        const char* name;
        AddressLayout layout;
        std::uint64_t mapLimit;
        std::optional<std::uint64_t> rlimit;
        std::uint64_t want;
    } cases[] = {
        {"x86 4-level", AddressLayout::X86_64, 1ull << 47, std::nullopt, (1ull << 47) - kPage},
        {"x86 5-level", AddressLayout::X86_64, 1ull << 56, std::nullopt, (1ull << 56) - kPage},
        {"x86 lower RLIMIT_AS", AddressLayout::X86_64, 1ull << 47, 1ull << 32, 1ull << 32},
        {"x86 higher RLIMIT_AS", AddressLayout::X86_64, 1ull << 47, 1ull << 50,
         (1ull << 47) - kPage},
        {"48-bit generic", AddressLayout::Generic, 1ull << 48, std::nullopt, 1ull << 48},
        {"39-bit generic", AddressLayout::Generic, 1ull << 39, std::nullopt, 1ull << 39},
        {"nothing mappable", AddressLayout::Generic, 0, std::nullopt, 0},
        {"nothing mappable, limit", AddressLayout::Generic, 0, 1ull << 30, 1ull << 30},
    };
    for (const auto& c : cases) {
        test::FixtureCalls calls;
        calls.mapLimit = c.mapLimit;
        calls.asLimit = c.rlimit;
        EXPECT_EQ(userAddressSpace(calls, c.layout), c.want) << c.name;
    }
}

TEST(AddressSpaceTest, RealProcessSeesItsOwnSpace) {
    // The real probe agrees with the real RLIMIT-free layout: at least 39 bits on any 64-bit
    // Linux, and a pointer of ours lies inside it.
    std::uint64_t space = userAddressSpace(defaultSysCalls());
    int local = 0;
    EXPECT_GE(space, 1ull << 39);
    EXPECT_LT(reinterpret_cast<std::uintptr_t>(&local), space);
}

}  // namespace
}  // namespace koravex
