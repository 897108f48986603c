// The search for the programs that hold a volume. The system handle table
// lists every open handle with its process; each handle of the file type is
// copied into this process and asked which volume it is on (by serial
// number). Those questions wait for the file's lock, and a file another
// program is in the middle of a synchronous read on (a pipe, a folder being
// watched) keeps it forever, so they run on a worker thread that the search
// leaves behind when it stalls. Programs run from the volume hold it without
// a handle: their module lists name them. See ARCHITECTURE.md.
#include "removal/VolumeHolders.h"

#include "platform/Owners.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>

namespace {

// A question that has not moved on for this long is taken as stuck: a local
// volume answers in microseconds.
constexpr DWORD kStallMilliseconds = 40;
// Handles copied and asked about per round; bounds what this process holds
// of other programs' files at a time.
constexpr size_t kHandlesPerRound = 256;
// The table is read again when it grew in between; a system that keeps
// growing it this often is too busy to be answered.
constexpr int kTableReadTries = 8;
constexpr size_t kTableLimitBytes = size_t{64} * 1024 * 1024;
constexpr SIZE_T kWorkerStackBytes = SIZE_T{64} * 1024;

struct NativeCalls {
    FARPROC querySystemInformation = nullptr;
    FARPROC queryVolumeInformationFile = nullptr;
    FARPROC finalPathName = nullptr;  // kernel32's, Vista and later
};

void LookUpNativeCalls(Platform& platform, NativeCalls& calls) {
    if (HMODULE ntdll = platform.GetModuleHandleW(L"ntdll.dll")) {
        calls.querySystemInformation = platform.GetProcAddress(ntdll, "NtQuerySystemInformation");
        calls.queryVolumeInformationFile =
            platform.GetProcAddress(ntdll, "NtQueryVolumeInformationFile");
    }
    if (HMODULE kernel32 = platform.GetModuleHandleW(L"kernel32.dll"))
        calls.finalPathName = platform.GetProcAddress(kernel32, "GetFinalPathNameByHandleW");
}

struct TableEntry {
    ULONG_PTR processId;
    ULONG_PTR handle;
    USHORT type;
};

// Copies the entries out of the answer, trusting its count only as far as
// the bytes the system said it wrote.
template <typename Entry>
void CopyEntries(const BYTE* answer, size_t answered, size_t header, ULONG_PTR count,
                 std::vector<TableEntry>& entries) {
    const size_t room = answered < header ? 0 : (answered - header) / sizeof(Entry);
    if (count > room) count = room;
    entries.reserve(count);
    for (ULONG_PTR i = 0; i < count; ++i) {
        Entry e;
        std::memcpy(&e, answer + header + i * sizeof(Entry), sizeof e);
        entries.push_back({e.UniqueProcessId, e.HandleValue, e.ObjectTypeIndex});
    }
}

// The system handle table; `wide` tells whether process ids and handle values
// are whole (the extended table) or cut to 16 bits (the older one). False
// when it cannot be had.
bool ReadHandleTable(Platform& platform, FARPROC query, std::vector<TableEntry>& entries,
                     bool& wide) {
    for (const ULONG infoClass : {kSystemExtendedHandleInformation, kSystemHandleInformation}) {
        wide = infoClass == kSystemExtendedHandleInformation;
        // ULONG_PTR storage keeps the pointer-sized fields aligned.
        std::vector<ULONG_PTR> buffer(size_t{64} * 1024 / sizeof(ULONG_PTR));
        for (int attempt = 0;; ++attempt) {
            if (attempt == kTableReadTries) return false;
            const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
            ULONG returned = 0;
            const NTSTATUS status =
                platform.NtQuerySystemInformation(query, infoClass, buffer.data(), size, &returned);
            if (status == kStatusInfoLengthMismatch) {
                // Older systems do not say what they need: at least double.
                size_t next =
                    std::max<size_t>(size_t{returned} + returned / 4 + 4096, size_t{2} * size);
                if (next > kTableLimitBytes) return false;
                try {
                    buffer.assign(next / sizeof(ULONG_PTR) + 1, 0);
                } catch (const std::bad_alloc&) {
                    return false;  // a table this size is not worth the memory
                }
                continue;
            }
            if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented) break;
            if (status < 0) return false;
            const auto* answer = reinterpret_cast<const BYTE*>(buffer.data());
            const size_t answered = returned != 0 && returned < size ? returned : size;
            entries.clear();
            if (wide) {
                SYSTEM_HANDLE_INFORMATION_EX head;
                std::memcpy(&head, answer, offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles));
                CopyEntries<SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX>(
                    answer, answered, offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles),
                    head.NumberOfHandles, entries);
            } else {
                ULONG count = 0;
                std::memcpy(&count, answer, sizeof count);
                CopyEntries<SYSTEM_HANDLE_TABLE_ENTRY_INFO>(
                    answer, answered, offsetof(SYSTEM_HANDLE_TABLE_INFORMATION, Handles), count,
                    entries);
            }
            return true;
        }
    }
    return false;
}

