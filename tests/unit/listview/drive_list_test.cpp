#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "inventory/DriveRecord.h"
#include "platform/sim/SimMachine.h"
#include "settings/SettingsStore.h"
#include "tests/unit/support/FakeMainView.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

std::wstring SettingsKey() {
    wchar_t path[200] = {};
    FormatSettingsKeyPath(path, 200);
    return path;
}

// A machine, the application and the window over the fake list.
struct ListBench {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    CTrayhop32Dlg dlg{app, view};

    ListBench() { view.Connect(dlg); }

    void SetOption(const wchar_t* name, const wchar_t* text) {
        sim.SetRegString(HKEY_CURRENT_USER, SettingsKey(), name, text);
    }
    DriveRecord& AddRecord(const wchar_t* name, const wchar_t* instanceId = L"ID\\1") {
        auto record = std::make_unique<DriveRecord>(instanceId);
        CopyField(record->deviceName, name);
        DriveRecord& ref = *record;
        app.m_driveTable.Append(std::move(record));
        return ref;
    }
    std::vector<std::wstring> RowNames() const {
        std::vector<std::wstring> names;
        for (const auto& row : view.rows) names.push_back(row.text[0]);
        return names;
    }
};

struct DriveListTest : ::testing::Test, ListBench {
    void TearDown() override { EXPECT_EQ("", sim.LeakReport()); }
};

// ---- Filling the list from the table ----------------------------------------

TEST_F(DriveListTest, FillWritesSixColumnsInTableOrderAndItsStatusTexts) {
    DriveRecord& disk = AddRecord(L"WDC WD2500JS");
    disk.mediaDeviceType = FILE_DEVICE_DISK;
    disk.mediaType = FixedMedia;
    disk.busType = BusTypeAta;
    disk.capacity = 250059350016LL;
    disk.AddVolume(sim, L"\\\\?\\Volume{c}", L'C', 1000);
    disk.AddVolume(sim, L"\\\\?\\Volume{e}", L'E', 2000);

    DriveRecord& stick = AddRecord(L"Generic Flash Disk USB Device");
    stick.mediaDeviceType = FILE_DEVICE_DISK;
    stick.mediaType = RemovableMedia;
    stick.busType = BusTypeUsb;
    stick.removableMedia = true;
    stick.capacity = 0;

    DriveRecord& odd = AddRecord(L"Odd Bus Tape");
    odd.mediaDeviceType = FILE_DEVICE_TAPE;
    odd.busType = 20;  // beyond the bus table
    odd.capacity = 1474560;

    dlg.FillDriveList();
    view.statusHistory.clear();
    dlg.FillDriveList();  // replaces the rows it made before

    EXPECT_EQ(view.statusHistory, (std::vector<std::wstring>{
                                      L" Loading the drive list, please wait...", L" Ready..."}));
    EXPECT_EQ(view.waitDepth, 0);
    struct Expected {
        const wchar_t* cells[6];
        DriveRecord* data;
    };
    const Expected expected[] = {
        {{L"WDC WD2500JS", L"Fixed Disk", L"C:, E:", L"IDE", L"232.88 GB", L"Fixed"}, &disk},
        {{L"Generic Flash Disk USB Device", L"Removable Disk", L"None", L"USB", L"No Media",
          L"Removable"},
         &stick},
        {{L"Odd Bus Tape", L"Tape", L"None", L"", L"1.40 MB", L"Fixed"}, &odd},
    };
    ASSERT_EQ(view.GetItemCount(), 3);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 6; ++column)
            EXPECT_EQ(view.Text(row, column), expected[row].cells[column])
                << "row " << row << " column " << column;
        EXPECT_EQ(view.GetItemData(row), expected[row].data);
        EXPECT_EQ(expected[row].data->listItemIndex, row);
        EXPECT_FALSE(view.IsItemChecked(row)) << "new rows start unticked";
    }
}

