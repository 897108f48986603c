// The inventory build: devices first, then the volumes, then
// the boot and page-file marks.
#include "app/FlagScope.h"
#include "app/Trayhop32App.h"
#include "app/UserInterface.h"
#include "inventory/BootDrives.h"
#include "inventory/Enumerate.h"
#include "inventory/VolumeWalk.h"
#include "settings/SettingsStore.h"

#include <optional>

namespace {

constexpr DWORD kKindOptionChars = 3;

// A kind of drive is ignored unless its option reads as something other than "1".
bool IsKindIgnored(Platform& platform, const WCHAR* option) {
    WCHAR value[kKindOptionChars] = {};
    if (!ReadSettingString(platform, HKEY_CURRENT_USER, option, value, kKindOptionChars))
        return true;
    return value[0] == L'1';
}

}  // namespace

int CTrayhop32App::RebuildDriveTable() {
    if (!m_bRefreshAllowed) return 0;
    // A refresh asked for from inside one of this build's message boxes must
    // not clear the records the outer build is still filling: it is noted,
    // and whoever started the outer build runs it once that build is done.
    if (m_bBuildInProgress) {
        m_bRefreshPending = true;
        return 0;
    }
    FlagScope inProgress(m_bBuildInProgress);
    // This build sees the machine as it is now, which answers earlier requests.
    m_bRefreshPending = false;
    WaitCursor waitCursor(m_pUserInterface);
    Platform& platform = GetPlatform();

    m_driveTable.Clear();

    const bool ignoreCdrom = !m_bShowAllDrives && IsKindIgnored(platform, L"IgnoreCDROM");
    const bool ignoreTape = !m_bShowAllDrives && IsKindIgnored(platform, L"IgnoreTape");
    const WCHAR* classNames[3] = {L"DiskDrive", nullptr, nullptr};
    int classCount = 1;
    if (!ignoreCdrom) classNames[classCount++] = L"CDROM";
    if (!ignoreTape) classNames[classCount++] = L"TapeDrive";
    EnumerateStorageClasses(platform, m_driveTable, classNames, classCount, !m_bShowAllDrives);
    AttachVolumes(platform, m_driveTable, ignoreCdrom);

    const std::optional<WCHAR> systemDrive = GetSystemDriveLetter(platform);
    if (systemDrive) {
        if (DriveRecord* record = m_driveTable.FindByLetter(*systemDrive))
            record->isBootDrive = true;
    }

    WCHAR pageFileLetters[kMaxPageFileLetters] = {};
    GetPageFileLetters(platform, pageFileLetters);
    for (int i = 0; i < kMaxPageFileLetters && pageFileLetters[i] != L'\0'; ++i) {
        // From Vista on, a page file that Windows manages is listed as
        // "?:\pagefile.sys": it lives on the system drive.
        WCHAR letter = pageFileLetters[i];
        if (letter == L'?') {
            if (!systemDrive) continue;
            letter = *systemDrive;
        }
        if (DriveRecord* record = m_driveTable.FindByLetter(letter)) record->hasPageFile = true;
    }
    return 0;
}