// Image names of the running processes by id; false when they cannot be listed.
bool ReadProcessNames(Platform& platform, std::map<DWORD, std::wstring>& names) {
    UniqueHandle snapshot(platform, platform.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = platform.Process32FirstW(snapshot.Get(), &entry); more;
         more = platform.Process32NextW(snapshot.Get(), &entry)) {
        entry.szExeFile[sizeof entry.szExeFile / sizeof(WCHAR) - 1] = L'\0';
        names[entry.th32ProcessID] = entry.szExeFile;
    }
    return !names.empty();
}

// ---- The questions that may wait forever, on a worker thread ------------------
//
// Each question (item) goes Pending -> Asking -> Answered on the worker. The
// search may instead take a Pending item to Skipped, or an item being asked
// to Abandoned, and then never looks at it again; whichever side wins the
// exchange decides. A worker that loses stops at once and touches nothing but
// the round's shared record, which the last of its users frees.

enum ItemState : int { kPending, kAsking, kAnswered, kSkipped, kAbandoned };

// Room for the paths of the handles found on the volume in one round; past
// that a holder is named without its path (a later round finds it again).
constexpr int kPathSlots = 16;
constexpr DWORD kPathChars = MAX_PATH + 8;

struct Question {
    HANDLE file = nullptr;  // a copy owned by the search, never closed by the worker
    DWORD owner = 0;        // the process it was copied from
    std::atomic<int> state{kPending};
    DWORD fileType = FILE_TYPE_UNKNOWN;
    NTSTATUS status = -1;
    IO_STATUS_BLOCK io{};
    int pathSlot = -1;  // where its final path was written, when it is on the volume
    // The fixed part and room for a volume label of 32 characters.
    alignas(8) BYTE volume[sizeof(FILE_FS_VOLUME_INFORMATION) + 32 * sizeof(WCHAR)] = {};
};

struct Round {
    Round(Platform& p, const NativeCalls& calls, DWORD volumeSerial, size_t n)
        : platform(&p),
          queryVolume(calls.queryVolumeInformationFile),
          finalPath(calls.finalPathName),
          serial(volumeSerial),
          questions(new Question[n]),
          count(n) {}
    Platform* platform;
    FARPROC queryVolume;
    FARPROC finalPath;  // null before Vista
    DWORD serial;
    std::unique_ptr<Question[]> questions;
    size_t count;
    std::atomic<size_t> start{0};     // where the next worker begins
    std::atomic<size_t> current{0};   // the question the latest worker is on
    std::atomic<size_t> answered{0};  // progress, for telling slow from stuck
    std::atomic<int> users{1};        // the search and each worker still running
    std::atomic<int> pathsUsed{0};
    // The last process given a path: one is enough, and a process's handles
    // come together in the table.
    std::atomic<DWORD> pathOwner{0};
    WCHAR paths[kPathSlots][kPathChars];  // each written before its slot is read
};

void Release(Round* round) {
    if (round->users.fetch_sub(1) == 1) delete round;
}

bool OnVolume(const Question& q, DWORD serial) {
    if (q.fileType != FILE_TYPE_DISK) return false;
    // A label longer than the room still leaves the serial number.
    if (q.status < 0 && q.status != kStatusBufferOverflow) return false;
    FILE_FS_VOLUME_INFORMATION info;
    std::memcpy(&info, q.volume, offsetof(FILE_FS_VOLUME_INFORMATION, VolumeLabel));
    return info.VolumeSerialNumber == serial;
}

