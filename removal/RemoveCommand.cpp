// "&Remove Devices": the lock test over every ticked drive (where the user is
// asked what to do with a drive that is in use), then the flush and removal
// of the drives that came through it, and the report of what may be pulled.
#include "removal/RemoveCommand.h"

#include "app/FlagScope.h"
#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "inventory/DriveRecord.h"
#include "removal/RemovalFlow.h"
#include "removal/VirtualDisks.h"
#include "removal/RemovalLock.h"
#include "removal/VolumeHolders.h"
#include "removal/VolumeLocks.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr DWORD kStatusPauseMilliseconds = 2000;
// How often the window looks again whether a console program's removal is over.
constexpr DWORD kMachineLockPollMilliseconds = 250;

constexpr const wchar_t* kAccessDeniedMessage =
    L"'Access Denied Error' because of insufficient security privileges.     \n\n"
    L"Unable to remove device:\n\n%s\n\n"
    L"You do not have sufficient hardware uninstall security privileges to\n"
    L"be able to remove drive %c: from the system. Please contact your\n"
    L"site administrator and ask them to change your security privileges,\n"
    L"or logout of this account and logon back in using an account that\n"
    L"has administrator privileges.\n";

constexpr const wchar_t* kBootDeviceMessage =
    L"This device is the current boot device:\n\n%s\n\n"
    L"You can not remove it while the system is running.\n"
    L"To remove it, you must shutdown and power off your system.\n\n"
    L"Press the OK button to skip removing this device, or press\n"
    L"the Cancel button stop this action and not remove any devices.     ";

constexpr const wchar_t* kPageFileMessage =
    L"This device has an active system page file: \n\n%s\n\n"
    L"You can not remove it while the system is running.\n"
    L"To be able to remove this device, you must remove the\n"
    L"system page file from drive %c:\\ in your system's virtual\n"
    L"memory settings and reboot your system.\n\n"
    L"Press the OK button to skip removing this device, or press\n"
    L"the Cancel button stop this action and not remove any devices.     ";

constexpr const wchar_t* kFilesInUseMessage =
    L"Files are in use on drive %c: of device:\n\n%s\n\n"
    L"Make sure Explorer is not open to a folder on drive %c:,\n"
    L"close files in other applications that may be open on drive %c:,\n"
    L"then press the 'Try Again' button.  To ignore this error and\n"
    L"try to remove this device anyway, press the 'Continue' button,     \n"
    L"or press the 'Cancel' button to stop trying to remove devices.\n\n";

constexpr const wchar_t* kSharedVolumeMessage =
    L"The volume on drive %c: of device:\n\n%s\n\n"
    L"also lies on device:\n\n%o\n\n"
    L"which is not selected for removal. Removing\n"
    L"this device takes the whole volume away\n"
    L"from both of them.\n\n"
    L"Press the 'Yes' button to remove this device\n"
    L"anyway, the 'No' button to skip removing it,\n"
    L"or the 'Cancel' button to stop this action\n"
    L"and not remove any devices.     ";

// The other device of the shared volume was ticked but is being left in the
// system (its own question was answered with skip): the question says so.
constexpr std::wstring_view kNotSelected = L"not selected for removal";
constexpr std::wstring_view kLeftInSystem = L"being left in the system";

// Stands for the other device of a shared volume when it is not in the list.
constexpr const wchar_t* kUnlistedDisk = L"a disk that is not in the list";

constexpr const wchar_t* kRebootMessage =
    L"One of the devices you requested to remove has asked that you reboot your computer.  "
    L"This can be caused when a device fails to be removed.  If that is the case, then "
    L"rebooting may not be necessary.  For more information, look in the 'Frequently Asked "
    L"Technical Questions' section of the help.";

constexpr const wchar_t* kNothingRemovedMessage = L"Unable to removed any of the selected devices.";

// Fills each %s with the name, each "%c:" with the volume's mount point ("E:",
// or a folder "C:\\Backup\\", whose own backslash stands for one that follows)
// and each %o with the other device, in place; the names are data, so a "%"
// inside one stays as it is.
std::wstring FillMessage(const wchar_t* format, const wchar_t* name, const std::wstring& mountPoint,
                         const wchar_t* other = L"") {
    std::wstring text;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (p[0] == L'%' && p[1] == L's') {
            text += name;
            ++p;
        } else if (p[0] == L'%' && p[1] == L'c' && p[2] == L':') {
            text += mountPoint;
            p += 2;
            if (p[1] == L'\\' && !mountPoint.empty() && mountPoint.back() == L'\\') ++p;
        } else if (p[0] == L'%' && p[1] == L'o') {
            text += other;
            ++p;
        } else {
            text += *p;
        }
    }
    return text;
}

