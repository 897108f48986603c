#include "removal/VolumeLocks.h"

#include "platform/Owners.h"

namespace {

// Drive letter of volume i; the inventory fills letters and volumes together.
WCHAR LetterOfVolume(const DriveRecord& record, int i) {
    if (i < 0 || i >= record.letterCount || i >= kMaxDriveLetters) return 0;
    return record.driveLetters[i];
}

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

WCHAR TestVolumeLocks(Platform& platform, const DriveRecord& record) {
    for (int i = 0; i < kMaxVolumes; ++i) {
        const wchar_t* name = record.GetVolumeName(i);
        if (name == nullptr || *name == L'\0') break;
        const WCHAR letter = LetterOfVolume(record, i);

        UniqueHandle volume(
            platform, platform.CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
        if (!volume) {
            const DWORD error = platform.GetLastError();
            if (error == ERROR_ACCESS_DENIED) return static_cast<WCHAR>(letter + 32);
            // An empty card-reader slot or DVD drive, a volume BitLocker
            // keeps locked, or one already gone, has nothing open on it.
            if (VolumeIsEmptyOrGone(error)) continue;
            // Any other volume that cannot be opened cannot be shown free
            // either, so it counts as refused and the user is asked.
            return letter;
        }
        DWORD bytes = 0;
        if (!platform.DeviceIoControl(volume.Get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0,
                                      &bytes, nullptr))
            return letter;
        // The lock only proves the volume is free now; it is not kept.
        platform.DeviceIoControl(volume.Get(), FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes,
                                 nullptr);
    }
    return 0;
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