DWORD WINAPI AskQuestions(LPVOID parameter) {
    Round* round = static_cast<Round*>(parameter);
    Platform& platform = *round->platform;
    for (size_t i = round->start.load(); i < round->count; ++i) {
        Question& q = round->questions[i];
        int expected = kPending;
        if (!q.state.compare_exchange_strong(expected, kAsking)) break;
        round->current.store(i);
        q.fileType = platform.GetFileType(q.file);
        if (q.fileType == FILE_TYPE_DISK)
            q.status =
                platform.NtQueryVolumeInformationFile(round->queryVolume, q.file, &q.io, q.volume,
                                                      sizeof q.volume, FileFsVolumeInformation);
        if (round->finalPath != nullptr && OnVolume(q, round->serial) &&
            round->pathOwner.exchange(q.owner) != q.owner) {
            const int slot = round->pathsUsed.fetch_add(1);
            if (slot < kPathSlots) {
                const DWORD length = platform.GetFinalPathNameByHandleW(
                    round->finalPath, q.file, round->paths[slot], kPathChars,
                    kFileNameNormalized | kVolumeNameDos);
                if (length > 0 && length < kPathChars) q.pathSlot = slot;
            }
        }
        expected = kAsking;
        if (!q.state.compare_exchange_strong(expected, kAnswered)) break;
        round->answered.fetch_add(1);
    }
    Release(round);
    return 0;
}

// Every question not answered yet is given up; after this no worker asks
// anything more, so the copies may be closed.
void GiveUp(Round& round) {
    for (size_t i = 0; i < round.count; ++i) {
        int expected = kPending;
        if (!round.questions[i].state.compare_exchange_strong(expected, kSkipped)) {
            expected = kAsking;
            round.questions[i].state.compare_exchange_strong(expected, kAbandoned);
        }
    }
}

// The search's clock: its own work, and the waits on questions that stalled,
// each against a budget of its own.
struct Budget {
    Platform& platform;
    DWORD started;
    DWORD work;
    DWORD stalls;
    DWORD stalled = 0;

    DWORD WorkUsed() const { return platform.GetTickCount() - started - stalled; }
    bool WorkLeft() const { return WorkUsed() < work; }
};

enum class RoundEnd { Done, OutOfTime, Failed };

// Asks every question of the round within the budget. A question stuck for
// kStallMilliseconds is abandoned with its worker, its wait charged to the
// stall budget, and a new worker goes on after it.
RoundEnd AskAll(Platform& platform, Round& round, Budget& budget) {
    size_t begin = 0;
    while (begin < round.count) {
        round.start.store(begin);
        round.current.store(begin);
        round.users.fetch_add(1);
        UniqueHandle worker(platform,
                            platform.CreateThread(nullptr, kWorkerStackBytes, AskQuestions, &round,
                                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (!worker) {
            round.users.fetch_sub(1);
            return RoundEnd::Failed;
        }
        size_t seen = round.answered.load();
        DWORD quietSince = platform.GetTickCount();
        for (;;) {
            const DWORD used = budget.WorkUsed();
            if (used >= budget.work) return RoundEnd::OutOfTime;
            const DWORD wait = platform.WaitForSingleObject(
                worker.Get(), std::min<DWORD>(budget.work - used, kStallMilliseconds));
            if (wait == WAIT_OBJECT_0) {
                begin = round.count;
                break;
            }
            if (wait != WAIT_TIMEOUT) return RoundEnd::Failed;
            const DWORD now = platform.GetTickCount();
            const size_t answered = round.answered.load();
            if (answered != seen) {
                seen = answered;
                quietSince = now;
                continue;
            }
            if (now - quietSince < kStallMilliseconds) continue;
            const size_t stuck = round.current.load();
            int expected = kAsking;
            if (round.questions[stuck].state.compare_exchange_strong(expected, kAbandoned)) {
                // That worker stays with its question; its thread handle is
                // closed, the thread ends whenever the question returns.
                budget.stalled += now - quietSince;
                if (budget.stalled >= budget.stalls) return RoundEnd::OutOfTime;
                begin = stuck + 1;
                break;
            }
        }
    }
    return RoundEnd::Done;
}

struct Candidate {
    DWORD processId;
    ULONG_PTR handle;
};

// What the search has learnt so far, by process id.
struct Findings {
    std::map<DWORD, std::wstring> holders;  // -> what it holds (empty: not known)
    std::set<DWORD> refused;                // refused access
    std::set<DWORD> passedOver;             // ended, or never to be opened
    bool incomplete = false;

    bool Settled(DWORD pid) const {
        return holders.count(pid) != 0 || refused.count(pid) != 0 || passedOver.count(pid) != 0;
    }
    void Hold(DWORD pid, const std::wstring& what) {
        std::wstring& held = holders[pid];
        if (held.empty()) held = what;
    }
    // A process that would not open: refused access, or it has ended.
    void NotOpened(DWORD pid, DWORD error) {
        (error == ERROR_ACCESS_DENIED ? refused : passedOver).insert(pid);
    }
};

// "\\?\G:\x" as a DOS path "G:\x"; other forms are left as they are.
std::wstring DosPath(const WCHAR* path) {
    std::wstring text = path;
    if (text.rfind(L"\\\\?\\", 0) == 0 && text.size() > 6 && text[5] == L':') text.erase(0, 4);
    return text;
}

// The paths the volume is mounted at ("G:\", "C:\Mount\Stick\"); false when
// they cannot be had.
bool ReadMountPaths(Platform& platform, const std::wstring& root,
                    std::vector<std::wstring>& paths) {
    std::vector<WCHAR> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = 0;
        if (platform.GetVolumePathNamesForVolumeNameW(root.c_str(), buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), &needed)) {
            buffer.back() = L'\0';
            for (const WCHAR* p = buffer.data(); *p != L'\0'; p += TextLength(p) + 1)
                paths.emplace_back(p);
            return true;
        }
        if (platform.GetLastError() != ERROR_MORE_DATA || needed <= buffer.size()) return false;
        buffer.assign(needed + 1, L'\0');
    }
    return false;
}

