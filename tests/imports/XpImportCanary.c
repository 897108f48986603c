/* Imports one function of each kind Windows XP SP3 lacks, so the import
   check can show it catches them: a kernel32 function of Vista, a
   secure-CRT function and a later msvcrt.dll function. Never run. */
#include <stddef.h>

__declspec(dllimport) unsigned long long __stdcall GetTickCount64(void);
__declspec(dllimport) int __cdecl wcscpy_s(wchar_t *, size_t, const wchar_t *);
__declspec(dllimport) size_t __cdecl wcsnlen(const wchar_t *, size_t);

int main(void) {
    wchar_t text[4];
    wcscpy_s(text, 4, L"xp");
    return (int)(GetTickCount64() + wcsnlen(text, 4));
}
