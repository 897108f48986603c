// The simulated processes: other programs with files, folders and pipes
// open, the system handle table that lists them, process handles, handle
// duplication, the process snapshot, and this process's threads and clock.
#include "platform/sim/SimInternal.h"

#include <algorithm>
#include <chrono>

using sim::Quote;
using State = SimMachine::State;

namespace {

// Object type numbers in the handle table; Windows numbers them differently
// in every release, so the program must not know them.
constexpr USHORT kTypeProcess = 7;
constexpr USHORT kTypeThread = 8;
constexpr USHORT kTypeEvent = 12;
constexpr USHORT kTypeMutant = 17;
constexpr USHORT kTypeSection = 21;
constexpr USHORT kTypeFile = 28;
constexpr USHORT kTypeToken = 5;

// What GetProcAddress hands out for the native calls; the seam methods
// recognise them.
LONG_PTR WINAPI NtQuerySystemInformationStub() {
    return 0;
}
LONG_PTR WINAPI NtQueryVolumeInformationFileStub() {
    return 1;
}

HANDLE CurrentProcessPseudoHandle() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

std::string HandleText(HANDLE h) {
    return sim::Hex(reinterpret_cast<std::uintptr_t>(h));
}

// One row of the handle table before it is laid out.
struct Row {
    std::uintptr_t object;
    std::uintptr_t processId;
    std::uintptr_t handle;
    USHORT type;
    ULONG access;
};

}  // namespace

FARPROC sim::NativeProcedure(const std::string& name) {
    if (name == "NtQuerySystemInformation")
        return reinterpret_cast<FARPROC>(&NtQuerySystemInformationStub);
    if (name == "NtQueryVolumeInformationFile")
        return reinterpret_cast<FARPROC>(&NtQueryVolumeInformationFileStub);
    return nullptr;
}

// ---- Building -------------------------------------------------------------------

SimProcess& SimMachine::AddProcess(SimProcess process) {
    for (auto& file : process.files)
        file.letter = static_cast<WCHAR>(std::towupper(static_cast<wint_t>(file.letter)));
    processes_.push_back(std::move(process));
    return processes_.back();
}

SimProcess* SimMachine::FindProcess(DWORD processId) {
    // Asked for every handle the holder search copies: an index by id, made
    // again when processes were added or an entry no longer matches (a test
    // may change an id, EndProcess clears one).
    State& s = *state_;
    if (s.processesIndexed != processes_.size()) {
        s.processIndex.clear();
        for (size_t i = 0; i < processes_.size(); ++i)
            s.processIndex.emplace(processes_[i].processId, i);
        s.processesIndexed = processes_.size();
    }
    auto it = s.processIndex.find(processId);
    if (it != s.processIndex.end() && processes_[it->second].processId == processId)
        return &processes_[it->second];
    for (auto& p : processes_)
        if (p.processId == processId) return &p;
    return nullptr;
}

void SimMachine::EndProcess(DWORD processId) {
    auto it = std::find_if(processes_.begin(), processes_.end(),
                           [&](const SimProcess& p) { return p.processId == processId; });
    if (it == processes_.end()) return;
    // Its files close; handles to the process and copies of its files stay
    // valid in this process, as on Windows.
    it->files.clear();
    it->processId = 0;
    it->imageName.clear();
}

bool SimMachine::VolumeHeldByProcess(WCHAR letter) const {
    const std::optional<size_t> volume =
        State::VolumeOfMountPoint(*this, std::wstring{letter, L':'});
    return volume && State::VolumeHeld(*this, *volume);
}

// ---- Processes and handles --------------------------------------------------------

DWORD SimMachine::GetCurrentProcessId() {
    State::Enter(*this, "GetCurrentProcessId", [&] { return ""; });  // cannot fail
    return ownProcessId;
}

HANDLE SimMachine::GetCurrentProcess() {
    State::Enter(*this, "GetCurrentProcess", [&] { return ""; });  // cannot fail
    return CurrentProcessPseudoHandle();
}

