// The Remove Devices command over the simulated machine: the lock-test
// questions and their answers, the removal pass, the report, the refresh
// guard, and that a drive is only reported safe to pull when it is gone.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "inventory/DriveRecord.h"
#include "platform/sim/SimMachine.h"
#include "removal/RemoveCommand.h"
#include "tests/unit/inventory/InventoryMachines.h"
#include "tests/unit/support/FakeMainView.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

const wchar_t* const kBootId = L"IDE\\DISKWDC\\5&1";
const wchar_t* const kStickOneId = L"USBSTOR\\DISK&VEN_A\\1";
const wchar_t* const kStickTwoId = L"USBSTOR\\DISK&VEN_B\\2";
const wchar_t* const kDataId = L"IDE\\DISKDATA\\5&2";

std::wstring FilesInUse(wchar_t letter, const std::wstring& name) {
    std::wstring l(1, letter);
    return L"Files are in use on drive " + l + L": of device:\n\n" + name +
           L"\n\nMake sure Explorer is not open to a folder on drive " + l +
           L":,\nclose files in other applications that may be open on drive " + l +
           L":,\nthen press the 'Try Again' button.  To ignore this error and\ntry to remove "
           L"this device anyway, press the 'Continue' button,     \nor press the 'Cancel' "
           L"button to stop trying to remove devices.\n\n";
}

struct RemoveCommandTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    std::optional<CTrayhop32Dlg> dlg;

    // Rows in list order: the boot disk (C:, page file on C:), a data disk
    // (D:, page file), stick A (E:), stick B (F: and G:).
    RemoveCommandTest() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        sim.SetRegMultiString(HKEY_LOCAL_MACHINE,
                              L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory "
                              L"Management",
                              L"PagingFiles", {L"D:\\pagefile.sys 512 1024"});
        sim.AddDevice(SimMachine::MakeDisk(kBootId, L"WDC WD800JD", 0));
        sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 40000000000LL));
        sim.AddDevice(SimMachine::MakeDisk(kDataId, L"Data Disk", 1));
        sim.AddVolume(SimMachine::MakeVolume(L'D', 1, 40000000000LL));
        sim.AddDevice(SimMachine::MakeDisk(kStickOneId, L"Stick A", 2, BusTypeUsb, 2000000000ULL));
        sim.AddVolume(SimMachine::MakeVolume(L'E', 2, 2000000000LL, DRIVE_REMOVABLE));
        sim.AddDevice(SimMachine::MakeDisk(kStickTwoId, L"Stick B", 3, BusTypeUsb, 4000000000ULL));
        sim.AddVolume(SimMachine::MakeVolume(L'F', 3, 2000000000LL, DRIVE_REMOVABLE));
        sim.AddVolume(SimMachine::MakeVolume(L'G', 3, 2000000000LL, DRIVE_REMOVABLE));
        dlg.emplace(app, view);
        view.Connect(*dlg);
        // The window's waits take the machine's time with them.
        view.onPump = [this](DWORD milliseconds) {
            sim.tickCount += milliseconds;
            return true;
        };
        dlg->InitDriveTable();
        dlg->InitDriveList();
    }
    void TearDown() override {
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_TRUE(app.m_bRefreshAllowed) << "every path ends with refreshes allowed";
        EXPECT_EQ(view.waitDepth, 0);
        EXPECT_EQ(view.Status(), L" Ready...");
    }

    int RowOf(const std::wstring& name) {
        for (int i = 0; i < view.GetItemCount(); ++i)
            if (view.Text(i, 0).find(name) != std::wstring::npos) return i;
        ADD_FAILURE() << "no row for the device";
        return -1;
    }
    void Tick(const std::wstring& name) { view.SetItemChecked(RowOf(name), true); }
    bool Listed(const std::wstring& name) {
        for (int i = 0; i < view.GetItemCount(); ++i)
            if (view.Text(i, 0).find(name) != std::wstring::npos) return true;
        return false;
    }
    // Out of the running system: the sim no longer knows the device.
    bool Gone(const std::wstring& id) { return sim.FindDevice(id) == nullptr; }
    size_t Builds() const { return sim.CallCount("GetLogicalDriveStringsW") / 2; }
    std::vector<std::wstring> BoxTexts() const {
        std::vector<std::wstring> texts;
        for (const auto& box : sim.messageBoxes) texts.push_back(box.text);
        return texts;
    }
    std::vector<std::wstring> NoticePaths() const {
        std::vector<std::wstring> paths;
        for (const auto& notice : sim.shellNotices) {
            EXPECT_EQ(notice.eventId, SHCNE_DRIVEREMOVED);
            EXPECT_EQ(notice.flags, static_cast<UINT>(SHCNF_PATHW));
            paths.push_back(notice.path);
        }
        return paths;
    }
};

