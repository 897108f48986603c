// Pins the simulated machine to the Windows behaviour the program relies on.
#include "platform/sim/SimMachine.h"
#include "tests/unit/platform/ContractCases.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct SimFactory {
    static std::unique_ptr<Platform> Make() {
        auto sim = std::make_unique<SimMachine>();
        sim->AddDevice(SimMachine::MakeDisk(L"IDE\\DISKSIM\\0", L"Sim Disk", 0));
        sim->AddVolume(SimMachine::MakeVolume(L'C', 0, 40'000'000'000));
        sim->AddVolume(SimMachine::MakeVolume(L'F', 0, 40'000'000'000));
        return sim;
    }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, PlatformContract, SimFactory);

namespace {

constexpr GUID kDiskClass = {
    0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A workstation: two disks and a CD drive present, one disk attached but not
// yet enumerated, and a disk that is known but not present.
class SimWorkstation : public ::testing::Test {
protected:
    void SetUp() override {
        sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISKA\\1", L"Alpha Disk", 0));
        SimDevice usb =
            SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_B\\2", L"Beta Stick", 1, BusTypeUsb);
        usb.interfaceOrder = -1;  // its interface is listed before Alpha's
        sim.AddDevice(usb);
        sim.AddDevice(SimMachine::MakeCdrom(L"IDE\\CDROMC\\3", L"Gamma DVD", 0));
        SimDevice late =
            SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_D\\4", L"Delta Stick", 2, BusTypeUsb);
        late.pending = true;
        sim.AddDevice(late);
        SimDevice gone =
            SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_E\\5", L"Epsilon Stick", 3, BusTypeUsb);
        gone.present = false;
        sim.AddDevice(gone);
        sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 1000));
        sim.AddVolume(SimMachine::MakeVolume(L'E', 1, 2000, DRIVE_REMOVABLE));
        SimVolume cd;
        cd.letter = L'D';
        cd.driveType = DRIVE_CDROM;
        cd.guidPath = L"\\\\?\\Volume{cd000000-0000-11d0-b6bf-00a0c91efb8b}\\";
        cd.extentsError = ERROR_INVALID_FUNCTION;
        cd.deviceInstanceId = L"IDE\\CDROMC\\3";
        sim.AddVolume(cd);
        SimVolume lateVolume = SimMachine::MakeVolume(L'G', 2, 3000, DRIVE_REMOVABLE);
        lateVolume.pending = true;
        sim.AddVolume(lateVolume);
    }

    std::vector<std::wstring> DeviceIdsOf(HDEVINFO set) {
        std::vector<std::wstring> ids;
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; sim.SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            WCHAR id[201];
            EXPECT_EQ(static_cast<DWORD>(CR_SUCCESS),
                      sim.CM_Get_Device_ID_ExW(data.DevInst, id, 201, 0, nullptr));
            ids.push_back(id);
        }
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), sim.GetLastError());
        return ids;
    }

    std::wstring InterfacePath(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device = nullptr,
                               SP_DEVINFO_DATA* owner = nullptr) {
        SP_DEVICE_INTERFACE_DATA ifc{};
        ifc.cbSize = sizeof ifc;
        if (!sim.SetupDiEnumDeviceInterfaces(set, device, &kGuidDevInterfaceDisk, index, &ifc))
            return L"";
        DWORD required = 0;
        EXPECT_FALSE(
            sim.SetupDiGetDeviceInterfaceDetailW(set, &ifc, nullptr, 0, &required, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), sim.GetLastError());
        std::vector<BYTE> buffer(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        EXPECT_TRUE(
            sim.SetupDiGetDeviceInterfaceDetailW(set, &ifc, detail, required, nullptr, owner));
        return detail->DevicePath;
    }

    SimMachine sim;
};

TEST(SimClasses, ClassGuidLookupFollowsTheInsufficientBufferProtocol) {
    SimMachine sim;
    GUID second = kDiskClass;
    second.Data1 = 0x12345678;
    sim.SetClassGuids(L"Twin", {kDiskClass, second});
    struct Case {
        const WCHAR* name;
        DWORD room;
        BOOL ok;
        DWORD error;
        DWORD required;
    } cases[] = {
        {L"DiskDrive", 1, TRUE, 0, 1},
        {L"diskdrive", 1, TRUE, 0, 1},                      // names ignore case
        {L"NoSuchClass", 1, TRUE, 0, 0},                    // unknown: success, no GUIDs
        {L"Twin", 1, FALSE, ERROR_INSUFFICIENT_BUFFER, 2},  // several GUIDs, room for one
        {L"Twin", 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 2},
        {L"Twin", 2, TRUE, 0, 2},
    };
    for (const auto& c : cases) {
        GUID guids[2] = {};
        DWORD required = 99;
        sim.SetLastError(0);
        EXPECT_EQ(c.ok, sim.SetupDiClassGuidsFromNameExW(c.name, c.room ? guids : nullptr, c.room,
                                                         &required, nullptr, nullptr))
            << c.room;
        EXPECT_EQ(c.error, sim.GetLastError());
        EXPECT_EQ(c.required, required);
        if (c.ok && c.required) {
            EXPECT_TRUE(SameGuid(kDiskClass, guids[0]));
        }
    }
    GUID one{};
    DWORD required = 0;
    EXPECT_FALSE(sim.SetupDiClassGuidsFromNameW(L"Twin", &one, 1, &required));
    EXPECT_EQ(2u, required);
    EXPECT_EQ(1u, sim.CallCount("SetupDiClassGuidsFromNameW"));
}

TEST_F(SimWorkstation, ClassWalkListsPresentDevicesOfTheClassInTheSameOrderTwice) {
    UniqueDevInfo set(sim, sim.SetupDiGetClassDevsExW(&kDiskClass, nullptr, nullptr, DIGCF_PRESENT,
                                                      nullptr, nullptr, nullptr));
    ASSERT_TRUE(set);
    std::vector<std::wstring> expected = {L"IDE\\DISKA\\1", L"USBSTOR\\DISK&VEN_B\\2"};
    EXPECT_EQ(expected, DeviceIdsOf(set.Get()));
    EXPECT_EQ(expected, DeviceIdsOf(set.Get()));

    UniqueDevInfo all(
        sim, sim.SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES,
                                        nullptr, nullptr, nullptr));
    EXPECT_EQ(3u, DeviceIdsOf(all.Get()).size());

    SP_DEVINFO_DATA wrongSize{};
    wrongSize.cbSize = sizeof wrongSize + 4;
    EXPECT_FALSE(sim.SetupDiEnumDeviceInfo(set.Get(), 0, &wrongSize));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), sim.GetLastError());
}

