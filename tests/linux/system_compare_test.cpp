// The backend on the running machine beside the system's own tools.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "core/linux/linux_probes.h"

namespace koravex {
namespace {

std::string run(const char* command) {
    std::string out;
    if (FILE* p = ::popen(command, "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
            out.append(buf, n);
        }
        ::pclose(p);
    }
    return out;
}

// The numbers of the line of `free -b` that starts with label ("Mem:", "Swap:").
std::vector<std::uint64_t> freeLine(const std::string& text, const std::string& label) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(label)) {
            std::istringstream fields(line.substr(label.size()));
            std::vector<std::uint64_t> values;
            std::uint64_t v;
            while (fields >> v) {
                values.push_back(v);
            }
            return values;
        }
    }
    return {};
}

TEST(SystemCompareTest, MemoryMatchesFree) {
    std::string before = run("free -b");
    auto probes = makeLinuxProbes();
    MemoryStatus m = probes->memoryStatus();
    std::string after = run("free -b");
    auto mem = freeLine(before, "Mem:");
    auto swap = freeLine(before, "Swap:");
    auto memAfter = freeLine(after, "Mem:");
    ASSERT_GE(mem.size(), 6u) << before;
    ASSERT_GE(memAfter.size(), 6u) << after;
    ASSERT_GE(swap.size(), 1u) << before;
    EXPECT_EQ(m.totalPhys, mem[0]);
    EXPECT_EQ(m.totalPageFile, mem[0] + swap[0]);
    // "available" moves between the reads: it must lie between the two readings.
    std::uint64_t lo = std::min(mem[5], memAfter[5]);
    std::uint64_t hi = std::max(mem[5], memAfter[5]);
    EXPECT_GE(m.availPhys, lo - std::min<std::uint64_t>(lo, 16u << 20));
    EXPECT_LE(m.availPhys, hi + (16u << 20));
    EXPECT_LE(m.availPageFile, m.totalPageFile);
    EXPECT_LT(m.availVirtual, m.totalVirtual);
}

struct StatF {
    std::uint64_t blocks = 0, free = 0, avail = 0, size = 0;
};

StatF statF() {
    std::istringstream in(run("stat -f -c '%b %f %a %S' /"));
    StatF s;
    in >> s.blocks >> s.free >> s.avail >> s.size;
    return s;
}

TEST(SystemCompareTest, RootDriveMatchesStatF) {
    StatF before = statF();
    auto probes = makeLinuxProbes();
    auto space = probes->driveSpace("C:\\");
    StatF after = statF();
    ASSERT_NE(before.size, 0u);
    ASSERT_TRUE(space);
    EXPECT_EQ(static_cast<std::uint64_t>(space->total), before.blocks * before.size);
    // Other programs write meanwhile: free space lies between the two readings.
    std::uint64_t lo = std::min(before.free, after.free) * before.size;
    std::uint64_t hi = std::max(before.free, after.free) * before.size;
    EXPECT_GE(static_cast<std::uint64_t>(space->totalFree), lo);
    EXPECT_LE(static_cast<std::uint64_t>(space->totalFree), hi);
    lo = std::min(before.avail, after.avail) * before.size;
    hi = std::max(before.avail, after.avail) * before.size;
    EXPECT_GE(static_cast<std::uint64_t>(space->freeToCaller), lo);
    EXPECT_LE(static_cast<std::uint64_t>(space->freeToCaller), hi);
}

TEST(SystemCompareTest, RootIsDriveCAndTheTestsRunOnADrive) {
    auto probes = makeLinuxProbes();
    auto roots = probes->driveRoots();
    ASSERT_FALSE(roots.empty());
    EXPECT_EQ(roots.front(), "C:\\");
    EXPECT_EQ(probes->driveType("C:\\"), DriveType::Fixed);
    auto volume = probes->volumeInformation("C:\\");
    ASSERT_TRUE(volume);
    std::string type = run("stat -f -c %T /");
    EXPECT_FALSE(volume->fileSystem.empty());
    EXPECT_NE(probes->currentDirectoryDrive(), '\0');
}

}  // namespace
}  // namespace koravex
