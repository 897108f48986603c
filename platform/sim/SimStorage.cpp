// The simulated volumes and storage drivers: opening devices and volumes,
// the control requests with their real record layouts, flush and close, and
// the drive-letter functions.
#include "platform/sim/SimInternal.h"

#include <algorithm>

using sim::FromPtr;
using sim::Quote;
using State = SimMachine::State;

namespace {

std::string HandleText(HANDLE h) {
    return sim::Hex(reinterpret_cast<std::uintptr_t>(h));
}

// The descriptor bytes a device's driver answers: the fixed part followed by
// its NUL-terminated single-byte strings.
std::vector<BYTE> DescriptorBytes(const SimStorage& st) {
    if (st.rawDescriptor) return *st.rawDescriptor;
    std::vector<BYTE> bytes(sizeof(STORAGE_DEVICE_DESCRIPTOR), 0);
    STORAGE_DEVICE_DESCRIPTOR d{};
    auto place = [&](const std::optional<std::string>& text) -> DWORD {
        if (!text) return 0;
        DWORD offset = static_cast<DWORD>(bytes.size());
        bytes.insert(bytes.end(), text->begin(), text->end());
        bytes.push_back(0);
        return offset;
    };
    d.VendorIdOffset = place(st.vendor);
    d.ProductIdOffset = place(st.product);
    d.ProductRevisionOffset = place(st.revision);
    d.SerialNumberOffset = place(st.serial);
    if (!st.serial && st.serialOffsetAllOnes) d.SerialNumberOffset = 0xFFFFFFFF;
    d.Version = sizeof(STORAGE_DEVICE_DESCRIPTOR);
    d.Size = static_cast<DWORD>(bytes.size());
    d.DeviceType = st.deviceType;
    d.DeviceTypeModifier = st.deviceTypeModifier;
    d.RemovableMedia = st.removableMedia ? 1 : 0;
    // Any 32 bits a driver may answer, stored without passing through the enum.
    std::memcpy(&d.BusType, &st.busType, sizeof(DWORD));
    std::memcpy(bytes.data(), &d, sizeof d);
    return bytes;
}

constexpr DWORD kRead = 1, kWrite = 2;

DWORD AccessBits(DWORD desired) {
    DWORD bits = 0;
    if (desired & GENERIC_READ) bits |= kRead;
    if (desired & GENERIC_WRITE) bits |= kWrite;
    return bits;
}

// Two opens of one volume agree when each one's access is shared by the other.
bool SharingAgrees(DWORD accessA, DWORD shareA, DWORD accessB, DWORD shareB) {
    auto allows = [](DWORD access, DWORD share) {
        DWORD bits = AccessBits(access);
        if ((bits & kRead) && !(share & FILE_SHARE_READ)) return false;
        if ((bits & kWrite) && !(share & FILE_SHARE_WRITE)) return false;
        return true;
    };
    return allows(accessA, shareB) && allows(accessB, shareA);
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && sim::EqualNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

HANDLE SimMachine::CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                               DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                               HANDLE hTemplateFile) {
    (void)lpSecurityAttributes, (void)dwFlagsAndAttributes, (void)hTemplateFile;
    if (auto e = State::Enter(*this, "CreateFileW", [&] {
            return Quote(lpFileName) + " access " + sim::Hex(dwDesiredAccess) + " share " +
                   std::to_string(dwShareMode);
        })) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    auto fail = [&](DWORD error) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (!lpFileName) return fail(ERROR_PATH_NOT_FOUND);
    if (dwCreationDisposition != OPEN_EXISTING) {
        State::ProgramError(*this, "CreateFileW on a device without OPEN_EXISTING");
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::wstring path = lpFileName;
    if (!StartsWithNoCase(path, L"\\\\.\\") && !StartsWithNoCase(path, L"\\\\?\\"))
        return fail(ERROR_FILE_NOT_FOUND);  // the machine has no file system of its own
    const std::wstring rest = path.substr(4);

    std::optional<size_t> volume, device;
    if (rest.size() == 2 && rest[1] == L':') {
        for (size_t i = 0; i < volumes_.size(); ++i)
            if (volumes_[i].present && volumes_[i].letter &&
                sim::EqualNoCase(std::wstring(1, volumes_[i].letter), rest.substr(0, 1)))
                volume = i;
    } else if (StartsWithNoCase(rest, L"PhysicalDrive")) {
        std::wstring digits = rest.substr(13);
        bool numeric = !digits.empty() && digits.size() < 10 &&
                       std::all_of(digits.begin(), digits.end(),
                                   [](wchar_t c) { return c >= L'0' && c <= L'9'; });
        if (numeric) {
            DWORD n = static_cast<DWORD>(std::stoul(sim::Narrow(digits)));
            for (size_t i = 0; i < devices_.size(); ++i)
                if (devices_[i].present && devices_[i].storage.deviceNumber == n &&
                    State::DeviceIsDisk(*this, devices_[i]))
                    device = i;
        }
    } else if (StartsWithNoCase(rest, L"CdRom")) {
        const std::wstring digits = rest.substr(5);
        for (size_t i = 0; i < devices_.size(); ++i)
            if (devices_[i].present && !digits.empty() &&
                std::to_wstring(devices_[i].storage.deviceNumber) == digits &&
                SameGuid(State::InterfaceClassOf(*this, devices_[i]), kGuidDevInterfaceCdrom))
                device = i;
    } else if (StartsWithNoCase(rest, L"Volume{")) {
        for (size_t i = 0; i < volumes_.size(); ++i) {
            const std::wstring& guid = volumes_[i].guidPath;
            if (!volumes_[i].present || guid.empty()) continue;
            std::wstring bare = guid.back() == L'\\' ? guid.substr(0, guid.size() - 1) : guid;
            if (sim::EqualNoCase(path, bare)) volume = i;
            // The root directory of the volume: a directory needs backup semantics.
            if (sim::EqualNoCase(path, bare + L"\\")) return fail(ERROR_ACCESS_DENIED);
        }
    } else {
        for (size_t i : State::DevicesWithPath(*this, path))
            if (devices_[i].present) device = i;
    }

    State& s = *state_;
    State::OpenHandle handle;
    handle.access = dwDesiredAccess;
    handle.share = dwShareMode;
    handle.what = path;
    handle.openedByCall = callCount_;
    if (volume) {
        const SimVolume& v = volumes_[*volume];
        if (v.openError) return fail(v.openError);
        // Without a medium there is no file system to open for access.
        if (v.noMedia && AccessBits(dwDesiredAccess)) return fail(ERROR_NOT_READY);
        if (v.bitLockerLocked && AccessBits(dwDesiredAccess)) return fail(kFveLockedVolume);
        if (v.openAccessDenied && AccessBits(dwDesiredAccess)) return fail(ERROR_ACCESS_DENIED);
        if (v.exclusiveOpenFails && dwShareMode == 0) return fail(ERROR_SHARING_VIOLATION);
        for (const auto& [value, other] : s.handles) {
            if (other.kind != State::Kind::Volume || other.index != *volume) continue;
            if (other.locked) return fail(ERROR_ACCESS_DENIED);
            if (!SharingAgrees(dwDesiredAccess, dwShareMode, other.access, other.share))
                return fail(ERROR_SHARING_VIOLATION);
        }
        handle.kind = State::Kind::Volume;
        handle.index = *volume;
    } else if (device) {
        const SimStorage& storage = devices_[*device].storage;
        if (storage.openError) return fail(storage.openError);
        if (storage.heldForWriting && !SharingAgrees(dwDesiredAccess, dwShareMode,
                                                     GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ))
            return fail(ERROR_SHARING_VIOLATION);
        handle.kind = State::Kind::Device;
        handle.index = *device;
    } else {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    auto value = s.NewHandleValue();
    s.handles[value] = handle;
    return reinterpret_cast<HANDLE>(value);
}

BOOL SimMachine::DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                 DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                 LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    (void)lpOverlapped;
    if (auto e = State::Enter(*this, "DeviceIoControl", [&] {
            return HandleText(hDevice) + " " + sim::Hex(dwIoControlCode) + " out " +
                   std::to_string(nOutBufferSize);
        })) {
        if (lpBytesReturned) *lpBytesReturned = 0;
        SetLastError(*e);
        return FALSE;
    }
    auto fail = [&](DWORD error) {
        SetLastError(error);
        return FALSE;
    };
    State& s = *state_;
    auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(hDevice));
    if (it == s.handles.end() ||
        (it->second.kind != State::Kind::Device && it->second.kind != State::Kind::Volume)) {
        State::ProgramError(
            *this, "DeviceIoControl on an unknown or closed handle " + HandleText(hDevice));
        return fail(ERROR_INVALID_HANDLE);
    }
    if (!lpBytesReturned) {
        // Windows writes through it and faults; the program must pass one.
        State::ProgramError(*this, "DeviceIoControl without lpBytesReturned");
        return fail(ERROR_INVALID_PARAMETER);
    }
    *lpBytesReturned = 0;
    State::OpenHandle& handle = it->second;
    if (!lpOutBuffer) nOutBufferSize = 0;

    // A control code names the access its caller's handle needs (bits 14
    // and 15: read, write); a handle opened without it is refused.
    const DWORD required = (dwIoControlCode >> 14) & 3;
    const DWORD granted = AccessBits(handle.access);
    if (((required & 1) && !(granted & kRead)) || ((required & 2) && !(granted & kWrite)))
        return fail(ERROR_ACCESS_DENIED);

    SimVolume* volume = handle.kind == State::Kind::Volume ? &volumes_[handle.index] : nullptr;
    if (volume && !volume->present) return fail(ERROR_DEVICE_NOT_CONNECTED);
    if (volume) {
        if (auto e = volume->ioctlErrors.find(dwIoControlCode); e != volume->ioctlErrors.end())
            return fail(e->second);
    }

    // Requests of the volume itself.
    switch (dwIoControlCode) {
        case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
            if (!volume) return fail(ERROR_INVALID_FUNCTION);
            if (volume->noMedia) return fail(ERROR_NOT_READY);
            if (removableVolumesWithoutExtents && volume->driveType == DRIVE_REMOVABLE)
                return fail(ERROR_INVALID_FUNCTION);
            if (volume->extentsError) return fail(volume->extentsError);
            if (nOutBufferSize < sizeof(VOLUME_DISK_EXTENTS))
                return fail(ERROR_INSUFFICIENT_BUFFER);
            const size_t header = offsetof(VOLUME_DISK_EXTENTS, Extents);
            const size_t room = (nOutBufferSize - header) / sizeof(DISK_EXTENT);
            const DWORD count = static_cast<DWORD>(volume->extents.size());
            sim::PutDword(lpOutBuffer, count);
            if (count > room) {
                // Only the count, so the caller can size a larger buffer.
                *lpBytesReturned = sizeof(VOLUME_DISK_EXTENTS);
                return fail(ERROR_MORE_DATA);
            }
            auto* out = static_cast<BYTE*>(lpOutBuffer);
            for (DWORD i = 0; i < count; ++i) {
                DISK_EXTENT e{};
                e.DiskNumber = volume->extents[i].diskNumber;
                e.StartingOffset.QuadPart = volume->extents[i].offset;
                e.ExtentLength.QuadPart = volume->extents[i].length;
                std::memcpy(out + header + i * sizeof(DISK_EXTENT), &e, sizeof e);
            }
            *lpBytesReturned = static_cast<DWORD>(header + count * sizeof(DISK_EXTENT));
            return TRUE;
        }
        case FSCTL_LOCK_VOLUME: {
            if (!volume) return fail(ERROR_INVALID_FUNCTION);
            if (volume->lockRefusals > 0) {
                --volume->lockRefusals;
                return fail(ERROR_ACCESS_DENIED);
            }
            if (volume->filesOpen || handle.locked) return fail(ERROR_ACCESS_DENIED);
            if (State::VolumeHeld(*this, handle.index)) return fail(ERROR_ACCESS_DENIED);
            for (const auto& [value, other] : s.handles) {
                if (&other != &handle && other.kind == State::Kind::Volume &&
                    other.index == handle.index)
                    return fail(ERROR_ACCESS_DENIED);
                // A file of another process duplicated into this one holds the volume too.
                // (Its path starts with its drive; index 1 marks a file on a disk.)
                if (other.kind == State::Kind::File && other.index == 1 &&
                    State::VolumeOfFile(*this, other.what[0],
                                        std::wstring_view(other.what).substr(2)) == handle.index)
                    return fail(ERROR_ACCESS_DENIED);
            }
            handle.locked = true;
            return TRUE;
        }
        case FSCTL_UNLOCK_VOLUME:
            if (!volume) return fail(ERROR_INVALID_FUNCTION);
            if (!handle.locked) return fail(ERROR_NOT_LOCKED);
            handle.locked = false;
            return TRUE;
        default:
            break;
    }