TEST_F(RemoveCommandTest, OneStickRemovedIsReportedInTheSingularAndTheShellTold) {
    Tick(L"Stick B");
    const size_t buildsBefore = Builds();

    dlg->OnRemoveDevices();

    EXPECT_TRUE(Gone(kStickTwoId));
    EXPECT_FALSE(Gone(kStickOneId));
    EXPECT_EQ(NoticePaths(), (std::vector<std::wstring>{L"F:\\", L"G:\\"}));
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text,
              L"The following device was successfully removed:    \n\nStick B\n\n\nIt is safe to "
              L"power it down and remove it.");
    EXPECT_EQ(sim.messageBoxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(Builds() - buildsBefore, 2u) << "refreshed before and after the summary";
    EXPECT_FALSE(Listed(L"Stick B"));
    // The command's own texts, in order, among those of the list refreshes.
    const std::vector<std::wstring> expected = {
        L" Removing selected drives, please wait...",
        L" Trying to get an exclusive lock on device Stick B",
        L" Attempting to remove Stick B, please wait...",
        L" All selected devices have been processed", L" Ready..."};
    auto at = view.statusHistory.begin();
    for (const auto& text : expected) {
        at = std::find(at, view.statusHistory.end(), text);
        ASSERT_NE(at, view.statusHistory.end()) << "missing or out of order";
    }
}

TEST_F(RemoveCommandTest, TwoSticksAreReportedInTheirRowOrderInThePlural) {
    Tick(L"Stick B");
    Tick(L"Stick A");
    dlg->OnRemoveDevices();
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text,
              L"The following devices were successfully removed:    \n\nStick A\nStick B\n\n\nIt "
              L"is safe to power them down and remove them.");
    EXPECT_EQ(NoticePaths(), (std::vector<std::wstring>{L"E:\\", L"F:\\", L"G:\\"}));
}

TEST_F(RemoveCommandTest, NothingTickedBeepsPausesAndNeverRefreshes) {
    const size_t buildsBefore = Builds();
    dlg->OnRemoveDevices();
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_EQ(sim.beeps, (std::vector<UINT>{MB_ICONEXCLAMATION}));
    EXPECT_EQ(sim.sleeps, (std::vector<DWORD>{2000}));
    EXPECT_EQ(Builds(), buildsBefore);
    ASSERT_GE(view.statusHistory.size(), 2u);
    EXPECT_EQ(view.statusHistory[view.statusHistory.size() - 2],
              L" No drives selected. You must check the box to select the device.");
}

// One ticked stick whose volume has files open, answered in turn.
struct LockAnswerCase {
    const char* name;
    std::vector<int> answers;
    size_t boxes;      // message boxes shown, the report included
    bool attempted;    // the removal was asked of the device installer
    size_t lockTries;  // lock tests made
};

class FilesInUseAnswers : public RemoveCommandTest,
                          public ::testing::WithParamInterface<LockAnswerCase> {};

