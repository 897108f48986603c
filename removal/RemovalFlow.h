// The removal of chosen devices, apart from who chose them and who answers:
// the lock test over each device, with a question wherever a volume refuses
// its lock, then the flush, the removal and the shell notice of each device
// that came through. The main window answers the questions with its boxes and
// shows the steps on its status line; the console program answers from its
// options and prints. Both run this one flow, so both follow the same rules.
#pragma once

#include "inventory/DriveTable.h"
#include "platform/Platform.h"

#include <string>
#include <vector>

// Why a device's lock test failed, in the order the question is chosen.
enum class LockRefusal {
    AccessDenied,  // a volume could not be opened for lack of rights
    BootDevice,    // the device holds the system drive
    PageFile,      // the device holds a page file
    FilesInUse,    // something has files open on a volume
};

// What to do with a device whose lock test failed.
enum class LockAnswer {
    Skip,          // leave the device in the system, go on with the next
    TryAgain,      // test the same device again
    RemoveAnyway,  // take it into the removal pass all the same
    Stop,          // end the whole command; nothing is removed
};

// What came of one chosen device.
enum class DeviceOutcome {
    Skipped,       // its lock test failed and it was left (see `refusal`)
    Removed,       // the device installer took it out: it may be pulled
    RebootNeeded,  // removed, but Windows asks for a restart first
    NotRemoved,    // the installer could not remove it; it is still there
    NotReached,    // the command stopped before the removal pass
    // Virtual disks, never to be called safe to pull:
    Detached,      // a mounted ISO, VHD or VHDX whose image was detached: gone
    NotDetached,   // one whose image could not be detached: still attached
    LeftInPlace,   // a Storage Spaces virtual disk: not lock-tested, not removed
};

struct DeviceResult {
    // Copied: the report outlives the refresh that replaces the records.
    std::wstring deviceName;
    std::wstring deviceInstanceId;
    DeviceOutcome outcome = DeviceOutcome::NotReached;
    // The last refusal of its lock test, when there was one: the volume's
    // letter (0 for a volume without one) and the name the question gave it
    // ("E:", "C:\\Backup\\").
    bool refused = false;
    LockRefusal refusal = LockRefusal::FilesInUse;
    wchar_t refusedLetter = 0;
    std::wstring refusedMountPoint;
    // The volume it shares with a device that was not chosen, when it has one
    // and was asked about ("E:"); the answer decided its outcome.
    std::wstring sharedVolume;
    // A virtual disk's image file as Windows names it, once found.
    std::wstring image;
    // Why a virtual disk was not detached: the error of the failing call;
    // ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND when Windows has no virtual
    // disk service.
    DWORD detachError = ERROR_SUCCESS;
};

struct RemovalReport {
    // The lock pass ended early (Stop, or access denied): nothing was removed.
    bool stopped = false;
    // One entry per chosen device, in the order given.
    std::vector<DeviceResult> devices;

    // Devices that reached the removal pass (came through the lock test).
    std::size_t Accepted() const;
    // Names of the removed devices, in order of removal.
    std::vector<std::wstring> RemovedNames() const;
    bool RebootNeeded() const;
    // The devices that came to this outcome, in the order given.
    std::vector<const DeviceResult*> WithOutcome(DeviceOutcome outcome) const;
};

// Who answers the flow's questions and sees its steps.
class RemovalHost {
public:
    virtual ~RemovalHost() = default;
    // A step of the command, in the window's words (a status text starts
    // with a blank).
    virtual void ShowStatus(const std::wstring& text) = 0;
    // The lock test of `record` failed on its volume `volume` (an index:
    // record.VolumeMountPoint names it) for `why`. Access denied is answered
    // by ending the command whatever is returned; the host only tells the user.
    virtual LockAnswer AskAboutLock(const DriveRecord& record, LockRefusal why, int volume) = 0;
    // `record`'s volume `volume` also lies on `other`, a device that was not
    // chosen (null: a disk that is not in the table) or, when `otherSkipped`,
    // one that was chosen but is being left in the system, so removing
    // `record` takes the volume from both. Skip leaves `record`, RemoveAnyway
    // goes on, Stop ends the command; Try Again counts as Skip.
    virtual LockAnswer AskAboutSharedVolume(const DriveRecord& record, int volume,
                                            const DriveRecord* other, bool otherSkipped) = 0;
    // A device could not be removed cleanly (a restart is asked for, or the
    // installer failed): the window lets the status text be read.
    virtual void PauseAfterProblem() = 0;
    // Lets `milliseconds` pass before a refused lock is tried again. False
    // when the user closed the program meanwhile: the command then stops as
    // after Cancel. A console has nothing to keep painted and just sleeps.
    virtual bool WaitBeforeRetry(Platform& platform, DWORD milliseconds) {
        platform.Sleep(milliseconds);
        return true;
    }
};

// When a program asks to lock a volume, Windows tells the volume's users (the
// shell, the search indexer, antivirus); they close their handles and reopen
// them a moment later. So a refused lock is tried again, this often, for this
// long, before the user is asked about files in use.
inline constexpr DWORD kLockRetryMilliseconds = 3000;
inline constexpr DWORD kLockRetryIntervalMilliseconds = 300;

// Runs the lock pass over `chosen` (records of `table`) in order, asking
// first about each volume a device shares with one not chosen (and, once the
// pass is through, with a chosen one that was skipped); then flushes
// and removes each device that came through it and tells the shell its
// letters (and the folders of its volumes without one) are gone. A volume
// shared by two chosen devices is lock-tested once. A mounted image's disk is
// detached from its image instead of removed; a Storage Spaces virtual disk
// is left in place. The records must stay valid for the whole call: the
// caller holds refreshes back.
RemovalReport RunRemoval(Platform& platform, RemovalHost& host,
                         const std::vector<const DriveRecord*>& chosen, const DriveTable& table);

// The pattern that names exactly this device: "@" and its instance
// identifier, taken literally ("@'") when the identifier holds a "*" or
// starts with a quote.
std::wstring RemovalPatternFor(const wchar_t* deviceInstanceId);
