#include <gtest/gtest.h>

#include "app/ProgramName.h"
#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::wstring kScanning = L"  Scanning for new devices, please wait...";
const std::wstring kConfiguring = L" Configuring a new device, please wait...";
const std::wstring kReady = L" Ready...";
const std::wstring kLoading = L" Loading the drive list, please wait...";
const wchar_t* const kAccessDenied =
    L"" TRAYHOP_PROGRAM_NAME L" can not scan for new devices because your user account does\n"
    L"not have sufficient security privileges to uninstall or to change device\n"
    L"properties.  Please contact your site administrator and ask them to change\n"
    L"your security privileges, or logout of this account and logon back in using\n"
    L"an account that has administrator privileges.";

// A boot disk and two USB sticks, the main window open.
struct ScanTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    CTrayhop32Dlg dlg{app, view};
    int nextDisk = 3;

    ScanTest() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        AddDisk(L"Boot Disk", L'C', 0, BusTypeAta);
        AddDisk(L"Stick A", L'E', 1);
        AddDisk(L"Stick B", L'F', 2);
        view.Connect(dlg);
        sim.deviceChangeTarget = [this](UINT event) { dlg.OnDeviceChange(event, 0); };
        dlg.InitDriveTable();
        dlg.InitDriveList();
    }
    void TearDown() override {
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_EQ(0, view.waitDepth) << "the wait cursor is restored";
    }

    void AddDisk(const std::wstring& name, wchar_t letter, DWORD number = 0, DWORD bus = BusTypeUsb,
                 bool pending = false) {
        if (number == 0 && letter != L'C') number = static_cast<DWORD>(nextDisk++);
        SimDevice disk = SimMachine::MakeDisk(L"USBSTOR\\" + name, name, number, bus);
        SimVolume volume = SimMachine::MakeVolume(letter, number, 1000000000LL);
        disk.pending = volume.pending = pending;
        disk.present = volume.present = !pending;
        sim.AddVolume(volume);
        sim.AddDevice(disk);
    }
    int RowOf(const std::wstring& name) const {
        for (int i = 0; i < static_cast<int>(view.rows.size()); ++i)
            if (view.rows[i].text[0].find(name) != std::wstring::npos) return i;
        return -1;
    }
    bool Shown(const std::wstring& name) const { return RowOf(name) >= 0; }
    bool Ticked(const std::wstring& name) const {
        return Shown(name) && view.rows[RowOf(name)].checked;
    }
    std::vector<std::wstring> StatusSince(size_t mark) const {
        return {view.statusHistory.begin() + static_cast<long>(mark), view.statusHistory.end()};
    }
    static int Count(const std::vector<std::wstring>& texts, const std::wstring& text) {
        return static_cast<int>(std::count(texts.begin(), texts.end(), text));
    }
};

TEST_F(ScanTest, PendingDiskAppearsAndEarlierTicksStay) {
    AddDisk(L"New Disk", L'G', 0, BusTypeUsb, /*pending=*/true);
    view.SetItemChecked(RowOf(L"Stick B"), true);
    const size_t mark = view.statusHistory.size();

    dlg.OnScanForDevices();

    EXPECT_TRUE(Shown(L"New Disk"));
    EXPECT_TRUE(Ticked(L"Stick B"));
    EXPECT_FALSE(Ticked(L"Stick A"));
    EXPECT_EQ(1, sim.reenumerations);
    EXPECT_EQ(std::vector<DWORD>{1000}, sim.sleeps);
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_EQ(kScanning, StatusSince(mark).front());
    EXPECT_EQ(kReady, view.Status());
    EXPECT_TRUE(app.m_bRefreshAllowed);
    // The whole tree from its root, and synchronous: an asynchronous walk
    // would let the rebuild run before the new disk is in the tree.
    for (const SimCall& call : sim.Calls()) {
        if (call.method == "CM_Locate_DevNodeW") {
            EXPECT_EQ("null", call.args);
        }
        if (call.method == "CM_Reenumerate_DevNode") {
            EXPECT_TRUE(call.args.ends_with(" flags 1")) << call.args;
        }
    }

    // The arrival the re-enumeration broadcast comes later and keeps the ticks.
    sim.PumpMessages();
    EXPECT_TRUE(Ticked(L"Stick B"));
}