// Boot and page-file marks against the two options. An option is on only when
// its text begins with "1"; the boot prefix wins and only HideBootDrive hides it.
TEST_F(DriveListTest, BootAndPageRowsFollowTheHideOptions) {
    struct Case {
        bool boot, page;
        const wchar_t* hideBoot;  // null: value missing
        const wchar_t* hidePage;
        const wchar_t* shownAs;  // null: hidden
    };
    const Case cases[] = {
        {true, false, nullptr, nullptr, L"(Boot) Disk"},
        {true, false, L"1", nullptr, nullptr},
        {true, false, L"10", nullptr, nullptr},
        {true, false, L"0", L"1", L"(Boot) Disk"},
        {true, false, L" 1", nullptr, L"(Boot) Disk"},
        {false, true, nullptr, nullptr, L"(Page) Disk"},
        {false, true, nullptr, L"1", nullptr},
        {false, true, L"1", L"0", L"(Page) Disk"},
        {true, true, nullptr, L"1", L"(Boot) Disk"},
        {true, true, L"1", nullptr, nullptr},
        {false, false, L"1", L"1", L"Disk"},
    };
    for (const Case& c : cases) {
        sim.DeleteRegValue(HKEY_CURRENT_USER, SettingsKey(), L"HideBootDrive");
        sim.DeleteRegValue(HKEY_CURRENT_USER, SettingsKey(), L"HidePageDrives");
        if (c.hideBoot) SetOption(L"HideBootDrive", c.hideBoot);
        if (c.hidePage) SetOption(L"HidePageDrives", c.hidePage);
        app.m_driveTable.Clear();
        AddRecord(L"Before");
        DriveRecord& marked = AddRecord(L"Disk");
        marked.isBootDrive = c.boot;
        marked.hasPageFile = c.page;
        DriveRecord& after = AddRecord(L"After");

        dlg.FillDriveList();

        const std::string label =
            "boot " + std::to_string(c.boot) + " page " + std::to_string(c.page);
        if (c.shownAs) {
            EXPECT_EQ(RowNames(), (std::vector<std::wstring>{L"Before", c.shownAs, L"After"}))
                << label;
            EXPECT_EQ(marked.listItemIndex, 1) << label;
            EXPECT_EQ(after.listItemIndex, 2) << label;
        } else {
            EXPECT_EQ(RowNames(), (std::vector<std::wstring>{L"Before", L"After"})) << label;
            EXPECT_EQ(marked.listItemIndex, -1) << label;
            EXPECT_EQ(after.listItemIndex, 1) << label;
            EXPECT_EQ(view.GetItemData(1), &after) << label;
        }
    }
}

TEST_F(DriveListTest, FailedInsertionLeavesTheRecordWithoutARow) {
    DriveRecord& first = AddRecord(L"First");
    DriveRecord& lost = AddRecord(L"Lost");
    DriveRecord& third = AddRecord(L"Third");
    view.failInsertCalls = {2};

    dlg.FillDriveList();

    EXPECT_EQ(RowNames(), (std::vector<std::wstring>{L"First", L"Third"}));
    EXPECT_EQ(first.listItemIndex, 0);
    EXPECT_EQ(lost.listItemIndex, -1);
    EXPECT_EQ(third.listItemIndex, 1);
    EXPECT_EQ(view.Text(1, 5), L"Fixed") << "the next row's cells go to its own row";
    EXPECT_EQ(view.Status(), L" Ready...");
}

// ---- Ticks, selection and the Remove button ------------------------------------

TEST_F(DriveListTest, RowChangesDriveTheRemoveButtonAndTheHint) {
    AddRecord(L"A");
    AddRecord(L"B");
    dlg.FillDriveList();
    ASSERT_TRUE(view.removeEnabled) << "the button starts enabled";

    struct Step {
        std::function<void()> act;
        bool removeEnabled;
        const wchar_t* status;
    };
    const Step steps[] = {
        {[&] { view.ClickRow(0); }, false, L"  Check the box to mark this device for removal."},
        {[&] { view.SetItemChecked(0, true); }, true, L"  Ready..."},
        {[&] { view.ClickRow(1); }, true, L"  Check the box to mark this device for removal."},
        {[&] { view.SetItemChecked(1, true); }, true, L"  Ready..."},
        {[&] { view.SetItemChecked(0, false); }, true, L"  Ready..."},
        {[&] { view.SetItemChecked(1, false); }, false,
         L"  Check the box to mark this device for removal."},
    };
    int n = 0;
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(view.removeEnabled, step.removeEnabled) << "step " << n;
        EXPECT_EQ(view.Status(), step.status) << "step " << n;
        ++n;
    }
}

TEST_F(DriveListTest, DoubleClickTogglesTheFocusedSelectedRow) {
    AddRecord(L"A");
    AddRecord(L"B");
    dlg.FillDriveList();
    view.ClickRow(1);

    EXPECT_EQ(dlg.OnListDblClk(), 0);
    EXPECT_EQ(view.CheckedRows(), std::vector<int>{1});
    EXPECT_TRUE(view.removeEnabled);
    EXPECT_EQ(view.Status(), L"  Ready...");

    dlg.OnListDblClk();
    EXPECT_TRUE(view.CheckedRows().empty());
    EXPECT_FALSE(view.removeEnabled);

    // Selected but not focused: nothing to toggle.
    view.rows[1].focused = false;
    const int before = view.notifications;
    EXPECT_EQ(dlg.OnListDblClk(), 0);
    EXPECT_TRUE(view.CheckedRows().empty());
    EXPECT_EQ(view.notifications, before);
}

