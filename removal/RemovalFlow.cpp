#include "removal/RemovalFlow.h"

#include "removal/DeviceRemoval.h"
#include "removal/VirtualDisks.h"
#include "removal/VolumeLocks.h"

#include <algorithm>
#include <set>

namespace {

// Whether a refusal may go away by itself: files in use on a device that is
// neither the boot device nor one with a page file (those keep their volumes
// for as long as the system runs, so waiting would only delay the question).
bool WorthRetrying(const LockTestResult& test, const DriveRecord& record) {
    return test.outcome == LockTestOutcome::InUse && !record.isBootDrive && !record.hasPageFile;
}

// The lock test of one device, tried again while a volume refuses for up to
// kLockRetryMilliseconds. `stopped` is set when the host's wait was cut short.
LockTestResult TestWithRetries(Platform& platform, RemovalHost& host, const DriveRecord& record,
                               const std::set<std::wstring>& tested, bool& stopped) {
    LockTestResult test = TestVolumeLocks(platform, record, &tested);
    int shown = -1;
    const DWORD started = platform.GetTickCount();
    // The clock bounds the retries, and so does their number should it
    // stand still.
    for (DWORD retry = 0; retry < kLockRetryMilliseconds / kLockRetryIntervalMilliseconds &&
                          WorthRetrying(test, record);
         ++retry) {
        if (platform.GetTickCount() - started + kLockRetryIntervalMilliseconds >
            kLockRetryMilliseconds)
            break;
        if (test.volume != shown) {
            host.ShowStatus(L" Waiting for drive " + record.VolumeMountPoint(test.volume) +
                            L" of device " + record.deviceName + L" to be released...");
            shown = test.volume;
        }
        if (!host.WaitBeforeRetry(platform, kLockRetryIntervalMilliseconds)) {
            stopped = true;
            break;
        }
        test = TestVolumeLocks(platform, record, &tested);
    }
    return test;
}

// The lock test of one device, asked again for as long as the answer is Try
// Again. Records the last refusal in `result`. Volumes in `tested` were
// tested with another device and are not tested again.
LockAnswer TestUntilDecided(Platform& platform, RemovalHost& host, const DriveRecord& record,
                            const std::set<std::wstring>& tested, DeviceResult& result) {
    for (;;) {
        host.ShowStatus(std::wstring(L" Trying to get an exclusive lock on device ") +
                        record.deviceName);
        bool stopped = false;
        const LockTestResult test = TestWithRetries(platform, host, record, tested, stopped);
        if (stopped) return LockAnswer::Stop;
        if (test.outcome == LockTestOutcome::Free) return LockAnswer::RemoveAnyway;
        host.ShowStatus(std::wstring(L" Unable to get an exclusive lock for device ") +
                        record.deviceName);

        LockRefusal why = LockRefusal::FilesInUse;
        if (test.outcome == LockTestOutcome::AccessDenied)
            why = LockRefusal::AccessDenied;
        else if (record.isBootDrive) why = LockRefusal::BootDevice;
        else if (record.hasPageFile) why = LockRefusal::PageFile;
        result.refused = true;
        result.refusal = why;
        result.refusedLetter = record.VolumeLetter(test.volume);
        result.refusedMountPoint = record.VolumeMountPoint(test.volume);

        const LockAnswer answer = host.AskAboutLock(record, why, test.volume);
        // Without rights on one volume, no device is removed at all.
        if (why == LockRefusal::AccessDenied) return LockAnswer::Stop;
        if (answer != LockAnswer::TryAgain) return answer;
    }
}

// A spanned or striped volume lies on several disks; removing one of them
// takes it from all. For each such volume of `record` that also lies on a
// device not chosen (or on a disk not in the table at all), the host is asked
// whether to go on.
LockAnswer AskAboutSharedVolumes(RemovalHost& host, const DriveRecord& record,
                                 const std::vector<const DriveRecord*>& chosen,
                                 const DriveTable& table, DeviceResult& result) {
    for (int v = 0; v < record.volumeCount && v < kMaxVolumes; ++v) {
        if (record.volumeDiskCounts[v] < 2) continue;
        const std::wstring_view name = FieldView(record.volumeNames[v]);
        const DriveRecord* notChosen = nullptr;
        LONG listed = 0;
        for (int t = 0; t < table.Count(); ++t) {
            const DriveRecord& other = table[t];
            if (!other.HasVolume(name)) continue;
            ++listed;
            if (notChosen == nullptr &&
                std::find(chosen.begin(), chosen.end(), &other) == chosen.end())
                notChosen = &other;
        }
        // The disks past those in the table were left out of it (an ignored
        // bus) or never listed: they are not chosen either.
        if (notChosen == nullptr && listed >= record.volumeDiskCounts[v]) continue;
        result.sharedVolume = record.VolumeMountPoint(v);
        const LockAnswer answer = host.AskAboutSharedVolume(record, v, notChosen, false);
        if (answer == LockAnswer::Stop) return answer;
        if (answer != LockAnswer::RemoveAnyway) return LockAnswer::Skip;
    }
    return LockAnswer::RemoveAnyway;
}

// A device that came through the lock pass may share a spanned volume with a
// chosen device that was skipped after it: removing it would still take half
// of that volume away. Asks about each such volume, naming the device left in
// place; a device skipped here may leave another half behind, so this goes on
// until nothing changes. False when the answer was Stop.
bool AskAboutHalvesLeftBehind(RemovalHost& host, const std::vector<const DriveRecord*>& chosen,
                              RemovalReport& report, std::vector<std::size_t>& accepted) {
    std::set<std::pair<std::size_t, int>> asked;
    for (bool changed = true; changed;) {
        changed = false;
        for (auto it = accepted.begin(); it != accepted.end();) {
            const DriveRecord& record = *chosen[*it];
            LockAnswer answer = LockAnswer::RemoveAnyway;
            for (int v = 0; v < record.volumeCount && v < kMaxVolumes; ++v) {
                if (record.volumeDiskCounts[v] < 2) continue;
                const std::wstring_view name = FieldView(record.volumeNames[v]);
                const DriveRecord* left = nullptr;
                for (std::size_t j = 0; j < chosen.size() && left == nullptr; ++j)
                    if (report.devices[j].outcome == DeviceOutcome::Skipped &&
                        chosen[j]->HasVolume(name))
                        left = chosen[j];
                if (left == nullptr || !asked.emplace(*it, v).second) continue;
                report.devices[*it].sharedVolume = record.VolumeMountPoint(v);
                answer = host.AskAboutSharedVolume(record, v, left, true);
                if (answer != LockAnswer::RemoveAnyway) break;
            }
            if (answer == LockAnswer::Stop) return false;
            if (answer == LockAnswer::RemoveAnyway) {
                ++it;
                continue;
            }
            report.devices[*it].outcome = DeviceOutcome::Skipped;
            it = accepted.erase(it);
            changed = true;
        }
    }
    return true;
}

// Tells the shell the device's volumes are gone: each letter's root, and the
// folders of a volume without a letter, whose folders stay as plain folders.
void NoticeVolumesGone(Platform& platform, const DriveRecord& record) {
    const LONG letters =
        record.letterCount < kMaxDriveLetters ? record.letterCount : kMaxDriveLetters;
    for (LONG l = 0; l < letters && record.driveLetters[l] != L'\0'; ++l) {
        const wchar_t root[4] = {record.driveLetters[l], L':', L'\\', L'\0'};
        platform.SHChangeNotify(SHCNE_DRIVEREMOVED, SHCNF_PATHW, root, nullptr);
    }
    record.mountFolders.ForEach([&](int volume, std::wstring_view folder) {
        if (record.VolumeLetter(volume) != L'\0') return;
        const std::wstring path(folder);
        platform.SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, path.c_str(), nullptr);
    });
}

