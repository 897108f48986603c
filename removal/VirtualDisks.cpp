#include "removal/VirtualDisks.h"

#include "platform/Owners.h"

#include <vector>

namespace {

// The first buffer holds an entry and its four names; a larger answer is
// asked for once, up to a size no real chain of images comes near.
constexpr ULONG kFirstDependencyBytes = 2048;
constexpr ULONG kMaxDependencyBytes = 64 * 1024;

// virtdisk.dll's full path in the system folder, or empty. The program runs
// elevated: found by its name alone, a copy planted beside the exe or in the
// current folder would run with administrator rights.
std::wstring SystemLibraryPath(Platform& platform, const wchar_t* name) {
    WCHAR folder[MAX_PATH + 1] = {};
    const UINT length = platform.GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    std::wstring path(folder, length);
    if (path.back() != L'\\') path += L'\\';
    return path + name;
}

// The device itself: "\\.\PhysicalDriveN" for a disk, "\\.\CdRomN" for an
// ISO's drive; empty while its number is unknown.
std::wstring DevicePathOf(const DriveRecord& record) {
    if (record.deviceNumber < 0) return {};
    const std::wstring number = std::to_wstring(record.deviceNumber);
    if (record.deviceNumberType == FILE_DEVICE_DISK) return L"\\\\.\\PhysicalDrive" + number;
    if (record.deviceNumberType == FILE_DEVICE_CD_ROM) return L"\\\\.\\CdRom" + number;
    return {};
}

// A name the service wrote into the answer; empty unless it lies, with its
// terminator, inside the bytes the answer was given.
std::wstring NameInAnswer(const WCHAR* name, const BYTE* begin, const BYTE* end) {
    const BYTE* at = reinterpret_cast<const BYTE*>(name);
    if (name == nullptr || at < begin || at >= end ||
        (at - begin) % static_cast<std::ptrdiff_t>(sizeof(WCHAR)) != 0)
        return {};
    const size_t room = static_cast<size_t>(end - at) / sizeof(WCHAR);
    for (size_t n = 0; n < room; ++n)
        if (name[n] == L'\0') return std::wstring(name, n);
    return {};
}

// The image file of the disk: the entry nearest the disk (a differencing
// disk's parents follow it with higher levels), named by the volume that
// holds it and the path below that volume's root.
DWORD ReadImage(const STORAGE_DEPENDENCY_INFO& info, ULONG bytes, std::wstring& image,
                VIRTUAL_STORAGE_TYPE& type) {
    const size_t header = offsetof(STORAGE_DEPENDENCY_INFO, Version2Entries);
    const size_t room = (bytes - header) / sizeof(STORAGE_DEPENDENCY_INFO_TYPE_2);
    if (info.NumberEntries == 0 || info.NumberEntries > room) return ERROR_NOT_FOUND;
    const STORAGE_DEPENDENCY_INFO_TYPE_2* nearest = &info.Version2Entries[0];
    for (ULONG i = 1; i < info.NumberEntries; ++i)
        if (info.Version2Entries[i].AncestorLevel < nearest->AncestorLevel)
            nearest = &info.Version2Entries[i];
    const BYTE* begin = reinterpret_cast<const BYTE*>(&info);
    const std::wstring host = NameInAnswer(nearest->HostVolumeName, begin, begin + bytes);
    std::wstring below = NameInAnswer(nearest->DependentVolumeRelativePath, begin, begin + bytes);
    while (!below.empty() && below.front() == L'\\') below.erase(0, 1);
    if (host.empty() || below.empty()) return ERROR_NOT_FOUND;
    image = host.back() == L'\\' ? host + below : host + L'\\' + below;
    type = nearest->VirtualStorageType;
    return ERROR_SUCCESS;
}

// Asks the service which image backs the open disk.
DWORD FindImage(Platform& platform, FARPROC query, HANDLE disk, std::wstring& image,
                VIRTUAL_STORAGE_TYPE& type) {
    ULONG size = kFirstDependencyBytes;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // 8-byte elements keep the entries' pointers aligned.
        std::vector<ULONGLONG> buffer((size + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG), 0);
        auto* info = reinterpret_cast<STORAGE_DEPENDENCY_INFO*>(buffer.data());
        info->Version = STORAGE_DEPENDENCY_INFO_VERSION_2;
        ULONG used = 0;
        const DWORD error = platform.GetStorageDependencyInformation(
            query, disk,
            GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES | GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE,
            size, info, &used);
        if (error == ERROR_INSUFFICIENT_BUFFER && attempt == 0 && used > size &&
            used <= kMaxDependencyBytes) {
            size = used;
            continue;
        }
        if (error != ERROR_SUCCESS) return error;
        return ReadImage(*info, size, image, type);
    }
    return ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace

VirtualKind VirtualKindOf(const DriveRecord& record) {
    if (record.busType == static_cast<LONG>(kBusTypeFileBackedVirtual))
        return VirtualKind::ImageFile;
    if (record.busType == static_cast<LONG>(kBusTypeSpaces)) return VirtualKind::StorageSpace;
    return VirtualKind::None;
}

bool VirtualDiskServiceMissing(DWORD error) {
    return error == ERROR_MOD_NOT_FOUND || error == ERROR_PROC_NOT_FOUND;
}

ImageDetach DetachDiskImage(Platform& platform, const DriveRecord& record) {
    ImageDetach result;
    const std::wstring library = SystemLibraryPath(platform, L"virtdisk.dll");
    UniqueModule service(platform);
    if (!library.empty())
        service.Reset(platform.LoadLibraryExW(library.c_str(), nullptr,
                                              LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!service) {
        result.error = library.empty() ? ERROR_MOD_NOT_FOUND : platform.GetLastError();
        // A load that failed for another reason is still a missing service.
        if (result.error == ERROR_SUCCESS) result.error = ERROR_MOD_NOT_FOUND;
        return result;
    }
    const FARPROC query = platform.GetProcAddress(service.Get(), "GetStorageDependencyInformation");
    const FARPROC open = platform.GetProcAddress(service.Get(), "OpenVirtualDisk");
    const FARPROC detach = platform.GetProcAddress(service.Get(), "DetachVirtualDisk");
    if (query == nullptr || open == nullptr || detach == nullptr) {
        result.error = ERROR_PROC_NOT_FOUND;
        return result;
    }

    VIRTUAL_STORAGE_TYPE type{};
    {
        // Closed again before the detach, which must not find it open.
        const std::wstring devicePath = DevicePathOf(record);
        UniqueHandle disk(platform);
        if (!devicePath.empty())
            disk.Reset(platform.CreateFileW(devicePath.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        if (!disk) {
            result.error = devicePath.empty() ? ERROR_FILE_NOT_FOUND : platform.GetLastError();
            if (result.error == ERROR_SUCCESS) result.error = ERROR_FILE_NOT_FOUND;
            return result;
        }
        result.error = FindImage(platform, query, disk.Get(), result.image, type);
        if (result.error != ERROR_SUCCESS) return result;
    }

    // Detaching needs only detach access, but an ISO image opens read-only.
    const VIRTUAL_DISK_ACCESS_MASK access = type.DeviceId == VIRTUAL_STORAGE_TYPE_DEVICE_ISO
                                                ? VIRTUAL_DISK_ACCESS_READ
                                                : VIRTUAL_DISK_ACCESS_DETACH;
    HANDLE opened = nullptr;
    result.error = platform.OpenVirtualDisk(open, &type, result.image.c_str(), access,
                                            OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &opened);
    if (result.error != ERROR_SUCCESS) return result;
    UniqueHandle image(platform, opened);
    result.error = platform.DetachVirtualDisk(detach, image.Get(), DETACH_VIRTUAL_DISK_FLAG_NONE, 0);
    result.detached = result.error == ERROR_SUCCESS;
    return result;
}
