// The machines the speed measurements run on, shared by the Google Benchmark
// program (host) and the self-timed one (host and Windows).
#pragma once

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"

#include <string>

namespace bench {

// The sizes measured; the growth is fitted over all but the first.
inline constexpr int kDiskCounts[] = {1, 16, 256, 1024};

// `disks` disks, each with one volume; the first 24 have the letters C to Z
// (a machine has no more letters than that). Their interfaces are listed in
// the opposite order of the devices, as happens after hot-plugging. C: holds
// the page file.
inline void BuildMachine(SimMachine& sim, int disks) {
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

// A machine, the application and the main window over the test list: what
// the main window's refresh (build and fill) runs on.
struct Workstation {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    CTrayhop32Dlg dlg{app, view};

    explicit Workstation(int disks) {
        // As the demo runs it: calls counted, not logged.
        sim.recordCalls = false;
        BuildMachine(sim, disks);
        view.Connect(dlg);
    }
    // True when every disk made it into the table and onto the list.
    bool AllListed(int disks) const {
        return app.m_driveTable.Count() == disks && static_cast<int>(view.rows.size()) == disks;
    }
};

}  // namespace bench
