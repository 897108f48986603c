#include "removal/DeviceRemoval.h"

#include "platform/sim/SimMachine.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kStickId[] = L"USBSTOR\\DISK&VEN_QUEN&PROD_STICK\\7&1";
constexpr wchar_t kIdeId[] = L"IDE\\DISKQUEN_HD80\\5&2";
constexpr wchar_t kMouseId[] = L"HID\\VID_046D&PID_C077\\6&3";
constexpr wchar_t kGoneId[] = L"USBSTOR\\DISK&VEN_GONE\\9";

std::wstring At(const wchar_t* id) {
    return std::wstring(L"@") + id;
}

// Two present disks, a mouse and a disk that is no longer attached, each with
// hardware and compatible identifiers.
class DeviceRemovalTest : public testing::Test {
protected:
    DeviceRemovalTest() {
        Add(SimMachine::MakeDisk(kStickId, L"Stick", 1, BusTypeUsb),
            {L"USBSTOR\\DiskQUEN____STICK___1.00", L"USBSTOR\\DiskQUEN____"},
            {L"USBSTOR\\Disk", L"GenDisk"});
        Add(SimMachine::MakeDisk(kIdeId, L"HD80", 0), {L"IDE\\DiskQUEN_HD80", L"QUEN_HD80"},
            {L"GenDisk"});
        SimDevice mouse;
        mouse.instanceId = kMouseId;
        mouse.setupClass = L"Mouse";
        Add(mouse, {L"HID\\VID_046D&PID_C077"}, {L"HID_DEVICE_SYSTEM_MOUSE"});
        Add(SimMachine::MakeDisk(kGoneId, L"Gone", 4), {L"GenDisk"}, {}).present = false;
    }

    void TearDown() override {
        EXPECT_EQ(sim_.LeakReport(), "");
        EXPECT_TRUE(sim_.ProgramErrors().empty());
        EXPECT_TRUE(sim_.messageBoxes.empty());  // removal never speaks to the user
    }

    SimDevice& Add(SimDevice device, std::vector<std::wstring> hardware,
                   std::vector<std::wstring> compatible) {
        device.hardwareIds = std::move(hardware);
        device.compatibleIds = std::move(compatible);
        return sim_.AddDevice(std::move(device));
    }

    SimDevice& Device(const wchar_t* id) {  // removed ones included
        for (const SimDevice& d : sim_.Devices())
            if (d.instanceId == id) return const_cast<SimDevice&>(d);
        throw std::invalid_argument("no such device");
    }

    SimMachine sim_;
};

// ---- One device by its instance identifier -------------------------------------

class RemovalOutcome
    : public DeviceRemovalTest,
      public testing::WithParamInterface<std::pair<SimRemovalOutcome, RemoveResult>> {};

TEST_P(RemovalOutcome, InstanceIdPatternGivesTheInstallerOutcome) {
    Device(kStickId).removal = GetParam().first;
    EXPECT_EQ(RemoveDevice(sim_, At(kStickId).c_str()), GetParam().second);
    EXPECT_EQ(Device(kStickId).removed, GetParam().first == SimRemovalOutcome::Removed);
    EXPECT_EQ(sim_.CallCount("SetupDiCallClassInstaller"), 1u);
    EXPECT_EQ(sim_.CallCount("SetupDiGetClassDevsExW"), 0u);  // opened directly, no search
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RemovalOutcome,
    testing::Values(std::pair{SimRemovalOutcome::Removed, RemoveOk},
                    std::pair{SimRemovalOutcome::RemovedNeedsRestart, RemoveRebootNeeded},
                    std::pair{SimRemovalOutcome::RemovedNeedsReboot, RemoveRebootNeeded},
                    // Declined: nothing was removed, and the result says so.
                    std::pair{SimRemovalOutcome::Declined, RemoveNothing}));

TEST_F(DeviceRemovalTest, InstanceIdNamesAnAbsentDeviceInAnyCase) {
    std::wstring pattern = At(kGoneId);
    for (wchar_t& c : pattern) c = static_cast<wchar_t>(towlower(c));
    EXPECT_EQ(RemoveDevice(sim_, pattern.c_str()), RemoveOk);
    EXPECT_TRUE(Device(kGoneId).removed);
}

