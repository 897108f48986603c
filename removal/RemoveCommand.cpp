// "&Remove Devices": the lock test over every ticked drive (where the user is
// asked what to do with a drive that is in use), then the flush and removal
// of the drives that came through it, and the report of what may be pulled.
#include "removal/RemoveCommand.h"

#include "app/FlagScope.h"
#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "inventory/DriveRecord.h"
#include "removal/DeviceRemoval.h"
#include "removal/VolumeHolders.h"
#include "removal/VolumeLocks.h"

#include <string>
#include <vector>

namespace {

constexpr DWORD kStatusPauseMilliseconds = 2000;

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

constexpr const wchar_t* kRebootMessage =
    L"One of the devices you requested to remove has asked that you reboot your computer.  "
    L"This can be caused when a device fails to be removed.  If that is the case, then "
    L"rebooting may not be necessary.  For more information, look in the 'Frequently Asked "
    L"Technical Questions' section of the help.";

constexpr const wchar_t* kNothingRemovedMessage =
    L"Unable to removed any of the selected devices.";

// Fills each %s with the name and each %c with the letter, in place; the
// name is data, so a "%" inside it stays as it is.
std::wstring FillMessage(const wchar_t* format, const wchar_t* name, wchar_t letter) {
    std::wstring text;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (p[0] == L'%' && p[1] == L's') {
            text += name;
            ++p;
        } else if (p[0] == L'%' && p[1] == L'c') {
            text += letter;
            ++p;
        } else {
            text += *p;
        }
    }
    return text;
}

bool IsLowerCaseLetter(WCHAR code) { return code >= L'a' && code <= L'z'; }

wchar_t UpperCaseLetter(WCHAR code) {
    return IsLowerCaseLetter(code) ? static_cast<wchar_t>(code - (L'a' - L'A'))
                                   : static_cast<wchar_t>(code);
}

// What the user chose for a device that failed its lock test.
enum class LockDecision { Remove, Skip, TryAgain, Stop };

}  // namespace

std::wstring RemovalPatternFor(const wchar_t* deviceInstanceId) {
    const std::wstring id = deviceInstanceId != nullptr ? deviceInstanceId : L"";
    // A "*" would turn the identifier into a wildcard over every device, and
    // a leading quote would be read as the literal marker and dropped, naming
    // another device.
    if (id.find(L'*') != std::wstring::npos || id.rfind(L'\'', 0) == 0) return L"@'" + id;
    return L"@" + id;
}