bool UnderMountPath(const std::wstring& path, const std::vector<std::wstring>& mounts) {
    for (const std::wstring& m : mounts)
        if (path.size() > m.size() && CompareTextNoCaseN(path.c_str(), m.c_str(), m.size()) == 0)
            return true;
    return false;
}

// The running services by the id of the process that hosts them, sorted by
// name; empty when the service manager cannot be asked.
std::map<DWORD, std::vector<std::wstring>> ReadServices(Platform& platform) {
    std::map<DWORD, std::vector<std::wstring>> byProcess;
    UniqueServiceHandle manager(
        platform, platform.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) return byProcess;
    std::vector<ULONG_PTR> buffer(size_t{64} * 1024 / sizeof(ULONG_PTR));
    DWORD resume = 0;
    for (int call = 0; call < 64; ++call) {
        const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR));
        auto* bytes = reinterpret_cast<BYTE*>(buffer.data());
        DWORD needed = 0, returned = 0;
        const BOOL done = platform.EnumServicesStatusExW(manager.Get(), SC_ENUM_PROCESS_INFO,
                                                         SERVICE_WIN32, SERVICE_ACTIVE, bytes, size,
                                                         &needed, &returned, &resume, nullptr);
        if (!done && platform.GetLastError() != ERROR_MORE_DATA) break;
        const size_t fits = size / sizeof(ENUM_SERVICE_STATUS_PROCESSW);
        for (DWORD i = 0; i < returned && i < fits; ++i) {
            ENUM_SERVICE_STATUS_PROCESSW record;
            std::memcpy(&record, bytes + i * sizeof record, sizeof record);
            const auto* name = reinterpret_cast<const BYTE*>(record.lpServiceName);
            // The name lies in the buffer; it is read no further than its end.
            if (record.ServiceStatusProcess.dwProcessId == 0 || name < bytes ||
                name >= bytes + size)
                continue;
            const auto* text = reinterpret_cast<const WCHAR*>(name);
            const size_t room = static_cast<size_t>(bytes + size - name) / sizeof(WCHAR);
            size_t length = 0;
            while (length < room && text[length] != L'\0') ++length;
            if (length > 0 && length < room)
                byProcess[record.ServiceStatusProcess.dwProcessId].emplace_back(text, length);
        }
        if (done) break;
        if (returned == 0) {
            // Not even one record fitted: make room for what it asks.
            if (needed <= size || needed > 4u * 1024 * 1024) break;
            buffer.assign(needed / sizeof(ULONG_PTR) + 1, 0);
        }
    }
    for (auto& [pid, names] : byProcess)
        std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
            return CompareTextNoCase(a.c_str(), b.c_str()) < 0;
        });
    return byProcess;
}

