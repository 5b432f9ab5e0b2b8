#pragma once
// Pure parsers for the kernel's memory texts: /proc/meminfo and /proc/self/statm.
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/probes.h"

namespace koravex {

// The /proc/meminfo fields the monitor uses, in bytes. A field is empty when its line is
// missing, duplicated, not a number, or too large to count in bytes.
struct MeminfoFields {
    std::optional<std::uint64_t> memTotal;
    std::optional<std::uint64_t> memFree;
    std::optional<std::uint64_t> memAvailable;
    std::optional<std::uint64_t> buffers;
    std::optional<std::uint64_t> cached;
    std::optional<std::uint64_t> swapTotal;
    std::optional<std::uint64_t> committedAs;
};

MeminfoFields parseMeminfo(std::string_view text);

// Physical memory and commit-limit figures of a memory status; a pair whose fields are
// missing stays 0/0. The virtual pair is left at 0 (it comes from elsewhere).
MemoryStatus memoryFromMeminfo(const MeminfoFields& fields);

// The process's virtual size in bytes: the first number of statm (pages) times the page size.
std::optional<std::uint64_t> parseStatmSize(std::string_view text, std::uint64_t pageSize);

}  // namespace koravex
