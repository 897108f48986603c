#include "app/Trayhop32App.h"

#include "app/ProgramName.h"
#include "removal/RemovalLock.h"
#include "settings/SettingsStore.h"

#include <cwchar>

namespace {

// Both editions take the one mutex: one instance of either runs per machine.
constexpr const wchar_t* kMutexName = L"Global\\Quenwell Trayhop32";
constexpr const wchar_t* kDialogClass = L"#32770";
// The running instance may be either edition; this one's own window first.
constexpr const wchar_t* kWindowTitles[] = {kProgramName, kOtherEditionName};
constexpr UINT kWow64DirectoryChars = 261;

constexpr const wchar_t* kWindows64Message =
    L"The 32-bit version of Trayhop does not run on 64-bit versions of Windows. \n\n"
    L"Please upgrade to Trayhop64";
constexpr const wchar_t* kOtherSessionMessage =
    L"Trayhop is already running in another user's session on this computer.\n\n"
    L"Only one copy of Trayhop can run at a time, for all users. Close it in that "
    L"session, then start " TRAYHOP_PROGRAM_NAME L" again.";
// A second start looks for the first one's window this many times, this far
// apart: two starts at the same moment must not take each other for one in
// another session before the first has made its window.
constexpr int kWindowLookups = 10;
constexpr DWORD kWindowLookupPauseMilliseconds = 100;
constexpr const wchar_t* kRegistryMessage =
    L"You do not have sufficient registry privileges to run " TRAYHOP_PROGRAM_NAME L".  \n\n"
    L"You must have privileges to create values in the HKEY_CURRENT_USER section of the "
    L"registry.";

// A kernel32 function that not every supported Windows has; null when absent.
FARPROC KernelProcedure(Platform& platform, const char* name) {
    HMODULE kernel = platform.GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr ? platform.GetProcAddress(kernel, name) : nullptr;
}

}  // namespace

CTrayhop32App::CTrayhop32App(Platform& platform)
    : m_platform(platform), m_instanceMutex(platform) {}

bool CTrayhop32App::InitInstance(MainWindowRunner& runner) {
    RestrictLibrarySearch();
    m_platform.InitCommonControls();

    if (CreateInstanceMutex()) {
        for (int lookup = 0; lookup < kWindowLookups; ++lookup) {
            if (ActivateRunningInstance()) return false;
            // Without certainty that another instance runs (the mutex could
            // not be made for another reason), this one runs, mutex or not.
            if (!m_bInstanceMutexElsewhere) break;
            if (lookup + 1 < kWindowLookups) m_platform.Sleep(kWindowLookupPauseMilliseconds);
        }
        // The mutex is held, yet no window of it is in this session: the
        // instance runs in another user's session (fast user switching,
        // Remote Desktop), whose windows this one cannot see.
        if (m_bInstanceMutexElsewhere) {
            ProgramMessageBox(kOtherSessionMessage, MB_ICONINFORMATION);
            return false;
        }
    }

    // The mutex stays held on the two error exits, so a second start brings
    // the error box forward instead of showing another.
    if (kRefusesWindows64 && IsWindows64()) {
        ProgramMessageBox(kWindows64Message, MB_ICONERROR);
        return false;
    }
    if (!CanWriteUserKey()) {
        ProgramMessageBox(kRegistryMessage, MB_ICONERROR);
        return false;
    }

    runner.RunMainWindow(*this);
    m_instanceMutex.Reset();
    runner.DestroyMainWindow(*this);
    m_hMainWnd = nullptr;
    return false;
}

void CTrayhop32App::RestrictLibrarySearch() {
    // The program runs elevated: a library planted in the current folder and
    // loaded by its bare name would run with administrator rights. First,
    // before anything else loads.
    m_platform.SetDllDirectoryW(L"");
    // Windows 8 on (and 7 with its update) can leave the program's own
    // folder out too; older systems lack the function and keep the rest.
    FARPROC procedure = KernelProcedure(m_platform, "SetDefaultDllDirectories");
    if (procedure != nullptr)
        m_platform.SetDefaultDllDirectories(procedure, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool CTrayhop32App::CreateInstanceMutex() {
    // Every account on the machine may open it, so instances of other users
    // see it too.
    m_instanceMutex.Reset(CreateMutexForEveryone(m_platform, kMutexName));
    const DWORD error = m_platform.GetLastError();
    // Refused access means the name exists under rules this account may not
    // open: another instance holds it as surely as when it already exists.
    m_bInstanceMutexElsewhere = m_instanceMutex.Valid() ? error == ERROR_ALREADY_EXISTS
                                                        : error == ERROR_ACCESS_DENIED;
    if (m_instanceMutex.Valid() && error == ERROR_ALREADY_EXISTS) m_instanceMutex.Reset();
    return !m_instanceMutex.Valid();
}

bool CTrayhop32App::ActivateRunningInstance() {
    HWND window = nullptr;
    for (const wchar_t* title : kWindowTitles) {
        window = m_platform.FindWindowW(kDialogClass, title);
        if (window != nullptr) break;
    }
    if (window == nullptr) return false;
    if (m_platform.IsIconic(window)) m_platform.ShowWindow(window, SW_RESTORE);
    // The running instance may be showing a box or dialog: that one gets the focus.
    HWND popup = m_platform.GetLastActivePopup(window);
    m_platform.BringWindowToTop(window);
    m_platform.SetForegroundWindow(popup);
    return true;
}

bool CTrayhop32App::IsWindows64() {
    // Systems older than the 64-bit editions lack the function: 32-bit.
    FARPROC procedure = KernelProcedure(m_platform, "GetSystemWow64DirectoryW");
    if (procedure == nullptr) return false;
    wchar_t directory[kWow64DirectoryChars] = {};
    if (m_platform.GetSystemWow64DirectoryW(procedure, directory, kWow64DirectoryChars) != 0)
        return true;
    return m_platform.GetLastError() != ERROR_CALL_NOT_IMPLEMENTED;
}

bool CTrayhop32App::CanWriteUserKey() {
    if (!WriteSettingString(m_platform, HKEY_CURRENT_USER, L"User", L"Yes")) return false;
    WriteSettingString(m_platform, HKEY_CURRENT_USER, L"User", L"");
    return true;
}

int CTrayhop32App::ProgramMessageBox(const wchar_t* text, UINT flags) {
    return m_platform.MessageBoxW(m_hMainWnd, text, kProgramName, flags);
}

std::wstring CTrayhop32App::HelpFilePath() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD length = m_platform.GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0) return std::wstring();
    // A cut path may come back without its NUL.
    if (length > MAX_PATH) length = MAX_PATH;
    std::wstring file(path, wcsnlen(path, length));
    const std::size_t slash = file.find_last_of(L"\\/");
    const std::size_t dot = file.find_last_of(L'.');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) file.erase(dot);
    return file + L".CHM";
}
