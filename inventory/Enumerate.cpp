#include "inventory/Enumerate.h"

#include "inventory/DeviceProperties.h"
#include "inventory/Probe.h"
#include "platform/Owners.h"
#include "platform/Text.h"
#include "settings/SettingsStore.h"

#include <new>
#include <vector>

namespace {

constexpr DWORD kFirstClassGuidCapacity = 16;
constexpr DWORD kDeviceIdBufferChars = 201;
constexpr DWORD kMediaTypesBufferBytes = 600;
constexpr DWORD kBusOptionChars = 4;
// An interface path is short; a larger detail size is not believed.
constexpr DWORD kMaxInterfaceDetailBytes = 64 * 1024;
// A DVD drive that reports more than 10 GiB from its geometry is taken to
// hold a 640 MiB medium: the geometry of such drives is not to be trusted.
constexpr LONGLONG kDvdGeometryLimit = 0x280000000LL;
constexpr LONGLONG kDvdCappedCapacity = 0x28000000LL;
constexpr DWORD kScsiDirectAccess = 0;
constexpr DWORD kScsiSequentialAccess = 1;
constexpr DWORD kScsiCdrom = 5;
constexpr DWORD kScsiRbc = 14;
// STORAGE_BUS_TYPE of SATA drives from Vista on; the XP headers do not name it.
constexpr DWORD kBusTypeSata = 11;

struct BusOption {
    const WCHAR* name;
    // What an unreadable option means: SSA and RAID devices are hidden until
    // the user asks for them.
    bool dropWhenUnreadable;
};

// Indexed by STORAGE_BUS_TYPE 1 to 8 (SATA counts as SCSI); bus type 0 and
// the other buses are never filtered.
constexpr BusOption kBusOptions[] = {
    {L"IgnoreSCSI", false}, {L"IgnoreATAPI", false}, {L"IgnoreIDE", false}, {L"Ignore1394", false},
    {L"IgnoreSSA", true},   {L"IgnoreFibre", false}, {L"IgnoreUSB", false}, {L"IgnoreRAID", true},
};

bool IsBusIgnored(Platform& platform, DWORD busType) {
    // SATA disks answer to the option the dialog labels "SATA & SCSI".
    if (busType == kBusTypeSata) busType = BusTypeScsi;
    if (busType < 1 || busType > 8) return false;
    const BusOption& option = kBusOptions[busType - 1];
    WCHAR value[kBusOptionChars] = {};
    if (!ReadSettingString(platform, HKEY_CURRENT_USER, option.name, value, kBusOptionChars))
        return option.dropWhenUnreadable;
    return value[0] == L'1';
}

// True when the class name resolves to exactly one GUID and it is this one.
bool IsClassOf(Platform& platform, const WCHAR* className, const GUID& classGuid) {
    GUID guid{};
    DWORD required = 0;
    if (!platform.SetupDiClassGuidsFromNameW(className, &guid, 1, &required)) return false;
    return required == 1 && SameGuid(guid, classGuid);
}

GUID InterfaceClassFor(Platform& platform, const GUID& classGuid) {
    if (IsClassOf(platform, L"DiskDrive", classGuid)) return kGuidDevInterfaceDisk;
    if (IsClassOf(platform, L"CDROM", classGuid)) return kGuidDevInterfaceCdrom;
    if (IsClassOf(platform, L"TapeDrive", classGuid)) return kGuidDevInterfaceTape;
    return classGuid;
}

LONGLONG GeometryBytes(const DISK_GEOMETRY& geometry) {
    // Unsigned so that a nonsensical geometry wraps instead of overflowing.
    const ULONGLONG bytes = static_cast<ULONGLONG>(geometry.Cylinders.QuadPart) *
                            geometry.TracksPerCylinder * geometry.SectorsPerTrack *
                            geometry.BytesPerSector;
    return static_cast<LONGLONG>(bytes);
}

// The CD-ROM geometry and tape requests need read access: on a handle opened
// without it their refusal is expected, and the capacity stays unknown.
void ReportQueryError(Platform& platform, DWORD code, bool limitedAccess) {
    if (limitedAccess && code == ERROR_ACCESS_DENIED) return;
    ReportSystemError(platform, code);
}

// A bound on the interfaces looked through for the device's own.
constexpr DWORD kMaxInterfacesWalked = 4096;

// Opens the device path of the interface at `index` when that interface
// belongs to `device`, whose instance identifier is `deviceId` (nullptr when
// unknown). Nothing (INVALID_HANDLE_VALUE with `listed` false) past the end
// of the list; INVALID_HANDLE_VALUE with `listed` true when the interface is
// another device's or cannot be read or opened. `limitedAccess` tells that
// the handle could only be had without data access.
HANDLE OpenInterfaceAt(Platform& platform, HDEVINFO interfaces, const GUID& interfaceClass,
                       DWORD index, const SP_DEVINFO_DATA& device, const WCHAR* deviceId,
                       bool& listed, bool& limitedAccess) {
    listed = false;
    limitedAccess = false;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!platform.SetupDiEnumDeviceInterfaces(interfaces, nullptr, &interfaceClass, index,
                                              &interfaceData))
        return INVALID_HANDLE_VALUE;
    listed = true;

