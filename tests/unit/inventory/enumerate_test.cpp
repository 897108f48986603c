#include "app/ProgramName.h"
#include "app/Trayhop32App.h"
#include "inventory/DeviceProperties.h"
#include "inventory/Enumerate.h"
#include "platform/Owners.h"
#include "tests/unit/inventory/InventoryMachines.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace inventory_test;

namespace {

const std::wstring kIoError =
    L"The request could not be performed because of an I/O device error.\r\n";
const std::wstring kDenied = L"Access is denied.\r\n";
const std::wstring kDiskId = L"IDE\\DISKSIM\\1";
const std::wstring kCdId = L"IDE\\CDROMSIM\\1";
const std::wstring kTapeId = L"SCSI\\SEQUENTIALSIM\\1";
const WCHAR* const kAllClasses[] = {L"DiskDrive", L"CDROM", L"TapeDrive"};

std::vector<std::wstring> BoxTexts(const SimMachine& sim) {
    std::vector<std::wstring> texts;
    for (const SimMessageBox& box : sim.messageBoxes) texts.push_back(box.text);
    return texts;
}

SimDevice Disk() {
    return SimMachine::MakeDisk(kDiskId, L"SIM DISK", 0);
}
SimDevice Cd() {
    return SimMachine::MakeCdrom(kCdId, L"SIM DVD", 0);
}
SimDevice Tape() {
    return SimMachine::MakeTape(kTapeId, L"SIM TAPE", 0);
}

SimDevice With(SimDevice d, const std::function<void(SimDevice&)>& change) {
    change(d);
    return d;
}
std::function<void(SimDevice&)> FailIoctl(DWORD code, DWORD error) {
    return [=](SimDevice& d) { d.storage.ioctlErrors[code] = error; };
}

struct DeviceCase {
    const char* name;
    SimDevice device;
    std::vector<std::wstring> boxes;
    bool kept;
    LONGLONG capacity = 0;
    LONG mediaDeviceType = 0;
    LONG mediaType = 0;
    LONG deviceNumber = 0;
};

constexpr LONGLONG kDiskBytes = 9726LL * 255 * 63 * 512;  // MakeDisk's 80 GB

SimGeometry Geometry(LONGLONG cylinders) {
    return SimGeometry{cylinders, RemovableMedia, 64, 32, 2048};
}

}  // namespace