TEST_F(DeviceRemovalTest, QuotedInstanceIdKeepsItsStar) {
    Add(SimMachine::MakeDisk(L"ROOT\\A*B\\0", L"Star", 5), {}, {});
    Add(SimMachine::MakeDisk(L"ROOT\\AXB\\0", L"Plain", 6), {}, {});
    EXPECT_EQ(RemoveDevice(sim_, L"@'ROOT\\A*B\\0"), RemoveOk);
    EXPECT_TRUE(Device(L"ROOT\\A*B\\0").removed);
    EXPECT_FALSE(Device(L"ROOT\\AXB\\0").removed);
}

TEST_F(DeviceRemovalTest, EmptyInstanceIdOpensNoDevice) {
    // An empty identifier would locate the root of the device tree.
    EXPECT_EQ(RemoveDevice(sim_, L"@"), RemoveNothing);
    EXPECT_EQ(RemoveDevice(sim_, L"@'"), RemoveNothing);
    EXPECT_EQ(sim_.CallCount("SetupDiOpenDeviceInfoW"), 0u);
    EXPECT_EQ(RemoveDevice(sim_, nullptr), RemoveFailed);
}

// ---- Walks over many devices -----------------------------------------------------

struct WalkCase {
    const wchar_t* pattern;
    bool stick, ide, mouse;  // removed
};

class RemovalWalk : public DeviceRemovalTest, public testing::WithParamInterface<WalkCase> {};

TEST_P(RemovalWalk, RemovesExactlyTheSelectedPresentDevices) {
    const WalkCase& c = GetParam();
    const int count = c.stick + c.ide + c.mouse;
    EXPECT_EQ(RemoveDevice(sim_, c.pattern), count > 0 ? RemoveOk : RemoveNothing);
    EXPECT_EQ(Device(kStickId).removed, c.stick);
    EXPECT_EQ(Device(kIdeId).removed, c.ide);
    EXPECT_EQ(Device(kMouseId).removed, c.mouse);
    EXPECT_FALSE(Device(kGoneId).removed);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, RemovalWalk,
    testing::Values(WalkCase{L"=DiskDrive", 1, 1, 0}, WalkCase{L"=mouse", 0, 0, 1},
                    WalkCase{L"*", 1, 1, 1},
                    // Instance identifiers with a wildcard are searched for.
                    WalkCase{L"@usbstor\\*", 1, 0, 0}, WalkCase{L"@*\\5&2", 0, 1, 0},
                    WalkCase{L"@*", 1, 1, 1},
                    // Hardware identifiers, then compatible identifiers.
                    WalkCase{L"QUEN_HD80", 0, 1, 0}, WalkCase{L"usbstor\\diskquen*", 1, 0, 0},
                    WalkCase{L"GenDisk", 1, 1, 0}, WalkCase{L"HID_DEVICE_SYSTEM_MOUSE", 0, 0, 1},
                    // Nothing to remove.
                    WalkCase{L"@?", 0, 0, 0}, WalkCase{L"@USBSTOR\\NOSUCH\\1", 0, 0, 0},
                    WalkCase{L"@NOSUCH*", 0, 0, 0}, WalkCase{L"=NoSuchClass", 0, 0, 0},
                    WalkCase{L"NO\\SUCH_HWID", 0, 0, 0},
                    WalkCase{L"IDE\\DISKQUEN_HD80\\5&2", 0, 0, 0},  // not a hardware id
                    WalkCase{L"=", 0, 0, 0}));

// The lookup then fails for want of room but gives the first GUID.
TEST_F(DeviceRemovalTest, ClassWithSeveralGuidsUsesTheFirst) {
    sim_.SetClassGuids(L"Storage", {sim_.ClassGuidOf(L"DiskDrive"), sim_.ClassGuidOf(L"Mouse")});
    EXPECT_EQ(RemoveDevice(sim_, L"=Storage"), RemoveOk);
    EXPECT_TRUE(Device(kIdeId).removed);
    EXPECT_FALSE(Device(kMouseId).removed);
}