TEST_P(FilesInUseAnswers, DecideTheDevice) {
    const LockAnswerCase& c = GetParam();
    sim.FindVolume(L'E')->filesOpen = true;
    Tick(L"Stick A");
    for (int answer : c.answers) sim.messageBoxAnswers.push_back(answer);
    const size_t buildsBefore = Builds();

    dlg->OnRemoveDevices();

    ASSERT_EQ(sim.messageBoxes.size(), c.boxes);
    for (size_t i = 0; i < c.answers.size(); ++i) {
        EXPECT_EQ(sim.messageBoxes[i].text, FilesInUse(L'E', L"Stick A"));
        EXPECT_EQ(sim.messageBoxes[i].flags,
                  static_cast<UINT>(MB_CANCELTRYCONTINUE | MB_ICONQUESTION));
    }
    // With its files still open the installer leaves the stick in place
    // until a reboot, and the report says so instead of calling it safe.
    EXPECT_FALSE(Gone(kStickOneId));
    EXPECT_EQ(sim.CallCount("SetupDiCallClassInstaller") > 0, c.attempted);
    if (c.attempted) {
        EXPECT_EQ(sim.messageBoxes.back().text.rfind(L"One of the devices you requested", 0), 0u);
    }
    size_t tries = 0;
    for (const auto& s : view.statusHistory)
        if (s == L" Trying to get an exclusive lock on device Stick A") ++tries;
    EXPECT_EQ(tries, c.lockTries);
    // Every try, Try Again's included, waits out the retries before asking.
    EXPECT_EQ(view.pumps.size(),
              c.lockTries * (kLockRetryMilliseconds / kLockRetryIntervalMilliseconds));
    const bool cancelled = c.answers.back() == IDCANCEL;
    EXPECT_EQ(Builds() - buildsBefore, cancelled ? 0u : 2u);
    if (cancelled) {
        EXPECT_TRUE(sim.shellNotices.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    RemoveCommand, FilesInUseAnswers,
    ::testing::Values(LockAnswerCase{"Continue", {IDCONTINUE}, 2, true, 1},
                      LockAnswerCase{"TryAgainTwiceThenContinue",
                                     {IDTRYAGAIN, IDTRYAGAIN, IDCONTINUE}, 4, true, 3},
                      LockAnswerCase{"Cancel", {IDCANCEL}, 1, false, 1},
                      LockAnswerCase{"TryAgainThenCancel", {IDTRYAGAIN, IDCANCEL}, 2, false, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// The shell or an indexer lets go of the volume a moment after the lock is
// asked for: the lock is tried again while the window keeps painting.
TEST_F(RemoveCommandTest, AVolumeThatLetsGoAfterTwoRefusalsGetsNoQuestion) {
    sim.FindVolume(L'E')->lockRefusals = 2;
    Tick(L"Stick A");
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(kStickOneId));
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{
                              L"The following device was successfully removed:    \n\nStick "
                              L"A\n\n\nIt is safe to power it down and remove it."}));
    EXPECT_EQ(view.pumps, (std::vector<DWORD>{300, 300}));
    EXPECT_EQ(std::count(view.statusHistory.begin(), view.statusHistory.end(),
                         L" Waiting for drive E: of device Stick A to be released..."),
              1);
}

TEST_F(RemoveCommandTest, AVolumeThatStaysHeldIsAskedAboutOnceTheRetriesAreSpent) {
    sim.FindVolume(L'E')->filesOpen = true;
    Tick(L"Stick A");
    const DWORD pressed = sim.tickCount;
    DWORD askedAfter = 0;
    sim.messageBoxHook = [&](const SimMessageBox&) {
        askedAfter = sim.tickCount - pressed;
        return IDCANCEL;
    };
    dlg->OnRemoveDevices();
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text, FilesInUse(L'E', L"Stick A"));
    EXPECT_GT(askedAfter, kLockRetryMilliseconds - kLockRetryIntervalMilliseconds);
    EXPECT_LE(askedAfter, kLockRetryMilliseconds);
    for (DWORD wait : view.pumps) EXPECT_TRUE(wait >= 200 && wait <= 500) << wait;
}

// Closing the window while the lock is tried again ends the command as
// Cancel would: nothing is removed and no question is left to answer.
TEST_F(RemoveCommandTest, ClosingTheWindowWhileWaitingStopsTheCommand) {
    sim.FindVolume(L'E')->lockRefusals = 5;
    Tick(L"Stick A");
    Tick(L"Stick B");
    view.onPump = [](DWORD) { return false; };
    const size_t buildsBefore = Builds();
    dlg->OnRemoveDevices();
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_FALSE(Gone(kStickOneId));
    EXPECT_FALSE(Gone(kStickTwoId));
    EXPECT_EQ(view.pumps.size(), 1u);
    EXPECT_EQ(Builds(), buildsBefore);
}

// A stick whose volume BitLocker has not unlocked: every open that asks for
// access is refused, so nothing can be open on it and it goes like an empty
// card reader, its letter still announced as gone.
TEST_F(RemoveCommandTest, ABitLockerLockedStickIsRemovedWithoutAQuestion) {
    sim.FindVolume(L'E')->bitLockerLocked = true;
    dlg->RefreshDriveList();
    EXPECT_EQ(view.Text(RowOf(L"Stick A"), 2), L"E:");
    Tick(L"Stick A");
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(kStickOneId));
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{
                              L"The following device was successfully removed:    \n\nStick "
                              L"A\n\n\nIt is safe to power it down and remove it."}));
    EXPECT_TRUE(view.pumps.empty());
    EXPECT_EQ(sim.CallCount("FlushFileBuffers"), 0u);
    EXPECT_EQ(NoticePaths(), (std::vector<std::wstring>{L"E:\\"}));
}