TEST(EnumerateStorageClasses, ControlCodeFailuresAreShownOrSilentAndKeepTheDevice) {
    const LONGLONG dvdBytes = 2295LL * 64 * 32 * 2048;
    const std::vector<DeviceCase> cases = {
        {"plain disk", Disk(), {}, true, kDiskBytes, FILE_DEVICE_DISK, FixedMedia, 0},
        {"disk geometry I/O error",
         With(Disk(), FailIoctl(IOCTL_DISK_GET_DRIVE_GEOMETRY, ERROR_IO_DEVICE)),
         {kIoError},
         true,
         0,
         FILE_DEVICE_DISK,
         FixedMedia,
         0},
        {"disk geometry not supported",
         With(Disk(), FailIoctl(IOCTL_DISK_GET_DRIVE_GEOMETRY, ERROR_NOT_SUPPORTED)),
         {},
         true,
         0,
         FILE_DEVICE_DISK,
         FixedMedia,
         0},
        {"media types I/O error: fixed disk from geometry",
         With(Disk(), FailIoctl(IOCTL_STORAGE_GET_MEDIA_TYPES_EX, ERROR_IO_DEVICE)),
         {kIoError},
         true,
         kDiskBytes,
         FILE_DEVICE_DISK,
         FixedMedia,
         0},
        {"media types invalid function: removable from geometry",
         With(SimMachine::MakeDisk(kDiskId, L"SIM USB", 0, BusTypeUsb),
              FailIoctl(IOCTL_STORAGE_GET_MEDIA_TYPES_EX, ERROR_INVALID_FUNCTION)),
         {},
         true,
         kDiskBytes,
         FILE_DEVICE_DISK,
         RemovableMedia,
         0},
        {"media types and geometry fail",
         With(With(Disk(), FailIoctl(IOCTL_STORAGE_GET_MEDIA_TYPES_EX, ERROR_IO_DEVICE)),
              FailIoctl(IOCTL_DISK_GET_DRIVE_GEOMETRY, ERROR_IO_DEVICE)),
         {kIoError, kIoError},
         true,
         0,
         FILE_DEVICE_UNKNOWN,
         0,
         0},
        {"device number unknown",
         With(Disk(), FailIoctl(IOCTL_STORAGE_GET_DEVICE_NUMBER, ERROR_IO_DEVICE)),
         {},
         true,
         kDiskBytes,
         FILE_DEVICE_DISK,
         FixedMedia,
         -1},
        {"disk another program holds open for writing: listed through a no-access handle",
         With(Disk(), [](SimDevice& d) { d.storage.heldForWriting = true; }),
         {},
         true,
         kDiskBytes,
         FILE_DEVICE_DISK,
         FixedMedia,
         0},
        {"DVD drive held for writing: listed, its capacity unknown without a word",
         With(Cd(), [](SimDevice& d) { d.storage.heldForWriting = true; }),
         {},
         true,
         0,
         FILE_DEVICE_DVD,
         0x20,
         0},
        {"descriptor queries fail",
         With(Disk(), FailIoctl(IOCTL_STORAGE_QUERY_PROPERTY, ERROR_ACCESS_DENIED)),
         {kDenied, kDenied},
         true,
         kDiskBytes,
         FILE_DEVICE_DISK,
         FixedMedia,
         0},
        {"descriptor not supported",
         With(Disk(), FailIoctl(IOCTL_STORAGE_QUERY_PROPERTY, ERROR_NOT_SUPPORTED)),
         {},
         true,
         kDiskBytes,
         FILE_DEVICE_DISK,
         FixedMedia,
         0},
        {"DVD with a disc", Cd(), {}, true, dvdBytes, FILE_DEVICE_DVD, 0x20, 0},
        {"DVD without a disc",
         With(Cd(), FailIoctl(IOCTL_CDROM_GET_DRIVE_GEOMETRY, ERROR_NOT_READY)),
         {},
         true,
         0,
         FILE_DEVICE_DVD,
         0x20,
         0},
        {"CD geometry I/O error",
         With(Cd(), FailIoctl(IOCTL_CDROM_GET_DRIVE_GEOMETRY, ERROR_IO_DEVICE)),
         {kIoError},
         true,
         0,
         FILE_DEVICE_DVD,
         0x20,
         0},
        {"DVD geometry of 20 GB is not believed",
         With(Cd(), [](SimDevice& d) { d.storage.geometry = Geometry(152588); }),
         {},
         true,
         0x28000000,
         FILE_DEVICE_DVD,
         0x20,
         0},
        {"CD-ROM geometry of 20 GB is kept",
         With(Cd(),
              [](SimDevice& d) {
                  d.storage.geometry = Geometry(152588);
                  d.storage.mediaDeviceType = FILE_DEVICE_CD_ROM;
              }),
         {},
         true,
         152588LL * 64 * 32 * 2048,
         FILE_DEVICE_CD_ROM,
         0x20,
         0},
        {"tape with a tape",
         Tape(),
         {},
         true,
         20ll * 1000 * 1000 * 1000,
         FILE_DEVICE_TAPE,
         0x31,
         0},
        {"tape drive without a tape",
         With(Tape(), FailIoctl(IOCTL_TAPE_GET_MEDIA_PARAMS, ERROR_IO_DEVICE)),
         {kIoError},
         true,
         0,
         FILE_DEVICE_TAPE,
         0x31,
         0},
        {"tape not ready",
         With(Tape(), FailIoctl(IOCTL_TAPE_GET_MEDIA_PARAMS, ERROR_NOT_READY)),
         {},
         true,
         0,
         FILE_DEVICE_TAPE,
         0x31,
         0},
        {"optical device type has no capacity query",
         With(Disk(), [](SimDevice& d) { d.storage.deviceType = 7; }),
         {},
         true,
         0,
         FILE_DEVICE_DISK,
         FixedMedia,
         0},
        {"RBC device asks the disk geometry",
         With(Disk(), [](SimDevice& d) { d.storage.deviceType = 14; }),
         {},
         true,
         kDiskBytes,
         FILE_DEVICE_DISK,
         FixedMedia,
         0},
        {"media types without an entry",
         With(Disk(), [](SimDevice& d) { d.storage.media.clear(); }),
         {},
         true,
         kDiskBytes,
         FILE_DEVICE_DISK,
         0,
         0},
        {"interface cannot be opened",
         With(Disk(), [](SimDevice& d) { d.storage.openError = ERROR_ACCESS_DENIED; }),
         {},
         false},
        {"no interface", With(Disk(), [](SimDevice& d) { d.interfacePath.clear(); }), {}, false},
        {"generic name is probed, then dropped",
         With(With(Disk(), FailIoctl(IOCTL_DISK_GET_DRIVE_GEOMETRY, ERROR_IO_DEVICE)),
              [](SimDevice& d) { d.friendlyName.reset(); }),
         {kIoError},
         false},
        {"generic friendly name in capitals",
         With(Disk(), [](SimDevice& d) { d.friendlyName = L"DISK DRIVE"; }),
         {},
         false},
    };
    for (const DeviceCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimMachine sim;
        ShowEverything(sim);
        sim.AddDevice(c.device);
        DriveTable table;
        EXPECT_EQ(kEnumerateDone, EnumerateStorageClasses(sim, table, kAllClasses, 3));
        EXPECT_EQ(c.boxes, BoxTexts(sim));
        for (const SimMessageBox& box : sim.messageBoxes) {
            EXPECT_EQ(nullptr, box.owner);
            EXPECT_EQ(kProgramName, box.caption);
            EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.flags);
        }
        EXPECT_EQ(c.boxes, sim.debugOutput);
        ASSERT_EQ(c.kept ? 1 : 0, table.Count());
        if (c.kept) {
            const DriveRecord& r = table[0];
            EXPECT_EQ(c.device.instanceId, std::wstring(r.deviceInstanceId));
            EXPECT_EQ(*c.device.friendlyName, std::wstring(r.deviceName));
            EXPECT_EQ(c.capacity, r.capacity);
            EXPECT_EQ(c.mediaDeviceType, r.mediaDeviceType);
            EXPECT_EQ(c.mediaType, r.mediaType);
            EXPECT_EQ(c.deviceNumber, r.deviceNumber);
        }
        EXPECT_EQ("", sim.LeakReport());
    }
}

