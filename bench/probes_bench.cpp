// The memory and drive probes of the Linux backend against the raw calls beneath them:
// a pread of /proc/meminfo on a kept descriptor and an fstatvfs on a kept descriptor of "/".
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "core/linux/linux_probes.h"

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

}  // namespace

BENCHMARK_MAIN();
