// A stand-in for the HTML Help library, built as hhctrl.ocx for the E2E
// tests. Loaded, it leaves "<its own path>.loaded"; each HtmlHelpW call adds
// the line "HtmlHelpW <command> <data>" to "<its own path>.calls". Planted
// beside the exe or in the current folder, a mark proves the program loaded
// a library it must not; put in the system folder, the calls count how often
// Help opened and at which context.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

HMODULE g_self = nullptr;

void Append(const wchar_t* suffix, const char* line) {
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD length = ::GetModuleFileNameW(g_self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    std::wcscat(path, suffix);
    HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        ::DisableThreadLibraryCalls(instance);
        Append(L".loaded", "loaded\n");
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HWND WINAPI
    HtmlHelpW(HWND caller, LPCWSTR, UINT command, DWORD_PTR data) {
    char line[64];
    std::snprintf(line, sizeof(line), "HtmlHelpW %u %lu\n", command,
                  static_cast<unsigned long>(data));
    Append(L".calls", line);
    // Any window will do: the program only tells a viewer from none.
    return caller != nullptr ? caller : ::GetDesktopWindow();
}