TEST(EnumerateStorageClasses, NamesDecideWhetherADeviceIsProbed) {
    SimMachine sim;
    sim.AddDevice(With(Disk(), [](SimDevice& d) {
        d.friendlyName.reset();
        d.deviceDesc = L"Generic USB Disk";
    }));
    sim.AddDevice(With(SimMachine::MakeDisk(L"IDE\\NONAME\\2", L"x", 1), [](SimDevice& d) {
        d.friendlyName.reset();
        d.deviceDesc.reset();
    }));
    DriveTable table;
    EnumerateStorageClasses(sim, table, kAllClasses, 1);
    ASSERT_EQ(1, table.Count());
    EXPECT_EQ(L"Generic USB Disk", std::wstring(table[0].deviceName));
    // The nameless device is never opened.
    EXPECT_EQ(1u, sim.CallCount("CreateFileW"));
    EXPECT_EQ("", sim.LeakReport());
}

TEST(EnumerateStorageClasses, ClassListResults) {
    SimMachine sim;
    sim.AddDevice(Disk());
    sim.AddDevice(Cd());
    DriveTable table;
    EXPECT_EQ(kEnumerateNoClasses, EnumerateStorageClasses(sim, table, kAllClasses, 0));

    // An unknown name has no GUIDs; absent and empty names are skipped.
    const WCHAR* const odd[] = {nullptr, L"", L"NoSuchClass", L"DiskDrive"};
    EXPECT_EQ(kEnumerateDone, EnumerateStorageClasses(sim, table, odd, 4));
    EXPECT_EQ(1, table.Count());

    // A name that cannot be resolved ends the walk; what was found stays.
    table.Clear();
    sim.FailMethod("SetupDiClassGuidsFromNameExW",
                   sim.CallCount("SetupDiClassGuidsFromNameExW") + 2, ERROR_INVALID_CLASS);
    EXPECT_EQ(kEnumerateFailed, EnumerateStorageClasses(sim, table, kAllClasses, 3));
    EXPECT_EQ(1, table.Count());
    EXPECT_EQ(kDiskId, std::wstring(table[0].deviceInstanceId));
    EXPECT_EQ("", sim.LeakReport());
}

