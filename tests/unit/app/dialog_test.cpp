#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "inventory/DriveRecord.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"

#include <optional>
#include <string>
#include <vector>

namespace {

struct MainWindowTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    std::optional<CTrayhop32Dlg> dlg;

    MainWindowTest() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISKWDC\\5&1", L"WDC WD800JD", 0));
        sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 40000000000LL));
        sim.AddDevice(SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_X\\1", L"X Stick", 1, BusTypeUsb,
                                           2000000000ULL));
        sim.AddVolume(SimMachine::MakeVolume(L'E', 1, 2000000000LL, DRIVE_REMOVABLE));
        dlg.emplace(app, view);
        view.Connect(*dlg);
    }
    void TearDown() override { EXPECT_EQ("", sim.LeakReport()); }
    size_t Builds() const { return sim.CallCount("GetLogicalDriveStringsW") / 2; }
};

TEST_F(MainWindowTest, InitialisationAllowsRefreshesBuildsAndFills) {
    app.m_bRefreshAllowed = false;  // as a command left it, to show initialisation sets it

    dlg->InitDriveTable();
    EXPECT_TRUE(app.m_bRefreshAllowed);
    EXPECT_EQ(app.m_driveTable.Count(), 2);
    EXPECT_EQ(view.GetItemCount(), 0) << "the list is filled after its columns exist";

    dlg->InitDriveList();
    ASSERT_EQ(view.GetItemCount(), 2);
    EXPECT_EQ(view.Text(0, 0), L"(Boot) WDC WD800JD");
    EXPECT_EQ(view.Text(1, 2), L"E:");
    EXPECT_EQ(view.Status(), L" Ready...");
    EXPECT_TRUE(view.removeEnabled) << "no row has changed yet";
    EXPECT_EQ(Builds(), 1u);
    EXPECT_EQ(view.waitDepth, 0);
    EXPECT_GT(view.waitCursorShown, 0);
}

TEST_F(MainWindowTest, BuildsShowTheWindowsWaitCursorWhileItExists) {
    EXPECT_EQ(app.m_pUserInterface, &view);
    dlg.reset();
    EXPECT_EQ(app.m_pUserInterface, nullptr);
}

TEST_F(MainWindowTest, DeviceChangeDuringTheFirstBuildRefreshesOnceAfterTheFill) {
    SimDevice flaky = SimMachine::MakeDisk(L"IDE\\FLAKY\\1", L"Flaky Disk", 5);
    flaky.storage.ioctlErrors[IOCTL_STORAGE_GET_MEDIA_TYPES_EX] = ERROR_IO_DEVICE;
    sim.AddDevice(flaky);
    int requests = 0;
    sim.messageBoxHook = [&](const SimMessageBox&) {
        // Only the first box asks, as one arrival would.
        if (requests++ == 0) dlg->RefreshDriveList();
        return 0;
    };

    dlg->InitDriveTable();
    EXPECT_EQ(Builds(), 1u) << "not run inside the build";
    dlg->InitDriveList();

    EXPECT_EQ(Builds(), 2u);
    EXPECT_FALSE(app.m_bRefreshPending);
    EXPECT_EQ(view.GetItemCount(), 3);
    EXPECT_EQ(view.waitDepth, 0);
}

// ---- Help ----------------------------------------------------------------

TEST(HelpContext, TheFirstDialogUpTheFocusChainDecides) {
    struct Case {
        const char* situation;
        std::vector<UINT> chain;
        UINT lastActive;
        DWORD context;
    };
    const Case cases[] = {
        {"a control of the main window", {0, kMainDialogTemplate}, 0, 131174},
        {"the About box's OK button", {0, kAboutDialogTemplate, kMainDialogTemplate}, 0, 131181},
        {"the About box itself", {kAboutDialogTemplate}, 0, 131181},
        {"a control of Configuration", {0, 0, kConfigDialogTemplate}, kAboutDialogTemplate, 133498},
        {"focus outside the program, About last active", {0, 0}, kAboutDialogTemplate, 131181},
        {"no focus, no dialog open", {}, 0, 131174},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseHelpContext(c.chain, c.lastActive), c.context) << c.situation;
    EXPECT_EQ(HelpContextForTemplate(kAboutDialogTemplate), 0x2006Du);
}

TEST_F(MainWindowTest, HelpOpensTheFileBesideTheProgramAtTheContext) {
    dlg->OnHelp(131181);

    ASSERT_EQ(sim.helpCalls.size(), 1u);
    EXPECT_EQ(sim.helpCalls[0].file, L"C:\\Program Files\\Quenwell\\Trayhop32\\Trayhop32.CHM");
    EXPECT_EQ(sim.helpCalls[0].command, static_cast<UINT>(HH_HELP_CONTEXT));
    EXPECT_EQ(sim.helpCalls[0].data, 131181u);
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(MainWindowTest, HelpThatCannotStartSaysSoAndChangesNothingElse) {
    dlg->InitDriveTable();
    dlg->InitDriveList();
    view.SetItemChecked(0, true);
    const auto status = view.statusHistory;
    sim.htmlHelpFails = true;
    sim.modulePath = L"D:\\Tools\\Trayhop32.exe";

    dlg->OnHelp(131174);

    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text, L"Failed to launch help.");
    EXPECT_EQ(sim.messageBoxes[0].caption, L"Trayhop32");
    EXPECT_EQ(sim.messageBoxes[0].flags & 0xF, static_cast<UINT>(MB_OK));
    EXPECT_EQ(sim.helpCalls.at(0).file, L"D:\\Tools\\Trayhop32.CHM");
    EXPECT_EQ(view.statusHistory, status);
    EXPECT_EQ(view.CheckedRows(), std::vector<int>{0});
}

}  // namespace
