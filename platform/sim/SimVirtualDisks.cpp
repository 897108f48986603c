// The simulated virtual disk service: the system folder, libraries loaded from
// it by full path, and virtdisk.dll's calls over the devices that a mounted
// ISO, VHD or VHDX backs (SimDevice::virtualDisk).
#include "platform/sim/SimInternal.h"

using sim::FromPtr;
using sim::Quote;
using State = SimMachine::State;

namespace {

// What GetProcAddress hands out for the service's calls; the seam methods
// recognise them.
LONG_PTR WINAPI GetStorageDependencyInformationStub() { return 0; }
LONG_PTR WINAPI OpenVirtualDiskStub() { return 0; }
LONG_PTR WINAPI DetachVirtualDiskStub() { return 0; }

FARPROC Procedure(LONG_PTR(WINAPI* stub)()) { return reinterpret_cast<FARPROC>(stub); }

std::string HandleText(HANDLE h) { return sim::Hex(reinterpret_cast<std::uintptr_t>(h)); }

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() &&
           sim::EqualNoCase(std::wstring_view(text).substr(text.size() - tail.size()), tail);
}

ULONG StorageTypeOf(const SimVirtualDisk& disk) {
    if (EndsWithNoCase(disk.image, L".iso")) return VIRTUAL_STORAGE_TYPE_DEVICE_ISO;
    if (EndsWithNoCase(disk.image, L".vhd")) return VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
    return VIRTUAL_STORAGE_TYPE_DEVICE_VHDX;
}

// The volume that holds the image, as the service names it: the GUID path of
// the volume with the image's drive letter (one made as for a volume of that
// letter when the machine has none), and the path below its root.
std::pair<std::wstring, std::wstring> HostAndRelativePath(SimMachine& m,
                                                          const SimVirtualDisk& disk) {
    const std::wstring& image = disk.image;
    if (image.size() < 4 || image[1] != L':' || image[2] != L'\\') return {L"", image};
    std::wstring host;
    if (const SimVolume* v = m.FindVolume(image[0])) host = v->guidPath;
    if (host.empty()) host = SimMachine::MakeVolume(sim::UpperChar(image[0]), 0, 0).guidPath;
    return {host, image.substr(3)};
}

bool SameWithoutCase(const std::wstring& a, const std::wstring& b) { return sim::EqualNoCase(a, b); }

}  // namespace

FARPROC State::VirtualDiskProcedure(const SimMachine& m, HMODULE module, const char* name) {
    if (name == nullptr || !IsLoadedLibrary(m, module)) return nullptr;
    const std::string text = name;
    if (text == "GetStorageDependencyInformation")
        return Procedure(&GetStorageDependencyInformationStub);
    if (text == "OpenVirtualDisk") return Procedure(&OpenVirtualDiskStub);
    if (text == "DetachVirtualDisk") return Procedure(&DetachVirtualDiskStub);
    return nullptr;
}

bool State::IsLoadedLibrary(const SimMachine& m, HMODULE module) {
    auto it = m.state_->handles.find(reinterpret_cast<std::uintptr_t>(module));
    return it != m.state_->handles.end() && it->second.kind == Kind::Module;
}

UINT SimMachine::GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    if (auto e = State::Enter(*this, "GetSystemDirectoryW", [&] { return std::to_string(uSize); })) {
        SetLastError(*e);
        return 0;
    }
    // Too small: the size needed, its terminator included.
    if (!sim::CopyWithNul(systemDirectory, lpBuffer, uSize))
        return static_cast<UINT>(systemDirectory.size() + 1);
    return static_cast<UINT>(systemDirectory.size());
}