TEST_F(SimWorkstation, InterfaceListKeepsItsOwnOrderAndHonoursTheDeviceFilter) {
    UniqueDevInfo ifcs(sim, sim.SetupDiGetClassDevsW(&kGuidDevInterfaceDisk, nullptr, nullptr,
                                                     DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    ASSERT_TRUE(ifcs);
    SP_DEVINFO_DATA owner{};
    owner.cbSize = sizeof owner;
    EXPECT_EQ(SimMachine::InterfacePathFor(L"USBSTOR\\DISK&VEN_B\\2", kGuidDevInterfaceDisk),
              InterfacePath(ifcs.Get(), 0, nullptr, &owner));
    EXPECT_EQ(SimMachine::InterfacePathFor(L"IDE\\DISKA\\1", kGuidDevInterfaceDisk),
              InterfacePath(ifcs.Get(), 1));
    EXPECT_EQ(L"", InterfacePath(ifcs.Get(), 2));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), sim.GetLastError());

    // Filtered by the owner just read: only its interface.
    EXPECT_EQ(SimMachine::InterfacePathFor(L"USBSTOR\\DISK&VEN_B\\2", kGuidDevInterfaceDisk),
              InterfacePath(ifcs.Get(), 0, &owner));
    EXPECT_EQ(L"", InterfacePath(ifcs.Get(), 1, &owner));

    SP_DEVICE_INTERFACE_DATA ifc{};
    ifc.cbSize = sizeof ifc;
    ASSERT_TRUE(
        sim.SetupDiEnumDeviceInterfaces(ifcs.Get(), nullptr, &kGuidDevInterfaceDisk, 0, &ifc));
    std::vector<BYTE> buffer(512);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = static_cast<DWORD>(buffer.size());  // the classic mistake: the buffer size
    EXPECT_FALSE(
        sim.SetupDiGetDeviceInterfaceDetailW(ifcs.Get(), &ifc, detail, 512, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), sim.GetLastError());
}

TEST_F(SimWorkstation, PropertiesReportTypeAndRequiredSizeAndAbsenceAsInvalidData) {
    SimDevice* disk = sim.FindDevice(L"IDE\\DISKA\\1");
    disk->hardwareIds = std::vector<std::wstring>{std::wstring(600, L'H'), L"GenDisk"};
    disk->deviceDesc.reset();
    UniqueDevInfo set(sim, sim.SetupDiGetClassDevsExW(&kDiskClass, nullptr, nullptr, DIGCF_PRESENT,
                                                      nullptr, nullptr, nullptr));
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(sim.SetupDiEnumDeviceInfo(set.Get(), 0, &data));

    struct Case {
        DWORD property;
        DWORD type;
        DWORD size;  // 0: absent
    } cases[] = {
        {SPDRP_FRIENDLYNAME, REG_SZ, sizeof(WCHAR) * 11},                 // "Alpha Disk"
        {SPDRP_HARDWAREID, REG_MULTI_SZ, sizeof(WCHAR) * (601 + 8 + 1)},  // > 1024 bytes
        {SPDRP_COMPATIBLEIDS, REG_MULTI_SZ, sizeof(WCHAR) * 1},           // empty list
        {SPDRP_DEVICEDESC, 0, 0},
    };
    for (const auto& c : cases) {
        DWORD type = 0, required = 0;
        BYTE small[8];
        sim.SetLastError(0);
        BOOL ok = sim.SetupDiGetDeviceRegistryPropertyW(set.Get(), &data, c.property, &type, small,
                                                        sizeof small, &required);
        EXPECT_EQ(c.size != 0 && c.size <= sizeof small, ok != FALSE) << c.property;
        if (!c.size) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), sim.GetLastError());
            continue;
        }
        if (c.size <= sizeof small) {
            EXPECT_EQ(0u, sim.GetLastError());
        } else {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), sim.GetLastError())
                << c.property;
        }
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.size, required);
        std::vector<BYTE> buffer(required);
        EXPECT_TRUE(sim.SetupDiGetDeviceRegistryPropertyW(set.Get(), &data, c.property, &type,
                                                          buffer.data(), required, &required));
    }
}

