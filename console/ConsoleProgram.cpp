#include "console/ConsoleProgram.h"

#include "app/ProgramName.h"
#include "app/Trayhop32App.h"
#include "console/CommandLine.h"
#include "console/ConsoleOutput.h"
#include "console/ListOutput.h"
#include "console/Selectors.h"
#include "listview/ListRows.h"
#include "platform/Owners.h"
#include "removal/RemovalFlow.h"
#include "removal/RemovalLock.h"
#include "removal/RemoveCommand.h"
#include "removal/Scan.h"
#include "removal/VolumeHolders.h"

#include <algorithm>
#include <set>

namespace {

constexpr const wchar_t* kVersion = L"1.3.7567.0";

std::wstring Usage(const std::wstring& name) {
    static const wchar_t* const kForms[] = {
        L"list [--all] [--json]",
        L"remove SELECTOR... [--label NAME] [--wait SECONDS] [--force] [--quiet]",
        L"scan [--quiet]",
        L"help | --help | /?",
        L"--version",
    };
    std::wstring text = L"Usage:\n";
    for (const wchar_t* form : kForms) text += L"  " + name + L" " + form + L"\n";
    return text;
}

// Windows' own rule for "is this an administrator": membership of the
// Administrators group, enabled in the token. Under UAC an administrator's
// unelevated token holds the group for deny only, so the answer is no until
// the program runs elevated; on XP every administrator's token has it.
bool RunsAsAdministrator(Platform& platform) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!platform.AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                           DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                           &administrators))
        return false;
    BOOL member = FALSE;
    const BOOL asked = platform.CheckTokenMembership(nullptr, administrators, &member);
    platform.FreeSid(administrators);
    return asked && member;
}

// The boot device and the page-file devices are never removed from a
// script, whatever the lock test says: the window asks its user about them,
// and a script has no one to ask.
std::wstring SystemDeviceRefusal(const DriveRecord& record) {
    const std::wstring name = record.deviceName;
    if (record.isBootDrive)
        return L"This device is the current boot device: " + name +
               L". It can not be removed while the system is running.\n";
    return L"This device has an active system page file: " + name +
           L". It can not be removed while the system is running.\n";
}

// Answers the removal flow's questions from the options and says on stderr
// why a device is refused.
class ConsoleRemovalHost : public RemovalHost {
public:
    ConsoleRemovalHost(Platform& platform, ConsoleOutput& output, const CommandLine& line)
        : platform_(platform),
          output_(output),
          force_(line.force),
          waitMilliseconds_(line.waitSeconds ? *line.waitSeconds * 1000 : 0),
          started_(platform.GetTickCount()) {}

    void ShowStatus(const std::wstring&) override {}
    void PauseAfterProblem() override {}

    LockAnswer AskAboutLock(const DriveRecord& record, LockRefusal why, int volume) override {
        const std::wstring name = record.deviceName;
        const std::wstring drive = record.VolumeMountPoint(volume);
        switch (why) {
            case LockRefusal::AccessDenied:
                output_.Err(L"Access denied on drive " + drive + L" of device " + name +
                            L": this account lacks the rights to remove it. Nothing was "
                            L"removed.\n");
                return LockAnswer::Stop;
            case LockRefusal::BootDevice:
            case LockRefusal::PageFile:
                // Refused before the flow (RefuseSystemDevices); kept for safety.
                output_.Err(SystemDeviceRefusal(record));
                return LockAnswer::Skip;
            case LockRefusal::FilesInUse:
                break;
        }
        // --wait: the files may be closed meanwhile (a backup finishing). The
        // flow has retried for a few seconds before asking; while the time
        // given lasts it retries again. Their number bounds the retries too,
        // should the clock stand still.
        if (platform_.GetTickCount() - started_ < waitMilliseconds_ &&
            tries_ <= waitMilliseconds_ / kLockRetryIntervalMilliseconds) {
            ++tries_;
            return LockAnswer::TryAgain;
        }
        std::wstring text = L"Files are in use on drive " + drive + L" of device " + name + L".\n";
        const std::wstring holders = DescribeVolumeHolders(
            FindVolumeHolders(platform_, record.GetVolumeName(volume)), drive);
        if (!holders.empty()) text += holders + L"\n";
        if (force_) {
            output_.Err(text + L"Removing it anyway (--force).\n");
            return LockAnswer::RemoveAnyway;
        }
        output_.Err(text + L"Close them and try again, or give --force to remove it anyway.\n");
        return LockAnswer::Skip;
    }

