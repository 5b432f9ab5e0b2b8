#include "core/linux/meminfo_parse.h"

#include <array>
#include <utility>

namespace koravex {
namespace {

// Decimal digits only; nullopt when empty or beyond 64 bits.
std::optional<std::uint64_t> parseDecimal(std::string_view s) {
    if (s.empty()) {
        return std::nullopt;
    }
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        auto d = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) {
            return std::nullopt;
        }
        v = v * 10 + d;
    }
    return v;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

// "  12345 kB" -> bytes. The unit is required: every field used here is counted in kB.
std::optional<std::uint64_t> parseKilobytes(std::string_view value) {
    value = trimBlanks(value);
    if (value.size() < 3 || value.substr(value.size() - 3) != " kB") {
        return std::nullopt;
    }
    auto kb = parseDecimal(trimBlanks(value.substr(0, value.size() - 3)));
    if (!kb || *kb > UINT64_MAX / 1024) {
        return std::nullopt;
    }
    return *kb * 1024;
}

}  // namespace

MeminfoFields parseMeminfo(std::string_view text) {
    MeminfoFields f;
    using Slot = std::optional<std::uint64_t> MeminfoFields::*;
    const std::array<std::pair<std::string_view, Slot>, 7> keys{{
        {"MemTotal", &MeminfoFields::memTotal},
        {"MemFree", &MeminfoFields::memFree},
        {"MemAvailable", &MeminfoFields::memAvailable},
        {"Buffers", &MeminfoFields::buffers},
        {"Cached", &MeminfoFields::cached},
        {"SwapTotal", &MeminfoFields::swapTotal},
        {"Committed_AS", &MeminfoFields::committedAs},
    }};
    std::array<int, 7> seen{};
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string_view key = line.substr(0, colon);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (key == keys[i].first) {
                ++seen[i];
                f.*keys[i].second = parseKilobytes(line.substr(colon + 1));
            }
        }
    }
    // A key given twice is not to be trusted either way.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (seen[i] > 1) {
            f.*keys[i].second = std::nullopt;
        }
    }
    return f;
}

MemoryStatus memoryFromMeminfo(const MeminfoFields& f) {
    MemoryStatus m;
    if (!f.memTotal) {
        return m;
    }
    std::optional<std::uint64_t> avail = f.memAvailable;
    if (!avail && f.memFree && f.buffers && f.cached) {
        // Kernels before 3.14 have no MemAvailable: free, buffers and page cache stand in.
        std::uint64_t sum = *f.memFree;
        for (std::uint64_t part : {*f.buffers, *f.cached}) {
            sum = sum > UINT64_MAX - part ? UINT64_MAX : sum + part;
        }
        avail = sum;
    }
    if (avail) {
        m.totalPhys = *f.memTotal;
        m.availPhys = *avail < *f.memTotal ? *avail : *f.memTotal;
    }
    if (f.swapTotal && f.committedAs) {
        std::uint64_t limit =
            *f.memTotal > UINT64_MAX - *f.swapTotal ? UINT64_MAX : *f.memTotal + *f.swapTotal;
        m.totalPageFile = limit;
        // Overcommit lets Committed_AS pass the limit; nothing is left then, never less.
        m.availPageFile = *f.committedAs < limit ? limit - *f.committedAs : 0;
    }
    return m;
}

std::optional<std::uint64_t> parseStatmSize(std::string_view text, std::uint64_t pageSize) {
    std::size_t end = text.find_first_of(" \n");
    if (end == std::string_view::npos || end == 0) {
        return std::nullopt;
    }
    auto pages = parseDecimal(text.substr(0, end));
    if (!pages || pageSize == 0 || *pages > UINT64_MAX / pageSize) {
        return std::nullopt;
    }
    return *pages * pageSize;
}

}  // namespace koravex
