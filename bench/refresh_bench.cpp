// One refresh on the fake backend: the cost of the core's own work (formatting, the
// watch, the table), without any system call.
#include <benchmark/benchmark.h>

#include "tests/support/fake_probes.h"
#include "core/refresh.h"

namespace {

using koravex::FakeProbes;
using koravex::RefreshInputs;

RefreshInputs watchingAll(FakeProbes& probes, koravex::UnitScale unit) {
    RefreshInputs in;
    in.unit = unit;
    in.alertOn = true;
    in.threshold = "100000";
    for (const std::string& root : probes.driveRoots())
        in.drives.push_back({root, true});
    return in;
}

void BM_RefreshSample(benchmark::State& state) {
    FakeProbes probes = FakeProbes::sample();
    const RefreshInputs in = watchingAll(probes, static_cast<koravex::UnitScale>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(koravex::runRefresh(probes, in));
}
BENCHMARK(BM_RefreshSample)->Arg(0)->Arg(1)->Arg(2);

// The interface table dominates on machines with many interfaces (containers, bridges).
void BM_RefreshInterfaces(benchmark::State& state) {
    FakeProbes probes = FakeProbes::sample();
    std::vector<koravex::InterfaceRow> rows;
    for (std::int64_t k = 0; k < state.range(0); ++k)
        rows.push_back({static_cast<std::uint32_t>(k), "veth" + std::to_string(k), 6,
                        10000000000ull, 5, static_cast<std::uint64_t>(k) * 123456789, 987654321});
    probes.interfaces = rows;
    const RefreshInputs in = watchingAll(probes, koravex::UnitScale::Kilobytes);
    for (auto _ : state)
        benchmark::DoNotOptimize(koravex::runRefresh(probes, in));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RefreshInterfaces)->Arg(4)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