TEST_F(SimWorkstation, InstanceIdentifiersAndOpeningADeviceByItsIdentifier) {
    UniqueDevInfo set(sim, sim.SetupDiCreateDeviceInfoListExW(nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(set);
    SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
    detail.cbSize = sizeof detail - 2;
    EXPECT_FALSE(sim.SetupDiGetDeviceInfoListDetailW(set.Get(), &detail));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), sim.GetLastError());
    detail.cbSize = sizeof detail;
    EXPECT_TRUE(sim.SetupDiGetDeviceInfoListDetailW(set.Get(), &detail));

    EXPECT_FALSE(sim.SetupDiOpenDeviceInfoW(set.Get(), L"?", nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SUCH_DEVINST), sim.GetLastError());
    EXPECT_TRUE(
        sim.SetupDiOpenDeviceInfoW(set.Get(), L"usbstor\\disk&ven_e\\5", nullptr, 0, nullptr))
        << "a known device that is not present opens too";
    std::vector<std::wstring> expected = {L"USBSTOR\\DISK&VEN_E\\5"};
    EXPECT_EQ(expected, DeviceIdsOf(set.Get()));

    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(sim.SetupDiEnumDeviceInfo(set.Get(), 0, &data));
    WCHAR shortBuffer[5];
    EXPECT_EQ(static_cast<DWORD>(CR_BUFFER_SMALL),
              sim.CM_Get_Device_ID_ExW(data.DevInst, shortBuffer, 5, 0, nullptr));
    DWORD required = 0;
    EXPECT_FALSE(sim.SetupDiGetDeviceInstanceIdW(set.Get(), &data, shortBuffer, 5, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), sim.GetLastError());
    EXPECT_EQ(expected[0].size() + 1, required);
}

// Removes a device through the class installer as the program does.
BOOL RemoveThroughClassInstaller(SimMachine& sim, const WCHAR* id, DWORD* flags) {
    UniqueDevInfo set(sim, sim.SetupDiCreateDeviceInfoListExW(nullptr, nullptr, nullptr, nullptr));
    sim.SetupDiOpenDeviceInfoW(set.Get(), id, nullptr, 0, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!sim.SetupDiEnumDeviceInfo(set.Get(), 0, &data)) return FALSE;
    SP_REMOVEDEVICE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    params.Scope = DI_REMOVEDEVICE_GLOBAL;
    if (!sim.SetupDiSetClassInstallParamsW(set.Get(), &data, &params.ClassInstallHeader,
                                           sizeof params))
        return FALSE;
    BOOL ok = sim.SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &data);
    SP_DEVINSTALL_PARAMS_W install{};
    install.cbSize = sizeof install;
    if (ok && sim.SetupDiGetDeviceInstallParamsW(set.Get(), &data, &install))
        *flags = install.Flags;
    return ok;
}

TEST_F(SimWorkstation, RemovalOutcomes) {
    struct Case {
        SimRemovalOutcome outcome;
        bool holdVolumeOpen;
        BOOL ok;
        DWORD flags;
        bool gone;
    } cases[] = {
        {SimRemovalOutcome::Removed, false, TRUE, 0, true},
        {SimRemovalOutcome::Declined, false, FALSE, 0, false},
        {SimRemovalOutcome::RemovedNeedsRestart, false, TRUE, DI_NEEDRESTART, false},
        {SimRemovalOutcome::RemovedNeedsReboot, false, TRUE, DI_NEEDREBOOT, false},
        {SimRemovalOutcome::Removed, true, TRUE, DI_NEEDREBOOT, false},  // a handle keeps it in
    };
    for (const auto& c : cases) {
        SimMachine fresh;
        SimDevice stick = SimMachine::MakeDisk(L"USBSTOR\\X\\1", L"Stick", 1, BusTypeUsb);
        stick.removal = c.outcome;
        fresh.AddDevice(stick);
        fresh.AddVolume(SimMachine::MakeVolume(L'E', 1, 100, DRIVE_REMOVABLE));
        std::vector<UINT> seen;
        fresh.deviceChangeTarget = [&](UINT event) { seen.push_back(event); };
        UniqueHandle held(fresh);
        if (c.holdVolumeOpen)
            held.Reset(fresh.CreateFileW(L"\\\\.\\E:", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr));

        DWORD flags = 0;
        EXPECT_EQ(c.ok, RemoveThroughClassInstaller(fresh, L"USBSTOR\\X\\1", &flags));
        EXPECT_EQ(c.flags, flags);
        EXPECT_EQ(c.gone, fresh.FindDevice(L"USBSTOR\\X\\1") == nullptr);
        EXPECT_EQ(c.gone, fresh.FindVolume(L'E') == nullptr) << "the letter goes with the device";
        EXPECT_TRUE(seen.empty()) << "notifications wait for the message loop";
        fresh.PumpMessages();
        EXPECT_EQ(c.gone ? std::vector<UINT>{DBT_DEVICEREMOVECOMPLETE} : std::vector<UINT>{}, seen);
        held.Reset();
        EXPECT_EQ("", fresh.LeakReport());
    }
}

