// What the window's list shows for a drive record: which records get a row
// under the user's options, and the six cells of that row. The window fills
// its list from here, and the console program's list prints the same rows.
#pragma once

#include "inventory/DriveRecord.h"
#include "platform/Platform.h"

#include <array>
#include <optional>
#include <string>

inline constexpr int kListColumns = 6;

struct ListOptions {
    bool hideBoot = false;  // "HideBootDrive"
    bool hidePage = false;  // "HidePageDrives"
};

// The options as the window reads them at every fill.
ListOptions ReadListOptions(Platform& platform);

// "Device Name", "Type", "Mount Points", "I/O Bus", "Capacity", "Media Type".
using ListRowTexts = std::array<std::wstring, kListColumns>;

// The record's row, or nothing when the options hide it. The boot mark wins
// over the page-file mark, in the name and in which option hides the row.
std::optional<ListRowTexts> ListRowFor(const DriveRecord& record, const ListOptions& options);
