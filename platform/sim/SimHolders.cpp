// What the search for a volume's holders asks beyond the handle table: the
// program's token and its debug privilege, the service manager's list of
// running services, module snapshots of other processes, a volume's mount
// paths and the final path of a handle; and the questions that never return.
#include "platform/sim/SimInternal.h"

#include <algorithm>

using sim::Quote;
using State = SimMachine::State;

namespace {

constexpr LUID kDebugPrivilege = {20, 0};  // SE_DEBUG_PRIVILEGE's value on every release

LONG_PTR WINAPI FinalPathStub() {
    return 2;
}

std::string HandleText(const void* h) {
    return sim::Hex(reinterpret_cast<std::uintptr_t>(h));
}

// The paths a process has mapped: its image (from the volume when one of its
// mapped files is that image), the system's ntdll and its other mapped files.
std::vector<std::wstring> ModulesOf(const SimProcess& p) {
    std::vector<std::wstring> modules;
    std::wstring image = L"C:\\Windows\\System32\\" + p.imageName;
    for (const auto& f : p.files) {
        const std::wstring path = std::wstring{f.letter, L':'} + f.path;
        const size_t slash = path.rfind(L'\\');
        if (f.mapped && sim::EqualNoCase(path.substr(slash + 1), p.imageName)) image = path;
    }
    modules.push_back(image);
    modules.push_back(L"C:\\Windows\\System32\\ntdll.dll");
    for (const auto& f : p.files) {
        const std::wstring path = std::wstring{f.letter, L':'} + f.path;
        if (f.mapped && path != image) modules.push_back(path);
    }
    return modules;
}

}  // namespace

FARPROC sim::FinalPathProcedure() {
    return reinterpret_cast<FARPROC>(&FinalPathStub);
}

bool State::QuestionStalls(SimMachine& m, const OpenHandle& h) {
    if (h.kind != Kind::File) return false;
    const SimProcess* p = m.FindProcess(h.processId);
    if (p == nullptr || h.file >= p->files.size() || !p->files[h.file].stalls) return false;
    if (m.state_->threadsRunning > 0) throw ThreadStuck{};
    ProgramError(m, "a question that may never return asked on the program's own thread");
    return true;
}

bool State::ProcessRefuses(const SimMachine& m, const SimProcess& p) {
    return p.accessDenied || p.protectedProcess ||
           (p.needsDebugPrivilege && !m.debugPrivilegeEnabled);
}

// ---- The token ------------------------------------------------------------------

BOOL SimMachine::OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (auto e = State::Enter(*this, "OpenProcessToken", [&] {
            return HandleText(ProcessHandle) + " " + sim::Hex(DesiredAccess);
        })) {
        SetLastError(*e);
        return FALSE;
    }
    if (ProcessHandle != reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)) ||
        TokenHandle == nullptr) {
        State::ProgramError(*this, "OpenProcessToken other than this process's own");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    State::OpenHandle handle;
    handle.kind = State::Kind::Token;
    handle.access = DesiredAccess;
    handle.what = L"token";
    handle.openedByCall = callCount_;
    const auto value = state_->NewHandleValue();
    state_->handles[value] = handle;
    *TokenHandle = reinterpret_cast<HANDLE>(value);
    return TRUE;
}