// The window's answers to the removal flow: its boxes and its status line.
class WindowRemovalHost : public RemovalHost {
public:
    WindowRemovalHost(CTrayhop32App& app, MainView& view) : app_(app), view_(view) {}

    void ShowStatus(const std::wstring& text) override { view_.SetStatusText(text.c_str()); }

    LockAnswer AskAboutLock(const DriveRecord& record, LockRefusal why, int volume) override {
        const std::wstring mountPoint = record.VolumeMountPoint(volume);
        int answer = IDOK;
        switch (why) {
            case LockRefusal::AccessDenied:
                app_.ProgramMessageBox(
                    FillMessage(kAccessDeniedMessage, record.deviceName, mountPoint).c_str(),
                    MB_OK | MB_ICONERROR);
                return LockAnswer::Stop;
            case LockRefusal::BootDevice:
                answer = app_.ProgramMessageBox(
                    FillMessage(kBootDeviceMessage, record.deviceName, mountPoint).c_str(),
                    MB_OKCANCEL | MB_ICONQUESTION);
                break;
            case LockRefusal::PageFile:
                answer = app_.ProgramMessageBox(
                    FillMessage(kPageFileMessage, record.deviceName, mountPoint).c_str(),
                    MB_OKCANCEL | MB_ICONQUESTION);
                break;
            case LockRefusal::FilesInUse: {
                // The programs that hold the drive, when they can be told, go
                // under the question; each Try Again looks again.
                std::wstring text = FillMessage(kFilesInUseMessage, record.deviceName, mountPoint);
                text += DescribeVolumeHolders(
                    FindVolumeHolders(app_.GetPlatform(), record.GetVolumeName(volume)), mountPoint);
                answer =
                    app_.ProgramMessageBox(text.c_str(), MB_CANCELTRYCONTINUE | MB_ICONQUESTION);
                break;
            }
        }
        if (answer == IDOK) return LockAnswer::Skip;
        if (answer == IDCANCEL) return LockAnswer::Stop;
        if (answer == IDTRYAGAIN) return LockAnswer::TryAgain;
        return LockAnswer::RemoveAnyway;
    }

    LockAnswer AskAboutSharedVolume(const DriveRecord& record, int volume,
                                    const DriveRecord* other, bool otherSkipped) override {
        std::wstring format = kSharedVolumeMessage;
        if (otherSkipped)
            format.replace(format.find(kNotSelected), kNotSelected.size(), kLeftInSystem);
        const std::wstring text =
            FillMessage(format.c_str(), record.deviceName, record.VolumeMountPoint(volume),
                        other != nullptr ? other->deviceName : kUnlistedDisk);
        // No, the safe answer, is the default button; a box that cannot be
        // shown skips the device too.
        const int answer =
            app_.ProgramMessageBox(text.c_str(), MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (answer == IDYES) return LockAnswer::RemoveAnyway;
        if (answer == IDCANCEL) return LockAnswer::Stop;
        return LockAnswer::Skip;
    }

    void PauseAfterProblem() override {
        Platform& platform = app_.GetPlatform();
        platform.MessageBeep(MB_ICONEXCLAMATION);
        platform.Sleep(kStatusPauseMilliseconds);
    }

    // The window keeps painting while the lock is tried again.
    bool WaitBeforeRetry(Platform&, DWORD milliseconds) override {
        return view_.PumpMessagesFor(milliseconds);
    }

private:
    CTrayhop32App& app_;
    MainView& view_;
};

}  // namespace

