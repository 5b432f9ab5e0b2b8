#pragma once
// The size of this process's user address space, found once at start.
#include <cstdint>

#include "core/linux/sys_calls.h"

namespace koravex {

enum class AddressLayout {
    X86_64,   // 47 bits less a guard page, or 56 bits less one with 5-level paging
    Generic,  // the highest power of two below which a page can be mapped
};

#if defined(__x86_64__)
constexpr AddressLayout kNativeLayout = AddressLayout::X86_64;
#else
constexpr AddressLayout kNativeLayout = AddressLayout::Generic;
#endif

// The user address space, lowered to RLIMIT_AS when that is set lower.
std::uint64_t userAddressSpace(SysCalls& calls, AddressLayout layout = kNativeLayout);

}  // namespace koravex