// SeDebugPrivilege, enabled while the search opens other processes (an
// elevated token holds it, disabled) and put back as it was on every path.
class DebugPrivilegeScope {
public:
    explicit DebugPrivilegeScope(Platform& platform) : platform_(platform), token_(platform) {
        HANDLE token = nullptr;
        if (!platform.OpenProcessToken(platform.GetCurrentProcess(),
                                       TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return;
        token_.Reset(token);
        TOKEN_PRIVILEGES wanted{};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!platform.LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege",
                                            &wanted.Privileges[0].Luid))
            return;
        DWORD returned = 0;
        // The previous state lists only what this call changed: nothing when
        // the privilege was on already or the token lacks it.
        if (platform.AdjustTokenPrivileges(token_.Get(), FALSE, &wanted, sizeof previous_,
                                           &previous_, &returned))
            changed_ = previous_.PrivilegeCount > 0;
    }
    ~DebugPrivilegeScope() {
        if (changed_)
            platform_.AdjustTokenPrivileges(token_.Get(), FALSE, &previous_, 0, nullptr, nullptr);
    }
    DebugPrivilegeScope(const DebugPrivilegeScope&) = delete;
    DebugPrivilegeScope& operator=(const DebugPrivilegeScope&) = delete;

private:
    Platform& platform_;
    UniqueHandle token_;
    TOKEN_PRIVILEGES previous_{};
    bool changed_ = false;
};