    DWORD required = 0;
    if (!platform.SetupDiGetDeviceInterfaceDetailW(interfaces, &interfaceData, nullptr, 0,
                                                   &required, nullptr) &&
        platform.GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return INVALID_HANDLE_VALUE;
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || required > kMaxInterfaceDetailBytes)
        return INVALID_HANDLE_VALUE;

    // Zeroed with one spare character, so the path ends inside the buffer.
    std::vector<DWORD> storage((required + sizeof(WCHAR) + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA owner{};
    owner.cbSize = sizeof(owner);
    if (!platform.SetupDiGetDeviceInterfaceDetailW(interfaces, &interfaceData, detail, required,
                                                   nullptr, &owner))
        return INVALID_HANDLE_VALUE;
    // Opening another device's interface would describe the wrong drive. A
    // device handle need not be the same in two device information sets
    // (Wine numbers the devices of each set anew), so where the handles
    // differ the instance identifiers decide.
    if (owner.DevInst != device.DevInst) {
        if (deviceId == nullptr) return INVALID_HANDLE_VALUE;
        WCHAR ownerId[kDeviceIdBufferChars];
        if (!ReadDeviceInstanceId(platform, interfaces, &owner, ownerId, kDeviceIdBufferChars) ||
            CompareTextNoCase(ownerId, deviceId) != 0)
            return INVALID_HANDLE_VALUE;
    }
    HANDLE opened = platform.CreateFileW(detail->DevicePath, GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened != INVALID_HANDLE_VALUE) return opened;
    // A disk another program holds open for writing (Disk Management's
    // service, a disk passed through to a virtual machine) refuses that
    // open. The storage queries need no data access, and an open without
    // any is not checked against the other program's sharing, so the disk
    // is still listed.
    limitedAccess = true;
    return platform.CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
}

}  // namespace

int EnumerateStorageClasses(Platform& platform, DriveTable& table, const WCHAR* const* classNames,
                            int classCount, bool applyBusOptions) {
    if (classCount <= 0 || classNames == nullptr) return kEnumerateNoClasses;

    EnumerationContext context(platform, table);
    context.applyBusOptions = applyBusOptions;
    std::vector<GUID> guids;
    try {
        guids.resize(kFirstClassGuidCapacity);
    } catch (const std::bad_alloc&) {
        return kEnumerateFailed;
    }

    for (int n = 0; n < classCount; ++n) {
        const WCHAR* name = classNames[n];
        if (name == nullptr || name[0] == L'\0') continue;

        DWORD required = 0;
        if (!platform.SetupDiClassGuidsFromNameExW(name, guids.data(),
                                                   static_cast<DWORD>(guids.size()), &required,
                                                   nullptr, nullptr)) {
            if (platform.GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= guids.size())
                return kEnumerateFailed;
            try {
                guids.resize(required);
            } catch (const std::bad_alloc&) {
                return kEnumerateFailed;
            }
            if (!platform.SetupDiClassGuidsFromNameExW(name, guids.data(),
                                                       static_cast<DWORD>(guids.size()), &required,
                                                       nullptr, nullptr))
                return kEnumerateFailed;
        }
        const DWORD guidCount =
            required < guids.size() ? required : static_cast<DWORD>(guids.size());

        for (DWORD g = 0; g < guidCount; ++g) {
            const GUID classGuid = guids[g];
            UniqueDevInfo set(platform, platform.SetupDiGetClassDevsExW(&classGuid, nullptr,
                                                                        nullptr, DIGCF_PRESENT,
                                                                        nullptr, nullptr, nullptr));
            if (!set) continue;

            SP_DEVINFO_DATA device{};
            device.cbSize = sizeof(device);
            DWORD deviceCount = 0;
            while (platform.SetupDiEnumDeviceInfo(set.Get(), deviceCount, &device)) ++deviceCount;

            for (DWORD index = 0; index < deviceCount; ++index) {
                device = SP_DEVINFO_DATA{};
                device.cbSize = sizeof(device);
                if (!platform.SetupDiEnumDeviceInfo(set.Get(), index, &device)) break;
                EnumerateOneDevice(context, set.Get(), device);
            }
        }
    }
    return kEnumerateDone;
}

void EnumerateOneDevice(EnumerationContext& context, HDEVINFO set, SP_DEVINFO_DATA& device) {
    Platform& platform = context.platform;
    context.pending.reset();
    context.current = nullptr;

    const std::optional<std::wstring> name = GetDeviceName(platform, set, &device);
    WCHAR id[kDeviceIdBufferChars];
    if (!ReadDeviceInstanceId(platform, set, &device, id, kDeviceIdBufferChars)) {
        id[0] = L'?';
        id[1] = L'\0';
    }
    if (!name) return;

    context.pending = std::make_unique<DriveRecord>(id);
    context.current = context.pending.get();

    // Probed before the name test, so a generic disk's errors are still shown.
    if (!FillFromInterface(context, device) ||
        CompareTextNoCase(name->c_str(), L"Disk Drive") == 0) {
        context.pending.reset();
        context.current = nullptr;
        return;
    }
    CopyField(context.current->deviceName, name->c_str());
    context.table.Append(std::move(context.pending));
}

bool FillFromInterface(EnumerationContext& context, SP_DEVINFO_DATA& device) {
    Platform& platform = context.platform;
    DriveRecord* record = context.current;
    if (record == nullptr) return false;
    // Without its identifier the device cannot name its interfaces; the
    // whole class list is then searched for the one it owns.
    const bool idKnown = CompareTextNoCase(record->deviceInstanceId, L"?") != 0;

    const GUID interfaceClass = InterfaceClassFor(platform, device.ClassGuid);

    // The interfaces of this device only: a device's position in its class
    // list says nothing about the order of the interface list.
    UniqueDevInfo interfaces(
        platform,
        platform.SetupDiGetClassDevsW(&interfaceClass, idKnown ? record->deviceInstanceId : nullptr,
                                      nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!interfaces) return false;

    UniqueHandle handle(platform);
    bool limitedAccess = false;
    for (DWORD index = 0; index < kMaxInterfacesWalked && !handle; ++index) {
        bool listed = false;
        handle.Reset(OpenInterfaceAt(platform, interfaces.Get(), interfaceClass, index, device,
                                     idKnown ? record->deviceInstanceId : nullptr, listed,
                                     limitedAccess));
        if (!listed) break;
    }
    if (!handle) return false;
    interfaces.Reset();

    StorageDescriptor descriptor;
    QueryStorageDescriptor(platform, handle.Get(), descriptor);
    const STORAGE_DEVICE_DESCRIPTOR& header = descriptor.header;

    DWORD returned = 0;
    LONGLONG capacity = 0;
    DISK_GEOMETRY geometry{};
    switch (header.DeviceType) {
        case kScsiCdrom:
        case kScsiDirectAccess:
        case kScsiRbc: {
            const DWORD code = header.DeviceType == kScsiCdrom ? IOCTL_CDROM_GET_DRIVE_GEOMETRY
                                                               : IOCTL_DISK_GET_DRIVE_GEOMETRY;
            if (platform.DeviceIoControl(handle.Get(), code, nullptr, 0, &geometry,
                                         sizeof(geometry), &returned, nullptr)) {
                capacity = GeometryBytes(geometry);
            } else {
                geometry = DISK_GEOMETRY{};
                ReportQueryError(platform, platform.GetLastError(), limitedAccess);
            }
            break;
        }
        case kScsiSequentialAccess: {
            TAPE_GET_MEDIA_PARAMETERS tape{};
            if (platform.DeviceIoControl(handle.Get(), IOCTL_TAPE_GET_MEDIA_PARAMS, nullptr, 0,
                                         &tape, sizeof(tape), &returned, nullptr))
                capacity = tape.Capacity.QuadPart;
            else
                ReportQueryError(platform, platform.GetLastError(), limitedAccess);
            break;
        }
        default:
            break;
    }

    // The media-types answer is read through 8-byte elements to keep it aligned.
    std::vector<ULONGLONG> mediaStorage(kMediaTypesBufferBytes / sizeof(ULONGLONG), 0);
    LONG mediaDeviceType = FILE_DEVICE_UNKNOWN;
    DEVICE_MEDIA_INFO media{};
    if (platform.DeviceIoControl(handle.Get(), IOCTL_STORAGE_GET_MEDIA_TYPES_EX, nullptr, 0,
                                 mediaStorage.data(), kMediaTypesBufferBytes, &returned, nullptr)) {
        const auto* types = reinterpret_cast<const GET_MEDIA_TYPES*>(mediaStorage.data());
        mediaDeviceType = static_cast<LONG>(types->DeviceType);
        // Without a media entry the device type stands alone: media type 0
        // (unknown) and no characteristics.
        if (types->MediaInfoCount > 0) media = types->MediaInfo[0];
    } else {
        ReportSystemError(platform, platform.GetLastError());
        const DWORD geometryMedia = RawEnumValue(geometry.MediaType);
        if (geometryMedia == RemovableMedia || geometryMedia == FixedMedia) {
            mediaDeviceType = FILE_DEVICE_DISK;
            media.DeviceSpecific.DiskInfo.MediaType = static_cast<STORAGE_MEDIA_TYPE>(geometryMedia);
        } else {
            mediaDeviceType = FILE_DEVICE_UNKNOWN;
            media.DeviceSpecific.DiskInfo.MediaType = static_cast<STORAGE_MEDIA_TYPE>(0);
        }
        media.DeviceSpecific.DiskInfo.MediaCharacteristics = 0;
    }

    // Unknown stays -1, which no volume's disk number matches.
    LONG deviceNumber = -1;
    LONG deviceNumberType = -1;
    STORAGE_DEVICE_NUMBER number{};
    if (platform.DeviceIoControl(handle.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                 sizeof(number), &returned, nullptr) &&
        returned >= sizeof(number) && number.DeviceNumber <= 0x7FFFFFFFu &&
        number.DeviceType <= 0x7FFFFFFFu) {
        deviceNumber = static_cast<LONG>(number.DeviceNumber);
        deviceNumberType = static_cast<LONG>(number.DeviceType);
    }
    handle.Reset();

    const DWORD busType = RawEnumValue(header.BusType);
    if (context.applyBusOptions && IsBusIgnored(platform, busType)) return false;

    record->busType = static_cast<LONG>(busType);
    record->scsiDeviceType = header.DeviceType;
    record->deviceTypeModifier = header.DeviceTypeModifier;
    record->removableMedia = header.RemovableMedia != 0;
    CopyField(record->productRevision, descriptor.productRevision);
    CopyField(record->serialNumber, descriptor.serialNumber);
    CopyField(record->vendorId, descriptor.vendorId);
    CopyField(record->productId, descriptor.productId);

    record->capacity = (mediaDeviceType == FILE_DEVICE_DVD && capacity > kDvdGeometryLimit)
                           ? kDvdCappedCapacity
                           : capacity;
    record->mediaDeviceType = mediaDeviceType;
    if (mediaDeviceType == FILE_DEVICE_TAPE) {
        record->mediaType = static_cast<LONG>(media.DeviceSpecific.TapeInfo.MediaType);
        record->mediaCharacteristics = media.DeviceSpecific.TapeInfo.MediaCharacteristics;
    } else {
        record->mediaType = static_cast<LONG>(media.DeviceSpecific.DiskInfo.MediaType);
        record->mediaCharacteristics = media.DeviceSpecific.DiskInfo.MediaCharacteristics;
    }

    const std::wstring storageId = DriveRecord::BuildStorageId(
        platform, record->vendorId, record->productId, record->productRevision,
        record->serialNumber, record->busType, record->scsiDeviceType);
    CopyField(record->storageId, storageId.c_str());
    record->deviceNumber = deviceNumber;
    record->deviceNumberType = deviceNumberType;
    return true;
}