TEST_F(DriveListTest, ColumnClickChangesNothing) {
    AddRecord(L"B");
    AddRecord(L"A");
    dlg.FillDriveList();
    view.SetItemChecked(1, true);
    const auto rowsBefore = RowNames();
    const auto statusBefore = view.statusHistory;

    for (int column = 0; column < 6; ++column) EXPECT_EQ(dlg.OnListColumnClick(column), 0);

    EXPECT_EQ(RowNames(), rowsBefore);
    EXPECT_EQ(view.CheckedRows(), std::vector<int>{1});
    EXPECT_EQ(view.statusHistory, statusBefore);
}

// ---- Refresh over a simulated machine --------------------------------------------

// A workstation: boot disk C:, a second disk D:, two identical USB sticks F: and G:.
struct WorkstationBench : ListBench {
    WorkstationBench() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISKWDC\\5&1", L"WDC WD800JD", 0));
        sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 40000000000LL));
        sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISKST\\5&2", L"ST3160023AS", 1));
        sim.AddVolume(SimMachine::MakeVolume(L'D', 1, 80000000000LL));
        AddStick(L"USBSTOR\\DISK&VEN_GENERIC\\AA01&0", 2, L'F');
        AddStick(L"USBSTOR\\DISK&VEN_GENERIC\\BB02&0", 3, L'G');
    }
    SimDevice& AddStick(const wchar_t* instanceId, DWORD number, wchar_t letter) {
        SimDevice stick = SimMachine::MakeDisk(instanceId, L"Generic Flash Disk USB Device", number,
                                               BusTypeUsb, 1000000000ULL);
        stick.storage.removableMedia = true;
        SimDevice& added = sim.AddDevice(stick);
        sim.AddVolume(SimMachine::MakeVolume(letter, number, 1000000000LL, DRIVE_REMOVABLE));
        return added;
    }
    int Row(const wchar_t* mountPoints) {
        for (int i = 0; i < view.GetItemCount(); ++i)
            if (view.Text(i, 2) == mountPoints) return i;
        return -1;
    }
    size_t Builds() const { return sim.CallCount("GetLogicalDriveStringsW") / 2; }
    void Start() {
        dlg.InitDriveTable();
        dlg.InitDriveList();
    }
};

struct Workstation : ::testing::Test, WorkstationBench {
    void TearDown() override { EXPECT_EQ("", sim.LeakReport()); }
};

TEST_F(Workstation, RefreshKeyKeepsTicksOfDevicesStillPresent) {
    Start();
    ASSERT_EQ(view.GetItemCount(), 4);
    view.SetItemChecked(Row(L"D:"), true);
    view.SetItemChecked(Row(L"F:"), true);

    dlg.OnRefreshKey();

    EXPECT_EQ(view.GetItemCount(), 4);
    EXPECT_EQ(view.CheckedRows(), (std::vector<int>{Row(L"D:"), Row(L"F:")}));
    EXPECT_TRUE(view.removeEnabled);
    EXPECT_EQ(view.Status(), L" Ready...");
    EXPECT_TRUE(dlg.GetSavedTicks().empty());
    EXPECT_EQ(view.waitDepth, 0);
}