    // Requests of the storage device: on a volume handle the device below it answers.
    SimDevice* device = volume ? State::DeviceOfVolume(*this, *volume) : &devices_[handle.index];
    if (!device) return fail(ERROR_INVALID_FUNCTION);
    if (!device->present) return fail(ERROR_DEVICE_NOT_CONNECTED);
    const SimStorage& st = device->storage;
    if (auto e = st.ioctlErrors.find(dwIoControlCode); e != st.ioctlErrors.end())
        return fail(e->second);

    switch (dwIoControlCode) {
        case IOCTL_STORAGE_QUERY_PROPERTY: {
            if (!lpInBuffer || nInBufferSize < sizeof(STORAGE_PROPERTY_QUERY))
                return fail(ERROR_INVALID_PARAMETER);
            STORAGE_PROPERTY_QUERY query{};
            std::memcpy(&query, lpInBuffer, sizeof query);
            if (query.PropertyId != StorageDeviceProperty ||
                query.QueryType != PropertyStandardQuery)
                return fail(ERROR_NOT_SUPPORTED);
            // At least the Version/Size header; a short buffer gets the
            // first bytes with Size telling the full length.
            if (nOutBufferSize < 2 * sizeof(DWORD)) return fail(ERROR_INSUFFICIENT_BUFFER);
            std::vector<BYTE> bytes = DescriptorBytes(st);
            size_t n = std::min<size_t>(bytes.size(), nOutBufferSize);
            // An empty answer has no bytes to copy (and no storage to copy from).
            if (n != 0) std::memcpy(lpOutBuffer, bytes.data(), n);
            *lpBytesReturned = static_cast<DWORD>(n);
            return TRUE;
        }
        case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
            if (nOutBufferSize < sizeof(STORAGE_DEVICE_NUMBER))
                return fail(ERROR_INSUFFICIENT_BUFFER);
            STORAGE_DEVICE_NUMBER n{};
            GUID ifc = State::InterfaceClassOf(*this, *device);
            bool disk = SameGuid(ifc, kGuidDevInterfaceDisk);
            n.DeviceType = disk                                    ? FILE_DEVICE_DISK
                           : SameGuid(ifc, kGuidDevInterfaceCdrom) ? FILE_DEVICE_CD_ROM
                           : SameGuid(ifc, kGuidDevInterfaceTape)  ? FILE_DEVICE_TAPE
                                                                   : FILE_DEVICE_UNKNOWN;
            n.DeviceNumber = st.deviceNumber;
            n.PartitionNumber = volume ? 1 : (disk ? 0 : 0xFFFFFFFF);
            std::memcpy(lpOutBuffer, &n, sizeof n);
            *lpBytesReturned = sizeof n;
            return TRUE;
        }
        case IOCTL_DISK_GET_DRIVE_GEOMETRY:
        case IOCTL_CDROM_GET_DRIVE_GEOMETRY: {
            if (nOutBufferSize < sizeof(DISK_GEOMETRY)) return fail(ERROR_INSUFFICIENT_BUFFER);
            DISK_GEOMETRY g{};
            g.Cylinders.QuadPart = st.geometry.cylinders;
            std::memcpy(&g.MediaType, &st.geometry.mediaType, sizeof(DWORD));
            g.TracksPerCylinder = st.geometry.tracksPerCylinder;
            g.SectorsPerTrack = st.geometry.sectorsPerTrack;
            g.BytesPerSector = st.geometry.bytesPerSector;
            std::memcpy(lpOutBuffer, &g, sizeof g);
            *lpBytesReturned = sizeof g;
            return TRUE;
        }
        case IOCTL_TAPE_GET_MEDIA_PARAMS: {
            if (nOutBufferSize < sizeof(TAPE_GET_MEDIA_PARAMETERS))
                return fail(ERROR_INSUFFICIENT_BUFFER);
            TAPE_GET_MEDIA_PARAMETERS t{};
            t.Capacity.QuadPart = st.tapeCapacity;
            t.Remaining.QuadPart = st.tapeCapacity;
            t.BlockSize = 512;
            t.PartitionCount = 1;
            std::memcpy(lpOutBuffer, &t, sizeof t);
            *lpBytesReturned = sizeof t;
            return TRUE;
        }
        case IOCTL_STORAGE_GET_MEDIA_TYPES_EX: {
            if (nOutBufferSize < sizeof(GET_MEDIA_TYPES)) return fail(ERROR_INSUFFICIENT_BUFFER);
            const size_t header = offsetof(GET_MEDIA_TYPES, MediaInfo);
            const size_t room = (nOutBufferSize - header) / sizeof(DEVICE_MEDIA_INFO);
            const size_t count = st.media.size();
            const size_t written = std::min(room, count);
            auto* out = static_cast<BYTE*>(lpOutBuffer);
            std::memset(out, 0, header + written * sizeof(DEVICE_MEDIA_INFO));
            sim::PutDword(out, st.mediaDeviceType);
            sim::PutDword(out + sizeof(DWORD), static_cast<DWORD>(count));
            for (size_t i = 0; i < written; ++i) {
                DEVICE_MEDIA_INFO info{};
                if (st.mediaDeviceType == FILE_DEVICE_TAPE) {
                    info.DeviceSpecific.TapeInfo.MediaType =
                        static_cast<STORAGE_MEDIA_TYPE>(st.media[i].mediaType);
                    info.DeviceSpecific.TapeInfo.MediaCharacteristics = st.media[i].characteristics;
                    info.DeviceSpecific.TapeInfo.CurrentBlockSize = 512;
                    std::memcpy(&info.DeviceSpecific.TapeInfo.BusType, &st.busType, sizeof(DWORD));
                } else {
                    info.DeviceSpecific.DiskInfo.Cylinders.QuadPart = st.geometry.cylinders;
                    info.DeviceSpecific.DiskInfo.MediaType =
                        static_cast<STORAGE_MEDIA_TYPE>(st.media[i].mediaType);
                    info.DeviceSpecific.DiskInfo.TracksPerCylinder = st.geometry.tracksPerCylinder;
                    info.DeviceSpecific.DiskInfo.SectorsPerTrack = st.geometry.sectorsPerTrack;
                    info.DeviceSpecific.DiskInfo.BytesPerSector = st.geometry.bytesPerSector;
                    info.DeviceSpecific.DiskInfo.NumberMediaSides = 1;
                    info.DeviceSpecific.DiskInfo.MediaCharacteristics = st.media[i].characteristics;
                }
                std::memcpy(out + header + i * sizeof(DEVICE_MEDIA_INFO), &info, sizeof info);
            }
            *lpBytesReturned = static_cast<DWORD>(header + written * sizeof(DEVICE_MEDIA_INFO));
            if (written < count) return fail(ERROR_MORE_DATA);
            return TRUE;
        }
        default:
            return fail(ERROR_INVALID_FUNCTION);
    }
}