    // A script selected one device of a spanned volume: taking half of the
    // volume away is refused, --force or not; selecting every device it lies
    // on removes them together.
    LockAnswer AskAboutSharedVolume(const DriveRecord& record, int volume,
                                    const DriveRecord* other, bool otherSkipped) override {
        const std::wstring otherName =
            other != nullptr ? std::wstring(other->deviceName) : L"a disk that is not listed";
        const std::wstring head = L"The volume on drive " + record.VolumeMountPoint(volume) +
                                  L" of device " + record.deviceName + L" also lies on " +
                                  otherName;
        if (otherSkipped)
            output_.Err(head + L", which is left in the system; removing one would take the "
                               L"whole volume away from both.\n");
        else
            output_.Err(head + L", which is not selected; removing one would take the whole "
                               L"volume away from both. Select every device the volume lies "
                               L"on.\n");
        return LockAnswer::Skip;
    }

private:
    Platform& platform_;
    ConsoleOutput& output_;
    bool force_;
    DWORD waitMilliseconds_;
    DWORD started_;
    DWORD tries_ = 0;
};

int CodeOf(DeviceOutcome outcome) {
    switch (outcome) {
        case DeviceOutcome::Removed:
            return kExitOk;
        case DeviceOutcome::RebootNeeded:
            return kExitRestart;
        case DeviceOutcome::NotRemoved:
        case DeviceOutcome::NotDetached:
            return kExitRemoveFailed;
        case DeviceOutcome::Detached:
            return kExitOk;
        case DeviceOutcome::Skipped:
        case DeviceOutcome::NotReached:
        case DeviceOutcome::LeftInPlace:
            break;
    }
    return kExitRefused;
}

class ConsoleProgram {
public:
    ConsoleProgram(Platform& platform, std::wstring programName)
        : platform_(platform), output_(platform), name_(std::move(programName)), app_(platform) {}

    int Run(const std::vector<std::wstring>& args) {
        ParsedCommandLine parsed = ParseCommandLine(args);
        if (!parsed.line) {
            output_.Err(name_ + L": " + parsed.error + L"\n" + Usage(name_));
            return kExitUsage;
        }
        const CommandLine& line = *parsed.line;
        output_.quiet = line.quiet;
        if (line.command == ConsoleCommand::Help) {
            output_.Out(ConsoleHelpText(name_));
            return kExitOk;
        }
        if (line.command == ConsoleCommand::Version) {
            output_.Out(name_ + L" " + kVersion + L"\n");
            return kExitOk;
        }

        // Removal runs with the rights of whoever started it: no library may
        // come from a folder they can write to.
        app_.RestrictLibrarySearch();
        if (const int code = CheckPlatform(); code != kExitOk) return code;
        if (line.command == ConsoleCommand::List) return List(line);

        if (!RunsAsAdministrator(platform_)) {
            output_.Err(name_ + L" " +
                        (line.command == ConsoleCommand::Scan ? L"scan" : L"remove") +
                        L" needs administrator rights: run it from an elevated command prompt "
                        L"(Run as administrator).\n");
            return kExitNotElevated;
        }
        RemovalLock lock(platform_);
        if (const int code = TakeLock(lock, line); code != kExitOk) return code;
        return line.command == ConsoleCommand::Scan ? Scan() : Remove(line);
    }

private:
    Platform& platform_;
    ConsoleOutput output_;
    std::wstring name_;
    CTrayhop32App app_;

    int CheckPlatform() {
        if (kRefusesWindows64 && app_.IsWindows64()) {
            output_.Err(
                L"The 32-bit version of Trayhop does not run on 64-bit versions of "
                L"Windows. Please use Trayhop64Cmd.exe.\n");
            return kExitCannotRun;
        }
        if (!app_.CanWriteUserKey()) {
            output_.Err(L"You do not have sufficient registry privileges to run " + name_ +
                        L". You must have privileges to create values in the "
                        L"HKEY_CURRENT_USER section of the registry.\n");
            return kExitCannotRun;
        }
        return kExitOk;
    }

