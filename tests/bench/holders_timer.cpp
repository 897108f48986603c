// Times the search for a volume's holders over a Windows 11 sized handle
// table (a quarter of a million entries) on the simulated machine, as the
// files-in-use question runs it, with its real budget.
#include "removal/VolumeHolders.h"
#include "tests/bench/BenchMachine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main() {
    SimMachine sim;
    const std::wstring volume = bench::BuildBusyHandleTable(sim);
    sim.realClock = true;  // the budget is the real budget
    std::vector<double> times;
    bool complete = true;
    size_t named = 0;
    for (int run = 0; run < 5; ++run) {
        const auto before = std::chrono::steady_clock::now();
        const VolumeHolders found = FindVolumeHolders(sim, volume.c_str());
        const auto after = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(after - before).count());
        complete = complete && !found.incomplete;
        named = found.programs.size();
    }
    std::sort(times.begin(), times.end());
    std::printf("holders entries=%zu median_ms=%.1f runs=%zu complete=%d named=%zu\n",
                static_cast<size_t>(bench::kBusyPrograms) * (bench::kBusyFiles + 1),
                times[times.size() / 2], times.size(), complete ? 1 : 0, named);
    return complete && named == 1 ? 0 : 1;
}
