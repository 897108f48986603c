// Builds the drive table of simulated machines with 1 to 1024 disks, alone
// and followed by the list fill (the main window's refresh), and reports,
// besides the time, the platform calls made per disk. The calls per disk must
// stay flat and the time per disk must not grow with the machine.
#include "tests/bench/BenchMachine.h"

#include <benchmark/benchmark.h>

namespace {

void Report(benchmark::State& state, int disks, size_t calls) {
    state.counters["disks"] = disks;
    state.counters["calls_per_disk"] = static_cast<double>(calls) / disks;
    state.counters["time_per_disk"] = benchmark::Counter(
        static_cast<double>(disks),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_RebuildDriveTable(benchmark::State& state) {
    const int disks = static_cast<int>(state.range(0));
    bench::Workstation machine(disks);
    size_t calls = 0;
    for (auto _ : state) {
        const size_t before = machine.sim.CallCount();
        machine.app.RebuildDriveTable();
        calls = machine.sim.CallCount() - before;
        benchmark::DoNotOptimize(machine.app.m_driveTable.Count());
    }
    if (machine.app.m_driveTable.Count() != disks) state.SkipWithError("not every disk was found");
    Report(state, disks, calls);
}

void BM_BuildAndFill(benchmark::State& state) {
    const int disks = static_cast<int>(state.range(0));
    bench::Workstation machine(disks);
    size_t calls = 0;
    for (auto _ : state) {
        const size_t before = machine.sim.CallCount();
        machine.dlg.RefreshDriveList();
        calls = machine.sim.CallCount() - before;
        benchmark::DoNotOptimize(machine.view.rows.size());
    }
    if (!machine.AllListed(disks)) state.SkipWithError("not every disk was listed");
    Report(state, disks, calls);
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (int disks : bench::kDiskCounts) b->Arg(disks);
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_RebuildDriveTable)->Apply(Sizes);
BENCHMARK(BM_BuildAndFill)->Apply(Sizes);
