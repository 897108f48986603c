// The wording of the list's "Capacity" and "Type" cells. Both write into a
// caller's buffer of kCellTextChars characters and return it.
#pragma once

#include "platform/Win32Types.h"

inline constexpr int kCellTextChars = 150;

// "232.88 GB": the number is cut, not rounded, to two decimals; 0 is "No Media".
const wchar_t* FormatCapacity(LONGLONG capacity, wchar_t* buffer);

// "Fixed Disk", "DVD-R", "Tape", ... from the device type and media type codes.
const wchar_t* FormatMediaType(LONG mediaDeviceType, LONG mediaType, wchar_t* buffer);
