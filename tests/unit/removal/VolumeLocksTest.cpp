#include "removal/VolumeLocks.h"

#include "inventory/DriveRecord.h"
#include "platform/sim/SimMachine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct VolumeCase {
    const char* situation;
    const wchar_t* letters;  // the disk's volumes, in order
    void (*fault)(SimMachine&);
    LockTestOutcome outcome;
    int refusedVolume;  // index among the letters, -1 when all were free
    size_t lockOpens;   // volumes the lock test opened
    size_t lockIoctls;  // lock and unlock requests
    bool flushFailed;
    size_t flushes;
};

class VolumeLocks : public testing::TestWithParam<VolumeCase> {};

TEST_P(VolumeLocks, LockTestAndFlush) {
    const VolumeCase& c = GetParam();
    SimMachine sim;
    const wchar_t* id = L"USBSTOR\\DISK&VEN_QUEN&PROD_STICK\\7&1";
    sim.AddDevice(SimMachine::MakeDisk(id, L"Quen Stick", 1, BusTypeUsb));
    DriveRecord record(id);
    for (const wchar_t* l = c.letters; *l != L'\0'; ++l) {
        std::wstring name = sim.AddVolume(SimMachine::MakeVolume(*l, 1, 1000000)).guidPath;
        name.pop_back();  // the record keeps GUID paths without the trailing backslash
        record.AddVolume(sim, name.c_str(), *l, 1000000);
    }
    if (c.fault != nullptr) c.fault(sim);

    const LockTestResult result = TestVolumeLocks(sim, record);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.volume, c.refusedVolume);
    EXPECT_EQ(sim.CallCount("CreateFileW"), c.lockOpens);
    EXPECT_EQ(sim.CallCount("DeviceIoControl"), c.lockIoctls);
    EXPECT_EQ(sim.OutstandingHandles(), 0u) << sim.LeakReport();  // nothing left locked

    EXPECT_EQ(FlushVolumes(sim, record), c.flushFailed);
    EXPECT_EQ(sim.CallCount("FlushFileBuffers"), c.flushes);
    EXPECT_EQ(sim.LeakReport(), "");
    EXPECT_TRUE(sim.ProgramErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VolumeLocks,
    testing::Values(
        VolumeCase{"NoVolumes", L"", nullptr, LockTestOutcome::Free, -1, 0, 0, false, 0},
        VolumeCase{"AllFree", L"EF", nullptr, LockTestOutcome::Free, -1, 2, 4, false, 2},
        // E: locked and unlocked, F: refused its lock.
        VolumeCase{"FilesOpenOnF", L"EF",
                   [](SimMachine& m) { m.FindVolume(L'F')->filesOpen = true; },
                   LockTestOutcome::InUse, 1, 2, 3, false, 2},
        VolumeCase{"LockRefusedOnE", L"EF",
                   [](SimMachine& m) {
                       m.FindVolume(L'E')->ioctlErrors[FSCTL_LOCK_VOLUME] = ERROR_ACCESS_DENIED;
                   },
                   LockTestOutcome::InUse, 0, 1, 1, false, 2},
        // A volume that cannot be opened cannot be shown free: the user is asked.
        VolumeCase{"FCannotBeOpened", L"EFG",
                   [](SimMachine& m) { m.FindVolume(L'F')->openError = ERROR_GEN_FAILURE; },
                   LockTestOutcome::InUse, 1, 2, 2, true, 2},
        // An empty slot or drive, or a volume already gone, holds nothing
        // open: E: and G: are still tested, and the drive passes.
        VolumeCase{"FHasNoMedia", L"EFG", [](SimMachine& m) { m.FindVolume(L'F')->noMedia = true; },
                   LockTestOutcome::Free, -1, 3, 4, true, 2},
        VolumeCase{"FNoMediaInDrive", L"EFG",
                   [](SimMachine& m) { m.FindVolume(L'F')->openError = ERROR_NO_MEDIA_IN_DRIVE; },
                   LockTestOutcome::Free, -1, 3, 4, true, 2},
        VolumeCase{"FFileNotFound", L"EFG",
                   [](SimMachine& m) { m.FindVolume(L'F')->openError = ERROR_FILE_NOT_FOUND; },
                   LockTestOutcome::Free, -1, 3, 4, true, 2},
        VolumeCase{"FPathNotFound", L"EFG",
                   [](SimMachine& m) { m.FindVolume(L'F')->openError = ERROR_PATH_NOT_FOUND; },
                   LockTestOutcome::Free, -1, 3, 4, true, 2},
        // BitLocker keeps F: locked: no file system, nothing open on it.
        VolumeCase{"FLockedByBitLocker", L"EFG",
                   [](SimMachine& m) { m.FindVolume(L'F')->bitLockerLocked = true; },
                   LockTestOutcome::Free, -1, 3, 4, true, 2},
        VolumeCase{
            "FNotConnected", L"EFG",
            [](SimMachine& m) { m.FindVolume(L'F')->openError = ERROR_DEVICE_NOT_CONNECTED; },
            LockTestOutcome::Free, -1, 3, 4, true, 2},
        // BitLocker keeps F: locked: no file system, nothing open on it.
        VolumeCase{"AccessDeniedOnE", L"EF",
                   [](SimMachine& m) { m.FindVolume(L'E')->openAccessDenied = true; },
                   LockTestOutcome::AccessDenied, 0, 1, 0, true, 1},
        VolumeCase{"AccessDeniedOnF", L"EF",
                   [](SimMachine& m) { m.FindVolume(L'F')->openAccessDenied = true; },
                   LockTestOutcome::AccessDenied, 1, 2, 2, true, 1},
        // The flush goes on past a volume held open by another program.
        VolumeCase{"FHeldOpen", L"EFG",
                   [](SimMachine& m) { m.FindVolume(L'F')->exclusiveOpenFails = true; },
                   LockTestOutcome::Free, -1, 3, 6, true, 2},
        VolumeCase{"FlushFailsOnE", L"EF",
                   [](SimMachine& m) { m.FindVolume(L'E')->flushError = ERROR_IO_DEVICE; },
                   LockTestOutcome::Free, -1, 2, 4, true, 2}),
    [](const testing::TestParamInfo<VolumeCase>& info) { return info.param.situation; });

}  // namespace