namespace {

// A list of device names with its heading and closing sentence, each in the
// singular and the plural.
struct NameListTexts {
    const wchar_t* heading[2];
    const wchar_t* closing[2];
};

constexpr NameListTexts kRemovedTexts = {
    {L"The following device was successfully removed:    \n\n",
     L"The following devices were successfully removed:    \n\n"},
    {L"\n\nIt is safe to power it down and remove it.",
     L"\n\nIt is safe to power them down and remove them."}};

constexpr NameListTexts kDetachedTexts = {
    {L"The following virtual disk was detached from its image file:\n\n",
     L"The following virtual disks were detached from their image files:\n\n"},
    {L"\nIt is not a device to unplug; its image file is no longer in use.",
     L"\nThey are not devices to unplug; their image files are no longer in use."}};

constexpr NameListTexts kNotDetachedTexts = {
    {L"The following virtual disk could not be detached:\n\n",
     L"The following virtual disks could not be detached:\n\n"},
    {L"\nIt is still attached. Eject it in Explorer or detach it in Disk Management.",
     L"\nThey are still attached. Eject them in Explorer or detach them in Disk Management."}};

constexpr NameListTexts kLeftInPlaceTexts = {
    {L"The following Storage Spaces virtual disk was left in place:\n\n",
     L"The following Storage Spaces virtual disks were left in place:\n\n"},
    {L"\nA storage space is not a device to unplug. Take it offline in Storage Spaces before "
     L"you remove the drives of its pool.",
     L"\nA storage space is not a device to unplug. Take them offline in Storage Spaces before "
     L"you remove the drives of their pools."}};

// The names, singular or plural. Names that would take the text past
// limitChars are counted in an "and N more" line instead.
std::wstring ComposeNameList(const NameListTexts& texts, const std::vector<std::wstring>& names,
                             size_t limitChars) {
    const size_t n = names.size();
    const size_t form = n == 1 ? 0 : 1;
    std::wstring text = texts.heading[form];
    const std::wstring closing = texts.closing[form];
    for (size_t i = 0; i < n; ++i) {
        std::wstring line = names[i] + L"\n";
        const size_t rest = n - i - 1;
        // Room is kept for a closing count line whenever more names follow.
        const size_t reserve = rest > 0 ? 40 : 0;
        if (text.size() + line.size() + reserve + closing.size() > limitChars) {
            text += L"and " + std::to_wstring(n - i) + L" more\n";
            break;
        }
        text += line;
    }
    text += closing;
    return text;
}

}  // namespace

std::wstring VirtualDiskName(const DeviceResult& device) {
    std::wstring name = device.deviceName;
    const size_t slash = device.image.find_last_of(L'\\');
    const std::wstring file = device.image.substr(slash == std::wstring::npos ? 0 : slash + 1);
    if (!file.empty()) name += L" (" + file + L")";
    return name;
}

std::wstring DetachFailureReason(DWORD error,
                                 const std::function<std::wstring(DWORD)>& errorText) {
    return VirtualDiskServiceMissing(error)
               ? std::wstring(L"this version of Windows has no virtual disk service")
               : errorText(error);
}

std::wstring SystemErrorText(Platform& platform, DWORD code) {
    WCHAR text[512] = {};
    DWORD length = platform.FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                           nullptr, code, 0, text, 512);
    if (length >= 512) length = 511;
    std::wstring line(text, length);
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r' || line.back() == L' '))
        line.pop_back();
    return line.empty() ? L"error " + std::to_wstring(code) : line;
}

std::wstring ComposeRemovalSummary(const std::vector<std::wstring>& removedNames,
                                   size_t limitChars) {
    return ComposeNameList(kRemovedTexts, removedNames, limitChars);
}

std::wstring ComposeRemovalReport(const RemovalReport& report,
                                  const std::function<std::wstring(DWORD)>& errorText,
                                  size_t limitChars) {
    // Two blank lines between the parts, one inside them. The virtual disks
    // take at most half the room; the removed devices the rest.
    const std::wstring gap = L"\n\n\n";
    std::wstring tail;
    auto add = [&](const NameListTexts& texts, const std::vector<std::wstring>& names) {
        if (names.empty()) return;
        if (!tail.empty()) tail += gap;
        const size_t room = limitChars / 2 > tail.size() ? limitChars / 2 - tail.size() : 0;
        tail += ComposeNameList(texts, names, room);
    };
    std::vector<std::wstring> detached, notDetached, leftInPlace;
    for (const DeviceResult* device : report.WithOutcome(DeviceOutcome::Detached))
        detached.push_back(VirtualDiskName(*device));
    for (const DeviceResult* device : report.WithOutcome(DeviceOutcome::NotDetached)) {
        notDetached.push_back(VirtualDiskName(*device) + L": " +
                              DetachFailureReason(device->detachError, errorText));
    }
    for (const DeviceResult* device : report.WithOutcome(DeviceOutcome::LeftInPlace))
        leftInPlace.push_back(device->deviceName);
    add(kDetachedTexts, detached);
    add(kNotDetachedTexts, notDetached);
    add(kLeftInPlaceTexts, leftInPlace);

    const std::vector<std::wstring> removed = report.RemovedNames();
    if (removed.empty()) return tail;
    const size_t used = tail.empty() ? 0 : tail.size() + gap.size();
    std::wstring text = ComposeNameList(kRemovedTexts, removed,
                                        limitChars > used ? limitChars - used : 0);
    if (!tail.empty()) text += gap + tail;
    return text;
}

