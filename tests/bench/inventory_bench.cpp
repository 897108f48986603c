// Builds the drive table of simulated machines with 1 to 1024 disks and
// reports, besides the time, the platform calls the build made per disk. The
// calls per disk must stay flat as the machine grows.
#include "app/Trayhop32App.h"
#include "platform/sim/SimMachine.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// `disks` disks, each with one volume; the first 24 have the letters C to Z
// (a machine has no more letters than that). Their interfaces are listed in
// the opposite order of the devices, as happens after hot-plugging.
void BuildMachine(SimMachine& sim, int disks) {
    for (int n = 0; n < disks; ++n) {
        SimDevice disk = SimMachine::MakeDisk(L"SCSI\\DISK&VEN_SIM\\" + std::to_wstring(n),
                                              L"SIM Disk " + std::to_wstring(n),
                                              static_cast<DWORD>(n), BusTypeScsi);
        disk.interfaceOrder = -n;
        sim.AddDevice(disk);
        SimVolume volume = SimMachine::MakeVolume(n < 24 ? static_cast<WCHAR>(L'C' + n) : 0,
                                                  static_cast<DWORD>(n), 1000000);
        if (n >= 24) volume.guidPath.clear();
        sim.AddVolume(volume);
    }
    sim.SetRegMultiString(HKEY_LOCAL_MACHINE,
                          L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
                          L"PagingFiles", {L"C:\\pagefile.sys 1024 2048"});
}

void BM_RebuildDriveTable(benchmark::State& state) {
    const int disks = static_cast<int>(state.range(0));
    SimMachine sim;
    BuildMachine(sim, disks);
    CTrayhop32App app(sim);
    size_t calls = 0;
    for (auto _ : state) {
        const size_t before = sim.CallCount();
        app.RebuildDriveTable();
        calls = sim.CallCount() - before;
        benchmark::DoNotOptimize(app.m_driveTable.Count());
    }
    if (app.m_driveTable.Count() != disks) state.SkipWithError("not every disk was found");
    state.counters["disks"] = disks;
    state.counters["calls_per_disk"] = static_cast<double>(calls) / disks;
    state.counters["time_per_disk"] = benchmark::Counter(
        static_cast<double>(disks),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_RebuildDriveTable)
    ->Arg(1)
    ->Arg(16)
    ->Arg(256)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);
