// The inventory build: devices first, then the drive letters' volumes, then
// the boot and page-file marks.
#include "app/FlagScope.h"
#include "app/Trayhop32App.h"
#include "app/UserInterface.h"
#include "inventory/BootDrives.h"
#include "inventory/Enumerate.h"
#include "inventory/Probe.h"
#include "platform/Text.h"
#include "settings/SettingsStore.h"

#include <optional>
#include <vector>

namespace {

constexpr DWORD kKindOptionChars = 3;
constexpr DWORD kMountPointVolumeChars = 200;

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

    const DWORD needed = platform.GetLogicalDriveStringsW(0, nullptr);
    // Zeroed with a spare character: the list always ends in two NULs inside
    // the buffer, even if the drives changed between the two calls.
    std::vector<WCHAR> roots(static_cast<std::size_t>(needed) + 2, L'\0');
    const DWORD written = platform.GetLogicalDriveStringsW(needed + 1, roots.data());
    if (written == 0 || written > needed + 1) roots.assign(roots.size(), L'\0');
    roots.back() = L'\0';
    roots[roots.size() - 2] = L'\0';

    const WCHAR* root = roots.data();
    // A: and B: are floppy letters; asking a floppy drive about its volume
    // spins it up, so they are never probed.
    if (root[0] == L'A') root += TextLength(root) + 1;
    if (root[0] == L'B') root += TextLength(root) + 1;

    for (; root[0] != L'\0'; root += TextLength(root) + 1) {
        const UINT type = platform.GetDriveTypeW(root);
        if (type != DRIVE_REMOVABLE && type != DRIVE_FIXED &&
            !(type == DRIVE_CDROM && !ignoreCdrom))
            continue;
        WCHAR volumeName[kMountPointVolumeChars] = {};
        if (!platform.GetVolumeNameForVolumeMountPointW(root, volumeName, kMountPointVolumeChars))
            continue;
        volumeName[kMountPointVolumeChars - 1] = L'\0';
        const std::size_t length = TextLength(volumeName);
        if (length > 0 && volumeName[length - 1] == L'\\') volumeName[length - 1] = L'\0';
        ProbeVolume(platform, m_driveTable, root, volumeName);
    }

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
