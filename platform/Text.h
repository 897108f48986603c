// Text operations on UTF-16 wchar_t strings, written out portably so the host
// build and the Windows build compare text the same way. They stand in for
// lstrlenW, lstrcmpiW, StrCmpNIW and StrChrW; case is folded one character at
// a time with towupper/towlower, which is what those functions do for the
// identifiers this program compares.
#pragma once

#include "platform/Win32Types.h"

#include <cstddef>
#include <cwctype>

// Number of characters before the terminating NUL (lstrlenW); 0 for null.
inline std::size_t TextLength(const WCHAR* text) {
    if (text == nullptr) return 0;
    std::size_t n = 0;
    while (text[n] != L'\0') ++n;
    return n;
}

// A drive letter upper-cased; any other character as it is.
inline WCHAR UpperLetter(WCHAR c) {
    return c >= L'a' && c <= L'z' ? static_cast<WCHAR>(c - (L'a' - L'A')) : c;
}

// One character folded for a comparison that ignores case.
inline WCHAR FoldCase(WCHAR c) {
    return static_cast<WCHAR>(std::towlower(std::towupper(static_cast<std::wint_t>(c))));
}

// Compares at most count characters ignoring case (StrCmpNIW): <0, 0 or >0.
// A null text compares as the empty text.
inline int CompareTextNoCaseN(const WCHAR* a, const WCHAR* b, std::size_t count) {
    if (a == nullptr) a = L"";
    if (b == nullptr) b = L"";
    for (std::size_t i = 0; i < count; ++i) {
        const WCHAR ca = FoldCase(a[i]);
        const WCHAR cb = FoldCase(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == L'\0') return 0;
    }
    return 0;
}

// Compares whole texts ignoring case (lstrcmpiW): <0, 0 or >0.
inline int CompareTextNoCase(const WCHAR* a, const WCHAR* b) {
    return CompareTextNoCaseN(a, b, static_cast<std::size_t>(-1));
}

// First occurrence of c in text, case-sensitive (StrChrW); null when absent
// or when c is NUL.
inline const WCHAR* FindTextChar(const WCHAR* text, WCHAR c) {
    if (text == nullptr || c == L'\0') return nullptr;
    for (; *text != L'\0'; ++text)
        if (*text == c) return text;
    return nullptr;
}
