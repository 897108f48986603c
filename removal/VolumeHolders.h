// Which programs hold a volume: the processes that have files or folders
// open on it, found through the system handle table, for the files-in-use
// question of Remove Devices.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

struct VolumeHolder {
    std::wstring imageName;  // as the process snapshot gives it, e.g. L"notepad.exe"
    DWORD processId = 0;
};

// The whole search, on a real machine well under a second even with
// thousands of open files, is cut off after this long; what it found by then
// is dropped.
inline constexpr DWORD kHolderSearchMilliseconds = 250;

// At most this many holders are named; the rest are counted.
inline constexpr size_t kHoldersNamed = 10;

// The programs other than this one with files or folders open on the volume
// mounted at `letter` (upper case), ordered by name and id. Empty when none
// is seen, and also whenever the answer cannot be had in full confidence: a
// missing call, a handle table that cannot be read or keeps changing, or the
// time is up. A process that refuses access or ends during the search is
// passed over. Nothing stays open, and no wait outlasts the budget (tests
// on a loaded machine may give more).
std::vector<VolumeHolder> FindVolumeHolders(Platform& platform, WCHAR letter,
                                            DWORD budgetMilliseconds = kHolderSearchMilliseconds);
// The same for a volume named by its GUID path without the trailing backslash
// ("\\\\?\\Volume{...}"), which also reaches a volume without a letter.
std::vector<VolumeHolder> FindVolumeHolders(Platform& platform, const WCHAR* volumeName,
                                            DWORD budgetMilliseconds = kHolderSearchMilliseconds);

// The lines shown under the files-in-use question: a heading naming the
// drive, then "notepad.exe (1234)" one a line, at most kHoldersNamed and then
// "and N more". Empty when there is no holder, so the question stays as it is.
std::wstring DescribeVolumeHolders(const std::vector<VolumeHolder>& holders, WCHAR letter);
// The same naming the volume by its mount point, "E:" or "C:\\Backup\\".
std::wstring DescribeVolumeHolders(const std::vector<VolumeHolder>& holders,
                                   const std::wstring& mountPoint);
