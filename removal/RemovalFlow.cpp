#include "removal/RemovalFlow.h"

#include "removal/DeviceRemoval.h"
#include "removal/VirtualDisks.h"
#include "removal/VolumeLocks.h"

namespace {

bool IsLowerCaseLetter(WCHAR code) { return code >= L'a' && code <= L'z'; }

wchar_t UpperCaseLetter(WCHAR code) {
    return IsLowerCaseLetter(code) ? static_cast<wchar_t>(code - (L'a' - L'A'))
                                   : static_cast<wchar_t>(code);
}

// Whether a refusal may go away by itself: files in use on a device that is
// neither the boot device nor one with a page file (those keep their volumes
// for as long as the system runs, so waiting would only delay the question).
bool WorthRetrying(WCHAR code, const DriveRecord& record) {
    return code >= L'A' && code <= L'Z' && !record.isBootDrive && !record.hasPageFile;
}

// The lock test of one device, tried again while a volume refuses for up to
// kLockRetryMilliseconds. `stopped` is set when the host's wait was cut short.
WCHAR TestWithRetries(Platform& platform, RemovalHost& host, const DriveRecord& record,
                      bool& stopped) {
    WCHAR code = TestVolumeLocks(platform, record);
    WCHAR shown = 0;
    const DWORD started = platform.GetTickCount();
    // The clock bounds the retries, and so does their number should it
    // stand still.
    for (DWORD retry = 0; retry < kLockRetryMilliseconds / kLockRetryIntervalMilliseconds &&
                          WorthRetrying(code, record);
         ++retry) {
        if (platform.GetTickCount() - started + kLockRetryIntervalMilliseconds >
            kLockRetryMilliseconds)
            break;
        if (code != shown) {
            host.ShowStatus(std::wstring(L" Waiting for drive ") + code + L": of device " +
                            record.deviceName + L" to be released...");
            shown = code;
        }
        if (!host.WaitBeforeRetry(platform, kLockRetryIntervalMilliseconds)) {
            stopped = true;
            break;
        }
        code = TestVolumeLocks(platform, record);
    }
    return code;
}

// The lock test of one device, asked again for as long as the answer is Try
// Again. Records the last refusal in `result`.
LockAnswer TestUntilDecided(Platform& platform, RemovalHost& host, const DriveRecord& record,
                            DeviceResult& result) {
    for (;;) {
        host.ShowStatus(std::wstring(L" Trying to get an exclusive lock on device ") +
                        record.deviceName);
        bool stopped = false;
        const WCHAR code = TestWithRetries(platform, host, record, stopped);
        if (stopped) return LockAnswer::Stop;
        if (code == 0) return LockAnswer::RemoveAnyway;
        host.ShowStatus(std::wstring(L" Unable to get an exclusive lock for device ") +
                        record.deviceName);

        LockRefusal why = LockRefusal::FilesInUse;
        if (IsLowerCaseLetter(code)) why = LockRefusal::AccessDenied;
        else if (record.isBootDrive) why = LockRefusal::BootDevice;
        else if (record.hasPageFile) why = LockRefusal::PageFile;
        result.refused = true;
        result.refusal = why;
        result.refusedLetter = UpperCaseLetter(code);

        const LockAnswer answer = host.AskAboutLock(record, why, result.refusedLetter);
        // Without rights on one volume, no device is removed at all.
        if (why == LockRefusal::AccessDenied) return LockAnswer::Stop;
        if (answer != LockAnswer::TryAgain) return answer;
    }
}

// Tells the shell that the drive letters of a device that went are gone.
void AnnounceLettersGone(Platform& platform, const DriveRecord& record) {
    const LONG letters =
        record.letterCount < kMaxDriveLetters ? record.letterCount : kMaxDriveLetters;
    for (LONG l = 0; l < letters && record.driveLetters[l] != L'\0'; ++l) {
        const wchar_t root[4] = {record.driveLetters[l], L':', L'\\', L'\0'};
        platform.SHChangeNotify(SHCNE_DRIVEREMOVED, SHCNF_PATHW, root, nullptr);
    }
}

// Detaches the image behind a mounted ISO, VHD or VHDX: its letters go with it.
void DetachImage(Platform& platform, RemovalHost& host, const DriveRecord& record,
                 DeviceResult& result) {
    host.ShowStatus(std::wstring(L" Detaching virtual disk ") + record.deviceName +
                    L", please wait...");
    const ImageDetach detach = DetachDiskImage(platform, record);
    result.image = detach.image;
    if (detach.detached) {
        result.outcome = DeviceOutcome::Detached;
        AnnounceLettersGone(platform, record);
        return;
    }
    result.outcome = DeviceOutcome::NotDetached;
    result.detachError = detach.error;
    host.ShowStatus(std::wstring(L" Unable to detach virtual disk ") + record.deviceName);
    host.PauseAfterProblem();
}

}  // namespace