TEST_F(SimWorkstation, ClassInstallParamsAreChecked) {
    UniqueDevInfo set(sim, sim.SetupDiGetClassDevsExW(&kDiskClass, nullptr, nullptr, DIGCF_PRESENT,
                                                      nullptr, nullptr, nullptr));
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(sim.SetupDiEnumDeviceInfo(set.Get(), 0, &data));
    SP_REMOVEDEVICE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof params;  // the whole record instead of the header
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    EXPECT_FALSE(sim.SetupDiSetClassInstallParamsW(set.Get(), &data, &params.ClassInstallHeader,
                                                   sizeof params));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), sim.GetLastError());
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    EXPECT_FALSE(
        sim.SetupDiSetClassInstallParamsW(set.Get(), &data, &params.ClassInstallHeader, 12));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), sim.GetLastError());
}

// Windows broadcasts only lettered volumes to every window; the disk's own
// arrival reaches a window only when it registered for disk interfaces.
TEST(SimNotifications, ReenumerationNotifiesInsideTheNextMessageBoxWhomWindowsWould) {
    for (const bool registered : {false, true}) {
        SimMachine sim;
        SimDevice stick = SimMachine::MakeDisk(L"USBSTOR\\D\\4", L"Stick", 4, BusTypeUsb);
        stick.pending = true;
        sim.AddDevice(stick);
        SimVolume volume = SimMachine::MakeVolume(L'G', 4, 100, DRIVE_REMOVABLE);
        volume.pending = true;
        sim.AddVolume(volume);
        std::vector<UINT> seen;
        sim.deviceChangeTarget = [&](UINT event) { seen.push_back(event); };
        size_t seenInBox = 0;
        sim.messageBoxHook = [&](const SimMessageBox&) {
            seenInBox = seen.size();
            return 0;
        };
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = kGuidDevInterfaceDisk;
        UniqueDevNotify registration(sim);
        if (registered)
            registration.Reset(sim.RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(0x20000),
                                                               &filter,
                                                               DEVICE_NOTIFY_WINDOW_HANDLE));
        DEVINST root = 0;
        ASSERT_EQ(static_cast<DWORD>(CR_SUCCESS),
                  sim.CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
        ASSERT_EQ(static_cast<DWORD>(CR_SUCCESS),
                  sim.CM_Reenumerate_DevNode(root, CM_REENUMERATE_SYNCHRONOUS));
        EXPECT_TRUE(seen.empty());
        EXPECT_NE(nullptr, sim.FindVolume(L'G'));

        EXPECT_EQ(IDOK, sim.MessageBoxW(nullptr, L"text", L"Trayhop32", MB_OK));
        EXPECT_EQ(registered ? 2u : 1u, seenInBox) << "the arrivals reach the window in the box";
        const auto& details = sim.DeliveredDeviceChangeDetails();
        ASSERT_EQ(seenInBox, details.size());
        EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_VOLUME), details.back().deviceType);
        EXPECT_EQ(1u << (L'G' - L'A'), details.back().unitMask);
        if (registered) {
            EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE), details[0].deviceType);
        }

        sim.reenumerateResult = CR_ACCESS_DENIED;
        EXPECT_EQ(static_cast<DWORD>(CR_ACCESS_DENIED),
                  sim.CM_Reenumerate_DevNode(root, CM_REENUMERATE_SYNCHRONOUS));
        registration.Reset();
        EXPECT_EQ("", sim.LeakReport());
    }
}

// ---- Storage and volume control ------------------------------------------------

STORAGE_PROPERTY_QUERY DeviceQuery() {
    STORAGE_PROPERTY_QUERY q{};
    q.PropertyId = StorageDeviceProperty;
    q.QueryType = PropertyStandardQuery;
    return q;
}