TEST_F(RemoveCommandTest, TryAgainSucceedsOnceTheFilesAreClosed) {
    sim.FindVolume(L'E')->filesOpen = true;
    Tick(L"Stick A");
    sim.messageBoxHook = [this](const SimMessageBox& box) {
        if (box.flags == static_cast<UINT>(MB_CANCELTRYCONTINUE | MB_ICONQUESTION)) {
            sim.FindVolume(L'E')->filesOpen = false;  // the user closed the files
            return IDTRYAGAIN;
        }
        return 0;
    };
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(kStickOneId));
    EXPECT_EQ(sim.messageBoxes.size(), 2u);
}

// The programs holding the drive go under the unchanged question; Try Again
// looks again, and once they have closed their files the stick goes.
TEST_F(RemoveCommandTest, FilesInUseQuestionNamesTheProgramsHoldingTheDrive) {
    sim.AddProcess({2000, L"notepad.exe", {{L'E', L"\\May.txt", false, false}}, false});
    sim.AddProcess({3000, L"explorer.exe", {{L'E', L"\\Photos", true, false}}, false});
    sim.AddProcess({4000, L"WINWORD.EXE", {{L'F', L"\\Report.doc", false, false}}, false});
    Tick(L"Stick A");
    sim.messageBoxHook = [this](const SimMessageBox& box) {
        if (box.flags != static_cast<UINT>(MB_CANCELTRYCONTINUE | MB_ICONQUESTION)) return 0;
        if (sim.messageBoxes.size() == 1) sim.EndProcess(2000);
        if (sim.messageBoxes.size() == 2) sim.EndProcess(3000);
        return IDTRYAGAIN;
    };

    dlg->OnRemoveDevices();

    const std::wstring heading = L"These programs have files or folders open on drive E:";
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{
                              FilesInUse(L'E', L"Stick A") + heading +
                                  L"\nexplorer.exe (3000): E:\\Photos\nnotepad.exe (2000): "
                                  L"E:\\May.txt",
                              FilesInUse(L'E', L"Stick A") + heading +
                                  L"\nexplorer.exe (3000): E:\\Photos",
                              L"The following device was successfully removed:    \n\nStick "
                              L"A\n\n\nIt is safe to power it down and remove it."}));
    EXPECT_TRUE(Gone(kStickOneId));
}

TEST_F(RemoveCommandTest, AccessDeniedOnTheSecondDeviceStopsBeforeAnyRemoval) {
    Tick(L"Stick A");
    Tick(L"Stick B");
    sim.FindVolume(L'F')->openAccessDenied = true;
    const size_t buildsBefore = Builds();

    dlg->OnRemoveDevices();

    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(sim.messageBoxes[0].text,
              L"'Access Denied Error' because of insufficient security privileges.     \n\nUnable "
              L"to remove device:\n\nStick B\n\nYou do not have sufficient hardware uninstall "
              L"security privileges to\nbe able to remove drive F: from the system. Please "
              L"contact your\nsite administrator and ask them to change your security "
              L"privileges,\nor logout of this account and logon back in using an account "
              L"that\nhas administrator privileges.\n");
    EXPECT_FALSE(Gone(kStickOneId)) << "the first passed but stays";
    EXPECT_FALSE(Gone(kStickTwoId));
    EXPECT_EQ(Builds(), buildsBefore);
    EXPECT_TRUE(sim.shellNotices.empty());
}

