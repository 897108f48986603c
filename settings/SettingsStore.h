// The program's options key under a registry root: read one text value into
// a caller's buffer, or write or remove one. Nothing is cached; every call
// opens the key, does its one operation and closes it again.
#pragma once

#include "platform/Platform.h"

// The read's working buffers hold this many characters; a caller's capacity
// is meant to stay within it.
inline constexpr DWORD kSettingTextChars = 1024;

// "Software\Quenwell\Trayhop32\1.3", formatted the same way on every call.
void FormatSettingsKeyPath(wchar_t* path, DWORD pathChars);

// True when a text was delivered. A non-null buffer of `capacity` characters
// holds a NUL-terminated text afterwards, empty on failure. A text passes only
// when its bytes with the NUL are fewer than sizeof(WCHAR) * capacity.
bool ReadSettingString(Platform& platform, HKEY root, const wchar_t* valueName, wchar_t* buffer,
                       DWORD capacity);

// Stores a non-empty text as REG_SZ, or removes the value for a null or empty
// text; true when the store or removal succeeded.
bool WriteSettingString(Platform& platform, HKEY root, const wchar_t* valueName,
                        const wchar_t* valueText);