TEST_F(SimWorkstation, DescriptorQueryTellsTheFullSizeInAFortyByteBufferThenFillsTheStrings) {
    UniqueHandle disk(
        sim, sim.CreateFileW(L"\\\\.\\PhysicalDrive1", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(disk);
    STORAGE_PROPERTY_QUERY q = DeviceQuery();
    STORAGE_DEVICE_DESCRIPTOR fixed{};
    fixed.Size = sizeof fixed;
    DWORD bytes = 0;
    ASSERT_TRUE(sim.DeviceIoControl(disk.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, &fixed,
                                    sizeof fixed, &bytes, nullptr));
    EXPECT_EQ(40u, bytes);
    EXPECT_GT(fixed.Size, 40u);
    EXPECT_EQ(static_cast<STORAGE_BUS_TYPE>(BusTypeUsb), fixed.BusType);

    std::vector<BYTE> full(fixed.Size + 200, 0);
    ASSERT_TRUE(sim.DeviceIoControl(disk.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q,
                                    full.data(), static_cast<DWORD>(full.size()), &bytes, nullptr));
    EXPECT_EQ(fixed.Size, bytes);
    STORAGE_DEVICE_DESCRIPTOR d;
    std::memcpy(&d, full.data(), sizeof d);
    const char* base = reinterpret_cast<const char*>(full.data());
    EXPECT_STREQ("SIM     ", base + d.VendorIdOffset);
    EXPECT_STREQ("SIM DISK        ", base + d.ProductIdOffset);
    EXPECT_STREQ("1.00", base + d.ProductRevisionOffset);
    EXPECT_STREQ("SIM1", base + d.SerialNumberOffset);

    BYTE tiny[4];
    EXPECT_FALSE(sim.DeviceIoControl(disk.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, tiny,
                                     sizeof tiny, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), sim.GetLastError());
}

TEST(SimStorage, AbsentSerialAndRawDescriptors) {
    struct Case {
        bool allOnes;
        std::optional<std::vector<BYTE>> raw;
        DWORD serialOffset;
        DWORD size;
    } cases[] = {
        {false, std::nullopt, 0, 0},
        {true, std::nullopt, 0xFFFFFFFF, 0},
        // A hostile device: a Size far beyond what it returns and a wild offset.
        {false, std::vector<BYTE>{1, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xF0, 0xFF, 0, 0}, 0,
         0xFFFF},
        // A device that answers nothing at all: no bytes, and no read of any.
        {false, std::vector<BYTE>{}, 0, 0},
    };
    for (const auto& c : cases) {
        SimMachine sim;
        SimDevice d = SimMachine::MakeDisk(L"IDE\\D\\1", L"D", 0);
        d.storage.serial.reset();
        d.storage.serialOffsetAllOnes = c.allOnes;
        d.storage.rawDescriptor = c.raw;
        sim.AddDevice(d);
        UniqueHandle h(sim, sim.CreateFileW(d.interfacePath.c_str(), GENERIC_READ, 1, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        STORAGE_PROPERTY_QUERY q = DeviceQuery();
        STORAGE_DEVICE_DESCRIPTOR out{};
        DWORD bytes = 0;
        ASSERT_TRUE(sim.DeviceIoControl(h.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, &out,
                                        sizeof out, &bytes, nullptr));
        EXPECT_EQ(c.serialOffset, out.SerialNumberOffset);
        if (c.raw) {
            EXPECT_EQ(c.raw->size(), bytes) << "only the bytes the device has";
            EXPECT_EQ(c.size, out.Size);
        }
    }
}

TEST(SimStorage, ExtentsBeyondTwentySevenAreMoreDataWithTheCount) {
    for (DWORD count : {27u, 28u}) {
        SimMachine sim;
        sim.AddDevice(SimMachine::MakeDisk(L"IDE\\D\\1", L"D", 0));
        SimVolume v = SimMachine::MakeVolume(L'C', 0, 10);
        v.extents.assign(count, SimExtent{0, 0, 10});
        sim.AddVolume(v);
        UniqueHandle h(sim, sim.CreateFileW(v.guidPath.substr(0, v.guidPath.size() - 1).c_str(), 0,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(h);
        std::vector<BYTE> buffer(kExtentsBufferSize, 0);
        DWORD bytes = 0;
        BOOL ok = sim.DeviceIoControl(h.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                      buffer.data(), kExtentsBufferSize, &bytes, nullptr);
        VOLUME_DISK_EXTENTS header;
        std::memcpy(&header, buffer.data(), sizeof header);
        EXPECT_EQ(count, header.NumberOfDiskExtents);
        if (count == kExtentsBufferCapacity) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(kExtentsBufferSize, bytes);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), sim.GetLastError());
        }
    }
}

TEST_F(SimWorkstation, ControlRequestsAnswerWithRealLayoutsAndChosenErrors) {
    sim.FindDevice(L"IDE\\CDROMC\\3")->storage.ioctlErrors[IOCTL_CDROM_GET_DRIVE_GEOMETRY] =
        ERROR_NOT_READY;
    sim.FindDevice(L"IDE\\DISKA\\1")->storage.media.clear();
    UniqueHandle disk(
        sim, sim.CreateFileW(
                 SimMachine::InterfacePathFor(L"IDE\\DISKA\\1", kGuidDevInterfaceDisk).c_str(),
                 GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    // The CD-ROM geometry request needs read access on the handle.
    UniqueHandle cd(
        sim, sim.CreateFileW(L"\\\\?\\D:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(disk);
    ASSERT_TRUE(cd);
    DWORD bytes = 0;

    DISK_GEOMETRY g{};
    ASSERT_TRUE(sim.DeviceIoControl(disk.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g,
                                    sizeof g, &bytes, nullptr));
    EXPECT_EQ(sizeof g, bytes);
    EXPECT_EQ(512u, g.BytesPerSector);
    EXPECT_EQ(static_cast<MEDIA_TYPE>(FixedMedia), g.MediaType);

    STORAGE_DEVICE_NUMBER n{};
    ASSERT_TRUE(sim.DeviceIoControl(disk.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &n,
                                    sizeof n, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(FILE_DEVICE_DISK), n.DeviceType);
    EXPECT_EQ(0u, n.DeviceNumber);

    std::vector<BYTE> media(600, 0xCC);
    ASSERT_TRUE(sim.DeviceIoControl(disk.Get(), IOCTL_STORAGE_GET_MEDIA_TYPES_EX, nullptr, 0,
                                    media.data(), 600, &bytes, nullptr));
    GET_MEDIA_TYPES types;
    std::memcpy(&types, media.data(), sizeof types);
    EXPECT_EQ(static_cast<DWORD>(FILE_DEVICE_DISK), types.DeviceType);
    EXPECT_EQ(0u, types.MediaInfoCount);

    // The CD volume has no extents; its own device answers through "\\?\D:".
    std::vector<BYTE> extents(kExtentsBufferSize);
    EXPECT_FALSE(sim.DeviceIoControl(cd.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                     extents.data(), kExtentsBufferSize, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), sim.GetLastError());
    EXPECT_FALSE(sim.DeviceIoControl(cd.Get(), IOCTL_CDROM_GET_DRIVE_GEOMETRY, nullptr, 0, &g,
                                     sizeof g, &bytes, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), sim.GetLastError());
    STORAGE_PROPERTY_QUERY q = DeviceQuery();
    STORAGE_DEVICE_DESCRIPTOR d{};
    ASSERT_TRUE(sim.DeviceIoControl(cd.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q, &d,
                                    sizeof d, &bytes, nullptr));
    EXPECT_EQ(5, d.DeviceType);

    EXPECT_FALSE(sim.DeviceIoControl(disk.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &n,
                                     sizeof n, nullptr, nullptr));
    EXPECT_EQ(1u, sim.ProgramErrors().size()) << "no lpBytesReturned is a program error";
}

TEST_F(SimWorkstation, VolumeOpensLocksAndFlushes) {
    SimVolume* c = sim.FindVolume(L'C');
    const std::wstring name = c->guidPath.substr(0, c->guidPath.size() - 1);
    auto open = [&](DWORD access, DWORD share) {
        return UniqueHandle(
            sim, sim.CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    {
        UniqueHandle h = open(GENERIC_READ, 3);
        DWORD bytes = 0;
        EXPECT_TRUE(sim.DeviceIoControl(h.Get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes,
                                        nullptr));
        EXPECT_TRUE(sim.DeviceIoControl(h.Get(), FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0,
                                        &bytes, nullptr));
        EXPECT_FALSE(sim.DeviceIoControl(h.Get(), FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0,
                                         &bytes, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_LOCKED), sim.GetLastError());

        UniqueHandle other = open(GENERIC_READ, 3);
        EXPECT_FALSE(sim.DeviceIoControl(h.Get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes,
                                         nullptr))
            << "another open handle keeps the lock away";
        UniqueHandle exclusive = open(GENERIC_READ | GENERIC_WRITE, 0);
        EXPECT_FALSE(exclusive);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), sim.GetLastError());
    }
    c->filesOpen = true;
    {
        UniqueHandle h = open(GENERIC_READ, 3);
        DWORD bytes = 0;
        EXPECT_FALSE(sim.DeviceIoControl(h.Get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes,
                                         nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), sim.GetLastError());
    }
    {
        UniqueHandle h = open(GENERIC_READ | GENERIC_WRITE, 0);
        ASSERT_TRUE(h);
        EXPECT_TRUE(sim.FlushFileBuffers(h.Get()));
        c->flushError = ERROR_IO_DEVICE;
        EXPECT_FALSE(sim.FlushFileBuffers(h.Get()));
        EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), sim.GetLastError());
    }
    c->openAccessDenied = true;
    EXPECT_TRUE(open(0, FILE_SHARE_READ)) << "query access needs no rights";
    EXPECT_FALSE(open(GENERIC_READ, 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), sim.GetLastError());
    EXPECT_EQ("", sim.LeakReport());
}

TEST_F(SimWorkstation, VolumeNameOfARootKeepsTheTrailingBackslash) {
    WCHAR name[100];
    ASSERT_TRUE(sim.GetVolumeNameForVolumeMountPointW(L"E:\\", name, 100));
    EXPECT_EQ(sim.FindVolume(L'E')->guidPath, name);
    EXPECT_FALSE(sim.GetVolumeNameForVolumeMountPointW(L"E:", name, 100));
    sim.FindVolume(L'E')->mountPointError = ERROR_INVALID_PARAMETER;  // e.g. a SUBST letter
    EXPECT_FALSE(sim.GetVolumeNameForVolumeMountPointW(L"E:\\", name, 100));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), sim.GetLastError());
    EXPECT_EQ(static_cast<UINT>(DRIVE_CDROM), sim.GetDriveTypeW(L"D:\\"));
    EXPECT_EQ(static_cast<UINT>(DRIVE_NO_ROOT_DIR), sim.GetDriveTypeW(L"Q:\\"));
}

// A volume mounted in a folder answers for that folder wherever a root is
// asked for, and a file under the folder is on it, not on C:.
TEST_F(SimWorkstation, AFolderMountedVolumeAnswersForItsFolderAndHoldsItsFiles) {
    SimVolume backup = SimMachine::MakeVolume(0, 1, 5000, DRIVE_REMOVABLE);
    backup.guidPath = L"\\\\?\\Volume{bac00000-0000-11d0-b6bf-00a0c91efb8b}\\";
    backup.mountFolders = {L"C:\\Backup\\"};
    sim.AddVolume(backup);
    WCHAR name[100];
    ASSERT_TRUE(sim.GetVolumeNameForVolumeMountPointW(L"c:\\backup\\", name, 100));
    EXPECT_EQ(backup.guidPath, name);
    EXPECT_EQ(static_cast<UINT>(DRIVE_REMOVABLE), sim.GetDriveTypeW(L"C:\\Backup\\"));
    DWORD folderSerial = 0, guidSerial = 0, cSerial = 0;
    EXPECT_TRUE(sim.GetVolumeInformationW(L"C:\\Backup\\", nullptr, 0, &folderSerial, nullptr,
                                          nullptr, nullptr, 0));
    EXPECT_TRUE(sim.GetVolumeInformationW(backup.guidPath.c_str(), nullptr, 0, &guidSerial, nullptr,
                                          nullptr, nullptr, 0));
    EXPECT_TRUE(
        sim.GetVolumeInformationW(L"C:\\", nullptr, 0, &cSerial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(folderSerial, guidSerial);
    EXPECT_NE(folderSerial, cSerial);

    sim.AddProcess({2000, L"backup.exe", {{L'C', L"\\BACKUP\\set.bak", false, false}}, false});
    EXPECT_FALSE(sim.VolumeHeldByProcess(L'C'));
    auto lock = [&](const std::wstring& guidPath) {
        const std::wstring bare = guidPath.substr(0, guidPath.size() - 1);
        UniqueHandle h(sim, sim.CreateFileW(bare.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING,
                                            0, nullptr));
        DWORD bytes = 0;
        return sim.DeviceIoControl(h.Get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes,
                                   nullptr) != FALSE;
    };
    EXPECT_FALSE(lock(backup.guidPath));
    EXPECT_TRUE(lock(sim.FindVolume(L'C')->guidPath));
    EXPECT_EQ("", sim.LeakReport());
}

// ---- Accounting and faults -------------------------------------------------------

TEST_F(SimWorkstation, LeaksAreNamedAndOwnersReleaseOnEveryPath) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, sim.RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Leak", 0, nullptr,
                                                 0, KEY_WRITE, nullptr, &key, nullptr));
    HANDLE h = sim.CreateFileW(L"\\\\.\\C:", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    HDEVINFO set = sim.SetupDiGetClassDevsW(&kDiskClass, nullptr, nullptr, DIGCF_PRESENT);
    EXPECT_EQ(1u, sim.OutstandingKeys());
    EXPECT_EQ(1u, sim.OutstandingHandles());
    EXPECT_EQ(1u, sim.OutstandingDevInfoSets());
    std::string report = sim.LeakReport();
    EXPECT_NE(std::string::npos, report.find("HKCU\\SOFTWARE\\LEAK"));
    EXPECT_NE(std::string::npos, report.find("\\\\.\\C:"));
    EXPECT_NE(std::string::npos, report.find("device information set"));

    auto owned = [&](bool earlyOut) {
        UniqueKey k(sim, key);
        UniqueHandle f(sim, h);
        UniqueDevInfo s(sim, set);
        if (earlyOut) throw std::runtime_error("early way out");
    };
    EXPECT_THROW(owned(true), std::runtime_error);
    EXPECT_EQ("", sim.LeakReport());
    EXPECT_TRUE(sim.ProgramErrors().empty());

    EXPECT_FALSE(sim.CloseHandle(h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), sim.GetLastError());
    EXPECT_EQ(ERROR_INVALID_HANDLE, sim.RegCloseKey(key));
    EXPECT_FALSE(sim.SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(3u, sim.ProgramErrors().size());
}

TEST_F(SimWorkstation, InjectedFaultsFailTheChosenCallTheWayThatFunctionFails) {
    size_t before = sim.CallCount();
    sim.FailCall(before + 2, ERROR_GEN_FAILURE);
    sim.FailMethod("RegQueryValueExW", 1, ERROR_ACCESS_DENIED);
    sim.FailMethod("CM_Reenumerate_DevNode", 1, CR_FAILURE);

    UniqueHandle first(sim,
                       sim.CreateFileW(L"\\\\.\\C:", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr));
    UniqueHandle second(sim,
                        sim.CreateFileW(L"\\\\.\\C:", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(INVALID_HANDLE_VALUE, second.Get());
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), sim.GetLastError());
    EXPECT_EQ("CreateFileW", sim.Calls()[before + 1].method);

    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              sim.RegQueryValueExW(HKEY_CURRENT_USER, L"x", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(CR_FAILURE), sim.CM_Reenumerate_DevNode(0, 0));
    EXPECT_EQ(0u, sim.reenumerations);
    EXPECT_EQ(2u, sim.CallCount("CreateFileW"));
}

TEST(SimFeedback, MessageBoxesAreRecordedAndAnsweredFromTheScript) {
    SimMachine sim;
    sim.messageBoxAnswers = {IDCONTINUE};
    EXPECT_EQ(IDCONTINUE, sim.MessageBoxW(nullptr, L"a", L"Trayhop32", MB_CANCELTRYCONTINUE));
    EXPECT_EQ(IDCANCEL, sim.MessageBoxW(nullptr, L"b", L"Trayhop32", MB_CANCELTRYCONTINUE));
    EXPECT_EQ(IDYES, sim.MessageBoxW(nullptr, L"c", L"Trayhop32", MB_YESNO));
    sim.messageBoxHook = [](const SimMessageBox& box) { return box.text == L"d" ? IDNO : 0; };
    EXPECT_EQ(IDNO, sim.MessageBoxW(nullptr, L"d", L"Trayhop32", MB_YESNO | MB_ICONQUESTION));
    ASSERT_EQ(4u, sim.messageBoxes.size());
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), sim.messageBoxes[3].flags);
    EXPECT_EQ(L"Trayhop32", sim.messageBoxes[3].caption);
}

TEST(SimText, SystemTextsAndAnsiConversion) {
    SimMachine sim;
    WCHAR text[250];
    EXPECT_EQ(19u, sim.FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, text, 250));
    EXPECT_EQ(L"Access is denied.\r\n", std::wstring(text));
    EXPECT_EQ(0u, sim.FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x1234, 0, text, 250));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), sim.GetLastError());

    WCHAR wide[4];
    EXPECT_EQ(4, sim.MultiByteToWideChar(CP_ACP, 0, "ab\xe9", -1, wide, 4));
    EXPECT_EQ(std::wstring(L"ab\u00e9"), wide);
    EXPECT_EQ(0, sim.MultiByteToWideChar(CP_ACP, 0, "abcd", -1, wide, 4));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), sim.GetLastError());
}