TEST_F(DeviceRemovalTest, DeviceWithoutIdentifierListsMatchesNothing) {
    SimDevice legacy;
    legacy.instanceId = L"ROOT\\LEGACY\\0000";
    sim_.AddDevice(legacy);
    EXPECT_EQ(RemoveDevice(sim_, L"ROOT*"), RemoveNothing);
}

TEST_F(DeviceRemovalTest, LongHardwareIdListIsMatchedToTheEnd) {
    std::vector<std::wstring> ids;
    size_t bytes = 0;
    while (bytes <= 3 * 8192) {  // well past the reader's first buffer
        ids.push_back(L"USB\\VID_FFFF&PID_" + std::to_wstring(1000 + ids.size()));
        bytes += sizeof(WCHAR) * (ids.back().size() + 1);
    }
    ids.push_back(L"USB\\Class_08&SubClass_06");
    Device(kStickId).hardwareIds = ids;
    EXPECT_EQ(RemoveDevice(sim_, L"usb\\class_08*"), RemoveOk);
    EXPECT_TRUE(Device(kStickId).removed);
}

TEST_F(DeviceRemovalTest, UnreadableInstanceIdComparesAsEmpty) {
    // Neither the configuration manager nor the set can name the stick.
    sim_.FailMethod("CM_Get_Device_ID_ExW", 1, CR_FAILURE);
    sim_.FailMethod("SetupDiGetDeviceInstanceIdW", 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RemoveDevice(sim_, L"@USBSTOR*"), RemoveNothing);
    sim_.FailMethod("CM_Get_Device_ID_ExW", 1, CR_FAILURE);
    sim_.FailMethod("SetupDiGetDeviceInstanceIdW", 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RemoveDevice(sim_, L"@*"), RemoveOk);
    EXPECT_TRUE(Device(kStickId).removed);
}

// Keeps a copy of the remove parameters the program installs.
class RecordingMachine : public SimMachine {
public:
    BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA device,
                                       PSP_CLASSINSTALL_HEADER params, DWORD size) override {
        if (params != nullptr && size == sizeof(installed))
            installed = *reinterpret_cast<const SP_REMOVEDEVICE_PARAMS*>(params);
        return SimMachine::SetupDiSetClassInstallParamsW(set, device, params, size);
    }
    SP_REMOVEDEVICE_PARAMS installed{};
};

TEST(DeviceRemovalParams, RemovesFromEveryHardwareProfile) {
    RecordingMachine sim;
    sim.AddDevice(SimMachine::MakeDisk(kStickId, L"Stick", 1, BusTypeUsb));
    EXPECT_EQ(RemoveDevice(sim, At(kStickId).c_str()), RemoveOk);
    EXPECT_EQ(sim.installed.ClassInstallHeader.cbSize, 8u);
    EXPECT_EQ(sim.installed.ClassInstallHeader.InstallFunction, DI_FUNCTION{DIF_REMOVE});
    EXPECT_EQ(sim.installed.Scope, DWORD{DI_REMOVEDEVICE_GLOBAL});
    EXPECT_EQ(sim.installed.HwProfile, 0u);
    EXPECT_EQ(sim.LeakReport(), "");
}

// ---- Failures --------------------------------------------------------------------

struct FailureCase {
    const wchar_t* pattern;
    const char* method;
    size_t occurrence;
    DWORD error;
    RemoveResult result;
    int removed;
    bool reboot;
    const char* alsoMethod = nullptr;  // fails at the same occurrence too
};

// The disk HD80 asks for a reboot. A failure before the walk touches nothing;
// a failure on one device leaves it in place, silently, and the walk goes on.
class RemovalFailure : public DeviceRemovalTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(RemovalFailure, TallyShowsWhatWasRemoved) {
    const FailureCase& c = GetParam();
    Device(kIdeId).removal = SimRemovalOutcome::RemovedNeedsReboot;
    sim_.FailMethod(c.method, c.occurrence, c.error);
    if (c.alsoMethod != nullptr) sim_.FailMethod(c.alsoMethod, c.occurrence, c.error);
    RemovalTally tally;
    EXPECT_EQ(RemoveMatchingDevices(sim_, c.pattern, tally), c.result);
    EXPECT_EQ(tally.removedCount, c.removed);
    EXPECT_EQ(tally.rebootNeeded, c.reboot);
    if (c.result == RemoveFailed) {
        EXPECT_EQ(sim_.CallCount("SetupDiCallClassInstaller"), 0u);
    }
}

