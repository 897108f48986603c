#include "removal/VolumeLocks.h"

#include "platform/Owners.h"

namespace {

bool VolumeIsEmptyOrGone(DWORD openError) {
    switch (openError) {
        case ERROR_NOT_READY:
        case ERROR_NO_MEDIA_IN_DRIVE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEVICE_NOT_CONNECTED:
        // BitLocker has not unlocked it: no file system is mounted.
        case kFveLockedVolume:
            return true;
        default:
            return false;
    }
}

}  // namespace

LockTestResult TestVolumeLocks(Platform& platform, const DriveRecord& record,
                               const std::set<std::wstring>* tested) {
    for (int i = 0; i < kMaxVolumes; ++i) {
        const wchar_t* name = record.GetVolumeName(i);
        if (name == nullptr || *name == L'\0') break;
        if (tested != nullptr && tested->count(name) != 0) continue;

        UniqueHandle volume(
            platform, platform.CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
        if (!volume) {
            const DWORD error = platform.GetLastError();
            if (error == ERROR_ACCESS_DENIED) return {LockTestOutcome::AccessDenied, i};
            // An empty card-reader slot or DVD drive, a volume BitLocker
            // keeps locked, or one already gone, has nothing open on it.
            if (VolumeIsEmptyOrGone(error)) continue;
            // Any other volume that cannot be opened cannot be shown free
            // either, so it counts as refused and the user is asked.
            return {LockTestOutcome::InUse, i};
        }
        DWORD bytes = 0;
        if (!platform.DeviceIoControl(volume.Get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0,
                                      &bytes, nullptr))
            return {LockTestOutcome::InUse, i};
        // The lock only proves the volume is free now; it is not kept.
        platform.DeviceIoControl(volume.Get(), FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes,
                                 nullptr);
    }
    return {};
}

bool FlushVolumes(Platform& platform, const DriveRecord& record) {
    bool failed = false;
    for (int i = 0; i < kMaxVolumes; ++i) {
        const wchar_t* name = record.GetVolumeName(i);
        if (name == nullptr || *name == L'\0') break;
        UniqueHandle volume(platform, platform.CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0,
                                                           nullptr, OPEN_EXISTING, 0, nullptr));
        if (!volume) {
            failed = true;
            continue;
        }
        if (!platform.FlushFileBuffers(volume.Get())) failed = true;
    }
    return failed;
}
