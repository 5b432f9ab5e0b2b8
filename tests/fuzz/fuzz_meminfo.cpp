// libFuzzer target: the memory texts (/proc/meminfo, /proc/self/statm).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/linux/meminfo_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    koravex::MemoryStatus m = koravex::memoryFromMeminfo(koravex::parseMeminfo(text));
    if (m.availPhys > m.totalPhys || m.availPageFile > m.totalPageFile) {
        __builtin_trap();
    }
    (void)koravex::parseStatmSize(text, 4096);
    (void)koravex::parseStatmSize(text, 1);
    return 0;
}
