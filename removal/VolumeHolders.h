// Which programs hold a volume: the processes that have files or folders
// open on it (found through the system handle table) and those that run a
// program or DLL from it (their module lists), services and system programs
// included, for the files-in-use question of Remove Devices and for anything
// else that tells the user who holds a drive.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

struct VolumeHolder {
    std::wstring imageName;  // as the process snapshot gives it, e.g. L"notepad.exe"
    DWORD processId = 0;
    std::vector<std::wstring> services;  // the services it hosts, by name
    // The first file, folder or module it was seen holding on the volume
    // ("G:\\Report.doc"); empty when the system cannot tell without a call
    // that may block (XP).
    std::wstring held;
};

struct VolumeHolders {
    std::vector<VolumeHolder> programs;  // ordered by name and id
    // Programs that were not looked into: System, lsass.exe (never opened),
    // and any that refused access even with the debug privilege.
    size_t notExamined = 0;
    // At least one program refused access.
    bool refused = false;
    // The search stopped before it had looked at everything: out of time,
    // too many stalled handles, or a part of it could not be done.
    bool incomplete = false;
};

// The search's own work is cut off after this long, and the handles whose
// questions stall get a budget of their own on top; together they keep the
// window waiting no more than about half a second, and each stall leaves at
// most one blocked thread behind.
inline constexpr DWORD kHolderSearchMilliseconds = 250;
inline constexpr DWORD kHolderStallMilliseconds = 160;

// At most this many holders are named; the rest are counted.
inline constexpr size_t kHoldersNamed = 10;
// What a holder holds is shortened to this many characters.
inline constexpr size_t kHeldPathChars = 60;

// The programs other than this one that hold the volume `volumeName` (its
// GUID path without the trailing backslash, as the drive record keeps it),
// with what was found before the budgets ran out. A process that ends during
// the search is passed over. SeDebugPrivilege is enabled for the search and
// dropped again before it returns; lsass.exe is never opened. Nothing stays
// open.
VolumeHolders FindVolumeHolders(Platform& platform, const wchar_t* volumeName,
                                DWORD budgetMilliseconds = kHolderSearchMilliseconds,
                                DWORD stallMilliseconds = kHolderStallMilliseconds);

// The lines that tell who holds a drive, one a line without line breaks:
// "SearchIndexer.exe (3120, service WSearch): G:\\Index", at most
// kHoldersNamed and then "and N more", then "N other programs could not be
// examined." when a program refused access, then "The list may be
// incomplete." when the search stopped early. Empty when there is nothing to
// name and nothing was refused. A console program prints these.
std::vector<std::wstring> VolumeHolderLines(const VolumeHolders& found);

// The text under the files-in-use question: a heading naming the volume by
// its mount point ("E:" or "C:\\Backup\\") and the lines above (the heading
// only when a program is named). Empty when there are no lines, so the
// question stays as it is.
std::wstring DescribeVolumeHolders(const VolumeHolders& found, const std::wstring& mountPoint);

// `path` cut to at most `limit` characters: its root, "...", and as many of
// its last components as fit (the end of the last one when it alone is too
// long).
std::wstring ShortenHeldPath(const std::wstring& path, size_t limit = kHeldPathChars);
