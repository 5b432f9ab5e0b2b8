#include "core/linux/sys_calls.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace koravex {
namespace {

TEST(SysCallsTest, ReadsWholeFilesOfEverySizeUpToTheLimit) {
    char tmpl[] = "/tmp/koravex-read.XXXXXX";
    int fd = ::mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::string path = tmpl;
    struct Case {
        std::size_t size;
        std::size_t limit;
        bool fits;
    } cases[] = {
        {0, 1 << 20, true},      {1, 1 << 20, true},    {4095, 1 << 20, true},
        {4096, 1 << 20, true},   {4097, 1 << 20, true}, {200000, 1 << 20, true},
        {200000, 100000, false}, {5000, 4096, false},
    };
    SysCalls& calls = defaultSysCalls();
    for (const auto& c : cases) {
        std::string text(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i) {
            text[i] = static_cast<char>('a' + i % 26);
        }
        std::ofstream(path, std::ios::trunc | std::ios::binary) << text;
        auto got = calls.readFile(path, c.limit);
        EXPECT_EQ(got.has_value(), c.fits) << c.size << " of " << c.limit;
        if (got) {
            EXPECT_EQ(*got, text) << c.size;
        }
    }
    std::filesystem::remove(path);
    errno = 0;
    EXPECT_FALSE(calls.readFile(path));
    EXPECT_EQ(errno, ENOENT);
}

TEST(SysCallsTest, ProcFilesAreTold) {
    SysCalls& calls = defaultSysCalls();
    int proc = calls.openRead("/proc/self/mountinfo");
    ASSERT_GE(proc, 0);
    EXPECT_TRUE(calls.isProcFile(proc));
    // A table not changed since the last look reports no change. Other programs may mount
    // meanwhile (network namespaces do), so a few rounds are allowed for one quiet moment.
    bool quiet = false;
    for (int round = 0; round < 10 && !quiet; ++round) {
        calls.mountTableChanged(proc);
        quiet = !calls.mountTableChanged(proc);
    }
    EXPECT_TRUE(quiet);
    calls.close(proc);
    int plain = calls.openRead(KORAVEX_FIXTURES "/machine/proc/self/mountinfo");
    ASSERT_GE(plain, 0);
    EXPECT_FALSE(calls.isProcFile(plain));
    calls.close(plain);
}

}  // namespace
}  // namespace koravex