TEST_F(ScanTest, FailedScansStillRebuildAndOnlyAccessDeniedIsTold) {
    struct Case {
        const char* name;
        CONFIGRET locate, reenumerate;
        bool told;
    };
    const Case cases[] = {
        {"locate denied", CR_ACCESS_DENIED, CR_SUCCESS, true},
        {"re-enumeration denied", CR_SUCCESS, CR_ACCESS_DENIED, true},
        {"locate fails", CR_FAILURE, CR_SUCCESS, false},
        {"re-enumeration fails", CR_SUCCESS, CR_FAILURE, false},
    };
    wchar_t letter = L'G';
    int waitDepthInBox = 0;
    sim.messageBoxHook = [&](const SimMessageBox&) {
        waitDepthInBox = view.waitDepth;
        return 0;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.locateResult = c.locate;
        sim.reenumerateResult = c.reenumerate;
        sim.messageBoxes.clear();
        sim.sleeps.clear();
        view.SetItemChecked(RowOf(L"Stick A"), true);
        // Came in without the scan's help: only a rebuild shows it.
        const std::wstring name = std::wstring(L"Late Disk ") + letter;
        AddDisk(name, letter++);
        const size_t mark = view.statusHistory.size();

        dlg.OnScanForDevices();

        EXPECT_TRUE(Shown(name));
        EXPECT_TRUE(Ticked(L"Stick A"));
        EXPECT_EQ(1, Count(StatusSince(mark), kLoading));
        EXPECT_EQ(kReady, view.Status());
        EXPECT_EQ(0, sim.reenumerations);
        EXPECT_TRUE(app.m_bRefreshAllowed);
        if (c.told) {
            EXPECT_LT(0, waitDepthInBox) << "the wait cursor lasts the whole command";
            ASSERT_EQ(1u, sim.messageBoxes.size());
            EXPECT_EQ(kAccessDenied, sim.messageBoxes[0].text);
            EXPECT_EQ(kProgramName, sim.messageBoxes[0].caption);
            EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), sim.messageBoxes[0].flags);
            EXPECT_TRUE(sim.sleeps.empty());
        } else {
            EXPECT_TRUE(sim.messageBoxes.empty());
            EXPECT_EQ(std::vector<DWORD>{1000}, sim.sleeps);
        }
    }
}

// While the access-denied box is open the rows still point into the table the
// re-enumeration cleared and the saved ticks wait for the rebuild: a
// notification there must not refresh through them.
TEST_F(ScanTest, NotificationInsideTheAccessDeniedBoxWaitsForTheRebuild) {
    sim.reenumerateResult = CR_ACCESS_DENIED;
    view.SetItemChecked(RowOf(L"Stick A"), true);
    sim.messageBoxHook = [&](const SimMessageBox&) {
        sim.DeliverDeviceChange(DBT_DEVICEARRIVAL);
        sim.DeliverDeviceChange(DBT_DEVICEREMOVECOMPLETE);
        return 0;
    };
    const size_t mark = view.statusHistory.size();

    dlg.OnScanForDevices();

    EXPECT_EQ(1u, sim.messageBoxes.size());
    EXPECT_TRUE(Ticked(L"Stick A"));
    // The scan's rebuild comes after the notifications and answers them.
    EXPECT_EQ(1, Count(StatusSince(mark), kLoading));
    EXPECT_EQ(kReady, view.Status());
}

// A notification inside one of the rebuild's own boxes runs once afterwards.
TEST_F(ScanTest, NotificationInsideTheRebuildRunsOnceAfterIt) {
    AddDisk(L"Faulty Disk", L'K');
    sim.FindDevice(L"USBSTOR\\Faulty Disk")->storage.ioctlErrors[IOCTL_STORAGE_QUERY_PROPERTY] =
        ERROR_IO_DEVICE;
    view.SetItemChecked(RowOf(L"Stick A"), true);
    int boxes = 0;
    sim.messageBoxHook = [&](const SimMessageBox&) {
        if (boxes++ == 0) {
            AddDisk(L"New Disk", L'G');
            sim.DeliverDeviceChange(DBT_DEVICEARRIVAL);
        }
        return 0;
    };
    const size_t mark = view.statusHistory.size();

    dlg.OnScanForDevices();

    ASSERT_GT(boxes, 0) << "the faulty disk is reported during the rebuild";
    EXPECT_EQ(2, Count(StatusSince(mark), kLoading));
    EXPECT_TRUE(Shown(L"New Disk"));
    EXPECT_TRUE(Ticked(L"Stick A"));
    EXPECT_EQ(kReady, view.Status());
}

// The arrival broadcast inside the re-enumeration meets the cleared guard;
// the scan's own rebuild shows the disk.
TEST_F(ScanTest, ArrivalDuringTheReenumerationIsDropped) {
    AddDisk(L"New Disk", L'G', 0, BusTypeUsb, /*pending=*/true);
    sim.deliverDeviceChangesAtOnce = true;
    const size_t mark = view.statusHistory.size();

    dlg.OnScanForDevices();

    ASSERT_FALSE(sim.DeliveredDeviceChanges().empty());
    EXPECT_LE(1, Count(StatusSince(mark), kConfiguring));
    EXPECT_EQ(1, Count(StatusSince(mark), kLoading));
    EXPECT_TRUE(Shown(L"New Disk"));
    EXPECT_EQ(kReady, view.Status());
}