    int TakeLock(RemovalLock& lock, const CommandLine& line) {
        const DWORD seconds = line.waitSeconds ? *line.waitSeconds : kDefaultLockWaitSeconds;
        switch (lock.Acquire(seconds * 1000)) {
            case LockWait::Acquired:
                return kExitOk;
            case LockWait::TimedOut:
                output_.Err(
                    L"Another removal or scan "
                    L"(from"
                    L" " TRAYHOP_PROGRAM_NAME L" or a console program) is still running after " +
                    std::to_wstring(seconds) + L" s; nothing was done.\n");
                return kExitBusy;
            case LockWait::Failed:
                break;
        }
        // Without the lock two removals could run at once; the window goes
        // on in that case, a script is told.
        output_.Err(L"The lock shared with other removals could not be taken (error " +
                    std::to_wstring(lock.Error()) + L"); nothing was done.\n");
        return kExitCannotRun;
    }

    std::vector<ListedDevice> Listed(const ListOptions& options) const {
        std::vector<ListedDevice> devices;
        const DriveTable& table = app_.m_driveTable;
        for (int i = 0; i < table.Count(); ++i) {
            std::optional<ListRowTexts> row = ListRowFor(table.At(i), options);
            if (row) devices.push_back({&table.At(i), std::move(*row)});
        }
        return devices;
    }

    int List(const CommandLine& line) {
        app_.m_bShowAllDrives = line.all;
        app_.RebuildDriveTable();
        const std::vector<ListedDevice> devices = Listed(ReadListOptions(platform_));
        output_.Out(line.json ? ListJson(devices) : ListTable(devices));
        return kExitOk;
    }

    int Scan() {
        const ScanResult result = ReenumerateDeviceTree(platform_);
        if (result == ScanAccessDenied) {
            output_.Err(std::wstring(kScanAccessDeniedMessage) + L"\n");
            return kExitNotElevated;
        }
        if (result == ScanFailed) {
            output_.Err(L"Windows could not re-enumerate the device tree.\n");
            return kExitRemoveFailed;
        }
        output_.Out(L"Scanned for new devices.\n");
        return kExitOk;
    }

    int Remove(const CommandLine& line) {
        app_.RebuildDriveTable();
        const ListOptions options = ReadListOptions(platform_);

        std::set<const DriveRecord*> named;
        bool unmatched = false;
        for (const Selector& selector : line.selectors) {
            const SelectorMatch match =
                MatchSelector(platform_, app_.m_driveTable, options, selector);
            if (match.listed.empty()) {
                unmatched = true;
                std::wstring text = L"No listed device matches \"" + selector.given + L"\"";
                if (match.hidden > 0) text += L" (its device is hidden by the options)";
                output_.Err(text + L".\n");
            }
            named.insert(match.listed.begin(), match.listed.end());
        }
        if (unmatched) {
            output_.Err(L"Nothing was removed.\n");
            return kExitNoMatch;
        }

        // In the order of the list, as the window takes its ticked rows.
        std::vector<const DriveRecord*> chosen;
        for (int i = 0; i < app_.m_driveTable.Count(); ++i)
            if (named.contains(&app_.m_driveTable.At(i)))
                chosen.push_back(&app_.m_driveTable.At(i));

        std::vector<const DriveRecord*> removable;
        std::vector<DeviceResult> refused;
        for (const DriveRecord* record : chosen) {
            if (!record->isBootDrive && !record->hasPageFile) {
                removable.push_back(record);
                continue;
            }
            output_.Err(SystemDeviceRefusal(*record));
            DeviceResult result;
            result.deviceName = record->deviceName;
            result.deviceInstanceId = record->deviceInstanceId;
            result.outcome = DeviceOutcome::Skipped;
            result.refused = true;
            result.refusal = record->isBootDrive ? LockRefusal::BootDevice : LockRefusal::PageFile;
            refused.push_back(result);
        }

        ConsoleRemovalHost host(platform_, output_, line);
        RemovalReport report = RunRemoval(platform_, host, removable, app_.m_driveTable);
        report.devices.insert(report.devices.begin(), refused.begin(), refused.end());
        return Report(report);
    }