HANDLE SimMachine::OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    (void)bInheritHandle;
    if (auto e = State::Enter(*this, "OpenProcess", [&] {
            return std::to_string(dwProcessId) + " access " + sim::Hex(dwDesiredAccess);
        })) {
        SetLastError(*e);
        return nullptr;
    }
    State::OpenHandle handle;
    handle.kind = State::Kind::Process;
    handle.access = dwDesiredAccess;
    handle.processId = dwProcessId;
    handle.openedByCall = callCount_;
    if (dwProcessId == ownProcessId) {
        handle.what = L"Trayhop32.exe";
    } else {
        const SimProcess* process = dwProcessId == 0 ? nullptr : FindProcess(dwProcessId);
        if (process == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (State::ProcessRefuses(*this, *process)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        handle.what = process->imageName;
    }
    auto value = state_->NewHandleValue();
    state_->handles[value] = handle;
    return reinterpret_cast<HANDLE>(value);
}

BOOL SimMachine::DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                 HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                                 DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) {
    (void)dwDesiredAccess, (void)bInheritHandle;
    if (auto e = State::Enter(*this, "DuplicateHandle", [&] {
            return HandleText(hSourceProcessHandle) + " " + HandleText(hSourceHandle);
        })) {
        SetLastError(*e);
        return FALSE;
    }
    auto fail = [&](DWORD error) {
        SetLastError(error);
        return FALSE;
    };
    State& s = *state_;
    if (hTargetProcessHandle != CurrentProcessPseudoHandle() || lpTargetHandle == nullptr ||
        (dwOptions & DUPLICATE_CLOSE_SOURCE) != 0) {
        State::ProgramError(*this, "DuplicateHandle other than a copy into this process");
        return fail(ERROR_INVALID_PARAMETER);
    }
    auto source = s.handles.find(reinterpret_cast<std::uintptr_t>(hSourceProcessHandle));
    if (source == s.handles.end() || source->second.kind != State::Kind::Process) {
        State::ProgramError(*this, "DuplicateHandle from an unknown process handle");
        return fail(ERROR_INVALID_HANDLE);
    }
    if ((source->second.access & PROCESS_DUP_HANDLE) == 0) return fail(ERROR_ACCESS_DENIED);
    const SimProcess* process =
        source->second.processId == 0 || source->second.processId == ownProcessId
            ? nullptr
            : FindProcess(source->second.processId);
    const auto value = reinterpret_cast<std::uintptr_t>(hSourceHandle);
    // A process's files sit at handle values 4, 8, 12...; anything else (its
    // event, a handle it closed, a process that ended) cannot be copied here.
    if (process == nullptr || value == 0 || value % 4 != 0 || value / 4 > process->files.size() ||
        process->files[value / 4 - 1].mapped)
        return fail(ERROR_INVALID_HANDLE);
    const SimOpenFile& file = process->files[value / 4 - 1];
    State::OpenHandle copy;
    copy.kind = State::Kind::File;
    copy.processId = process->processId;
    copy.file = value / 4 - 1;
    copy.what = file.pipe ? L"\\Device\\NamedPipe" + file.path
                          : std::wstring{file.letter, L':'} + file.path;
    copy.index = file.pipe ? 0 : 1;  // 1: on a disk
    copy.openedByCall = callCount_;
    auto dup = s.NewHandleValue();
    s.handles[dup] = copy;
    *lpTargetHandle = reinterpret_cast<HANDLE>(dup);
    return TRUE;
}

HANDLE SimMachine::CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) {
    if (auto e =
            State::Enter(*this, "CreateToolhelp32Snapshot", [&] { return sim::Hex(dwFlags); })) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    if (dwFlags & (TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32))
        return State::ModuleSnapshot(*this, th32ProcessID);
    State::OpenHandle handle;
    handle.kind = State::Kind::Snapshot;
    handle.openedByCall = callCount_;
    if (dwFlags & TH32CS_SNAPPROCESS) {
        handle.pids.push_back(ownProcessId);
        for (const auto& p : processes_)
            if (p.processId != 0) handle.pids.push_back(p.processId);
    }
    auto value = state_->NewHandleValue();
    state_->handles[value] = handle;
    return reinterpret_cast<HANDLE>(value);
}

namespace {

BOOL SnapshotEntry(SimMachine& m, State& s, HANDLE snapshot, LPPROCESSENTRY32W entry, bool first) {
    auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(snapshot));
    if (it == s.handles.end() || it->second.kind != State::Kind::Snapshot) {
        State::ProgramError(m, "Process32FirstW/NextW on an unknown snapshot");
        m.SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry == nullptr || entry->dwSize != sizeof(PROCESSENTRY32W)) {
        m.SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    State::OpenHandle& h = it->second;
    if (first) h.index = 0;
    if (h.index >= h.pids.size()) {
        m.SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    const DWORD pid = h.pids[h.index++];
    std::wstring name = L"Trayhop32.exe";
    if (pid != m.ownProcessId) {
        const SimProcess* process = m.FindProcess(pid);
        name = process != nullptr ? process->imageName : L"";
    }
    entry->cntUsage = 0;
    entry->th32ProcessID = pid;
    entry->th32DefaultHeapID = 0;
    entry->th32ModuleID = 0;
    entry->cntThreads = 1;
    entry->th32ParentProcessID = 0;
    entry->pcPriClassBase = 8;
    entry->dwFlags = 0;
    constexpr size_t capacity = sizeof entry->szExeFile / sizeof(WCHAR);
    if (name.size() >= capacity) name.resize(capacity - 1);
    sim::CopyWithNul(name, entry->szExeFile, capacity);
    return TRUE;
}

}  // namespace

BOOL SimMachine::Process32FirstW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) {
    if (auto e = State::Enter(*this, "Process32FirstW", [&] { return HandleText(hSnapshot); })) {
        SetLastError(*e);
        return FALSE;
    }
    return SnapshotEntry(*this, *state_, hSnapshot, lppe, true);
}

