#include "inventory/Probe.h"

#include "app/ProgramName.h"
#include "platform/Owners.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kErrorTextChars = 250;
// A descriptor is a few hundred bytes; a larger Size is not believed, so a
// device cannot make the program allocate without bound.
constexpr DWORD kMaxDescriptorBytes = 64 * 1024;
constexpr DWORD kDescriptorSlackBytes = 200;

// Copies one single-byte string of the descriptor into a wide field. Only
// bytes inside [0, limit) are read: an offset at or past the limit gives an
// empty string, a string without NUL before the limit is cut there, and one
// longer than the field is cut to 99 characters.
void ExtractDescriptorString(Platform& platform, const BYTE* bytes, DWORD limit, DWORD offset,
                             WCHAR (&field)[kDescriptorTextChars]) {
    field[0] = L'\0';
    if (offset >= limit) return;
    CHAR text[kDescriptorTextChars] = {};
    DWORD n = 0;
    while (n < kDescriptorTextChars - 1 && offset + n < limit && bytes[offset + n] != 0) {
        text[n] = static_cast<CHAR>(bytes[offset + n]);
        ++n;
    }
    text[n] = '\0';
    if (platform.MultiByteToWideChar(CP_ACP, 0, text, -1, field, kDescriptorTextChars) == 0)
        field[0] = L'\0';
    field[kDescriptorTextChars - 1] = L'\0';
}

}  // namespace

void ReportSystemError(Platform& platform, DWORD code) {
    if (code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_READY || code == ERROR_NOT_SUPPORTED)
        return;
    WCHAR text[kErrorTextChars] = {};
    // Some system texts hold inserts (%1); without arguments to fill them the
    // formatter must be told to leave them as they are.
    const DWORD length =
        platform.FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, kErrorTextChars);
    if (length == 0) return;
    text[kErrorTextChars - 1] = L'\0';
    if (text[0] == L'\0') return;
    platform.OutputDebugStringW(text);
    platform.MessageBoxW(nullptr, text, kProgramName, MB_ICONERROR);
}

bool QueryStorageDescriptor(Platform& platform, HANDLE device, StorageDescriptor& descriptor) {
    descriptor = StorageDescriptor{};

    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;

    STORAGE_DEVICE_DESCRIPTOR fixedPart{};
    fixedPart.Size = sizeof(fixedPart);
    DWORD returned = 0;
    DWORD size = sizeof(fixedPart);
    if (platform.DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                                 &fixedPart, sizeof(fixedPart), &returned, nullptr)) {
        size = fixedPart.Size;
    } else {
        ReportSystemError(platform, platform.GetLastError());
    }
    if (size < sizeof(STORAGE_DEVICE_DESCRIPTOR)) size = sizeof(STORAGE_DEVICE_DESCRIPTOR);
    if (size > kMaxDescriptorBytes) size = kMaxDescriptorBytes;

    const DWORD bufferBytes = size + kDescriptorSlackBytes;
    // DWORD elements keep the descriptor aligned; zeroed so a short answer
    // reads as empty fields.
    std::vector<DWORD> storage((bufferBytes + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    BYTE* bytes = reinterpret_cast<BYTE*>(storage.data());
    auto* full = reinterpret_cast<STORAGE_DEVICE_DESCRIPTOR*>(bytes);
    full->Size = bufferBytes;
    returned = 0;
    if (!platform.DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                                  bytes, bufferBytes, &returned, nullptr)) {
        ReportSystemError(platform, platform.GetLastError());
        return false;
    }

    std::memcpy(&descriptor.header, bytes, sizeof(descriptor.header));
    // The strings must lie inside what the device returned and inside the
    // size it claims, whichever is smaller.
    DWORD limit = returned < bufferBytes ? returned : bufferBytes;
    if (descriptor.header.Size < limit) limit = descriptor.header.Size;

    const STORAGE_DEVICE_DESCRIPTOR& h = descriptor.header;
    if (h.ProductIdOffset != 0)
        ExtractDescriptorString(platform, bytes, limit, h.ProductIdOffset, descriptor.productId);
    if (h.VendorIdOffset != 0)
        ExtractDescriptorString(platform, bytes, limit, h.VendorIdOffset, descriptor.vendorId);
    if (h.ProductRevisionOffset != 0)
        ExtractDescriptorString(platform, bytes, limit, h.ProductRevisionOffset,
                                descriptor.productRevision);
    if (h.SerialNumberOffset != 0 && h.SerialNumberOffset != 0xFFFFFFFFu)
        ExtractDescriptorString(platform, bytes, limit, h.SerialNumberOffset,
                                descriptor.serialNumber);
    return true;
}

void ProbeVolume(Platform& platform, DriveTable& table, const WCHAR* root,
                 const WCHAR* volumeName) {
    if (root == nullptr || root[0] == L'\0') return;
    ProbeVolume(platform, table, VolumeMounts{root[0], {}}, volumeName);
}

