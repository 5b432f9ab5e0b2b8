#include "core/linux/address_space.h"

namespace koravex {

std::uint64_t userAddressSpace(SysCalls& calls, AddressLayout layout) {
    const std::uint64_t page = calls.pageSize();
    std::uint64_t size = 0;
    if (layout == AddressLayout::X86_64) {
        // With 5-level paging the kernel maps above 47 bits only where asked to: asking is
        // the one sure test. The last page below the top is a guard the kernel never gives.
        bool fiveLevel = calls.canMapAt(std::uint64_t{1} << 47);
        size = (std::uint64_t{1} << (fiveLevel ? 56 : 47)) - page;
    } else {
        for (int bits = 56; bits >= 31 && size == 0; --bits) {
            std::uint64_t top = std::uint64_t{1} << bits;
            if (calls.canMapAt(top - page)) {
                size = top;
            }
        }
    }
    auto limit = calls.addressSpaceLimit();
    if (limit && (*limit < size || size == 0)) {
        size = *limit;
    }
    return size;
}

}  // namespace koravex