constexpr DWORD kBadParam = ERROR_INVALID_PARAMETER;
constexpr DWORD kNoMemory = ERROR_NOT_ENOUGH_MEMORY;

INSTANTIATE_TEST_SUITE_P(
    Steps, RemovalFailure,
    testing::Values(
        FailureCase{L"=DiskDrive", "SetupDiClassGuidsFromNameExW", 1, ERROR_INVALID_CLASS,
                    RemoveFailed, 0, false},
        FailureCase{L"=DiskDrive", "SetupDiGetClassDevsExW", 1, kNoMemory, RemoveFailed, 0, false},
        FailureCase{L"GenDisk", "SetupDiGetClassDevsExW", 1, kNoMemory, RemoveFailed, 0, false},
        FailureCase{L"@USBSTOR*", "SetupDiGetClassDevsExW", 1, kNoMemory, RemoveFailed, 0, false},
        FailureCase{L"@IDE\\DISKQUEN_HD80\\5&2", "SetupDiCreateDeviceInfoListExW", 1, kNoMemory,
                    RemoveFailed, 0, false},
        FailureCase{L"*", "SetupDiGetDeviceInfoListDetailW", 1, kBadParam, RemoveFailed, 0, false},
        // Per device: the stick fails at each step, HD80 is still removed.
        FailureCase{L"=DiskDrive", "SetupDiGetDeviceInfoListDetailW", 2, kBadParam, RemoveOk, 1,
                    true},
        FailureCase{L"=DiskDrive", "CM_Get_Device_ID_ExW", 1, CR_FAILURE, RemoveOk, 1, true,
                    "SetupDiGetDeviceInstanceIdW"},
        FailureCase{L"=DiskDrive", "SetupDiSetClassInstallParamsW", 1, kBadParam, RemoveOk, 1,
                    true},
        FailureCase{L"=DiskDrive", "SetupDiCallClassInstaller", 1, kBadParam, RemoveOk, 1, true},
        // HD80's installer declines.
        FailureCase{L"=DiskDrive", "SetupDiCallClassInstaller", 2, kBadParam, RemoveOk, 1, false},
        // Unreadable parameters may hide a stop deferred to the next restart.
        FailureCase{L"=DiskDrive", "SetupDiGetDeviceInstallParamsW", 2, kBadParam, RemoveOk, 2,
                    true}));

}  // namespace

namespace {

// Uninstalling a mounted image's disk leaves the image attached: the disk and
// its volume come back at the next re-enumeration, as on Windows.
TEST(VirtualDiskUninstall, TheDiskComesBackAtTheNextScan) {
    SimMachine sim;
    const wchar_t* id = L"SCSI\\DISK&VEN_MSFT&PROD_VIRTUAL_DISK\\1";
    SimDevice vhd = SimMachine::MakeDisk(id, L"Msft Virtual Disk", 1, kBusTypeFileBackedVirtual);
    vhd.virtualDisk = SimVirtualDisk{L"D:\\build.vhd"};
    sim.AddDevice(vhd);
    sim.AddVolume(SimMachine::MakeVolume(L'V', 1, 1000000));
    EXPECT_EQ(RemoveDevice(sim, At(id).c_str()), RemoveOk);
    EXPECT_EQ(sim.FindVolume(L'V'), nullptr);
    DEVINST root = 0;
    ASSERT_EQ(sim.CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL), CR_SUCCESS);
    ASSERT_EQ(sim.CM_Reenumerate_DevNode(root, 0), CR_SUCCESS);
    EXPECT_NE(sim.FindVolume(L'V'), nullptr);
    EXPECT_TRUE(sim.Devices()[0].present);
}

}  // namespace