TEST(EnumerateStorageClasses, NameWithMoreGuidsThanTheFirstBufferHolds) {
    SimMachine sim;
    SimDevice cd = Cd();
    sim.AddDevice(cd);
    std::vector<GUID> guids(20, sim.ClassGuidOf(L"Volume"));
    guids[19] = sim.ClassGuidOf(L"CDROM");
    sim.SetClassGuids(L"ManyGuids", guids);
    const WCHAR* const names[] = {L"ManyGuids"};
    DriveTable table;
    EXPECT_EQ(kEnumerateDone, EnumerateStorageClasses(sim, table, names, 1));
    EXPECT_EQ(2u, sim.CallCount("SetupDiClassGuidsFromNameExW"));
    EXPECT_EQ(1, table.Count());
    EXPECT_EQ("", sim.LeakReport());
}

TEST(EnumerateStorageClasses, UnknownDeviceNumberAttachesNoVolume) {
    SimMachine sim;
    sim.AddDevice(With(Disk(), FailIoctl(IOCTL_STORAGE_GET_DEVICE_NUMBER, ERROR_IO_DEVICE)));
    sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 1000));
    SimVolume odd = SimMachine::MakeVolume(L'D', 0xFFFFFFFFu, 1000);
    sim.AddVolume(odd);
    CTrayhop32App app(sim);
    app.RebuildDriveTable();
    ASSERT_EQ(1, app.m_driveTable.Count());
    EXPECT_EQ(-1, app.m_driveTable[0].deviceNumber);
    EXPECT_EQ(0, app.m_driveTable[0].letterCount);
    EXPECT_EQ("", sim.LeakReport());
}

namespace {

// Runs `read` on the first device of the machine's disk class.
template <typename Read>
void WithFirstDisk(SimMachine& sim, Read read) {
    const GUID cls = sim.ClassGuidOf(L"DiskDrive");
    UniqueDevInfo set(sim, sim.SetupDiGetClassDevsExW(&cls, nullptr, nullptr, DIGCF_PRESENT,
                                                      nullptr, nullptr, nullptr));
    ASSERT_TRUE(set.Valid());
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    ASSERT_TRUE(sim.SetupDiEnumDeviceInfo(set.Get(), 0, &device));
    read(set.Get(), &device);
}

}  // namespace

namespace {

// A configuration manager that answers success without writing the
// identifier, as Wine's does.
class SilentConfigManagerMachine : public SimMachine {
public:
    CONFIGRET CM_Get_Device_ID_ExW(DEVINST, PWCHAR, ULONG, ULONG, HMACHINE) override {
        ++silentAnswers;
        return CR_SUCCESS;
    }
    int silentAnswers = 0;
};

}  // namespace