TEST_F(RemoveCommandTest, BootDeviceQuestionSkipsOnOkAndStopsOnCancel) {
    sim.FindVolume(L'C')->filesOpen = true;
    Tick(L"WDC WD800JD");
    Tick(L"Stick A");
    sim.messageBoxAnswers = {IDOK};
    dlg->OnRemoveDevices();
    EXPECT_TRUE(view.pumps.empty()) << "the boot device never lets go: asked at once";
    ASSERT_EQ(sim.messageBoxes.size(), 2u);
    EXPECT_EQ(sim.messageBoxes[0].flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(sim.messageBoxes[0].text,
              L"This device is the current boot device:\n\nWDC WD800JD\n\nYou can not remove it "
              L"while the system is running.\nTo remove it, you must shutdown and power off your "
              L"system.\n\nPress the OK button to skip removing this device, or press\nthe Cancel "
              L"button stop this action and not remove any devices.     ");
    EXPECT_FALSE(Gone(kBootId));
    EXPECT_TRUE(Gone(kStickOneId));
}

TEST_F(RemoveCommandTest, BootDeviceCancelRemovesNothing) {
    sim.FindVolume(L'C')->filesOpen = true;
    Tick(L"WDC WD800JD");
    Tick(L"Stick A");
    sim.messageBoxAnswers = {IDCANCEL};
    dlg->OnRemoveDevices();
    EXPECT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_FALSE(Gone(kStickOneId));
}

TEST_F(RemoveCommandTest, PageFileQuestionNamesTheDriveToClear) {
    sim.FindVolume(L'D')->filesOpen = true;
    Tick(L"Data Disk");
    sim.messageBoxAnswers = {IDOK};
    dlg->OnRemoveDevices();
    ASSERT_EQ(sim.messageBoxes.size(), 1u) << "skipped with OK: nothing left to remove";
    EXPECT_EQ(sim.messageBoxes[0].text,
              L"This device has an active system page file: \n\nData Disk\n\nYou can not remove "
              L"it while the system is running.\nTo be able to remove this device, you must "
              L"remove the\nsystem page file from drive D:\\ in your system's virtual\nmemory "
              L"settings and reboot your system.\n\nPress the OK button to skip removing this "
              L"device, or press\nthe Cancel button stop this action and not remove any "
              L"devices.     ");
    EXPECT_EQ(sim.beeps, (std::vector<UINT>{MB_ICONEXCLAMATION}));
    EXPECT_FALSE(Gone(kDataId));
}

TEST_F(RemoveCommandTest, MarkedDevicesWhoseVolumesLockAreRemovedWithoutAQuestion) {
    Tick(L"Data Disk");
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(kDataId));
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_NE(sim.messageBoxes[0].text.find(L"successfully removed"), std::wstring::npos);
}

TEST_F(RemoveCommandTest, RebootOnTheSecondDeviceReportsOnlyTheFirstAsRemoved) {
    Tick(L"Stick A");
    Tick(L"Stick B");
    sim.FindDevice(kStickTwoId)->removal = SimRemovalOutcome::RemovedNeedsReboot;
    dlg->OnRemoveDevices();

    ASSERT_EQ(sim.messageBoxes.size(), 2u);
    EXPECT_EQ(sim.messageBoxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(sim.messageBoxes[0].text.rfind(L"One of the devices you requested to remove", 0), 0u);
    EXPECT_EQ(sim.messageBoxes[1].text,
              L"The following device was successfully removed:    \n\nStick A\n\n\nIt is safe to "
              L"power it down and remove it.");
    EXPECT_EQ(NoticePaths(), (std::vector<std::wstring>{L"E:\\"}));
    EXPECT_NE(std::find(view.statusHistory.begin(), view.statusHistory.end(),
                        L" Reboot return while removing device Stick B"),
              view.statusHistory.end());
    EXPECT_EQ(sim.sleeps, (std::vector<DWORD>{2000}));
}

TEST_F(RemoveCommandTest, OnlyRebootResultsShowTheRebootBoxAlone) {
    Tick(L"Stick A");
    sim.FindDevice(kStickOneId)->removal = SimRemovalOutcome::RemovedNeedsRestart;
    const size_t buildsBefore = Builds();
    dlg->OnRemoveDevices();
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text.rfind(L"One of the devices", 0), 0u);
    EXPECT_EQ(Builds() - buildsBefore, 2u);
}

// A drive the installer would not take out, or one no device matches, is
// still in the system: never in the summary, never announced to the shell.
TEST_F(RemoveCommandTest, ADeclinedRemovalIsNeverReportedAsSafe) {
    Tick(L"Stick A");
    sim.FindDevice(kStickOneId)->removal = SimRemovalOutcome::Declined;
    dlg->OnRemoveDevices();
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{L"Unable to removed any of the selected devices."}));
    EXPECT_TRUE(sim.shellNotices.empty());
    EXPECT_TRUE(Listed(L"Stick A"));
    EXPECT_NE(std::find(view.statusHistory.begin(), view.statusHistory.end(),
                        L" Unable to remove device Stick A"),
              view.statusHistory.end());
}

TEST_F(RemoveCommandTest, AFailedWalkCountsAsNotRemovedWhileOthersAreReported) {
    Tick(L"Stick A");
    Tick(L"Stick B");
    // The first device's removal cannot even start.
    sim.FailMethod("SetupDiCreateDeviceInfoListExW",
                   sim.CallCount("SetupDiCreateDeviceInfoListExW") + 1, ERROR_NOT_ENOUGH_MEMORY);
    dlg->OnRemoveDevices();
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text,
              L"The following device was successfully removed:    \n\nStick B\n\n\nIt is safe to "
              L"power it down and remove it.");
    EXPECT_FALSE(Gone(kStickOneId));
}