void ProbeVolume(Platform& platform, DriveTable& table, const VolumeMounts& mounts,
                 const WCHAR* volumeName) {
    if (volumeName == nullptr || volumeName[0] == L'\0') return;
    const WCHAR letter = mounts.letter;

    UniqueHandle volume(platform, platform.CreateFileW(volumeName, 0, FILE_SHARE_READ, nullptr,
                                                       OPEN_EXISTING, 0, nullptr));
    if (!volume) return;

    // 8-byte elements keep the extents aligned; zeroed so "no extents" reads
    // as a count of 0.
    std::vector<ULONGLONG> storage(kExtentsBufferSize / sizeof(ULONGLONG), 0);
    BYTE* bytes = reinterpret_cast<BYTE*>(storage.data());
    DWORD returned = 0;
    bool haveExtents = true;
    if (!platform.DeviceIoControl(volume.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                  bytes, kExtentsBufferSize, &returned, nullptr)) {
        const DWORD code = platform.GetLastError();
        if (code != ERROR_INVALID_FUNCTION && code != ERROR_NOT_READY) {
            ReportSystemError(platform, code);
            return;
        }
        // CD/DVD volumes, empty removable drives and, on XP, removable disks
        // have no disk extents.
        haveExtents = false;
    }

    DWORD count = 0;
    if (haveExtents) {
        count = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(bytes)->NumberOfDiskExtents;
        // Only extents inside the buffer and inside what the driver returned.
        const DWORD returnedExtents =
            returned > offsetof(VOLUME_DISK_EXTENTS, Extents)
                ? (returned - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT)
                : 0;
        if (count > kExtentsBufferCapacity) count = kExtentsBufferCapacity;
        if (count > returnedExtents) count = returnedExtents;
    }

    if (count == 0) {
        // Without extents the volume itself still knows which device holds
        // it. That answer is exact where the storage identifier is not: two
        // identical sticks without serial numbers share one identifier. When
        // the volume answers, its device decides alone: a device left out of
        // the table must not hand its letter to a look-alike that is in it.
        STORAGE_DEVICE_NUMBER number{};
        DWORD numberBytes = 0;
        if (platform.DeviceIoControl(volume.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0,
                                     &number, sizeof(number), &numberBytes, nullptr) &&
            numberBytes >= sizeof(number)) {
            volume.Reset();
            if (number.DeviceType <= 0x7FFFFFFFu && number.DeviceNumber <= 0x7FFFFFFFu) {
                if (DriveRecord* record =
                        table.FindByDeviceNumber(static_cast<LONG>(number.DeviceType),
                                                 static_cast<LONG>(number.DeviceNumber)))
                    record->AddMountedVolume(platform, volumeName, letter, 0, mounts.folders, 1);
            }
            return;
        }
    }
    volume.Reset();

    const DISK_EXTENT* extents =
        reinterpret_cast<const DISK_EXTENT*>(bytes + offsetof(VOLUME_DISK_EXTENTS, Extents));
    // A spanned or striped volume lies on several disks, and belongs to each.
    LONG disks = 1;
    for (DWORD i = 1; i < count; ++i) {
        bool seen = false;
        for (DWORD k = 0; k < i && !seen; ++k)
            seen = extents[k].DiskNumber == extents[i].DiskNumber;
        if (!seen) ++disks;
    }

    const DWORD passes = count == 0 ? 1 : count;
    for (DWORD i = 0; i < passes; ++i) {
        const bool byNumber = count != 0;
        std::wstring path;
        if (byNumber)
            path = L"\\\\.\\PhysicalDrive" + std::to_wstring(extents[i].DiskNumber);
        else if (letter != L'\0')
            path = std::wstring(L"\\\\?\\") + letter + L":";
        else
            path = volumeName;  // a volume without a letter passes storage requests down too

        StorageDescriptor descriptor;
        bool described = false;
        UniqueHandle device(
            platform, platform.CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
        if (!device) {
            ReportSystemError(platform, platform.GetLastError());
        } else {
            described = QueryStorageDescriptor(platform, device.Get(), descriptor);
            device.Reset();
        }

        const std::wstring storageId = DriveRecord::BuildStorageId(
            platform, descriptor.vendorId, descriptor.productId, descriptor.productRevision,
            descriptor.serialNumber, static_cast<LONG>(RawEnumValue(descriptor.header.BusType)),
            static_cast<LONG>(descriptor.header.DeviceType));

        DriveRecord* record = nullptr;
        if (byNumber) {
            // Extents lie on disks; a CD-ROM or tape drive with the same
            // number is another device. A number that does not fit the
            // record's field is no drive's number.
            const DWORD number = extents[i].DiskNumber;
            if (number <= 0x7FFFFFFFu)
                record = table.FindByDeviceNumber(FILE_DEVICE_DISK, static_cast<LONG>(number));
        } else if (described) {
            // An unreadable device has no identity; matching its empty
            // identifier would pick any other device that could not be read.
            record = table.FindByStorageId(storageId.c_str());
        }
        if (record != nullptr)
            record->AddMountedVolume(platform, volumeName, letter,
                                     byNumber ? extents[i].ExtentLength.QuadPart : 0,
                                     mounts.folders, disks);
    }
}