// What happened to the ticked stick on F: between two refreshes, and whether
// its tick comes back.
TEST_F(Workstation, TickComesBackOnlyOnTheSameDeviceInTheSameState) {
    struct Case {
        const char* change;
        std::function<void(SimMachine&)> apply;
        bool ticked;
    };
    const Case cases[] = {
        {"nothing", [](SimMachine&) {}, true},
        {"friendly name",
         [](SimMachine& m) {
             m.FindDevice(L"USBSTOR\\DISK&VEN_GENERIC\\AA01&0")->friendlyName = L"Renamed";
         },
         false},
        {"media changed (capacity)",
         [](SimMachine& m) {
             m.FindDevice(L"USBSTOR\\DISK&VEN_GENERIC\\AA01&0")->storage.geometry.cylinders += 1;
         },
         false},
        {"volume added",
         [](SimMachine& m) {
             m.AddVolume(SimMachine::MakeVolume(L'H', 2, 5000000LL, DRIVE_REMOVABLE));
         },
         false},
        {"first volume resized", [](SimMachine& m) { m.FindVolume(L'F')->extents[0].length = 999; },
         false},
        {"letter changed", [](SimMachine& m) { m.FindVolume(L'F')->letter = L'K'; }, false},
        {"unplugged",
         [](SimMachine& m) {
             m.FindDevice(L"USBSTOR\\DISK&VEN_GENERIC\\AA01&0")->present = false;
             m.FindVolume(L'F')->present = false;
         },
         false},
    };
    for (const Case& c : cases) {
        WorkstationBench fresh;
        fresh.Start();
        const int row = fresh.Row(L"F:");
        ASSERT_GE(row, 0);
        fresh.view.SetItemChecked(row, true);

        c.apply(fresh.sim);
        fresh.dlg.RefreshDriveList();

        bool ticked = false;
        for (int r : fresh.view.CheckedRows())
            ticked = ticked || fresh.view.GetItemData(r)->deviceNumber == 2;
        EXPECT_EQ(ticked, c.ticked) << c.change;
        EXPECT_EQ(fresh.view.CheckedRows().size(), c.ticked ? 1u : 0u) << c.change;
        EXPECT_EQ(fresh.view.removeEnabled, c.ticked) << c.change;
        EXPECT_EQ("", fresh.sim.LeakReport()) << c.change;
    }
}

// Two identical sticks share their name; each tick belongs to its own device.
TEST_F(Workstation, TicksOnTwoIdenticalSticksSurviveARefresh) {
    struct Case {
        std::vector<const wchar_t*> ticked;
    };
    const Case cases[] = {{{L"G:"}}, {{L"F:"}}, {{L"F:", L"G:"}}};
    for (const Case& c : cases) {
        WorkstationBench fresh;
        fresh.Start();
        std::vector<int> expected;
        for (const wchar_t* letter : c.ticked) {
            fresh.view.SetItemChecked(fresh.Row(letter), true);
            expected.push_back(fresh.Row(letter));
        }

        fresh.dlg.OnRefreshKey();
        fresh.dlg.OnRefreshKey();

        EXPECT_EQ(fresh.view.CheckedRows(), expected) << c.ticked.size() << " ticked";
        EXPECT_EQ(fresh.view.Text(expected.back(), 0), L"Generic Flash Disk USB Device");
    }
}

TEST_F(Workstation, TickOnAHiddenDeviceIsNotRestored) {
    SetOption(L"HidePageDrives", L"1");
    sim.SetRegMultiString(HKEY_LOCAL_MACHINE,
                          L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
                          L"PagingFiles", {L"D:\\pagefile.sys 512 1024"});
    Start();
    ASSERT_EQ(Row(L"D:"), -1) << "the page-file disk starts hidden";
    SetOption(L"HidePageDrives", L"0");
    dlg.RefreshDriveList();
    view.SetItemChecked(Row(L"D:"), true);

    SetOption(L"HidePageDrives", L"1");
    dlg.RefreshDriveList();
    EXPECT_EQ(Row(L"D:"), -1);
    EXPECT_TRUE(view.CheckedRows().empty());

    SetOption(L"HidePageDrives", L"0");
    dlg.RefreshDriveList();
    EXPECT_GE(Row(L"D:"), 0);
    EXPECT_TRUE(view.CheckedRows().empty()) << "it comes back unticked";
}

TEST_F(Workstation, MoreTicksThanAHundredAreAllKept) {
    for (DWORD n = 10; n < 130; ++n) {
        const std::wstring id = L"SCSI\\DISK\\" + std::to_wstring(n);
        sim.AddDevice(SimMachine::MakeDisk(id, L"Array Disk " + std::to_wstring(n), n));
    }
    Start();
    ASSERT_EQ(view.GetItemCount(), 124);
    for (int row = 0; row < view.GetItemCount(); ++row) view.SetItemChecked(row, true);

    dlg.RefreshDriveList();

    EXPECT_EQ(view.CheckedRows().size(), 124u);
}