TEST_F(RemoveCommandTest, DeviceChangesInsideTheQuestionsWaitForTheCommandsOwnRefresh) {
    sim.FindVolume(L'E')->filesOpen = true;
    Tick(L"Stick A");
    Tick(L"Stick B");
    sim.deviceChangeTarget = [this](UINT event) { dlg->OnDeviceChange(event, 0); };
    const size_t buildsBefore = Builds();
    sim.messageBoxHook = [this, buildsBefore](const SimMessageBox& box) {
        if (box.flags != static_cast<UINT>(MB_CANCELTRYCONTINUE | MB_ICONQUESTION)) return 0;
        sim.DeliverDeviceChange(DBT_DEVICEARRIVAL);
        sim.DeliverDeviceChange(DBT_DEVICEREMOVECOMPLETE);
        EXPECT_EQ(Builds(), buildsBefore) << "no rebuild under the command's records";
        sim.FindVolume(L'E')->filesOpen = false;  // closed before the user goes on
        return 0;
    };
    sim.messageBoxAnswers = {IDCONTINUE};
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(kStickOneId));
    EXPECT_TRUE(Gone(kStickTwoId));
    EXPECT_FALSE(Listed(L"Stick A"));
}

// Mounted images beside the sticks: a VHDX with V:, an ISO's drive with W:
// (both on the File Backed Virtual bus) and a storage space with S:.
struct VirtualDiskRemovalTest : RemoveCommandTest {
    static constexpr const wchar_t* kVhdxId = L"SCSI\\DISK&VEN_MSFT&PROD_VIRTUAL_DISK\\2&1f4adffe&0&000001";
    static constexpr const wchar_t* kIsoId = L"SCSI\\CDROM&VEN_MSFT&PROD_VIRTUAL_DVD-ROM\\2&1f4adffe&0&000002";
    static constexpr const wchar_t* kSpaceId = L"STORAGE\\DISK\\{5E1D0C00-0000-0000-0000-100000000000}";

    VirtualDiskRemovalTest() {
        inventory_test::SetOption(sim, L"IgnoreCDROM", L"0");
        SimDevice vhdx = SimMachine::MakeDisk(kVhdxId, L"Msft Virtual Disk", 4,
                                              kBusTypeFileBackedVirtual, 20000000000ULL);
        vhdx.virtualDisk = SimVirtualDisk{L"D:\\VMs\\build.vhdx"};
        sim.AddDevice(vhdx);
        sim.AddVolume(SimMachine::MakeVolume(L'V', 4, 20000000000LL));
        SimDevice iso =
            SimMachine::MakeCdrom(kIsoId, L"Msft Virtual DVD-ROM", 0, kBusTypeFileBackedVirtual);
        iso.virtualDisk = SimVirtualDisk{L"D:\\Images\\setup.iso"};
        sim.AddDevice(iso);
        SimVolume isoVolume = SimMachine::MakeVolume(L'W', 0, 0, DRIVE_CDROM);
        isoVolume.extents.clear();
        isoVolume.extentsError = ERROR_INVALID_FUNCTION;
        isoVolume.deviceInstanceId = kIsoId;
        sim.AddVolume(isoVolume);
        sim.AddDevice(SimMachine::MakeDisk(kSpaceId, L"Storage Space", 5, kBusTypeSpaces));
        sim.AddVolume(SimMachine::MakeVolume(L'S', 5, 1000000000LL));
        dlg->RefreshDriveList();
    }
    void TearDown() override {
        RemoveCommandTest::TearDown();
        EXPECT_TRUE(sim.ProgramErrors().empty()) << sim.ProgramErrors().front();
    }
    // Whether the image behind the device was detached (a detached device is
    // no longer found by its identifier).
    bool Detached(const std::wstring& id) const {
        for (const SimDevice& device : sim.Devices())
            if (device.instanceId == id) return device.virtualDisk->detached;
        return false;
    }
};

TEST_F(VirtualDiskRemovalTest, AMountedVhdxIsDetachedAndNeverCalledSafeToPull) {
    Tick(L"Msft Virtual Disk");
    Tick(L"Stick A");
    dlg->OnRemoveDevices();

    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text,
              L"The following device was successfully removed:    \n\nStick A\n\n\nIt is safe to "
              L"power it down and remove it.\n\n\nThe following virtual disk was detached from its "
              L"image file:\n\nMsft Virtual Disk (build.vhdx)\n\nIt is not a device to unplug; its "
              L"image file is no longer in use.");
    EXPECT_EQ(sim.messageBoxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_TRUE(Detached(kVhdxId));
    EXPECT_EQ(sim.CallCount("SetupDiCallClassInstaller"), 1u) << "only the stick is uninstalled";
    EXPECT_EQ(NoticePaths(), (std::vector<std::wstring>{L"E:\\", L"V:\\"}));
    // Gone for good: a scan does not bring it back.
    dlg->OnScanForDevices();
    sim.PumpMessages();
    EXPECT_FALSE(Listed(L"Msft Virtual Disk"));
}

