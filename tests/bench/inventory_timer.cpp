// The same measurements as inventory_bench.cpp without Google Benchmark, which
// the Windows build does not have: each build (and build plus fill) is timed
// alone with the performance counter, and the median of the runs is kept.
// Prints one line per machine size and the fitted growth of the time with the
// number of disks; exits 1 when a disk goes missing.
#include "inventory/DriveRecord.h"
#include "tests/bench/BenchMachine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

namespace {

double Seconds() {
#ifdef _WIN32
    static const double tick = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return 1.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * tick;
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

struct Result {
    double medianMs = 0;
    int runs = 0;
    size_t calls = 0;
};

// Runs `step` once to warm up, then again until a quarter second has passed
// (at least 5 and at most 2000 runs: the machine logs every call it answers).
template <typename Step>
Result Measure(bench::Workstation& machine, Step step) {
    step();
    std::vector<double> times;
    size_t calls = 0;
    const double start = Seconds();
    while (times.size() < 2000 && (times.size() < 5 || Seconds() - start < 0.25)) {
        const size_t before = machine.sim.CallCount();
        const double t0 = Seconds();
        step();
        times.push_back((Seconds() - t0) * 1000.0);
        calls = machine.sim.CallCount() - before;
    }
    std::sort(times.begin(), times.end());
    Result r;
    r.medianMs = times[times.size() / 2];
    r.runs = static_cast<int>(times.size());
    r.calls = calls;
    return r;
}

// Least squares slope of log(time) over log(disks).
double GrowthExponent(const std::vector<int>& disks, const std::vector<double>& ms) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = static_cast<double>(disks.size());
    for (size_t i = 0; i < disks.size(); ++i) {
        const double x = std::log(static_cast<double>(disks[i]));
        const double y = std::log(ms[i]);
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

}  // namespace

int main() {
    // A record's size is design (fixed text buffers), and differs between the
    // host and Windows by the width of wchar_t.
    std::printf("sizeof_DriveRecord=%lu\n", static_cast<unsigned long>(sizeof(DriveRecord)));
    bool complete = true;
    const char* names[2] = {"build", "build+fill"};
    for (int what = 0; what < 2; ++what) {
        std::vector<int> fitDisks;
        std::vector<double> fitMs;
        for (int disks : bench::kDiskCounts) {
            bench::Workstation machine(disks);
            const Result r = what == 0 ? Measure(machine, [&] { machine.app.RebuildDriveTable(); })
                                       : Measure(machine, [&] { machine.dlg.RefreshDriveList(); });
            const bool listed =
                what == 0 ? machine.app.m_driveTable.Count() == disks : machine.AllListed(disks);
            complete = complete && listed;
            std::printf("%s disks=%d median_ms=%.4f runs=%d calls=%lu calls_per_disk=%.2f%s\n",
                        names[what], disks, r.medianMs, r.runs, static_cast<unsigned long>(r.calls),
                        static_cast<double>(r.calls) / disks, listed ? "" : " MISSING-DISKS");
            if (disks >= 16) {
                fitDisks.push_back(disks);
                fitMs.push_back(r.medianMs);
            }
        }
        std::printf("%s growth_exponent=%.3f\n", names[what], GrowthExponent(fitDisks, fitMs));
    }
    std::fflush(stdout);
    return complete ? 0 : 1;
}