BOOL SimMachine::Process32NextW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) {
    if (auto e = State::Enter(*this, "Process32NextW", [&] { return HandleText(hSnapshot); })) {
        SetLastError(*e);
        return FALSE;
    }
    return SnapshotEntry(*this, *state_, hSnapshot, lppe, false);
}

DWORD SimMachine::GetFileType(HANDLE hFile) {
    if (auto e = State::Enter(*this, "GetFileType", [&] { return HandleText(hFile); })) {
        SetLastError(*e);
        return FILE_TYPE_UNKNOWN;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(hFile));
    if (it == state_->handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    if (State::QuestionStalls(*this, it->second)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    switch (it->second.kind) {
        case State::Kind::Device:
        case State::Kind::Volume:
            return FILE_TYPE_DISK;
        case State::Kind::File:
            return it->second.index == 1 ? FILE_TYPE_DISK : FILE_TYPE_PIPE;
        default:
            SetLastError(ERROR_INVALID_HANDLE);
            return FILE_TYPE_UNKNOWN;
    }
}

namespace {

DWORD SerialOf(const SimVolume& v) {
    if (v.serialNumber != 0) return v.serialNumber;
    if (v.letter != 0) return 0x1DE50000u + static_cast<DWORD>(v.letter);
    // A volume without a letter: one of its own, from its name.
    return 0x1DE60000u + static_cast<DWORD>(std::hash<std::wstring>{}(v.guidPath) & 0xFFFFu);
}

}  // namespace

BOOL SimMachine::GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer,
                                       DWORD nVolumeNameSize, LPDWORD lpVolumeSerialNumber,
                                       LPDWORD lpMaximumComponentLength, LPDWORD lpFileSystemFlags,
                                       LPWSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
    if (auto e =
            State::Enter(*this, "GetVolumeInformationW", [&] { return Quote(lpRootPathName); })) {
        SetLastError(*e);
        return FALSE;
    }
    const std::wstring root = sim::FromPtr(lpRootPathName);
    // A root with its backslash: "X:\\", a mount folder or a GUID path.
    const std::optional<size_t> index = !root.empty() && root.back() == L'\\'
                                            ? State::VolumeOfMountPoint(*this, root)
                                            : std::nullopt;
    const SimVolume* volume = index ? &volumes_[*index] : nullptr;
    if (volume == nullptr) {
        SetLastError(root.empty() || root.back() != L'\\' ? ERROR_INVALID_NAME
                                                          : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (volume->openError != 0 || volume->bitLockerLocked || volume->noMedia) {
        SetLastError(volume->bitLockerLocked ? kFveLockedVolume
                     : volume->noMedia       ? ERROR_NOT_READY
                                             : volume->openError);
        return FALSE;
    }
    if (lpVolumeNameBuffer && !sim::CopyWithNul(volume->label, lpVolumeNameBuffer, nVolumeNameSize)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (lpFileSystemNameBuffer &&
        !sim::CopyWithNul(L"NTFS", lpFileSystemNameBuffer, nFileSystemNameSize)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (lpVolumeSerialNumber) *lpVolumeSerialNumber = SerialOf(*volume);
    if (lpMaximumComponentLength) *lpMaximumComponentLength = 255;
    if (lpFileSystemFlags) *lpFileSystemFlags = 0;
    return TRUE;
}

// ---- Native calls -----------------------------------------------------------------

NTSTATUS SimMachine::NtQuerySystemInformation(FARPROC procedure, ULONG SystemInformationClass,
                                              PVOID SystemInformation,
                                              ULONG SystemInformationLength, PULONG ReturnLength) {
    if (auto e = State::Enter(*this, "NtQuerySystemInformation", [&] {
            return std::to_string(SystemInformationClass) + " " +
                   std::to_string(SystemInformationLength);
        }))
        return static_cast<NTSTATUS>(*e);
    if (procedure != sim::NativeProcedure("NtQuerySystemInformation")) {
        State::ProgramError(*this,
                            "NtQuerySystemInformation through a procedure "
                            "GetProcAddress did not return");
        return kStatusInvalidHandle;
    }
    const bool extended = SystemInformationClass == kSystemExtendedHandleInformation;
    if (!extended && SystemInformationClass != kSystemHandleInformation)
        return kStatusInvalidInfoClass;
    if (extended && handleTable == SimHandleTable::Basic) return kStatusInvalidInfoClass;

    std::vector<Row> rows;
    std::uintptr_t object = 0x81000000u;
    for (const auto& [value, h] : state_->handles) {
        // A loaded library is no handle, and a volume search is memory of
        // this process, not a kernel object.
        if (h.kind == State::Kind::Module || h.kind == State::Kind::VolumeSearch) continue;
        USHORT type = kTypeFile;
        switch (h.kind) {
            case State::Kind::Mutex:
                type = kTypeMutant;
                break;
            case State::Kind::Process:
                type = kTypeProcess;
                break;
            case State::Kind::Thread:
                type = kTypeThread;
                break;
            case State::Kind::Snapshot:
                type = kTypeSection;
                break;
            case State::Kind::Token:
            case State::Kind::ServiceManager:
                type = kTypeToken;
                break;
            default:
                break;
        }
        rows.push_back({object += 0x40, ownProcessId, value, type, h.access});
    }
    for (const auto& p : processes_) {
        if (p.processId == 0) continue;
        for (size_t i = 0; i < p.files.size(); ++i)
            if (!p.files[i].mapped)
                rows.push_back({object += 0x40, p.processId, 4 * (i + 1), kTypeFile, 0x0012019F});
        rows.push_back(
            {object += 0x40, p.processId, 4 * (p.files.size() + 1), kTypeEvent, 0x001F0003});
    }

    const size_t header = extended ? offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles)
                                   : offsetof(SYSTEM_HANDLE_TABLE_INFORMATION, Handles);
    const size_t entry = extended ? sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX)
                                  : sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO);
    ULONG needed = static_cast<ULONG>(header + rows.size() * entry);
    if (handleTable == SimHandleTable::Growing) {
        // Handles come faster than the caller's buffer grows.
        needed = std::max<ULONG>(needed, SystemInformationLength * 2 + 4096);
    }
    if (ReturnLength) *ReturnLength = needed;
    if (SystemInformation == nullptr || SystemInformationLength < needed)
        return kStatusInfoLengthMismatch;

    auto* out = static_cast<BYTE*>(SystemInformation);
    std::memset(out, 0, needed);
    if (extended) {
        const ULONG_PTR count = rows.size();
        std::memcpy(out, &count, sizeof count);
    } else {
        const ULONG count = static_cast<ULONG>(rows.size());
        std::memcpy(out, &count, sizeof count);
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        if (extended) {
            SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX e{};
            e.Object = reinterpret_cast<PVOID>(r.object);
            e.UniqueProcessId = r.processId;
            e.HandleValue = r.handle;
            e.GrantedAccess = r.access;
            e.ObjectTypeIndex = r.type;
            std::memcpy(out + header + i * entry, &e, sizeof e);
        } else {
            // The older table keeps 16 bits of the process id and of the handle.
            SYSTEM_HANDLE_TABLE_ENTRY_INFO e{};
            e.UniqueProcessId = static_cast<USHORT>(r.processId);
            e.HandleValue = static_cast<USHORT>(r.handle);
            e.Object = reinterpret_cast<PVOID>(r.object);
            e.GrantedAccess = r.access;
            e.ObjectTypeIndex = static_cast<UCHAR>(r.type);
            std::memcpy(out + header + i * entry, &e, sizeof e);
        }
    }
    return kStatusSuccess;
}

NTSTATUS SimMachine::NtQueryVolumeInformationFile(FARPROC procedure, HANDLE FileHandle,
                                                  PIO_STATUS_BLOCK IoStatusBlock,
                                                  PVOID FsInformation, ULONG Length,
                                                  FS_INFORMATION_CLASS FsInformationClass) {
    if (auto e = State::Enter(*this, "NtQueryVolumeInformationFile",
                              [&] { return HandleText(FileHandle); }))
        return static_cast<NTSTATUS>(*e);
    if (procedure != sim::NativeProcedure("NtQueryVolumeInformationFile")) {
        State::ProgramError(*this,
                            "NtQueryVolumeInformationFile through a procedure "
                            "GetProcAddress did not return");
        return kStatusInvalidHandle;
    }
    if (IoStatusBlock == nullptr || FsInformation == nullptr) {
        State::ProgramError(*this, "NtQueryVolumeInformationFile without its buffers");
        return kStatusAccessDenied;
    }
    if (FsInformationClass != FileFsVolumeInformation) return kStatusInvalidInfoClass;
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(FileHandle));
    if (it == state_->handles.end()) return kStatusInvalidHandle;
    const State::OpenHandle& h = it->second;
    if (State::QuestionStalls(*this, h)) return kStatusInvalidHandle;
    const SimVolume* volume = nullptr;
    if (h.kind == State::Kind::Volume) {
        volume = &volumes_[h.index];
    } else if (h.kind == State::Kind::File && h.index == 1) {
        const std::optional<size_t> index =
            State::VolumeOfFile(*this, h.what[0], std::wstring_view(h.what).substr(2));
        if (index) volume = &volumes_[*index];
    }
    if (volume == nullptr || !volume->present)
        return static_cast<NTSTATUS>(0xC0000010u);  // STATUS_INVALID_DEVICE_REQUEST
    const ULONG fixed = offsetof(FILE_FS_VOLUME_INFORMATION, VolumeLabel);
    if (Length < fixed) return kStatusInfoLengthMismatch;
    FILE_FS_VOLUME_INFORMATION info{};
    info.VolumeSerialNumber = SerialOf(*volume);
    std::memcpy(FsInformation, &info, fixed);
    IoStatusBlock->Status = kStatusSuccess;
    IoStatusBlock->Information = fixed;
    return kStatusSuccess;
}

// ---- Threads and the clock ------------------------------------------------------------

DWORD SimMachine::GetTickCount() {
    State::Enter(*this, "GetTickCount", [&] { return ""; });  // cannot fail
    if (realClock)
        return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count());
    tickCount += tickCountStep;
    return tickCount;
}

