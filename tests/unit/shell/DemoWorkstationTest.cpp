// The demo workstation that Trayhop32Demo.exe carries built in: it must load,
// show every kind of drive it was made for, and let the flows a newcomer
// tries (ticks across a refresh, a scan that finds a new disk) work.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"
#include "tests/unit/support/MachineFiles.h"

#include <filesystem>
#include <string>

namespace {

struct MachineFileTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    CTrayhop32Dlg dlg{app, view};

    void Open(const char* name) {
        std::string error;
        ASSERT_TRUE(LoadSimMachineFromFile(sim, MachineFile(name), error)) << error;
        view.Connect(dlg);
        dlg.InitDriveTable();
        dlg.InitDriveList();
    }
    void TearDown() override { EXPECT_EQ("", sim.LeakReport()); }

    int RowOf(const std::wstring& mountPoints) const {
        for (size_t i = 0; i < view.rows.size(); ++i)
            if (view.rows[i].text[2] == mountPoints) return static_cast<int>(i);
        return -1;
    }
};

struct DemoWorkstationTest : MachineFileTest {
    void SetUp() override { Open("demo-workstation.json"); }
};

// Today's desktop: a volume mounted only in a folder, one with a letter and
// a folder, a volume spanned over two disks, a floppy drive on A: and a
// stick given B:.
struct MountedVolumesMachineTest : MachineFileTest {
    void SetUp() override { Open("mounted-volumes.json"); }
};

TEST_F(MountedVolumesMachineTest, ListsFoldersTheSpannedVolumeOnBothDisksAndTheStickOnB) {
    const std::vector<std::vector<std::wstring>> expected = {
        {L"(Boot) Samsung SSD 970 EVO Plus 1TB", L"C:", L"NVMe"},
        {L"WD Elements 25A2 USB Device", L"C:\\Backup\\", L"USB"},
        {L"Seagate Expansion HDD USB Device", L"E:, C:\\Media\\", L"USB"},
        {L"Samsung PSSD T7 USB Device", L"S:", L"USB"},
        {L"SanDisk Extreme SSD USB Device", L"S:", L"USB"},
        {L"Kingston DataTraveler 3.0 USB Device", L"B:", L"USB"},
    };
    ASSERT_EQ(expected.size(), view.rows.size());
    for (size_t row = 0; row < expected.size(); ++row) {
        EXPECT_EQ(expected[row][0], view.rows[row].text[0]);
        EXPECT_EQ(expected[row][1], view.rows[row].text[2]);
        EXPECT_EQ(expected[row][2], view.rows[row].text[3]);
    }
}

TEST_F(DemoWorkstationTest, ShowsEveryKindOfDriveInTableOrder) {
    const std::vector<std::vector<std::wstring>> expected = {
        {L"(Boot) WDC WD2500AAKS-00B3A0", L"Fixed Disk", L"C:", L"SCSI", L"232.88 GB", L"Fixed"},
        {L"Maxtor 6L160M0", L"Fixed Disk", L"D:, E:", L"IDE", L"152.66 GB", L"Fixed"},
        {L"SanDisk Cruzer Micro USB Device", L"Removable Disk", L"F:", L"USB", L"980.52 MB",
         L"Removable"},
        {L"SanDisk Cruzer Micro USB Device", L"Removable Disk", L"G:", L"USB", L"980.52 MB",
         L"Removable"},
        {L"Generic USB SD Reader USB Device", L"Removable Disk", L"J:", L"USB", L"No Media",
         L"Removable"},
        {L"Maxtor OneTouch II 1394 SBP2 Device", L"Fixed Disk", L"H:", L"1394", L"279.47 GB",
         L"Fixed"},
        {L"HL-DT-ST DVDRAM GSA-H10N", L"DVD-ROM", L"I:", L"ATAPI", L"4.38 GB", L"Removable"},
        {L"HP C5683A SCSI Sequential Device", L"DDS 4mm Tape", L"None", L"SCSI", L"18.62 GB",
         L"Removable"},
    };
    ASSERT_EQ(expected.size(), view.rows.size());
    for (size_t row = 0; row < expected.size(); ++row)
        for (size_t column = 0; column < 6; ++column)
            EXPECT_EQ(expected[row][column], view.rows[row].text[column])
                << "row " << row << ", column " << column;
    EXPECT_EQ(L" Ready...", view.statusHistory.back());
}

TEST_F(DemoWorkstationTest, BothIdenticalSticksKeepTheirTicksAcrossTheRefreshKey) {
    const int first = RowOf(L"F:"), second = RowOf(L"G:");
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    view.SetItemChecked(second, true);
    dlg.OnRefreshKey();
    EXPECT_FALSE(view.IsItemChecked(RowOf(L"F:")));
    EXPECT_TRUE(view.IsItemChecked(RowOf(L"G:")));

    view.SetItemChecked(RowOf(L"F:"), true);
    dlg.OnRefreshKey();
    EXPECT_TRUE(view.IsItemChecked(RowOf(L"F:")));
    EXPECT_TRUE(view.IsItemChecked(RowOf(L"G:")));
    EXPECT_TRUE(view.removeEnabled);
}

TEST_F(DemoWorkstationTest, ScanFindsTheAttachedExternalDisk) {
    EXPECT_EQ(-1, RowOf(L"K:"));
    dlg.OnScanForDevices();
    sim.PumpMessages();
    const int row = RowOf(L"K:");
    ASSERT_GE(row, 0);
    EXPECT_EQ(L"WD 5000BEV External USB Device", view.rows[row].text[0]);
    EXPECT_EQ(9u, view.rows.size());
}

// One stick is held by two programs, two services and a program run from it,
// and an antivirus cannot be looked into, so a user trying the demo sees
// each kind named or counted.
TEST_F(DemoWorkstationTest, TheHeldStickNamesItsHoldersUnderTheQuestion) {
    view.SetItemChecked(RowOf(L"G:"), true);
    dlg.OnRemoveDevices();  // the question is answered with Cancel
    ASSERT_EQ(1u, sim.messageBoxes.size());
    const std::wstring& text = sim.messageBoxes[0].text;
    EXPECT_EQ(0u, text.rfind(L"Files are in use on drive G: of device:", 0));
    EXPECT_EQ(text.substr(text.find(L"\n\nThese programs")),
              L"\n\nThese programs have files or folders open on drive G:\n"
              L"explorer.exe (1704): G:\\Holiday Photos\n"
              L"PortableNotes.exe (4188): G:\\PortableApps\\PortableNotes.exe\n"
              L"SearchIndexer.exe (3120, service WSearch): G:\\System Volume "
              L"Information\\IndexerVolumeGuid\n"
              L"svchost.exe (1288, services ShellHWDetection, StorSvc): G:\\\n"
              L"WINWORD.EXE (2316): G:\\Quarterly Report.doc\n"
              L"1 other program could not be examined.");
}

// The card reader's slot is empty: nothing can be open on J:, so the reader
// is removed without a question.
TEST_F(DemoWorkstationTest, TheEmptyCardReaderIsRemovedWithoutAQuestion) {
    view.SetItemChecked(RowOf(L"J:"), true);
    dlg.OnRemoveDevices();
    ASSERT_EQ(1u, sim.messageBoxes.size());
    EXPECT_EQ(0u,
              sim.messageBoxes[0].text.rfind(L"The following device was successfully removed:", 0));
    EXPECT_EQ(-1, RowOf(L"J:"));
}

}  // namespace
