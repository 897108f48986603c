// What the window's list shows for a drive record: which records get a row
// under the user's options, and the six cells of that row. The window fills
// its list from here, and the console program's list prints the same rows.
#pragma once

#include "inventory/DriveRecord.h"
#include "platform/Platform.h"

#include <array>
#include <optional>
#include <string>

// The list's columns: their headers and their widths in pixels at 96 DPI.
inline constexpr int kListColumnCount = 6;
struct ListColumn {
    const wchar_t* header;
    int width;
};
inline constexpr ListColumn kListColumns[kListColumnCount] = {
    {L"Device Name", 210}, {L"Type", 95},     {L"Mount Points", 80},
    {L"I/O Bus", 55},      {L"Capacity", 70}, {L"Media Type", 75},
};

struct ListOptions {
    bool hideBoot = false;  // "HideBootDrive"
    bool hidePage = false;  // "HidePageDrives"
};

// The options as the window reads them at every fill.
ListOptions ReadListOptions(Platform& platform);

// The cells of a row, one per column.
using ListRowTexts = std::array<std::wstring, kListColumnCount>;

// The record's row, or nothing when the options hide it. The boot mark wins
// over the page-file mark, in the name and in which option hides the row.
std::optional<ListRowTexts> ListRowFor(const DriveRecord& record, const ListOptions& options);