TEST_F(VirtualDiskRemovalTest, AMountedIsoAloneIsReportedOnlyAsDetached) {
    Tick(L"Msft Virtual DVD-ROM");
    dlg->OnRemoveDevices();
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{
                              L"The following virtual disk was detached from its image "
                              L"file:\n\nMsft Virtual DVD-ROM (setup.iso)\n\nIt is not a device to "
                              L"unplug; its image file is no longer in use."}));
    EXPECT_FALSE(Listed(L"Msft Virtual DVD-ROM"));
    EXPECT_EQ(NoticePaths(), (std::vector<std::wstring>{L"W:\\"}));
}

// Where the image cannot be detached the device is named with the reason,
// left in the system untouched, and never reported as gone.
struct NotDetachedCase {
    const char* name;
    void (*fault)(SimMachine&);
    const wchar_t* reason;
};

class ImagesNotDetached : public VirtualDiskRemovalTest,
                          public ::testing::WithParamInterface<NotDetachedCase> {};

TEST_P(ImagesNotDetached, AreNamedWithTheReasonAndLeftAttached) {
    GetParam().fault(sim);
    Tick(L"Msft Virtual Disk");
    dlg->OnRemoveDevices();
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{
                              std::wstring(L"The following virtual disk could not be "
                                           L"detached:\n\nMsft Virtual Disk") +
                              GetParam().reason +
                              L"\n\nIt is still attached. Eject it in Explorer or detach it in "
                              L"Disk Management."}));
    EXPECT_EQ(sim.messageBoxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_TRUE(Listed(L"Msft Virtual Disk"));
    EXPECT_FALSE(Detached(kVhdxId));
    EXPECT_EQ(sim.CallCount("SetupDiCallClassInstaller"), 0u);
    EXPECT_TRUE(sim.shellNotices.empty());
    EXPECT_NE(std::find(view.statusHistory.begin(), view.statusHistory.end(),
                        L" Unable to detach virtual disk Msft Virtual Disk"),
              view.statusHistory.end());
}

INSTANTIATE_TEST_SUITE_P(
    RemoveCommand, ImagesNotDetached,
    ::testing::Values(
        NotDetachedCase{"DetachFails",
                        [](SimMachine& m) {
                            m.FindDevice(VirtualDiskRemovalTest::kVhdxId)->virtualDisk->detachError =
                                ERROR_SHARING_VIOLATION;
                        },
                        L" (build.vhdx): The process cannot access the file because it is being "
                        L"used by another process."},
        NotDetachedCase{"NoVirtualDiskService",
                        [](SimMachine& m) { m.virtualDiskServiceMissing = true; },
                        L": this version of Windows has no virtual disk service"},
        NotDetachedCase{"ImageNotFound",
                        [](SimMachine& m) {
                            m.FailMethod("GetStorageDependencyInformation", 1, ERROR_ACCESS_DENIED);
                        },
                        L": Access is denied."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VirtualDiskRemovalTest, AStorageSpaceIsLeftInPlaceWithoutALockTest) {
    sim.FindVolume(L'S')->filesOpen = true;
    Tick(L"Storage Space");
    dlg->OnRemoveDevices();
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{
                              L"The following Storage Spaces virtual disk was left in "
                              L"place:\n\nStorage Space\n\nA storage space is not a device to "
                              L"unplug. Take it offline in Storage Spaces before you remove the "
                              L"drives of its pool."}));
    EXPECT_TRUE(Listed(L"Storage Space"));
    EXPECT_EQ(sim.CallCount("SetupDiCallClassInstaller"), 0u);
    EXPECT_TRUE(view.pumps.empty());
}

TEST(RemovalPattern, NamesExactlyTheDevice) {
    EXPECT_EQ(RemovalPatternFor(L"USBSTOR\\DISK&VEN_A\\1"), L"@USBSTOR\\DISK&VEN_A\\1");
    EXPECT_EQ(RemovalPatternFor(L"?"), L"@?");
    EXPECT_EQ(RemovalPatternFor(L"ROOT\\*PNP0F13\\0"), L"@'ROOT\\*PNP0F13\\0");
    EXPECT_EQ(RemovalPatternFor(L"'USB\\1"), L"@''USB\\1");
}

