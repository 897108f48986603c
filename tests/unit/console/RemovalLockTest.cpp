// The lock the window's Scan and Remove Devices share with the console
// program: a console removal during the window's command waits for it and
// then runs; the window waits for a console removal; a console program that
// cannot get the lock in time gives up with code 7 and touches nothing.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "console/ConsoleProgram.h"
#include "platform/sim/SimMachine.h"
#include "removal/RemovalLock.h"
#include "tests/unit/support/FakeMainView.h"

#include <chrono>
#include <optional>
#include <thread>

namespace {

const wchar_t* const kStickAId = L"USBSTOR\\DISK&VEN_A\\1";
const wchar_t* const kStickBId = L"USBSTOR\\DISK&VEN_B\\2";

bool IsSummary(const SimMessageBox& box) {
    return box.text.rfind(L"The following device was successfully removed", 0) == 0;
}

// The window removes stick A (E:) while a console program asks for stick B (F:).
struct SharedLockTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    std::optional<CTrayhop32Dlg> dlg;

    SharedLockTest() {
        sim.AddDevice(SimMachine::MakeDisk(kStickAId, L"Stick A", 1, BusTypeUsb, 2000000000ULL));
        sim.AddVolume(SimMachine::MakeVolume(L'E', 1, 2000000000LL, DRIVE_REMOVABLE));
        sim.AddDevice(SimMachine::MakeDisk(kStickBId, L"Stick B", 2, BusTypeUsb, 2000000000ULL));
        sim.AddVolume(SimMachine::MakeVolume(L'F', 2, 2000000000LL, DRIVE_REMOVABLE));
        dlg.emplace(app, view);
        view.Connect(*dlg);
        dlg->InitDriveTable();
        dlg->InitDriveList();
        view.SetItemChecked(0, true);
    }
    void TearDown() override {
        dlg.reset();
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_FALSE(sim.MutexOwned(kRemovalLockName));
    }
    int Console(std::vector<std::wstring> args) {
        return RunConsoleProgram(sim, args, L"Trayhop32Cmd");
    }
};

TEST_F(SharedLockTest, AConsoleRemovalDuringTheWindowsCommandWaitsThenRuns) {
    sim.mutexWaitsBlock = true;
    std::thread console;
    int code = -1;
    bool stickBWasThereWhileWaiting = false;
    sim.messageBoxHook = [&](const SimMessageBox& box) {
        if (!IsSummary(box)) return 0;
        // The window's command still holds the lock while its summary is open.
        console = std::thread([&] { code = Console({L"remove", L"F:"}); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (sim.BlockedWaiters() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stickBWasThereWhileWaiting = sim.BlockedWaiters() == 1 && sim.FindDevice(kStickBId);
        return IDOK;
    };
    dlg->OnRemoveDevices();
    // The window is done and has let go; only now may the console go on.
    sim.LetWaitersRun();
    ASSERT_TRUE(console.joinable());
    console.join();

    EXPECT_TRUE(stickBWasThereWhileWaiting);
    EXPECT_EQ(code, kExitOk);
    EXPECT_EQ(sim.FindDevice(kStickAId), nullptr);
    EXPECT_EQ(sim.FindDevice(kStickBId), nullptr);
}

TEST_F(SharedLockTest, AConsoleRemovalThatCannotWaitLongEnoughGivesUpWithCodeSeven) {
    int code = -1;
    sim.messageBoxHook = [&](const SimMessageBox& box) {
        if (IsSummary(box)) code = Console({L"remove", L"F:", L"--wait", L"2"});
        return 0;
    };
    dlg->OnRemoveDevices();
    EXPECT_EQ(code, kExitBusy);
    EXPECT_NE(sim.FindDevice(kStickBId), nullptr);
    EXPECT_EQ(sim.FindDevice(kStickAId), nullptr);
}

TEST_F(SharedLockTest, TheWindowWaitsForAConsoleRemovalBeforeItsCommands) {
    const char* const work[] = {"SetupDiCallClassInstaller", "CM_Reenumerate_DevNode"};
    int which = 0;
    for (auto command : {&CTrayhop32Dlg::OnRemoveDevices, &CTrayhop32Dlg::OnScanForDevices}) {
        const char* const ownWork = work[which++];
        sim.HoldMutexElsewhere(kRemovalLockName);
        int waits = 0;
        size_t workBeforeRelease = 99;
        const size_t workBefore = sim.CallCount(ownWork);
        sim.mutexWaitHook = [&](const std::wstring& name) {
            // The console program ends while the window waits a second time.
            if (++waits < 2) return;
            workBeforeRelease = sim.CallCount(ownWork) - workBefore;
            sim.ReleaseMutexElsewhere(name);
        };
        view.pumps.clear();
        ((*dlg).*command)();
        EXPECT_EQ(waits, 2);
        EXPECT_EQ(workBeforeRelease, 0u) << ownWork << " ran before the lock was free";
        EXPECT_EQ(sim.CallCount(ownWork) - workBefore, 1u) << ownWork;
        EXPECT_EQ(view.waitDepth, 0);
        EXPECT_FALSE(view.pumps.empty()) << "the window keeps answering while it waits";
        sim.mutexWaitHook = nullptr;
    }
}

TEST_F(SharedLockTest, TheWindowClosedWhileWaitingForTheLockDoesNothing) {
    sim.HoldMutexElsewhere(kRemovalLockName);
    view.onPump = [](DWORD) { return false; };
    dlg->OnRemoveDevices();
    EXPECT_EQ(sim.CallCount("SetupDiCallClassInstaller"), 0u);
    EXPECT_NE(sim.FindDevice(kStickAId), nullptr);
    EXPECT_EQ(view.Status(), L" Waiting for another removal or scan to end...");
    sim.ReleaseMutexElsewhere(kRemovalLockName);
}

}  // namespace