std::wstring ComposeRemovalSummary(const std::vector<std::wstring>& removedNames,
                                   size_t limitChars) {
    const size_t n = removedNames.size();
    std::wstring text = n == 1 ? L"The following device was successfully removed:    \n\n"
                               : L"The following devices were successfully removed:    \n\n";
    const std::wstring closing = n == 1 ? L"\n\nIt is safe to power it down and remove it."
                                        : L"\n\nIt is safe to power them down and remove them.";
    for (size_t i = 0; i < n; ++i) {
        std::wstring line = removedNames[i] + L"\n";
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

void CTrayhop32Dlg::CatchUpWithDeviceChanges() {
    // A path that ends without a refresh of its own still owes the list the
    // devices that came or went while one of its questions was open.
    if (m_app.m_bRefreshPending) RefreshDriveList();
}

void CTrayhop32Dlg::OnRemoveDevices() {
    if (RefuseWhileBusy()) return;
    FlagScope command(m_bCommandInProgress);
    Platform& platform = m_app.GetPlatform();
    const int rows = m_view.GetItemCount();
    WaitCursor wait(&m_view);
    m_view.SetStatusText(L" Removing selected drives, please wait...");

    // Every ticked row is taken: neither list has a fixed size, so nothing
    // is dropped however many drives are ticked.
    std::vector<const DriveRecord*> removalList;
    m_app.m_bRefreshAllowed = false;

    for (int row = 0; row < rows; ++row) {
        if (!m_view.IsItemChecked(row)) continue;
        const DriveRecord* record = m_view.GetItemData(row);
        if (record == nullptr) continue;

        LockDecision decision = LockDecision::TryAgain;
        while (decision == LockDecision::TryAgain) {
            m_view.SetStatusText(
                (std::wstring(L" Trying to get an exclusive lock on device ") + record->deviceName)
                    .c_str());
            const WCHAR code = TestVolumeLocks(platform, *record);
            if (code == 0) {
                decision = LockDecision::Remove;
                break;
            }
            m_view.SetStatusText(
                (std::wstring(L" Unable to get an exclusive lock for device ") + record->deviceName)
                    .c_str());
            const wchar_t letter = UpperCaseLetter(code);
            if (IsLowerCaseLetter(code)) {
                m_app.ProgramMessageBox(
                    FillMessage(kAccessDeniedMessage, record->deviceName, letter).c_str(),
                    MB_OK | MB_ICONERROR);
                decision = LockDecision::Stop;
                break;
            }
            int answer;
            if (record->isBootDrive) {
                answer = m_app.ProgramMessageBox(
                    FillMessage(kBootDeviceMessage, record->deviceName, letter).c_str(),
                    MB_OKCANCEL | MB_ICONQUESTION);
            } else if (record->hasPageFile) {
                answer = m_app.ProgramMessageBox(
                    FillMessage(kPageFileMessage, record->deviceName, letter).c_str(),
                    MB_OKCANCEL | MB_ICONQUESTION);
            } else {
                // The programs that hold the drive, when they can be told, go
                // under the question; each Try Again looks again.
                std::wstring text = FillMessage(kFilesInUseMessage, record->deviceName, letter);
                text += DescribeVolumeHolders(FindVolumeHolders(platform, letter), letter);
                answer =
                    m_app.ProgramMessageBox(text.c_str(), MB_CANCELTRYCONTINUE | MB_ICONQUESTION);
            }
            if (answer == IDOK) decision = LockDecision::Skip;
            else if (answer == IDCANCEL) decision = LockDecision::Stop;
            else if (answer == IDTRYAGAIN) decision = LockDecision::TryAgain;
            else decision = LockDecision::Remove;
        }

        if (decision == LockDecision::Stop) {
            // Nothing was locked or removed yet, so there is nothing to undo.
            m_app.m_bRefreshAllowed = true;
            CatchUpWithDeviceChanges();
            m_view.SetStatusText(L" Ready...");
            return;
        }
        if (decision == LockDecision::Remove) removalList.push_back(record);
    }

    if (removalList.empty()) {
        m_view.SetStatusText(L" No drives selected. You must check the box to select the device.");
        platform.MessageBeep(MB_ICONEXCLAMATION);
        m_app.m_bRefreshAllowed = true;
        platform.Sleep(kStatusPauseMilliseconds);
        CatchUpWithDeviceChanges();
        m_view.SetStatusText(L" Ready...");
        return;
    }

    // Names are copied: the summary is shown after a refresh has replaced the records.
    std::vector<std::wstring> removedNames;
    bool rebootNeeded = false;
    for (const DriveRecord* record : removalList) {
        FlushVolumes(platform, *record);
        const std::wstring pattern = RemovalPatternFor(record->deviceInstanceId);
        m_view.SetStatusText((std::wstring(L" Attempting to remove ") + record->deviceName +
                              L", please wait...")
                                 .c_str());
        const RemoveResult result = RemoveDevice(platform, pattern.c_str());
        if (result == RemoveOk) {
            removedNames.emplace_back(record->deviceName);
            const LONG letters = record->letterCount < kMaxDriveLetters ? record->letterCount
                                                                        : kMaxDriveLetters;
            for (LONG i = 0; i < letters && record->driveLetters[i] != L'\0'; ++i) {
                const wchar_t root[4] = {record->driveLetters[i], L':', L'\\', L'\0'};
                platform.SHChangeNotify(SHCNE_DRIVEREMOVED, SHCNF_PATHW, root, nullptr);
            }
        } else if (result == RemoveRebootNeeded) {
            m_view.SetStatusText(
                (std::wstring(L" Reboot return while removing device ") + record->deviceName)
                    .c_str());
            platform.MessageBeep(MB_ICONEXCLAMATION);
            platform.Sleep(kStatusPauseMilliseconds);
            rebootNeeded = true;
        } else {
            // Nothing matched, the installer declined, or the removal could
            // not run: the drive is still in the system and must not be
            // reported as safe to pull, nor its letters announced as gone.
            m_view.SetStatusText(
                (std::wstring(L" Unable to remove device ") + record->deviceName).c_str());
            platform.MessageBeep(MB_ICONEXCLAMATION);
            platform.Sleep(kStatusPauseMilliseconds);
        }
    }
    if (rebootNeeded) m_app.ProgramMessageBox(kRebootMessage, MB_OK | MB_ICONINFORMATION);

    m_app.m_bRefreshAllowed = true;
    RefreshDriveList();
    m_view.SetStatusText(L" All selected devices have been processed");
    if (!removedNames.empty()) {
        m_app.ProgramMessageBox(ComposeRemovalSummary(removedNames).c_str(),
                                MB_OK | MB_ICONINFORMATION);
    } else if (!rebootNeeded) {
        m_app.ProgramMessageBox(kNothingRemovedMessage, MB_OK | MB_ICONINFORMATION);
    }
    RefreshDriveList();
    m_view.SetStatusText(L" Ready...");
}
