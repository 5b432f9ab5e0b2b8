// The drive table of a machine with thousands of mounts (container hosts): reading and
// sorting the mount table, and one refresh of the program's probes over the live table.
// bench/many_mounts.sh runs the live one with 5,000 real mounts, still and churning.
#include <benchmark/benchmark.h>

#include <time.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "core/linux/drive_helper.h"
#include "core/linux/drive_table.h"
#include "core/linux/linux_probes.h"
#include "core/linux/mountinfo_parse.h"
#include "core/refresh.h"

namespace {

// A mount table: the root, then `count` tmpfs mounts under /mnt (each a RAM-disk candidate)
// or `count` bind mounts of one disk (one drive with many mount points).
std::string table(int count, bool bind) {
    std::string text = "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
    for (int i = 0; i < count; ++i) {
        const std::string id = std::to_string(100 + i);
        if (bind) {
            text += id + " 21 8:2 /data /mnt/bind/" + std::to_string(i) +
                    " rw shared:2 - ext4 /dev/sda2 rw\n";
        } else {
            text += id + " 21 0:" + std::to_string(60 + i) + " / /mnt/ram/" + std::to_string(i) +
                    " rw shared:3 - tmpfs koravex-" + std::to_string(i) + " rw,size=1024k\n";
        }
    }
    return text;
}

void driveTable(benchmark::State& state, bool bind) {
    const std::string text = table(static_cast<int>(state.range(0)), bind);
    for (auto _ : state) {
        const auto entries = koravex::parseMountinfo(text);
        benchmark::DoNotOptimize(koravex::selectDrives(entries->entries(), {}));
    }
    state.SetComplexityN(state.range(0));
}
void BM_DriveTableTmpfs(benchmark::State& state) {
    driveTable(state, false);
}
void BM_DriveTableBind(benchmark::State& state) {
    driveTable(state, true);
}
BENCHMARK(BM_DriveTableTmpfs)
    ->Arg(21)
    ->Arg(1000)
    ->Arg(5000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();
BENCHMARK(BM_DriveTableBind)
    ->Arg(21)
    ->Arg(1000)
    ->Arg(5000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

// The window's refresh over this machine's mount table, through the program's probes (the
// drive helper answering): C shown, every drive ticked. CPU time is the calling thread's,
// the window's share; the helper's work is in its own process.
koravex::RefreshInputs everyDriveTicked(koravex::Probes& probes) {
    koravex::RefreshInputs in;
    in.driveLetter = 'C';
    in.alertOn = true;
    in.threshold = "1";
    for (std::string& root : probes.driveRoots())
        in.drives.push_back({std::move(root), true});
    return in;
}

void BM_RefreshLiveTable(benchmark::State& state) {
    auto probes = koravex::makeLinuxProbes();
    const koravex::RefreshInputs in = everyDriveTicked(*probes);
    for (auto _ : state)
        benchmark::DoNotOptimize(koravex::runRefresh(*probes, in));
    state.counters["drives"] = static_cast<double>(in.drives.size());
}
BENCHMARK(BM_RefreshLiveTable)->Unit(benchmark::kMicrosecond);

// The same at the window's shortest interval: one refresh every 100 ms, timed by the
// calling thread's CPU alone (user and system), so that a table changing ten times a
// second is read afresh at almost every refresh, as the window would.
double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
// CPU seconds used so far by the drive helpers (the launcher's children).
double helperCpuSeconds() {
    const auto helpers = koravex::processDriveHelpers();
    const std::string launcher = std::to_string(helpers->launcherPid());
    std::ifstream children("/proc/" + launcher + "/task/" + launcher + "/children");
    double total = 0;
    for (std::string pid; children >> pid;) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string skip;
        for (int i = 3; i < 14; ++i)
            fields >> skip;
        double utime = 0, stime = 0;
        fields >> utime >> stime;
        total += (utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    return total;
}

void BM_RefreshEvery100ms(benchmark::State& state) {
    auto probes = koravex::makeLinuxProbes();
    const koravex::RefreshInputs in = everyDriveTicked(*probes);
    const double helperBefore = helperCpuSeconds();
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double before = threadCpuSeconds();
        benchmark::DoNotOptimize(koravex::runRefresh(*probes, in));
        state.SetIterationTime(threadCpuSeconds() - before);
    }
    // Clock ticks: a coarse figure, averaged over the run.
    state.counters["helper_us"] =
        (helperCpuSeconds() - helperBefore) * 1e6 / static_cast<double>(state.iterations());
    state.counters["drives"] = static_cast<double>(in.drives.size());
}
BENCHMARK(BM_RefreshEvery100ms)->UseManualTime()->Iterations(100)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
