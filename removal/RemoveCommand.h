// The report of the Remove Devices command (CTrayhop32Dlg::OnRemoveDevices
// is defined in RemoveCommand.cpp).
#pragma once

#include "removal/RemovalFlow.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>


// Characters a removal summary may take; a message box taller than the
// screen would hide its own OK button.
inline constexpr std::size_t kRemovalSummaryChars = 2000;

// The box that lists the removed devices, singular or plural. Names that
// would take the text past limitChars are counted in an "and N more" line
// instead of being dropped without a word.
std::wstring ComposeRemovalSummary(const std::vector<std::wstring>& removedNames,
                                   std::size_t limitChars = kRemovalSummaryChars);

// A virtual disk by its device name and, once found, its image file's name:
// "Msft Virtual Disk (build.vhdx)".
std::wstring VirtualDiskName(const DeviceResult& device);

// Why a virtual disk was not detached: that Windows has no virtual disk
// service, or the text `errorText` gives for the error.
std::wstring DetachFailureReason(DWORD error, const std::function<std::wstring(DWORD)>& errorText);

// The system's text for an error code, on one line; its number when the
// system has none.
std::wstring SystemErrorText(Platform& platform, DWORD code);

// The box at the end of the command: the summary above for the removed
// devices, word for word, then the virtual disks apart from them (detached,
// not detached with the reason `errorText` gives for its error, left in
// place), none of them called safe to pull. Empty when there is nothing to
// report.
std::wstring ComposeRemovalReport(const RemovalReport& report,
                                  const std::function<std::wstring(DWORD)>& errorText,
                                  std::size_t limitChars = kRemovalSummaryChars);