TEST_F(RemoveCommandTest, AStarInTheIdentifierRemovesOnlyThatDevice) {
    // Both sticks would match the identifier read as a wildcard pattern.
    const std::wstring starred = L"USBSTOR\\DISK&VEN_*\\1";
    sim.AddDevice(SimMachine::MakeDisk(starred, L"Starred", 9, BusTypeUsb, 1000000000ULL));
    dlg->RefreshDriveList();
    Tick(L"Starred");
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(starred));
    EXPECT_FALSE(Gone(kStickOneId));
    EXPECT_FALSE(Gone(kStickTwoId));
}

TEST_F(RemoveCommandTest, ALeadingQuoteInTheIdentifierRemovesOnlyThatDevice) {
    // Read as the literal marker, the quote would name stick A instead.
    const std::wstring quoted = std::wstring(L"'") + kStickOneId;
    sim.AddDevice(SimMachine::MakeDisk(quoted, L"Quoted", 9, BusTypeUsb, 1000000000ULL));
    dlg->RefreshDriveList();
    Tick(L"Quoted");
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(quoted));
    EXPECT_FALSE(Gone(kStickOneId));
}

TEST(RemovalSummary, LongListsEndWithACountInsteadOfDroppingNames) {
    std::vector<std::wstring> names;
    for (int i = 0; i < 150; ++i) names.push_back(L"Removable Flash Disk Number " + std::to_wstring(i));
    const std::wstring text = ComposeRemovalSummary(names);
    EXPECT_LE(text.size(), kRemovalSummaryChars);
    EXPECT_NE(text.find(L"Removable Flash Disk Number 0\n"), std::wstring::npos);
    size_t shown = 0;
    for (size_t at = text.find(L"Number "); at != std::wstring::npos; at = text.find(L"Number ", at + 1))
        ++shown;
    const size_t more = text.find(L"\nand ");
    ASSERT_NE(more, std::wstring::npos);
    const size_t hidden = static_cast<size_t>(std::stoi(text.substr(more + 5)));
    EXPECT_EQ(shown + hidden, names.size()) << "every name is either shown or counted";
    EXPECT_EQ(text.substr(text.size() - 48), L"\n\nIt is safe to power them down and remove them.");
}

// With many virtual disks as well, the box still fits the screen and keeps
// both parts: the virtual disks never crowd out the drives to pull.
TEST(RemovalSummary, ManyDrivesAndVirtualDisksTogetherStayWithinTheLimit) {
    RemovalReport report;
    for (int i = 0; i < 150; ++i) {
        DeviceResult removed;
        removed.deviceName = L"Removable Flash Disk Number " + std::to_wstring(i);
        removed.outcome = DeviceOutcome::Removed;
        report.devices.push_back(removed);
        DeviceResult image;
        image.deviceName = L"Msft Virtual Disk";
        image.image = L"\\\\?\\Volume{1}\\VMs\\disk" + std::to_wstring(i) + L".vhdx";
        image.outcome = DeviceOutcome::Detached;
        report.devices.push_back(image);
    }
    const std::wstring text = ComposeRemovalReport(report, [](DWORD) { return L"?"; });
    EXPECT_LE(text.size(), kRemovalSummaryChars);
    EXPECT_EQ(text.rfind(L"The following devices were successfully removed:", 0), 0u);
    EXPECT_NE(text.find(L"\n\n\nThe following virtual disks were detached"), std::wstring::npos);
    EXPECT_NE(text.find(L"Msft Virtual Disk (disk0.vhdx)\n"), std::wstring::npos);
}

TEST_F(RemoveCommandTest, MoreThanAHundredTickedDrivesAreAllRemoved) {
    for (int i = 0; i < 120; ++i) {
        const std::wstring id = L"USBSTOR\\DISK&VEN_M\\" + std::to_wstring(i);
        sim.AddDevice(SimMachine::MakeDisk(id, L"Many " + std::to_wstring(i),
                                           static_cast<DWORD>(10 + i), BusTypeUsb, 1000000000ULL));
    }
    dlg->RefreshDriveList();
    for (int i = 0; i < view.GetItemCount(); ++i)
        if (view.Text(i, 0).rfind(L"Many ", 0) == 0) view.SetItemChecked(i, true);
    ASSERT_EQ(view.CheckedRows().size(), 120u);
    dlg->OnRemoveDevices();
    for (int i = 0; i < 120; ++i)
        EXPECT_TRUE(Gone(L"USBSTOR\\DISK&VEN_M\\" + std::to_wstring(i)));
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_LE(sim.messageBoxes[0].text.size(), kRemovalSummaryChars);
}

}  // namespace