bool CTrayhop32Dlg::TakeMachineLock(RemovalLock& lock) {
    bool waiting = false;
    for (;;) {
        // A console program's removal or scan ends first. Without the lock
        // (it could not be made) the window goes on, as it did before.
        if (lock.Acquire(0) != LockWait::TimedOut) return true;
        if (!waiting) {
            m_view.SetStatusText(L" Waiting for another removal or scan to end...");
            waiting = true;
        }
        if (!m_view.PumpMessagesFor(kMachineLockPollMilliseconds)) return false;
    }
}

void CTrayhop32Dlg::CatchUpWithDeviceChanges() {
    // A path that ends without a refresh of its own still owes the list the
    // devices that came or went while one of its questions was open.
    if (m_app.m_bRefreshPending) RefreshDriveList();
}

void CTrayhop32Dlg::OnRemoveDevices() {
    if (RefuseWhileBusy()) return;
    FlagScope command(m_bCommandInProgress);
    Platform& platform = m_app.GetPlatform();
    WaitCursor wait(&m_view);
    RemovalLock machineLock(platform);
    if (!TakeMachineLock(machineLock)) return;
    const int rows = m_view.GetItemCount();
    m_view.SetStatusText(L" Removing selected drives, please wait...");

    // Every ticked row is taken: the list has no fixed size, so nothing is
    // dropped however many drives are ticked.
    std::vector<const DriveRecord*> chosen;
    m_app.m_bRefreshAllowed = false;
    for (int row = 0; row < rows; ++row) {
        if (!m_view.IsItemChecked(row)) continue;
        if (const DriveRecord* record = m_view.GetItemData(row)) chosen.push_back(record);
    }

    WindowRemovalHost host(m_app, m_view);
    const RemovalReport report = RunRemoval(platform, host, chosen, m_app.m_driveTable);

    if (report.stopped) {
        // Nothing was locked or removed, so there is nothing to undo.
        m_app.m_bRefreshAllowed = true;
        CatchUpWithDeviceChanges();
        m_view.SetStatusText(L" Ready...");
        return;
    }
    if (report.Accepted() == 0) {
        m_view.SetStatusText(L" No drives selected. You must check the box to select the device.");
        platform.MessageBeep(MB_ICONEXCLAMATION);
        m_app.m_bRefreshAllowed = true;
        platform.Sleep(kStatusPauseMilliseconds);
        CatchUpWithDeviceChanges();
        m_view.SetStatusText(L" Ready...");
        return;
    }

    const bool rebootNeeded = report.RebootNeeded();
    if (rebootNeeded) m_app.ProgramMessageBox(kRebootMessage, MB_OK | MB_ICONINFORMATION);

    m_app.m_bRefreshAllowed = true;
    RefreshDriveList();
    m_view.SetStatusText(L" All selected devices have been processed");
    const std::wstring summary = ComposeRemovalReport(
        report, [&platform](DWORD code) { return SystemErrorText(platform, code); });
    if (!summary.empty()) {
        // A virtual disk still attached is a problem the user must act on.
        const UINT icon = report.WithOutcome(DeviceOutcome::NotDetached).empty()
                              ? MB_ICONINFORMATION
                              : MB_ICONEXCLAMATION;
        m_app.ProgramMessageBox(summary.c_str(), MB_OK | icon);
    } else if (!rebootNeeded) {
        m_app.ProgramMessageBox(kNothingRemovedMessage, MB_OK | MB_ICONINFORMATION);
    }
    RefreshDriveList();
    m_view.SetStatusText(L" Ready...");
}
