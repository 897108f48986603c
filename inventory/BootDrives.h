// The drive letters of the volumes a running system cannot lose: the one that
// holds the operating system, and those that hold a page file.
#pragma once

#include "platform/Platform.h"

#include <optional>

inline constexpr int kMaxPageFileLetters = 30;

// The first character of the "SystemDrive" environment variable (C for C:),
// unchanged in case; nothing when the variable is absent.
std::optional<WCHAR> GetSystemDriveLetter(Platform& platform);

// Fills `letters` (cleared first) with the first character of each page-file
// entry of the Memory Management key, upper-cased when a to z, in registry
// order, at most 30, NUL-filled after the last. False, with the list empty,
// when the key or value is missing, empty or neither REG_SZ nor REG_MULTI_SZ.
bool GetPageFileLetters(Platform& platform, WCHAR (&letters)[kMaxPageFileLetters]);