BOOL SimMachine::LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid) {
    if (auto e = State::Enter(*this, "LookupPrivilegeValueW", [&] { return Quote(lpName); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (lpSystemName != nullptr || lpLuid == nullptr || lpName == nullptr ||
        !sim::EqualNoCase(lpName, L"SeDebugPrivilege")) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    *lpLuid = kDebugPrivilege;
    return TRUE;
}

BOOL SimMachine::AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                       PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                       PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
    if (auto e = State::Enter(*this, "AdjustTokenPrivileges", [&] {
            return HandleText(TokenHandle) + (NewState && NewState->PrivilegeCount > 0 &&
                                                      NewState->Privileges[0].Attributes != 0
                                                  ? " enable"
                                                  : " disable");
        })) {
        SetLastError(*e);
        return FALSE;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(TokenHandle));
    if (it == state_->handles.end() || it->second.kind != State::Kind::Token) {
        State::ProgramError(*this, "AdjustTokenPrivileges on something not a token");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((it->second.access & TOKEN_ADJUST_PRIVILEGES) == 0 ||
        (PreviousState != nullptr && (it->second.access & TOKEN_QUERY) == 0)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (DisableAllPrivileges || NewState == nullptr) {
        State::ProgramError(*this, "AdjustTokenPrivileges without a privilege to set");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool wanted = debugPrivilegeEnabled;
    bool named = false;
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& p = NewState->Privileges[i];
        if (p.Luid.LowPart != kDebugPrivilege.LowPart ||
            p.Luid.HighPart != kDebugPrivilege.HighPart)
            continue;
        named = true;
        wanted = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    const bool changes = named && debugPrivilegeHeld && wanted != debugPrivilegeEnabled;
    if (PreviousState != nullptr) {
        const DWORD needed = sizeof(TOKEN_PRIVILEGES);
        if (ReturnLength) *ReturnLength = needed;
        if (BufferLength < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        // Only what this call changes is given back.
        PreviousState->PrivilegeCount = changes ? 1 : 0;
        PreviousState->Privileges[0].Luid = kDebugPrivilege;
        PreviousState->Privileges[0].Attributes = debugPrivilegeEnabled ? SE_PRIVILEGE_ENABLED : 0;
    }
    if (changes) debugPrivilegeEnabled = wanted;
    // Success all the same when the token lacks the privilege: the last
    // error tells.
    SetLastError(named && !debugPrivilegeHeld ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
    return TRUE;
}

// ---- The service manager ------------------------------------------------------------

SC_HANDLE SimMachine::OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName,
                                     DWORD dwDesiredAccess) {
    if (auto e = State::Enter(*this, "OpenSCManagerW", [&] { return sim::Hex(dwDesiredAccess); })) {
        SetLastError(*e);
        return nullptr;
    }
    if (lpMachineName != nullptr || lpDatabaseName != nullptr) {
        State::ProgramError(*this, "OpenSCManagerW of another machine or database");
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    State::OpenHandle handle;
    handle.kind = State::Kind::ServiceManager;
    handle.access = dwDesiredAccess;
    handle.what = L"service manager";
    handle.openedByCall = callCount_;
    const auto value = state_->NewHandleValue();
    state_->handles[value] = handle;
    return reinterpret_cast<SC_HANDLE>(value);
}

BOOL SimMachine::EnumServicesStatusExW(SC_HANDLE hSCManager, SC_ENUM_TYPE InfoLevel,
                                       DWORD dwServiceType, DWORD dwServiceState, LPBYTE lpServices,
                                       DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                       LPDWORD lpServicesReturned, LPDWORD lpResumeHandle,
                                       LPCWSTR pszGroupName) {
    if (auto e = State::Enter(*this, "EnumServicesStatusExW",
                              [&] { return std::to_string(cbBufSize); })) {
        SetLastError(*e);
        return FALSE;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(hSCManager));
    if (it == state_->handles.end() || it->second.kind != State::Kind::ServiceManager) {
        State::ProgramError(*this, "EnumServicesStatusExW without a service manager handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((it->second.access & SC_MANAGER_ENUMERATE_SERVICE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (InfoLevel != SC_ENUM_PROCESS_INFO || pcbBytesNeeded == nullptr ||
        lpServicesReturned == nullptr || pszGroupName != nullptr ||
        (dwServiceType & SERVICE_WIN32) == 0 || dwServiceState != SERVICE_ACTIVE) {
        State::ProgramError(*this, "EnumServicesStatusExW asked for something else");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Running services by name, as the service manager keeps them.
    std::vector<std::pair<std::wstring, const SimProcess*>> services;
    for (const auto& p : processes_)
        if (p.processId != 0)
            for (const auto& name : p.services) services.emplace_back(name, &p);
    std::sort(services.begin(), services.end(), [](const auto& a, const auto& b) {
        return sim::Upper(a.first) < sim::Upper(b.first);
    });
    const size_t first = lpResumeHandle ? *lpResumeHandle : 0;
    auto bytesFor = [](const std::wstring& name) {
        return sizeof(ENUM_SERVICE_STATUS_PROCESSW) + 2 * sizeof(WCHAR) * (name.size() + 1);
    };
    // Records from the front, their names from the back, as many as fit.
    size_t fit = 0, used = 0;
    for (size_t i = first; i < services.size(); ++i) {
        if (lpServices == nullptr || used + bytesFor(services[i].first) > cbBufSize) break;
        used += bytesFor(services[i].first);
        ++fit;
    }
    size_t textEnd = cbBufSize;
    for (size_t k = 0; k < fit; ++k) {
        const auto& [name, process] = services[first + k];
        const size_t textBytes = sizeof(WCHAR) * (name.size() + 1);
        textEnd -= textBytes;
        auto* display = reinterpret_cast<WCHAR*>(lpServices + textEnd);
        std::memcpy(display, name.c_str(), textBytes);
        textEnd -= textBytes;
        auto* serviceName = reinterpret_cast<WCHAR*>(lpServices + textEnd);
        std::memcpy(serviceName, name.c_str(), textBytes);
        ENUM_SERVICE_STATUS_PROCESSW record{};
        record.lpServiceName = serviceName;
        record.lpDisplayName = display;
        record.ServiceStatusProcess.dwServiceType = process->services.size() > 1 ? 0x20 : 0x10;
        record.ServiceStatusProcess.dwCurrentState = SERVICE_RUNNING;
        record.ServiceStatusProcess.dwProcessId = process->processId;
        std::memcpy(lpServices + k * sizeof record, &record, sizeof record);
    }
    *lpServicesReturned = static_cast<DWORD>(fit);
    size_t rest = 0;
    for (size_t i = first + fit; i < services.size(); ++i) rest += bytesFor(services[i].first);
    *pcbBytesNeeded = static_cast<DWORD>(rest);
    if (first + fit < services.size()) {
        if (lpResumeHandle) *lpResumeHandle = static_cast<DWORD>(first + fit);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (lpResumeHandle) *lpResumeHandle = 0;
    return TRUE;
}

BOOL SimMachine::CloseServiceHandle(SC_HANDLE hSCObject) {
    if (auto e = State::Enter(*this, "CloseServiceHandle", [&] { return HandleText(hSCObject); })) {
        SetLastError(*e);
        return FALSE;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(hSCObject));
    if (it == state_->handles.end() || it->second.kind != State::Kind::ServiceManager) {
        State::ProgramError(
            *this, "CloseServiceHandle on an unknown or closed handle " + HandleText(hSCObject));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    state_->handles.erase(it);
    return TRUE;
}

// ---- Module snapshots ---------------------------------------------------------------

namespace {

BOOL ModuleEntry(SimMachine& m, std::map<std::uintptr_t, State::OpenHandle>& handles,
                 HANDLE snapshot, LPMODULEENTRY32W entry, bool first) {
    auto it = handles.find(reinterpret_cast<std::uintptr_t>(snapshot));
    if (it == handles.end() || it->second.kind != State::Kind::Snapshot) {
        State::ProgramError(m, "Module32FirstW/NextW on an unknown snapshot");
        m.SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry == nullptr || entry->dwSize != sizeof(MODULEENTRY32W)) {
        m.SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    State::OpenHandle& h = it->second;
    if (first) h.file = 0;
    if (h.file >= h.modules.size()) {
        m.SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    const std::wstring& path = h.modules[h.file++];
    std::memset(reinterpret_cast<BYTE*>(entry) + sizeof entry->dwSize, 0,
                sizeof *entry - sizeof entry->dwSize);
    entry->th32ModuleID = 1;
    entry->th32ProcessID = h.processId;
    entry->GlblcntUsage = entry->ProccntUsage = 0xFFFF;
    std::wstring name = path.substr(path.rfind(L'\\') + 1);
    name.resize(std::min<size_t>(name.size(), 255));
    sim::CopyWithNul(name, entry->szModule, 256);
    sim::CopyWithNul(path.substr(0, 259), entry->szExePath, 260);
    return TRUE;
}

}  // namespace

HANDLE State::ModuleSnapshot(SimMachine& m, DWORD processId) {
    const bool own = processId == 0 || processId == m.ownProcessId;
    const SimProcess* p = own ? nullptr : m.FindProcess(processId);
    if (!own && p == nullptr) {
        m.SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (p != nullptr && ProcessRefuses(m, *p)) {
        m.SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    OpenHandle handle;
    handle.kind = Kind::Snapshot;
    handle.openedByCall = m.callCount_;
    handle.processId = own ? m.ownProcessId : p->processId;
    handle.modules = own ? std::vector<std::wstring>{m.modulePath} : ModulesOf(*p);
    const auto value = m.state_->NewHandleValue();
    m.state_->handles[value] = handle;
    return reinterpret_cast<HANDLE>(value);
}

BOOL SimMachine::Module32FirstW(HANDLE hSnapshot, LPMODULEENTRY32W lpme) {
    if (auto e = State::Enter(*this, "Module32FirstW", [&] { return HandleText(hSnapshot); })) {
        SetLastError(*e);
        return FALSE;
    }
    return ModuleEntry(*this, state_->handles, hSnapshot, lpme, true);
}

BOOL SimMachine::Module32NextW(HANDLE hSnapshot, LPMODULEENTRY32W lpme) {
    if (auto e = State::Enter(*this, "Module32NextW", [&] { return HandleText(hSnapshot); })) {
        SetLastError(*e);
        return FALSE;
    }
    return ModuleEntry(*this, state_->handles, hSnapshot, lpme, false);
}

// ---- Paths ------------------------------------------------------------------------------

DWORD SimMachine::GetFinalPathNameByHandleW(FARPROC procedure, HANDLE hFile, LPWSTR lpszFilePath,
                                            DWORD cchFilePath, DWORD dwFlags) {
    if (auto e = State::Enter(*this, "GetFinalPathNameByHandleW",
                              [&] { return HandleText(hFile) + " " + sim::Hex(dwFlags); })) {
        SetLastError(*e);
        return 0;
    }
    if (procedure != sim::FinalPathProcedure()) {
        State::ProgramError(*this,
                            "GetFinalPathNameByHandleW through a procedure GetProcAddress did "
                            "not return");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(hFile));
    if (it == state_->handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (State::QuestionStalls(*this, it->second)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const State::OpenHandle& h = it->second;
    if (h.kind != State::Kind::File || h.index != 1 || dwFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::wstring path = L"\\\\?\\" + h.what;
    if (lpszFilePath == nullptr || cchFilePath < path.size() + 1)
        return static_cast<DWORD>(path.size() + 1);
    sim::CopyWithNul(path, lpszFilePath, cchFilePath);
    return static_cast<DWORD>(path.size());
}