std::vector<const DeviceResult*> RemovalReport::WithOutcome(DeviceOutcome outcome) const {
    std::vector<const DeviceResult*> found;
    for (const DeviceResult& device : devices)
        if (device.outcome == outcome) found.push_back(&device);
    return found;
}

std::size_t RemovalReport::Accepted() const {
    std::size_t n = 0;
    for (const DeviceResult& device : devices)
        if (device.outcome != DeviceOutcome::Skipped && device.outcome != DeviceOutcome::NotReached)
            ++n;
    return n;
}

std::vector<std::wstring> RemovalReport::RemovedNames() const {
    std::vector<std::wstring> names;
    for (const DeviceResult& device : devices)
        if (device.outcome == DeviceOutcome::Removed) names.push_back(device.deviceName);
    return names;
}

bool RemovalReport::RebootNeeded() const {
    for (const DeviceResult& device : devices)
        if (device.outcome == DeviceOutcome::RebootNeeded) return true;
    return false;
}

std::wstring RemovalPatternFor(const wchar_t* deviceInstanceId) {
    const std::wstring id = deviceInstanceId != nullptr ? deviceInstanceId : L"";
    // A "*" would turn the identifier into a wildcard over every device, and
    // a leading quote would be read as the literal marker and dropped, naming
    // another device.
    if (id.find(L'*') != std::wstring::npos || id.rfind(L'\'', 0) == 0) return L"@'" + id;
    return L"@" + id;
}

RemovalReport RunRemoval(Platform& platform, RemovalHost& host,
                         const std::vector<const DriveRecord*>& chosen) {
    RemovalReport report;
    report.devices.resize(chosen.size());
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        report.devices[i].deviceName = chosen[i]->deviceName;
        report.devices[i].deviceInstanceId = chosen[i]->deviceInstanceId;
    }

    // First pass: the lock test, where the questions are asked. Every device
    // is only looked at; nothing is removed before the pass is through.
    std::vector<std::size_t> accepted;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        // A storage space is not a device to pull: nothing to test or ask.
        if (VirtualKindOf(*chosen[i]) == VirtualKind::StorageSpace) {
            report.devices[i].outcome = DeviceOutcome::LeftInPlace;
            continue;
        }
        const LockAnswer answer = TestUntilDecided(platform, host, *chosen[i], report.devices[i]);
        if (answer == LockAnswer::Stop) {
            report.stopped = true;
            return report;
        }
        if (answer == LockAnswer::Skip) report.devices[i].outcome = DeviceOutcome::Skipped;
        else accepted.push_back(i);
    }

    // Second pass: no questions.
    for (const std::size_t i : accepted) {
        const DriveRecord& record = *chosen[i];
        DeviceResult& result = report.devices[i];
        FlushVolumes(platform, record);
        // Uninstalling it would leave the image attached and bring the disk
        // back at the next scan.
        if (VirtualKindOf(record) == VirtualKind::ImageFile) {
            DetachImage(platform, host, record, result);
            continue;
        }
        const std::wstring pattern = RemovalPatternFor(record.deviceInstanceId);
        host.ShowStatus(std::wstring(L" Attempting to remove ") + record.deviceName +
                        L", please wait...");
        const RemoveResult removal = RemoveDevice(platform, pattern.c_str());
        if (removal == RemoveOk) {
            result.outcome = DeviceOutcome::Removed;
            AnnounceLettersGone(platform, record);
        } else if (removal == RemoveRebootNeeded) {
            result.outcome = DeviceOutcome::RebootNeeded;
            host.ShowStatus(std::wstring(L" Reboot return while removing device ") +
                            record.deviceName);
            host.PauseAfterProblem();
        } else {
            // Nothing matched, the installer declined, or the removal could
            // not run: the drive is still in the system and must not be
            // reported as safe to pull, nor its letters announced as gone.
            result.outcome = DeviceOutcome::NotRemoved;
            host.ShowStatus(std::wstring(L" Unable to remove device ") + record.deviceName);
            host.PauseAfterProblem();
        }
    }
    return report;
}