TEST(EnumerateStorageClasses, InstanceIdentifierFromTheSetWhenTheManagerFailsOrWritesNothing) {
    struct IdCase {
        const char* name;
        bool silentManager;
        bool managerFails;
        bool setFails;
        std::wstring id;
    };
    const std::vector<IdCase> cases = {
        {"configuration manager answers", false, false, false, kDiskId},
        {"configuration manager fails", false, true, false, kDiskId},
        {"configuration manager writes nothing", true, false, false, kDiskId},
        {"both fail", false, true, true, L"?"},
        {"nothing written and the set fails", true, false, true, L"?"},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(c.name);
        SilentConfigManagerMachine silent;
        SimMachine plain;
        SimMachine& sim = c.silentManager ? silent : plain;
        sim.AddDevice(Disk());
        if (c.managerFails) sim.FailMethod("CM_Get_Device_ID_ExW", 1, CR_FAILURE);
        if (c.setFails) sim.FailMethod("SetupDiGetDeviceInstanceIdW", 1, ERROR_INVALID_PARAMETER);
        DriveTable table;
        EnumerateStorageClasses(sim, table, kAllClasses, 1);
        // A device whose identifier cannot be read is still listed, as "?".
        ASSERT_EQ(1, table.Count());
        EXPECT_EQ(c.id, std::wstring(table[0].deviceInstanceId));
        EXPECT_EQ(kDiskBytes, table[0].capacity);
        EXPECT_EQ(c.silentManager ? 1 : 0, silent.silentAnswers);
        EXPECT_EQ("", sim.LeakReport());
    }
}

TEST(EnumerateStorageClasses, DeviceWithoutIdentifierStillOpensItsOwnInterface) {
    SimMachine sim;
    const std::wstring ids[] = {L"IDE\\DISKA\\1", L"USBSTOR\\DISKB\\2", L"IDE\\DISKC\\3"};
    for (DWORD n = 0; n < 3; ++n) {
        SimDevice disk = SimMachine::MakeDisk(ids[n], L"Disk " + std::to_wstring(n), n,
                                              n == 1 ? BusTypeUsb : BusTypeAta);
        // The interface list runs in the opposite order of the device list.
        disk.interfaceOrder = 3 - static_cast<int>(n);
        sim.AddDevice(disk);
    }
    // The middle disk's identifier cannot be read at all.
    sim.FailMethod("CM_Get_Device_ID_ExW", 2, CR_FAILURE);
    sim.FailMethod("SetupDiGetDeviceInstanceIdW", 1, ERROR_INVALID_PARAMETER);
    DriveTable table;
    EnumerateStorageClasses(sim, table, kAllClasses, 1);

    ASSERT_EQ(3, table.Count());
    EXPECT_EQ(ids[0], std::wstring(table[0].deviceInstanceId));
    EXPECT_EQ(L"?", std::wstring(table[1].deviceInstanceId));
    EXPECT_EQ(ids[2], std::wstring(table[2].deviceInstanceId));
    for (int n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(n, table[n].deviceNumber);
        EXPECT_EQ(n == 1 ? BusTypeUsb : BusTypeAta, table[n].busType);
    }
    EXPECT_EQ("", sim.LeakReport());
}

namespace {

// Numbers the owner of every interface anew, as Wine does for the devices of
// each device information set: the handle no longer names the same device
// as the one in the class's device list.
class RenumberingMachine : public SimMachine {
public:
    BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size,
                                          PDWORD required, PSP_DEVINFO_DATA owner) override {
        const BOOL ok =
            SimMachine::SetupDiGetDeviceInterfaceDetailW(set, data, detail, size, required, owner);
        if (owner != nullptr) owner->DevInst += kRenumbered;
        return ok;
    }
    static constexpr DEVINST kRenumbered = 1000;
};

}  // namespace