// A refresh costs what its rows cost: the list is drawn once, the row
// changes the program makes itself (new rows' boxes, as Windows reports
// them, and restored ticks) put no text on the status line each, and the
// ticks are read in a few walks over the rows, not one per row.
TEST_F(Workstation, RefreshWalksTheRowsABoundedNumberOfTimes) {
    view.notifyOnInsert = true;
    for (DWORD n = 10; n < 410; ++n) {
        const std::wstring id = L"SCSI\\DISK\\" + std::to_wstring(n);
        sim.AddDevice(SimMachine::MakeDisk(id, L"Array Disk " + std::to_wstring(n % 7), n));
    }
    Start();
    const int rows = view.GetItemCount();
    ASSERT_EQ(rows, 404);
    for (int row = 0; row < rows; row += 2) view.SetItemChecked(row, true);
    view.statusHistory.clear();
    view.tickReads = 0;
    view.listUpdates = 0;

    dlg.OnRefreshKey();

    EXPECT_EQ(view.CheckedRows().size(), 202u);
    EXPECT_TRUE(view.removeEnabled);
    EXPECT_EQ(view.statusHistory,
              (std::vector<std::wstring>{L" Loading the drive list, please wait...", L" Ready...",
                                         L"  Ready...", L" Ready..."}));
    EXPECT_LE(view.tickReads, 4 * rows);
    EXPECT_EQ(view.listUpdates, 1);
    EXPECT_EQ(view.updateDepth, 0);
}

TEST_F(Workstation, ClearedGuardLeavesListTicksStatusAndTableAlone) {
    Start();
    view.SetItemChecked(Row(L"F:"), true);
    view.SetStatusText(L"  Removing devices...");
    const DriveRecord* record = app.m_driveTable.FindByDeviceName(L"WDC WD800JD");
    sim.AddDevice(SimMachine::MakeDisk(L"IDE\\NEW\\1", L"New Disk", 9));
    const auto rows = RowNames();
    const auto status = view.statusHistory;
    const size_t callsBefore = sim.CallCount();

    app.m_bRefreshAllowed = false;
    dlg.RefreshDriveList();
    dlg.FillDriveList();
    dlg.OnRefreshKey();

    EXPECT_EQ(RowNames(), rows);
    EXPECT_EQ(view.CheckedRows(), std::vector<int>{Row(L"F:")});
    EXPECT_EQ(view.GetItemData(0), record) << "the rows still point to the same records";
    EXPECT_EQ(app.m_driveTable.FindByDeviceName(L"WDC WD800JD"), record);
    EXPECT_EQ(view.statusHistory, status) << "the key is refused: the command's text stays";
    ASSERT_EQ(sim.CallCount(), callsBefore + 1) << "only the refusal's beep";
    EXPECT_EQ(sim.Calls().back().method, "MessageBeep");
    EXPECT_TRUE(dlg.GetSavedTicks().empty());
}

// A device-change notification delivered inside a message box of the build
// asks for a refresh in the middle of one. It must not run there (the rows
// point to records the outer build has destroyed); it runs once afterwards.
TEST_F(Workstation, RefreshAskedForInsideABuildRunsOnceAfterIt) {
    SimDevice flaky = SimMachine::MakeDisk(L"IDE\\FLAKY\\1", L"Flaky Disk", 7);
    flaky.storage.ioctlErrors[IOCTL_STORAGE_GET_MEDIA_TYPES_EX] = ERROR_IO_DEVICE;
    Start();
    view.SetItemChecked(Row(L"G:"), true);
    sim.AddDevice(flaky);

    int boxes = 0;
    sim.messageBoxHook = [&](const SimMessageBox&) {
        ++boxes;
        if (boxes == 1) sim.AddDevice(SimMachine::MakeDisk(L"IDE\\LATE\\1", L"Late Disk", 8));
        dlg.RefreshDriveList();  // what the arrival handler does
        return 0;
    };
    const size_t buildsBefore = Builds();

    dlg.RefreshDriveList();

    EXPECT_EQ(Builds() - buildsBefore, 2u) << "the outer build and one more, never nested";
    EXPECT_EQ(boxes, 2);
    EXPECT_NE(app.m_driveTable.FindByDeviceName(L"Late Disk"), nullptr);
    EXPECT_EQ(view.GetItemCount(), 6);
    EXPECT_EQ(view.CheckedRows(), std::vector<int>{Row(L"G:")});
    for (int row = 0; row < view.GetItemCount(); ++row)
        EXPECT_EQ(view.GetItemData(row), &app.m_driveTable.At(row));
    EXPECT_EQ(view.waitDepth, 0);

    // The request made during the extra pass is still owed and runs next time.
    EXPECT_TRUE(app.m_bRefreshPending);
    sim.messageBoxHook = nullptr;
    dlg.RefreshDriveList();
    EXPECT_FALSE(app.m_bRefreshPending);
}

}  // namespace