TEST(SimProcess, EditionQueryAndTheRunningInstance) {
    struct Case {
        SimEdition edition;
        bool found;
        UINT result;
        DWORD error;
    } cases[] = {
        {SimEdition::Bits32, true, 0, ERROR_CALL_NOT_IMPLEMENTED},
        {SimEdition::Bits64, true, 19, 0},  // C:\\WINDOWS\\SysWOW64
        {SimEdition::FunctionMissing, false, 0, 0},
        {SimEdition::QueryFails, true, 0, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SimMachine sim;
        sim.edition = c.edition;
        FARPROC proc =
            sim.GetProcAddress(sim.GetModuleHandleW(L"kernel32"), "GetSystemWow64DirectoryW");
        EXPECT_EQ(c.found, proc != nullptr);
        if (!proc) continue;
        WCHAR dir[260];
        sim.SetLastError(0);
        EXPECT_EQ(c.result, sim.GetSystemWow64DirectoryW(proc, dir, 260));
        EXPECT_EQ(c.error, sim.GetLastError());
    }

    SimMachine sim;
    sim.AddExistingMutex(L"Global\\Quenwell Trayhop32");
    HWND other = sim.AddWindow(SimWindow{L"#32770", L"Trayhop32", true});
    UniqueHandle m(sim, sim.CreateMutexW(nullptr, FALSE, L"Global\\Quenwell Trayhop32"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), sim.GetLastError());
    EXPECT_EQ(other, sim.FindWindowW(L"#32770", L"Trayhop32"));
    EXPECT_TRUE(sim.IsIconic(other));
    sim.ShowWindow(other, SW_RESTORE);
    EXPECT_FALSE(sim.IsIconic(other));
    EXPECT_EQ("ShowWindow", sim.windowActions.at(0).call);
}

}  // namespace