    int Report(const RemovalReport& report) {
        int code = kExitOk;
        for (const DeviceResult& device : report.devices) {
            const int deviceCode = CodeOf(device.outcome);
            code = std::max(code, deviceCode);
            switch (device.outcome) {
                case DeviceOutcome::Removed:
                    output_.Out(L"Removed " + device.deviceName +
                                L". It is safe to power it down and remove it.\n");
                    break;
                case DeviceOutcome::RebootNeeded:
                    output_.Err(L"Removed " + device.deviceName +
                                L", but it has asked that you reboot your computer. This can be "
                                L"caused when a device fails to be removed.\n");
                    break;
                case DeviceOutcome::NotRemoved:
                    output_.Err(L"Unable to remove device " + device.deviceName +
                                L": the device installer did not take it out.\n");
                    break;
                case DeviceOutcome::Skipped:
                    output_.Err(L"Not removed: " + device.deviceName + L".\n");
                    break;
                case DeviceOutcome::NotReached:
                    output_.Err(L"Not removed: " + device.deviceName +
                                L" (the command stopped before any removal).\n");
                    break;
                case DeviceOutcome::Detached:
                    output_.Out(L"Detached " + VirtualDiskName(device) +
                                L" from its image file. It is not a device to unplug; its image "
                                L"file is no longer in use.\n");
                    break;
                case DeviceOutcome::NotDetached:
                    output_.Err(L"Could not detach " + VirtualDiskName(device) + L": " +
                                DetachFailureReason(device.detachError,
                                                    [this](DWORD error) {
                                                        return SystemErrorText(platform_, error);
                                                    }) +
                                L". It is still attached.\n");
                    break;
                case DeviceOutcome::LeftInPlace:
                    output_.Err(L"Left in place: " + device.deviceName +
                                L". A storage space is not a device to unplug. Take it offline in "
                                L"Storage Spaces before you remove the drives of its pool.\n");
                    break;
            }
        }
        return code;
    }
};

}  // namespace

std::wstring ConsoleHelpText(const std::wstring& programName) {
    const std::wstring& n = programName;
    return n + L" " + kVersion +
           L": takes storage devices out of the running system safely, as " TRAYHOP_PROGRAM_NAME
           L"'s\nRemove Devices does, for scripts and scheduled tasks.\n\n" + Usage(n) +
           L"\n"
           L"  list      the devices " TRAYHOP_PROGRAM_NAME L" lists under your options; --all\n"
           L"            also lists the buses and kinds of drive the options hide; --json\n"
           L"            prints one JSON array.\n"
           L"  remove    locks, flushes and removes the selected devices. A device with files\n"
           L"            in use is refused unless --force is given; the boot device and page\n"
           L"            file devices are always refused. --wait SECONDS waits that long for\n"
           L"            files to be closed and for another removal or scan to end (30 s).\n"
           L"  scan      re-enumerates the device tree, as Scan for Devices does.\n"
           L"  --quiet   prints nothing on standard output; errors still go to standard error.\n"
           L"\n"
           L"SELECTOR is a drive letter (E:, E or E:\\), a folder mount point, a volume GUID\n"
           L"path (\\\\?\\Volume{...}\\) or a device instance identifier as list --json prints\n"
           L"it; --label NAME selects the device holding a volume with that label. Case does\n"
           L"not matter. remove and scan need administrator rights.\n"
           L"\n"
           L"Exit codes:\n"
           L"  0  every selected device was removed (or: list and scan succeeded)\n"
           L"  1  usage: unknown command or option, missing or malformed selector\n"
           L"  2  a selector matched no listed device; nothing was removed\n"
           L"  3  a device was refused: files in use (without --force), boot device, page\n"
           L"     file, or no rights on a volume\n"
           L"  4  the device installer could not remove a device (scan: could not\n"
           L"     re-enumerate the device tree)\n"
           L"  5  a device was removed but Windows asks for a restart\n"
           L"  6  remove or scan without administrator rights\n"
           L"  7  another removal or scan was running and did not end within --wait (or 30 s)\n"
           L"  8  the program cannot run here: wrong edition for this Windows, or the platform\n"
           L"     checks fail\n"
           L"Where devices end differently, the exit code is the highest of theirs.\n";
}

int RunConsoleProgram(Platform& platform, const std::vector<std::wstring>& args,
                      const std::wstring& programName) {
    ConsoleProgram program(platform, programName);
    return program.Run(args);
}