// The removal-complete broadcast the device installer sends while Remove
// Devices holds the guard is dropped; the command's own refreshes, one before
// and one after its report, show the drive gone.
TEST_F(ScanTest, RemovalBroadcastInsideRemoveDevicesIsLeftToTheCommand) {
    view.SetItemChecked(RowOf(L"Stick A"), true);
    view.SetItemChecked(RowOf(L"Stick B"), true);
    sim.deliverDeviceChangesAtOnce = true;
    bool goneAtReport = false;
    sim.messageBoxHook = [&](const SimMessageBox&) {
        // The report comes after the command's first refresh.
        goneAtReport = !Shown(L"Stick A") && !Shown(L"Stick B");
        return 0;
    };
    const size_t mark = view.statusHistory.size();

    dlg.OnRemoveDevices();

    const std::vector<UINT>& delivered = sim.DeliveredDeviceChanges();
    EXPECT_EQ(2, std::count(delivered.begin(), delivered.end(),
                            static_cast<UINT>(DBT_DEVICEREMOVECOMPLETE)));
    EXPECT_EQ(2, Count(StatusSince(mark), kLoading)) << "only the command's own refreshes";
    EXPECT_TRUE(goneAtReport);
    EXPECT_FALSE(Shown(L"Stick A"));
    EXPECT_FALSE(Shown(L"Stick B"));
    EXPECT_TRUE(Shown(L"Boot Disk"));
    EXPECT_EQ(kReady, view.Status());
}

TEST_F(ScanTest, DeviceChangeEvents) {
    struct Case {
        const char* name;
        UINT event;
        bool guard, refreshes, configuring;
    };
    const Case cases[] = {
        {"arrival", DBT_DEVICEARRIVAL, true, true, true},
        {"removal complete", DBT_DEVICEREMOVECOMPLETE, true, true, false},
        {"arrival under the guard", DBT_DEVICEARRIVAL, false, false, true},
        {"removal under the guard", DBT_DEVICEREMOVECOMPLETE, false, false, false},
        {"nodes changed", DBT_DEVNODES_CHANGED, true, false, false},
        {"query remove", DBT_DEVICEQUERYREMOVE, true, false, false},
        {"remove pending", 0x8003, true, false, false},
    };
    view.SetItemChecked(RowOf(L"Stick A"), true);
    wchar_t letter = L'G';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring name = std::wstring(L"Other Disk ") + letter;
        AddDisk(name, letter++);
        app.m_bRefreshAllowed = c.guard;
        const size_t mark = view.statusHistory.size();

        EXPECT_EQ(TRUE, dlg.OnDeviceChange(c.event, 0));

        const auto status = StatusSince(mark);
        EXPECT_EQ(c.refreshes, Shown(name));
        EXPECT_TRUE(Ticked(L"Stick A"));
        EXPECT_EQ(c.configuring ? 1 : 0, Count(status, kConfiguring));
        if (c.configuring) {
            EXPECT_EQ(kConfiguring, status.front());
        }
        if (c.refreshes) {
            EXPECT_EQ(1, Count(status, kLoading));
            EXPECT_EQ(kReady, status.back());
        } else {
            // Under the guard the configuring text stays for the command to replace.
            EXPECT_EQ(c.configuring ? 1u : 0u, status.size());
        }
        app.m_bRefreshAllowed = true;
        dlg.RefreshDriveList();
    }
}

}  // namespace

// A disk plugged in while the window is open: Windows broadcasts only its
// lettered volumes, so a disk without one (no partitions, a tape) reaches the
// list only through the window's interface registration; one with a volume
// costs at most one rebuild more than the broadcast alone.
TEST_F(ScanTest, PluggedInDiskRefreshesTheListThroughItsInterface) {
    struct Case {
        const char* name;
        bool watching;
        bool withVolume;
        bool shown;
        int rebuilds;
    };
    const Case cases[] = {
        {"letterless, watched", true, false, true, 1},
        {"letterless, not watched", false, false, false, 0},
        {"with a volume, watched", true, true, true, 2},
        {"with a volume, not watched", false, true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring name = std::wstring(L"New Disk ") + (c.watching ? L"W" : L"U") +
                                  (c.withVolume ? L"V" : L"");
        const DWORD number = static_cast<DWORD>(nextDisk++);
        SimDevice disk = SimMachine::MakeDisk(L"USBSTOR\\" + name, name, number, BusTypeUsb);
        disk.pending = true;
        disk.present = false;
        sim.AddDevice(disk);
        if (c.withVolume) {
            SimVolume volume = SimMachine::MakeVolume(static_cast<wchar_t>(L'G' + number), number,
                                                      1000000LL);
            volume.pending = true;
            volume.present = false;
            sim.AddVolume(volume);
        }
        if (c.watching) dlg.WatchDeviceInterfaces(reinterpret_cast<HWND>(0x20000));
        const size_t mark = view.statusHistory.size();

        ASSERT_TRUE(sim.AttachDevice(L"USBSTOR\\" + name));
        sim.PumpMessages();

        EXPECT_EQ(c.shown, Shown(name));
        EXPECT_EQ(c.rebuilds, Count(StatusSince(mark), kLoading));
        dlg.StopWatchingDeviceInterfaces();
    }
    EXPECT_TRUE(sim.NotificationRegistrations().empty()) << "the window lets go when it closes";
}