namespace {

// A machine left running (the demo) forgets its records between commands
// but keeps counting, and still knows what is open.
TEST(SimHistory, ForgettingKeepsCountsAndOpenObjects) {
    SimMachine sim;
    sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISK\\1", L"Disk", 0));
    sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 1000000));
    sim.MessageBeep(MB_ICONEXCLAMATION);
    const HANDLE volume = sim.CreateFileW(L"\\\\.\\C:", GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);

    sim.ForgetHistory();
    EXPECT_TRUE(sim.Calls().empty());
    EXPECT_TRUE(sim.beeps.empty());
    EXPECT_EQ(sim.CallCount("CreateFileW"), 1u);
    EXPECT_EQ(sim.OutstandingHandles(), 1u);

    EXPECT_TRUE(sim.CloseHandle(volume));
    EXPECT_EQ(sim.LeakReport(), "");
    EXPECT_TRUE(sim.ProgramErrors().empty());
}

// A machine that does not record its calls still counts them, and a call
// armed to fail by its number still fails.
TEST(SimHistory, UnrecordedCallsAreCountedAndFailOnRequest) {
    SimMachine sim;
    sim.recordCalls = false;
    sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 1000000));
    sim.FailCall(2, ERROR_ACCESS_DENIED);
    sim.MessageBeep(MB_OK);
    EXPECT_EQ(sim.CreateFileW(L"\\\\.\\C:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(sim.Calls().empty());
    EXPECT_EQ(sim.CallCount(), 2u);
    EXPECT_EQ(sim.CallCount("CreateFileW"), 1u);
}

}  // namespace
