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

// A Windows 11 sized handle table: 1000 programs with 249 files each on C:
// and one event, 251,000 entries with this program's own, and after them one
// program holding E:, a stick. Returns E:'s volume name as a drive record
// keeps it.
inline constexpr DWORD kBusyPrograms = 1000;
inline constexpr size_t kBusyFiles = 249;
inline std::wstring BuildBusyHandleTable(SimMachine& sim) {
    sim.recordCalls = false;
    sim.AddDevice(SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_Q\\1", L"Quen Stick", 1, BusTypeUsb));
    sim.AddVolume(SimMachine::MakeVolume(L'E', 1, 1000000, DRIVE_REMOVABLE));
    for (DWORD p = 0; p < kBusyPrograms; ++p) {
        SimProcess busy{10000 + p, L"busy.exe"};
        busy.files.assign(kBusyFiles, SimOpenFile{L'C', L"\\Windows\\busy.dat"});
        sim.AddProcess(std::move(busy));
    }
    sim.AddProcess({20000, L"last.exe", {{L'E', L"\\last.txt"}}});
    const std::wstring& guid = sim.FindVolume(L'E')->guidPath;
    return guid.substr(0, guid.size() - 1);
}

}  // namespace bench