HMODULE SimMachine::LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    (void)dwFlags;
    if (auto e = State::Enter(*this, "LoadLibraryExW", [&] { return Quote(lpLibFileName); })) {
        SetLastError(*e);
        return nullptr;
    }
    if (lpLibFileName == nullptr || hFile != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::wstring path = lpLibFileName;
    const std::wstring folder = systemDirectory + L"\\";
    // The program runs elevated: a library found by its name alone, or taken
    // from any other folder, may be one a user planted.
    if (path.size() <= folder.size() ||
        !sim::EqualNoCase(std::wstring_view(path).substr(0, folder.size()), folder) ||
        path.find(L'\\', folder.size()) != std::wstring::npos) {
        State::ProgramError(*this, "LoadLibraryExW of a library outside the system folder: " +
                                       sim::Narrow(path));
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (virtualDiskServiceMissing || !SameWithoutCase(path.substr(folder.size()), L"virtdisk.dll")) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    State::OpenHandle handle;
    handle.kind = State::Kind::Module;
    handle.what = path;
    handle.openedByCall = callCount_;
    const auto value = state_->NewHandleValue();
    state_->handles[value] = handle;
    return reinterpret_cast<HMODULE>(value);
}

BOOL SimMachine::FreeLibrary(HMODULE hLibModule) {
    if (auto e = State::Enter(*this, "FreeLibrary", [&] { return HandleText(hLibModule); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (!State::IsLoadedLibrary(*this, hLibModule)) {
        State::ProgramError(*this, "FreeLibrary of a module not loaded " + HandleText(hLibModule));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    state_->handles.erase(reinterpret_cast<std::uintptr_t>(hLibModule));
    return TRUE;
}

DWORD SimMachine::GetStorageDependencyInformation(FARPROC procedure, HANDLE ObjectHandle,
                                                  GET_STORAGE_DEPENDENCY_FLAG Flags,
                                                  ULONG StorageDependencyInfoSize,
                                                  PSTORAGE_DEPENDENCY_INFO StorageDependencyInfo,
                                                  PULONG SizeUsed) {
    if (auto e = State::Enter(*this, "GetStorageDependencyInformation", [&] {
            return HandleText(ObjectHandle) + " flags " + std::to_string(Flags) + " size " +
                   std::to_string(StorageDependencyInfoSize);
        }))
        return *e;
    if (procedure != Procedure(&GetStorageDependencyInformationStub)) {
        State::ProgramError(*this,
                            "GetStorageDependencyInformation through a procedure GetProcAddress "
                            "did not return");
        return ERROR_INVALID_PARAMETER;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(ObjectHandle));
    if (it == state_->handles.end()) return ERROR_INVALID_HANDLE;
    // The disk flag says what the handle is; a volume's is not the disk's.
    const bool diskHandle = (Flags & GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE) != 0;
    if (it->second.kind != (diskHandle ? State::Kind::Device : State::Kind::Volume))
        return ERROR_INVALID_PARAMETER;
    if (StorageDependencyInfo == nullptr || SizeUsed == nullptr ||
        StorageDependencyInfoSize < offsetof(STORAGE_DEPENDENCY_INFO, Version2Entries) ||
        StorageDependencyInfo->Version != STORAGE_DEPENDENCY_INFO_VERSION_2)
        return ERROR_INVALID_PARAMETER;

    const SimDevice* device = nullptr;
    if (diskHandle) device = &devices_[it->second.index];
    else device = State::DeviceOfVolume(*this, volumes_[it->second.index]);
    // A disk that no image backs depends on nothing.
    const bool backed = device != nullptr && device->virtualDisk && !device->virtualDisk->detached;
    const size_t header = offsetof(STORAGE_DEPENDENCY_INFO, Version2Entries);
    if (!backed) {
        *SizeUsed = static_cast<ULONG>(header);
        StorageDependencyInfo->NumberEntries = 0;
        return ERROR_SUCCESS;
    }

    const auto [host, relative] = HostAndRelativePath(*this, *device->virtualDisk);
    const std::wstring deviceName =
        (State::DeviceIsDisk(*this, *device) ? L"\\\\.\\PhysicalDrive" : L"\\\\.\\CdRom") +
        std::to_wstring(device->storage.deviceNumber);
    // The entry, then its texts, all inside the caller's buffer.
    const std::wstring texts[] = {deviceName, host, L"", relative};
    size_t needed = header + sizeof(STORAGE_DEPENDENCY_INFO_TYPE_2);
    for (const std::wstring& text : texts) needed += sizeof(WCHAR) * (text.size() + 1);
    *SizeUsed = static_cast<ULONG>(needed);
    if (StorageDependencyInfoSize < needed) return ERROR_INSUFFICIENT_BUFFER;

    auto* bytes = reinterpret_cast<BYTE*>(StorageDependencyInfo);
    size_t at = header + sizeof(STORAGE_DEPENDENCY_INFO_TYPE_2);
    PWSTR placed[4] = {};
    for (size_t i = 0; i < 4; ++i) {
        placed[i] = reinterpret_cast<PWSTR>(bytes + at);
        std::memcpy(bytes + at, texts[i].c_str(), sizeof(WCHAR) * (texts[i].size() + 1));
        at += sizeof(WCHAR) * (texts[i].size() + 1);
    }
    STORAGE_DEPENDENCY_INFO_TYPE_2 entry{};
    entry.VirtualStorageType.DeviceId = StorageTypeOf(*device->virtualDisk);
    entry.VirtualStorageType.VendorId = kVirtualStorageTypeVendorMicrosoft;
    entry.AncestorLevel = 1;
    entry.DependencyDeviceName = placed[0];
    entry.HostVolumeName = placed[1];
    entry.DependentVolumeName = placed[2];
    entry.DependentVolumeRelativePath = placed[3];
    std::memcpy(bytes + header, &entry, sizeof entry);
    StorageDependencyInfo->NumberEntries = 1;
    return ERROR_SUCCESS;
}

DWORD SimMachine::OpenVirtualDisk(FARPROC procedure, PVIRTUAL_STORAGE_TYPE VirtualStorageType,
                                  PCWSTR Path, VIRTUAL_DISK_ACCESS_MASK VirtualDiskAccessMask,
                                  OPEN_VIRTUAL_DISK_FLAG Flags,
                                  POPEN_VIRTUAL_DISK_PARAMETERS Parameters, HANDLE* Handle) {
    if (auto e = State::Enter(*this, "OpenVirtualDisk", [&] {
            return Quote(Path) + " access " + sim::Hex(VirtualDiskAccessMask);
        }))
        return *e;
    if (procedure != Procedure(&OpenVirtualDiskStub)) {
        State::ProgramError(*this, "OpenVirtualDisk through a procedure GetProcAddress did not return");
        return ERROR_INVALID_PARAMETER;
    }
    if (VirtualStorageType == nullptr || Path == nullptr || Handle == nullptr ||
        Flags != OPEN_VIRTUAL_DISK_FLAG_NONE ||
        (Parameters != nullptr && Parameters->Version != OPEN_VIRTUAL_DISK_VERSION_1))
        return ERROR_INVALID_PARAMETER;
    const GUID noVendor{};
    if (!SameGuid(VirtualStorageType->VendorId, kVirtualStorageTypeVendorMicrosoft) &&
        !SameGuid(VirtualStorageType->VendorId, noVendor))
        return ERROR_INVALID_PARAMETER;

    // The image is named by its drive letter or by the volume that holds it.
    const std::wstring path = Path;
    for (size_t i = 0; i < devices_.size(); ++i) {
        const std::optional<SimVirtualDisk>& disk = devices_[i].virtualDisk;
        if (!disk) continue;
        const auto [host, relative] = HostAndRelativePath(*this, *disk);
        if (!sim::EqualNoCase(path, disk->image) && !sim::EqualNoCase(path, host + relative))
            continue;
        const ULONG type = StorageTypeOf(*disk);
        if (VirtualStorageType->DeviceId != VIRTUAL_STORAGE_TYPE_DEVICE_UNKNOWN &&
            VirtualStorageType->DeviceId != type)
            return ERROR_INVALID_PARAMETER;
        // An ISO image is read-only.
        const DWORD writing =
            VIRTUAL_DISK_ACCESS_ATTACH_RW | VIRTUAL_DISK_ACCESS_CREATE | VIRTUAL_DISK_ACCESS_METAOPS;
        if (type == VIRTUAL_STORAGE_TYPE_DEVICE_ISO && (VirtualDiskAccessMask & writing) != 0)
            return ERROR_INVALID_PARAMETER;
        State::OpenHandle handle;
        handle.kind = State::Kind::VirtualDisk;
        handle.index = i;
        handle.access = VirtualDiskAccessMask;
        handle.what = path;
        handle.openedByCall = callCount_;
        const auto value = state_->NewHandleValue();
        state_->handles[value] = handle;
        *Handle = reinterpret_cast<HANDLE>(value);
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

DWORD SimMachine::DetachVirtualDisk(FARPROC procedure, HANDLE VirtualDiskHandle,
                                    DETACH_VIRTUAL_DISK_FLAG Flags, ULONG ProviderSpecificFlags) {
    if (auto e = State::Enter(*this, "DetachVirtualDisk",
                              [&] { return HandleText(VirtualDiskHandle); }))
        return *e;
    if (procedure != Procedure(&DetachVirtualDiskStub)) {
        State::ProgramError(*this, "DetachVirtualDisk through a procedure GetProcAddress did not return");
        return ERROR_INVALID_PARAMETER;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(VirtualDiskHandle));
    if (it == state_->handles.end() || it->second.kind != State::Kind::VirtualDisk) {
        State::ProgramError(*this, "DetachVirtualDisk on a handle OpenVirtualDisk did not give " +
                                       HandleText(VirtualDiskHandle));
        return ERROR_INVALID_HANDLE;
    }
    if (Flags != DETACH_VIRTUAL_DISK_FLAG_NONE || ProviderSpecificFlags != 0)
        return ERROR_INVALID_PARAMETER;
    if ((it->second.access & VIRTUAL_DISK_ACCESS_DETACH) == 0) return ERROR_ACCESS_DENIED;
    SimDevice& device = devices_[it->second.index];
    SimVirtualDisk& disk = *device.virtualDisk;
    if (disk.detached || !device.present) return ERROR_NOT_FOUND;
    if (disk.detachError != 0) return disk.detachError;
    // The disk and its volumes go with the image, for good.
    disk.detached = true;
    State::RemoveDeviceNow(*this, it->second.index);
    return ERROR_SUCCESS;
}
