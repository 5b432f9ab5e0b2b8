// The memory and drive probes of the Linux backend against the raw calls beneath them:
// a pread of /proc/meminfo on a kept descriptor and an fstatvfs on a kept descriptor of "/".
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/linux/linux_probes.h"
#include "core/refresh.h"

namespace {

using koravex::LinuxProbes;

void BM_RawMeminfoPread(benchmark::State& state) {
    int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    char buf[8192];
    for (auto _ : state) {
        benchmark::DoNotOptimize(::pread(fd, buf, sizeof buf, 0));
    }
    ::close(fd);
}
BENCHMARK(BM_RawMeminfoPread);

void BM_RawFstatvfsRoot(benchmark::State& state) {
    int fd = ::open("/", O_PATH | O_CLOEXEC);
    struct statvfs st {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(::fstatvfs(fd, &st));
    }
    ::close(fd);
}
BENCHMARK(BM_RawFstatvfsRoot);

void BM_RawStatvfsRoot(benchmark::State& state) {
    struct statvfs st {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(::statvfs("/", &st));
    }
}
BENCHMARK(BM_RawStatvfsRoot);

void BM_MemoryStatus(benchmark::State& state) {
    LinuxProbes probes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(probes.memoryStatus());
    }
}
BENCHMARK(BM_MemoryStatus);

void BM_DriveSpaceC(benchmark::State& state) {
    LinuxProbes probes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(probes.driveSpace("C:\\"));
    }
}
BENCHMARK(BM_DriveSpaceC);

void BM_VolumeInformationC(benchmark::State& state) {
    LinuxProbes probes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(probes.volumeInformation("C:\\"));
    }
}
BENCHMARK(BM_VolumeInformationC);

// What one refresh asks of these probes: memory, the selected drive's space and volume.
void BM_MemoryDriveVolume(benchmark::State& state) {
    LinuxProbes probes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(probes.memoryStatus());
        benchmark::DoNotOptimize(probes.driveSpace("C:\\"));
        benchmark::DoNotOptimize(probes.volumeInformation("C:\\"));
    }
}
BENCHMARK(BM_MemoryDriveVolume);

// Its raw lower bound: one pread of meminfo and one fstatvfs.
void BM_RawMemoryDrive(benchmark::State& state) {
    int meminfo = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    int root = ::open("/", O_PATH | O_CLOEXEC);
    char buf[8192];
    struct statvfs st {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(::pread(meminfo, buf, sizeof buf, 0));
        benchmark::DoNotOptimize(::fstatvfs(root, &st));
    }
    ::close(meminfo);
    ::close(root);
}
BENCHMARK(BM_RawMemoryDrive);

void BM_DriveRoots(benchmark::State& state) {
    LinuxProbes probes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(probes.driveRoots());
    }
}
BENCHMARK(BM_DriveRoots);

void BM_CurrentDirectoryDrive(benchmark::State& state) {
    LinuxProbes probes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(probes.currentDirectoryDrive());
    }
}
BENCHMARK(BM_CurrentDirectoryDrive);

// Refreshes of the core on this machine with the selected drive C, drive C ticked and the
// alert on (readiness volume query and space check). `figures` adds memory, the selected
// drive's space and volume, the interface table and the display model: the whole refresh of
// a shown window; without them it is the refresh of a hidden one, the watch alone.
void refreshWithCTicked(benchmark::State& state, bool figures) {
    LinuxProbes probes;
    koravex::WatchedDrive ticked{std::string("C:\\"), true};
    const koravex::RefreshInputs inputs{
        .unit = koravex::UnitScale::Kilobytes,
        .driveLetter = 'C',
        .drives = {ticked},
        .alertOn = true,
        .threshold = std::string("1"),
        .figures = figures ? koravex::FigureParts{} : koravex::FigureParts::none()};
    for (auto _ : state) {
        benchmark::DoNotOptimize(koravex::runRefresh(probes, inputs));
    }
}
void BM_FullRefresh(benchmark::State& state) {
    refreshWithCTicked(state, true);
}
BENCHMARK(BM_FullRefresh);
void BM_HiddenRefresh(benchmark::State& state) {
    refreshWithCTicked(state, false);
}
BENCHMARK(BM_HiddenRefresh);

// Its raw lower bound: a pread of /proc/meminfo, one fstatvfs, one RTM_GETSTATS dump
// received to its end.
void BM_RawRefreshBound(benchmark::State& state) {
    int meminfo = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    int root = ::open("/", O_PATH | O_CLOEXEC);
    int nl = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (meminfo < 0 || root < 0 || nl < 0) {
        state.SkipWithError("cannot open the raw sources");
        return;
    }
    struct Request {
        nlmsghdr header;
        if_stats_msg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETSTATS;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.body.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    std::vector<char> buf(64 * 1024);
    struct statvfs st {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(::pread(meminfo, buf.data(), 8192, 0));
        benchmark::DoNotOptimize(::fstatvfs(root, &st));
        ++request.header.nlmsg_seq;
        ::send(nl, &request, sizeof request, 0);
        for (bool done = false; !done;) {
            ssize_t got = ::recv(nl, buf.data(), buf.size(), 0);
            if (got <= 0) {
                state.SkipWithError("netlink receive failed");
                done = true;
                break;
            }
            std::size_t off = 0;
            while (off + sizeof(nlmsghdr) <= static_cast<std::size_t>(got)) {
                nlmsghdr h;
                std::memcpy(&h, buf.data() + off, sizeof h);
                if (h.nlmsg_type == NLMSG_DONE || h.nlmsg_type == NLMSG_ERROR) {
                    done = true;
                }
                if (h.nlmsg_len < sizeof h) {
                    break;
                }
                off += NLMSG_ALIGN(h.nlmsg_len);
            }
        }
    }
    ::close(nl);
    ::close(root);
    ::close(meminfo);
}
BENCHMARK(BM_RawRefreshBound);

}  // namespace

BENCHMARK_MAIN();