HANDLE SimMachine::CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                DWORD dwCreationFlags, LPDWORD lpThreadId) {
    (void)lpThreadAttributes, (void)dwStackSize;
    if (auto e = State::Enter(*this, "CreateThread", [&] { return sim::Hex(dwCreationFlags); })) {
        SetLastError(*e);
        return nullptr;
    }
    if (lpStartAddress == nullptr || dwCreationFlags & 0x4 /* CREATE_SUSPENDED */) {
        State::ProgramError(*this, "CreateThread without a routine, or suspended");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    State::OpenHandle handle;
    handle.kind = State::Kind::Thread;
    handle.openedByCall = callCount_;
    if (lpThreadId) *lpThreadId = 0x2000 + static_cast<DWORD>(callCount_);
    if (threadStartHook) threadStartHook();
    // The thread runs to its end now; the last error is the thread's own.
    const DWORD savedError = state_->lastError;
    ++state_->threadsRunning;
    try {
        lpStartAddress(lpParameter);
    } catch (const State::ThreadStuck&) {
        // Blocked for good inside a question: it never ends, and what it was
        // given stays its own (kept reachable, as a blocked thread keeps it).
        handle.stuck = true;
        static std::vector<LPVOID>* kept = new std::vector<LPVOID>;
        kept->push_back(lpParameter);
    }
    --state_->threadsRunning;
    state_->lastError = savedError;
    auto value = state_->NewHandleValue();
    state_->handles[value] = handle;
    return reinterpret_cast<HANDLE>(value);
}

DWORD SimMachine::WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (auto e = State::Enter(*this, "WaitForSingleObject", [&] {
            return HandleText(hHandle) + " " + std::to_string(dwMilliseconds);
        })) {
        SetLastError(*e);
        return WAIT_FAILED;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(hHandle));
    if (it == state_->handles.end() ||
        (it->second.kind != State::Kind::Thread && it->second.kind != State::Kind::Process &&
         it->second.kind != State::Kind::Mutex)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (it->second.kind == State::Kind::Thread && it->second.stuck) {
        if (dwMilliseconds == INFINITE) {
            State::ProgramError(*this, "waiting for good on a thread that never ends");
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        tickCount += dwMilliseconds;
        return WAIT_TIMEOUT;
    }
    if (it->second.kind == State::Kind::Mutex && !it->second.what.empty())
        return WaitForMutex(it->first, it->second.what, dwMilliseconds);
    if (it->second.kind == State::Kind::Process) {
        // A process is signalled once it has ended.
        const SimProcess* p = FindProcess(it->second.processId);
        if (p != nullptr || it->second.processId == ownProcessId) {
            tickCount += dwMilliseconds == INFINITE ? 0 : dwMilliseconds;
            return WAIT_TIMEOUT;
        }
    }
    return WAIT_OBJECT_0;
}