// The handles of other processes on the volume (those with serial `serial`).
void SearchHandles(Platform& platform, const NativeCalls& native, const wchar_t* volumeName,
                   DWORD serial, const std::map<DWORD, std::wstring>& names, Budget& budget,
                   Findings& found) {
    if (native.querySystemInformation == nullptr || native.queryVolumeInformationFile == nullptr) {
        found.incomplete = true;
        return;
    }
    // A handle of this process on the volume shows which type number the
    // table gives to files: the numbers differ between Windows releases.
    UniqueHandle marker(
        platform, platform.CreateFileW(volumeName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    const DWORD self = platform.GetCurrentProcessId();
    std::vector<TableEntry> table;
    bool wide = true;
    if (!marker || !ReadHandleTable(platform, native.querySystemInformation, table, wide)) {
        found.incomplete = true;
        return;
    }
    const ULONG_PTR mask = wide ? ~ULONG_PTR{0} : ULONG_PTR{0xFFFF};
    const auto markerValue = reinterpret_cast<ULONG_PTR>(marker.Get());
    bool typeKnown = false;
    USHORT fileType = 0;
    for (const TableEntry& e : table) {
        if (e.processId == (self & mask) && e.handle == (markerValue & mask)) {
            fileType = e.type;
            typeKnown = true;
        }
    }
    marker.Reset();
    // In the older table a process id past 16 bits would name another process.
    if (!typeKnown || (!wide && names.rbegin()->first > 0xFFFF)) {
        found.incomplete = true;
        return;
    }

    std::vector<Candidate> candidates;
    for (const TableEntry& e : table) {
        const auto pid = static_cast<DWORD>(e.processId);
        if (e.type != fileType || pid == 0 || pid == (self & mask) || names.count(pid) == 0 ||
            found.passedOver.count(pid) != 0)
            continue;
        candidates.push_back({pid, e.handle});
    }
    table.clear();
    table.shrink_to_fit();

    const HANDLE selfProcess = platform.GetCurrentProcess();
    UniqueHandle process(platform, nullptr);
    DWORD processOf = 0;
    for (size_t next = 0; next < candidates.size();) {
        if (!budget.WorkLeft()) {
            found.incomplete = true;
            return;
        }
        // One round: copies of up to kHandlesPerRound handles of processes
        // not settled yet.
        std::vector<UniqueHandle> copies;
        std::vector<DWORD> owners;
        copies.reserve(kHandlesPerRound);
        owners.reserve(kHandlesPerRound);
        for (; next < candidates.size() && copies.size() < kHandlesPerRound; ++next) {
            const Candidate& c = candidates[next];
            // The process open now is not settled (see the end of the round).
            const bool current = process && processOf == c.processId;
            if (!current && found.Settled(c.processId)) continue;
            if (!process || processOf != c.processId) {
                process.Reset(platform.OpenProcess(PROCESS_DUP_HANDLE, FALSE, c.processId));
                processOf = c.processId;
                if (!process) {
                    found.NotOpened(c.processId, platform.GetLastError());
                    continue;
                }
            }
            HANDLE copy = nullptr;
            // The handle may be closed, or its number reused, since the table
            // was read: whatever it is now is what gets asked about.
            if (!platform.DuplicateHandle(process.Get(), reinterpret_cast<HANDLE>(c.handle),
                                          selfProcess, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
                continue;
            copies.emplace_back(platform, copy);
            owners.push_back(c.processId);
        }
        if (copies.empty()) continue;

        auto* round = new Round(platform, native, serial, copies.size());
        for (size_t i = 0; i < copies.size(); ++i) {
            round->questions[i].file = copies[i].Get();
            round->questions[i].owner = owners[i];
        }
        const RoundEnd end = AskAll(platform, *round, budget);
        GiveUp(*round);
        // Whatever was answered counts, also when the round was cut short.
        for (size_t i = 0; i < round->count; ++i) {
            const Question& q = round->questions[i];
            if (q.state.load() != kAnswered || !OnVolume(q, serial)) continue;
            found.Hold(owners[i], q.pathSlot >= 0 ? DosPath(round->paths[q.pathSlot]) : L"");
        }
        Release(round);
        if (process && found.Settled(processOf)) process.Reset();
        if (end != RoundEnd::Done) {
            found.incomplete = true;
            return;
        }
    }
}

// The programs that run an image or DLL from the volume: mapped, they hold it
// without a handle.
void SearchModules(Platform& platform, const std::vector<std::wstring>& mounts,
                   const std::map<DWORD, std::wstring>& names, Budget& budget, Findings& found) {
    // Trayhop64 sees the modules of 32- and 64-bit processes; Trayhop32 only
    // those of 32-bit ones on a 64-bit system.
    constexpr DWORD flags =
        sizeof(void*) == 8 ? TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32 : TH32CS_SNAPMODULE;
    const DWORD self = platform.GetCurrentProcessId();
    for (const auto& [pid, name] : names) {
        if (pid == 0 || pid == self || found.Settled(pid)) continue;
        if (!budget.WorkLeft()) {
            found.incomplete = true;
            return;
        }
        UniqueHandle snapshot(platform, platform.CreateToolhelp32Snapshot(flags, pid));
        // A process loading or unloading a module makes the snapshot fail
        // with ERROR_BAD_LENGTH; it is taken again.
        for (int retry = 0; !snapshot && retry < 3 && platform.GetLastError() == ERROR_BAD_LENGTH;
             ++retry)
            snapshot.Reset(platform.CreateToolhelp32Snapshot(flags, pid));
        if (!snapshot) {
            // A 64-bit process seen from Trayhop32 (ERROR_PARTIAL_COPY) was
            // looked at through its handles; it is not counted.
            if (platform.GetLastError() == ERROR_ACCESS_DENIED) found.refused.insert(pid);
            continue;
        }
        MODULEENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = platform.Module32FirstW(snapshot.Get(), &entry); more;
             more = platform.Module32NextW(snapshot.Get(), &entry)) {
            entry.szExePath[sizeof entry.szExePath / sizeof(WCHAR) - 1] = L'\0';
            const std::wstring path = DosPath(entry.szExePath);
            if (UnderMountPath(path, mounts)) {
                found.Hold(pid, path);
                break;
            }
        }
    }
}

std::wstring HolderLine(const VolumeHolder& h) {
    std::wstring line = h.imageName + L" (" + std::to_wstring(h.processId);
    if (!h.services.empty()) {
        line += h.services.size() == 1 ? L", service " : L", services ";
        for (size_t i = 0; i < h.services.size(); ++i)
            line += (i == 0 ? L"" : L", ") + h.services[i];
    }
    line += L")";
    if (!h.held.empty()) line += L": " + ShortenHeldPath(h.held);
    return line;
}

}  // namespace

VolumeHolders FindVolumeHolders(Platform& platform, const wchar_t* volumeName,
                                DWORD budgetMilliseconds, DWORD stallMilliseconds) {
    VolumeHolders result;
    Budget budget{platform, platform.GetTickCount(), budgetMilliseconds, stallMilliseconds};
    const std::wstring root = std::wstring(volumeName != nullptr ? volumeName : L"") + L"\\";
    DWORD serial = 0;
    if (volumeName == nullptr || *volumeName == L'\0' ||
        !platform.GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr,
                                        nullptr, 0))
        return result;
    std::map<DWORD, std::wstring> names;
    if (!ReadProcessNames(platform, names)) return result;

    Findings found;
    // System's handles are the kernel's own, and lsass.exe is never opened:
    // security software takes any handle to it for an attack.
    for (const auto& [pid, name] : names)
        if (pid == 4 || CompareTextNoCase(name.c_str(), L"lsass.exe") == 0)
            found.passedOver.insert(pid);
    const size_t neverOpened = found.passedOver.size();

    NativeCalls native;
    LookUpNativeCalls(platform, native);
    std::vector<std::wstring> mounts;
    if (!ReadMountPaths(platform, root, mounts)) found.incomplete = true;
    {
        DebugPrivilegeScope privilege(platform);
        SearchHandles(platform, native, volumeName, serial, names, budget, found);
        if (!mounts.empty()) SearchModules(platform, mounts, names, budget, found);
    }
    const auto services = ReadServices(platform);

    for (const auto& [pid, held] : found.holders) {
        VolumeHolder holder{names[pid], pid, {}, held};
        if (auto it = services.find(pid); it != services.end()) holder.services = it->second;
        result.programs.push_back(std::move(holder));
    }
    std::sort(result.programs.begin(), result.programs.end(),
              [](const VolumeHolder& a, const VolumeHolder& b) {
                  const int byName = CompareTextNoCase(a.imageName.c_str(), b.imageName.c_str());
                  return byName != 0 ? byName < 0 : a.processId < b.processId;
              });
    result.refused = !found.refused.empty();
    result.notExamined = neverOpened + found.refused.size();
    result.incomplete = found.incomplete;
    return result;
}

std::vector<std::wstring> VolumeHolderLines(const VolumeHolders& found) {
    std::vector<std::wstring> lines;
    const size_t named = std::min(found.programs.size(), kHoldersNamed);
    for (size_t i = 0; i < named; ++i) lines.push_back(HolderLine(found.programs[i]));
    if (found.programs.size() > named)
        lines.push_back(L"and " + std::to_wstring(found.programs.size() - named) + L" more");
    if (found.refused && found.notExamined > 0)
        lines.push_back(found.notExamined == 1
                            ? std::wstring(L"1 other program could not be examined.")
                            : std::to_wstring(found.notExamined) +
                                  L" other programs could not be examined.");
    if (lines.empty()) return lines;
    if (found.incomplete) lines.push_back(L"The list may be incomplete.");
    return lines;
}

std::wstring DescribeVolumeHolders(const VolumeHolders& found, const std::wstring& mountPoint) {
    const std::vector<std::wstring> lines = VolumeHolderLines(found);
    if (lines.empty()) return {};
    std::wstring text;
    if (!found.programs.empty())
        text = L"These programs have files or folders open on drive " + mountPoint;
    for (const std::wstring& line : lines) text += (text.empty() ? L"" : L"\n") + line;
    return text;
}

std::wstring ShortenHeldPath(const std::wstring& path, size_t limit) {
    if (path.size() <= limit) return path;
    const std::wstring dots = L"...";
    // The root: "G:\" or the first component after it for a longer mount.
    const size_t rootEnd = path.find(L'\\');
    const std::wstring root = rootEnd == std::wstring::npos ? L"" : path.substr(0, rootEnd + 1);
    if (root.size() + dots.size() + 2 > limit) return dots + path.substr(path.size() - (limit - 3));
    const size_t room = limit - root.size() - dots.size();
    // The longest tail that starts at a component and fits.
    size_t from = path.size();
    for (size_t at = path.rfind(L'\\'); at != std::wstring::npos && at >= root.size();) {
        if (path.size() - at > room) break;
        from = at;
        if (at == 0) break;
        at = path.rfind(L'\\', at - 1);
    }
    if (from == path.size()) return root + dots + path.substr(path.size() - room);
    return root + dots + path.substr(from);
}
