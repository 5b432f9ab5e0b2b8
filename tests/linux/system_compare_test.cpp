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

// Figures that move (available memory, free space) are checked to lie between two readings
// of the tool taken around the probe's. Builds running beside the test can move them back
// and forth within one round, so a round that misses is tried again, a few times at most.
constexpr int kRounds = 10;

bool between(std::uint64_t value, std::uint64_t a, std::uint64_t b) {
    return value >= std::min(a, b) && value <= std::max(a, b);
}

TEST(SystemCompareTest, MemoryMatchesFree) {
    auto probes = makeLinuxProbes();
    bool availableMatched = false;
    for (int round = 0; round < kRounds && !availableMatched; ++round) {
        std::string before = run("free -b");
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
        EXPECT_LE(m.availPageFile, m.totalPageFile);
        EXPECT_LT(m.availVirtual, m.totalVirtual);
        availableMatched = between(m.availPhys, mem[5], memAfter[5]);
    }
    EXPECT_TRUE(availableMatched) << "available memory never lay between two readings of free";
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
    auto probes = makeLinuxProbes();
    bool freeMatched = false;
    for (int round = 0; round < kRounds && !freeMatched; ++round) {
        StatF before = statF();
        auto space = probes->driveSpace("C:\\");
        StatF after = statF();
        ASSERT_NE(before.size, 0u);
        ASSERT_TRUE(space);
        EXPECT_EQ(static_cast<std::uint64_t>(space->total), before.blocks * before.size);
        freeMatched = between(static_cast<std::uint64_t>(space->totalFree),
                              before.free * before.size, after.free * after.size) &&
                      between(static_cast<std::uint64_t>(space->freeToCaller),
                              before.avail * before.size, after.avail * after.size);
    }
    EXPECT_TRUE(freeMatched) << "free space never lay between two readings of stat -f";
}

TEST(SystemCompareTest, RootIsDriveCAndTheTestsRunOnADrive) {
    auto probes = makeLinuxProbes();
    auto roots = probes->driveRoots();
    ASSERT_FALSE(roots.empty());
    EXPECT_EQ(roots.front(), "C:\\");
    EXPECT_EQ(probes->driveType("C:\\"), DriveType::Fixed);
    auto volume = probes->volumeInformation("C:\\");
    ASSERT_TRUE(volume);
    EXPECT_FALSE(volume->fileSystem.empty());
    EXPECT_NE(probes->currentDirectoryDrive(), '\0');
}

}  // namespace
}  // namespace koravex