BOOL SimMachine::FlushFileBuffers(HANDLE hFile) {
    if (auto e = State::Enter(*this, "FlushFileBuffers", [&] { return HandleText(hFile); })) {
        SetLastError(*e);
        return FALSE;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(hFile));
    if (it == state_->handles.end() ||
        (it->second.kind != State::Kind::Device && it->second.kind != State::Kind::Volume)) {
        State::ProgramError(*this,
                            "FlushFileBuffers on an unknown or closed handle " + HandleText(hFile));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(it->second.access & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (it->second.kind == State::Kind::Volume) {
        if (DWORD error = volumes_[it->second.index].flushError) {
            SetLastError(error);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL SimMachine::CloseHandle(HANDLE hObject) {
    if (auto e = State::Enter(*this, "CloseHandle", [&] { return HandleText(hObject); })) {
        SetLastError(*e);
        return FALSE;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(hObject));
    if (it == state_->handles.end()) {
        State::ProgramError(*this,
                            "CloseHandle on an unknown or closed handle " + HandleText(hObject));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (it->second.kind == State::Kind::VolumeSearch) {
        // Windows has no kernel object behind it: only FindVolumeClose ends it.
        State::ProgramError(*this, "CloseHandle on a volume search " + HandleText(hObject));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (it->second.kind == State::Kind::Module) {
        State::ProgramError(*this, "CloseHandle on a library " + HandleText(hObject));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (it->second.kind == State::Kind::Mutex && !it->second.what.empty()) {
        auto m = state_->mutexes.find(it->second.what);
        if (m != state_->mutexes.end() && --m->second <= 0) state_->mutexes.erase(m);
        MutexHandleClosed(it->first);
    }
    state_->handles.erase(it);  // a lock held by the handle ends with it
    return TRUE;
}

DWORD SimMachine::GetLogicalDriveStringsW(DWORD nBufferLength, LPWSTR lpBuffer) {
    if (auto e = State::Enter(*this, "GetLogicalDriveStringsW",
                              [&] { return std::to_string(nBufferLength); })) {
        SetLastError(*e);
        return 0;
    }
    std::set<WCHAR> letters;
    for (const auto& v : volumes_)
        if (v.present && v.letter) letters.insert(v.letter);
    std::wstring block;
    for (WCHAR l : letters) block += std::wstring{l, L':', L'\\', L'\0'};
    // The block and its final NUL; the length returned leaves that NUL out.
    if (!lpBuffer || nBufferLength < block.size() + 1) return static_cast<DWORD>(block.size() + 1);
    std::memcpy(lpBuffer, block.data(), sizeof(WCHAR) * block.size());
    lpBuffer[block.size()] = L'\0';
    return static_cast<DWORD>(block.size());
}

UINT SimMachine::GetDriveTypeW(LPCWSTR lpRootPathName) {
    if (auto e = State::Enter(*this, "GetDriveTypeW", [&] { return Quote(lpRootPathName); })) {
        SetLastError(*e);
        return DRIVE_UNKNOWN;
    }
    const std::optional<size_t> v = State::VolumeOfMountPoint(*this, FromPtr(lpRootPathName));
    return v ? volumes_[*v].driveType : DRIVE_NO_ROOT_DIR;
}

BOOL SimMachine::GetVolumeNameForVolumeMountPointW(LPCWSTR lpszVolumeMountPoint,
                                                   LPWSTR lpszVolumeName, DWORD cchBufferLength) {
    if (auto e = State::Enter(*this, "GetVolumeNameForVolumeMountPointW",
                              [&] { return Quote(lpszVolumeMountPoint); })) {
        SetLastError(*e);
        return FALSE;
    }
    std::wstring mount = FromPtr(lpszVolumeMountPoint);
    if (mount.empty() || mount.back() != L'\\') {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    const std::optional<size_t> index = State::VolumeOfMountPoint(*this, mount);
    SimVolume* v = index ? &volumes_[*index] : nullptr;
    if (!v || v->guidPath.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (v->mountPointError) {
        SetLastError(v->mountPointError);
        return FALSE;
    }
    if (!sim::CopyWithNul(v->guidPath, lpszVolumeName, cchBufferLength)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}