TEST(EnumerateStorageClasses, InterfaceOwnerRecognisedByIdentifierWhenHandlesDiffer) {
    struct OwnerCase {
        const char* name;
        bool renumbered;
        const char* failing;  // the first call of this method fails
        int listed;
    };
    const std::vector<OwnerCase> cases = {
        {"same handle in both sets", false, nullptr, 1},
        {"renumbered owner with the same identifier", true, nullptr, 1},
        // The disk's own identifier comes from the manager, the owner's from the set.
        {"renumbered owner whose identifier cannot be read", true, "SetupDiGetDeviceInstanceIdW",
         0},
    };
    for (const OwnerCase& c : cases) {
        SCOPED_TRACE(c.name);
        RenumberingMachine renumbering;
        SimMachine plain;
        SimMachine& sim = c.renumbered ? renumbering : plain;
        sim.AddDevice(Disk());
        if (c.failing != nullptr) sim.FailMethod(c.failing, 1, ERROR_INVALID_PARAMETER);
        DriveTable table;
        EnumerateStorageClasses(sim, table, kAllClasses, 1);
        ASSERT_EQ(c.listed, table.Count());
        if (c.listed == 1) {
            EXPECT_EQ(kDiskId, std::wstring(table[0].deviceInstanceId));
            EXPECT_EQ(kDiskBytes, table[0].capacity);
        }
        EXPECT_EQ("", sim.LeakReport());
    }
}

TEST(DeviceProperties, InstanceIdentifierIsEmptyWhenNothingAnswers) {
    SilentConfigManagerMachine sim;
    sim.AddDevice(Disk());
    WithFirstDisk(sim, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        WCHAR id[8];
        for (WCHAR& ch : id) ch = L'x';
        // Too small for the identifier: the set refuses too.
        EXPECT_FALSE(ReadDeviceInstanceId(sim, set, device, id, 8));
        EXPECT_EQ(std::wstring(8, L'\0'), std::wstring(id, 8));
        WCHAR whole[201];
        EXPECT_TRUE(ReadDeviceInstanceId(sim, set, device, whole, 201));
        EXPECT_EQ(kDiskId, std::wstring(whole));
    });
    EXPECT_EQ("", sim.LeakReport());
}

TEST(DeviceProperties, LongValuesAreReadWholeAfterOneRetry) {
    SimMachine sim;
    const std::wstring longName(700, L'N');
    std::vector<std::wstring> ids;
    for (int i = 0; i < 300; ++i)
        ids.push_back(L"USBSTOR\\DiskVendor_Product_" + std::to_wstring(i));
    sim.AddDevice(With(Disk(), [&](SimDevice& d) {
        d.friendlyName = longName;
        d.hardwareIds = ids;
        d.compatibleIds = std::vector<std::wstring>{};
    }));
    WithFirstDisk(sim, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        const size_t before = sim.CallCount("SetupDiGetDeviceRegistryPropertyW");
        EXPECT_EQ(std::optional<std::wstring>(longName), GetDeviceName(sim, set, device));
        EXPECT_EQ(before + 2, sim.CallCount("SetupDiGetDeviceRegistryPropertyW"));
        EXPECT_EQ(std::optional<std::vector<std::wstring>>(ids),
                  ReadDeviceMultiStringProperty(sim, set, device, SPDRP_HARDWAREID));
        EXPECT_EQ(std::optional<std::vector<std::wstring>>(std::vector<std::wstring>{}),
                  ReadDeviceMultiStringProperty(sim, set, device, SPDRP_COMPATIBLEIDS));
        EXPECT_EQ(std::nullopt, ReadDeviceStringProperty(sim, set, device, 0x99));
    });
    EXPECT_EQ("", sim.LeakReport());
}

TEST(DeviceProperties, NameFallsBackToTheDescription) {
    SimMachine sim;
    sim.AddDevice(With(Disk(), [](SimDevice& d) {
        d.friendlyName.reset();
        d.deviceDesc = L"Disk drive";
    }));
    WithFirstDisk(sim, [&](HDEVINFO set, SP_DEVINFO_DATA* device) {
        EXPECT_EQ(std::optional<std::wstring>(L"Disk drive"), GetDeviceName(sim, set, device));
        // A multi-string reader asked for a text property still ends its list.
        EXPECT_EQ(
            std::optional<std::vector<std::wstring>>(std::vector<std::wstring>{L"Disk drive"}),
            ReadDeviceMultiStringProperty(sim, set, device, SPDRP_DEVICEDESC));
    });
    EXPECT_EQ("", sim.LeakReport());
}