// Detaches the image behind a mounted ISO, VHD or VHDX: its volumes go with it.
void DetachImage(Platform& platform, RemovalHost& host, const DriveRecord& record,
                 DeviceResult& result) {
    host.ShowStatus(std::wstring(L" Detaching virtual disk ") + record.deviceName +
                    L", please wait...");
    const ImageDetach detach = DetachDiskImage(platform, record);
    result.image = detach.image;
    if (detach.detached) {
        result.outcome = DeviceOutcome::Detached;
        NoticeVolumesGone(platform, record);
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
                         const std::vector<const DriveRecord*>& chosen, const DriveTable& table) {
    RemovalReport report;
    report.devices.resize(chosen.size());
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        report.devices[i].deviceName = chosen[i]->deviceName;
        report.devices[i].deviceInstanceId = chosen[i]->deviceInstanceId;
    }

    // First pass: the lock test, where the questions are asked. Every device
    // is only looked at; nothing is removed before the pass is through.
    std::vector<std::size_t> accepted;
    std::set<std::wstring> tested;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const DriveRecord& record = *chosen[i];
        // A storage space is not a device to pull: nothing to test or ask.
        if (VirtualKindOf(record) == VirtualKind::StorageSpace) {
            report.devices[i].outcome = DeviceOutcome::LeftInPlace;
            continue;
        }
        LockAnswer answer = AskAboutSharedVolumes(host, record, chosen, table, report.devices[i]);
        if (answer == LockAnswer::RemoveAnyway)
            answer = TestUntilDecided(platform, host, record, tested, report.devices[i]);
        if (answer == LockAnswer::Stop) {
            report.stopped = true;
            return report;
        }
        if (answer == LockAnswer::Skip) {
            report.devices[i].outcome = DeviceOutcome::Skipped;
            continue;
        }
        accepted.push_back(i);
        // Its spanned volumes are settled for the other devices they lie on.
        for (int v = 0; v < record.volumeCount && v < kMaxVolumes; ++v)
            if (record.volumeDiskCounts[v] > 1) tested.emplace(FieldView(record.volumeNames[v]));
    }

    if (!AskAboutHalvesLeftBehind(host, chosen, report, accepted)) {
        report.stopped = true;
        return report;
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
            NoticeVolumesGone(platform, record);
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
