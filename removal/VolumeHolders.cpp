// The search for the programs that hold a volume. The system handle table
// lists every open handle with its process; each handle of the file type is
// copied into this process and asked which volume it is on (by serial
// number). Those questions wait for the file's lock, and a file another
// program is in the middle of a synchronous read on (a pipe, a folder being
// watched) keeps it forever, so they run on a worker thread that the search
// leaves behind when it stalls; see ARCHITECTURE.md.
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
};

bool LookUpNativeCalls(Platform& platform, NativeCalls& calls) {
    HMODULE ntdll = platform.GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return false;
    calls.querySystemInformation = platform.GetProcAddress(ntdll, "NtQuerySystemInformation");
    calls.queryVolumeInformationFile =
        platform.GetProcAddress(ntdll, "NtQueryVolumeInformationFile");
    return calls.querySystemInformation != nullptr && calls.queryVolumeInformationFile != nullptr;
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

struct Question {
    HANDLE file = nullptr;  // a copy owned by the search, never closed by the worker
    std::atomic<int> state{kPending};
    DWORD fileType = FILE_TYPE_UNKNOWN;
    NTSTATUS status = -1;
    IO_STATUS_BLOCK io{};
    // The fixed part and room for a volume label of 32 characters.
    alignas(8) BYTE volume[sizeof(FILE_FS_VOLUME_INFORMATION) + 32 * sizeof(WCHAR)] = {};
};

struct Round {
    Round(Platform& p, FARPROC query, size_t n)
        : platform(&p), queryVolume(query), questions(new Question[n]), count(n) {}
    Platform* platform;
    FARPROC queryVolume;
    std::unique_ptr<Question[]> questions;
    size_t count;
    std::atomic<size_t> start{0};     // where the next worker begins
    std::atomic<size_t> current{0};   // the question the latest worker is on
    std::atomic<size_t> answered{0};  // progress, for telling slow from stuck
    std::atomic<int> users{1};        // the search and each worker still running
};

void Release(Round* round) {
    if (round->users.fetch_sub(1) == 1) delete round;
}

DWORD WINAPI AskQuestions(LPVOID parameter) {
    Round* round = static_cast<Round*>(parameter);
    for (size_t i = round->start.load(); i < round->count; ++i) {
        Question& q = round->questions[i];
        int expected = kPending;
        if (!q.state.compare_exchange_strong(expected, kAsking)) break;
        round->current.store(i);
        q.fileType = round->platform->GetFileType(q.file);
        if (q.fileType == FILE_TYPE_DISK)
            q.status = round->platform->NtQueryVolumeInformationFile(
                round->queryVolume, q.file, &q.io, q.volume, sizeof q.volume,
                FileFsVolumeInformation);
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

// Asks every question of the round before `deadline` (a tick count relative
// to `started`). A question stuck for kStallMilliseconds is abandoned with
// its worker, and a new worker goes on after it. False when time ran out or
// a thread could not be had.
bool AskAll(Platform& platform, Round& round, DWORD started, DWORD budget) {
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
            return false;
        }
        size_t seen = round.answered.load();
        for (;;) {
            const DWORD used = platform.GetTickCount() - started;
            if (used >= budget) return false;
            const DWORD wait = platform.WaitForSingleObject(
                worker.Get(), std::min<DWORD>(budget - used, kStallMilliseconds));
            if (wait == WAIT_OBJECT_0) {
                begin = round.count;
                break;
            }
            if (wait != WAIT_TIMEOUT) return false;
            const size_t now = round.answered.load();
            if (now != seen) {
                seen = now;
                continue;
            }
            const size_t stuck = round.current.load();
            int expected = kAsking;
            if (round.questions[stuck].state.compare_exchange_strong(expected, kAbandoned)) {
                // That worker stays with its question; its thread handle is
                // closed, the thread ends whenever the question returns.
                begin = stuck + 1;
                break;
            }
        }
    }
    return true;
}

struct Candidate {
    DWORD processId;
    ULONG_PTR handle;
};

// The search over the volume whose root directory is `root` and which opens
// as `device`.
std::vector<VolumeHolder> FindHolders(Platform& platform, const WCHAR* root, const WCHAR* device,
                                      DWORD budgetMilliseconds) {
    const DWORD started = platform.GetTickCount();
    NativeCalls native;
    if (!LookUpNativeCalls(platform, native)) return {};

    DWORD serial = 0;
    if (!platform.GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        return {};

    // A handle of this process on the volume shows which type number the
    // table gives to files: the numbers differ between Windows releases.
    UniqueHandle marker(platform,
                        platform.CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    if (!marker) return {};
    const DWORD self = platform.GetCurrentProcessId();
    std::vector<TableEntry> table;
    bool wide = true;
    if (!ReadHandleTable(platform, native.querySystemInformation, table, wide)) return {};
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
    if (!typeKnown) return {};

    std::map<DWORD, std::wstring> names;
    if (!ReadProcessNames(platform, names)) return {};
    // In the older table a process id past 16 bits would name another process.
    if (!wide && names.rbegin()->first > 0xFFFF) return {};

    std::vector<Candidate> candidates;
    for (const TableEntry& e : table) {
        const auto pid = static_cast<DWORD>(e.processId);
        if (e.type != fileType || pid == 0 || pid == (self & mask) || names.count(pid) == 0)
            continue;
        candidates.push_back({pid, e.handle});
    }
    table.clear();
    table.shrink_to_fit();

    std::set<DWORD> holders, refused;
    const HANDLE selfProcess = platform.GetCurrentProcess();
    UniqueHandle process(platform, nullptr);
    DWORD processOf = 0;
    for (size_t next = 0; next < candidates.size();) {
        if (platform.GetTickCount() - started >= budgetMilliseconds) return {};
        // One round: copies of up to kHandlesPerRound handles of processes
        // not known yet as holders.
        std::vector<UniqueHandle> copies;
        std::vector<DWORD> owners;
        for (; next < candidates.size() && copies.size() < kHandlesPerRound; ++next) {
            const Candidate& c = candidates[next];
            if (holders.count(c.processId) != 0 || refused.count(c.processId) != 0) continue;
            if (!process || processOf != c.processId) {
                process.Reset(platform.OpenProcess(PROCESS_DUP_HANDLE, FALSE, c.processId));
                processOf = c.processId;
                if (!process) {
                    // No rights to it, or it has ended since the table was read.
                    refused.insert(c.processId);
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

        auto* round = new Round(platform, native.queryVolumeInformationFile, copies.size());
        for (size_t i = 0; i < copies.size(); ++i) round->questions[i].file = copies[i].Get();
        const bool complete = AskAll(platform, *round, started, budgetMilliseconds);
        GiveUp(*round);
        if (complete) {
            for (size_t i = 0; i < round->count; ++i) {
                const Question& q = round->questions[i];
                if (q.state.load() != kAnswered || q.fileType != FILE_TYPE_DISK) continue;
                // A label longer than the room still leaves the serial number.
                if (q.status < 0 && q.status != kStatusBufferOverflow) continue;
                FILE_FS_VOLUME_INFORMATION info;
                std::memcpy(&info, q.volume, offsetof(FILE_FS_VOLUME_INFORMATION, VolumeLabel));
                if (info.VolumeSerialNumber == serial) holders.insert(owners[i]);
            }
        }
        Release(round);
        if (!complete) return {};
    }
    process.Reset();

    std::vector<VolumeHolder> found;
    for (DWORD pid : holders) found.push_back({names[pid], pid});
    std::sort(found.begin(), found.end(), [](const VolumeHolder& a, const VolumeHolder& b) {
        const int byName = CompareTextNoCase(a.imageName.c_str(), b.imageName.c_str());
        return byName != 0 ? byName < 0 : a.processId < b.processId;
    });
    return found;
}

}  // namespace

std::vector<VolumeHolder> FindVolumeHolders(Platform& platform, WCHAR letter,
                                            DWORD budgetMilliseconds) {
    const WCHAR root[] = {letter, L':', L'\\', L'\0'};
    const WCHAR device[] = {L'\\', L'\\', L'.', L'\\', letter, L':', L'\0'};
    return FindHolders(platform, root, device, budgetMilliseconds);
}

std::vector<VolumeHolder> FindVolumeHolders(Platform& platform, const WCHAR* volumeName,
                                            DWORD budgetMilliseconds) {
    if (volumeName == nullptr || volumeName[0] == L'\0') return {};
    const std::wstring root = std::wstring(volumeName) + L'\\';
    return FindHolders(platform, root.c_str(), volumeName, budgetMilliseconds);
}

std::wstring DescribeVolumeHolders(const std::vector<VolumeHolder>& holders, WCHAR letter) {
    return DescribeVolumeHolders(holders, std::wstring{letter, L':'});
}

std::wstring DescribeVolumeHolders(const std::vector<VolumeHolder>& holders,
                                   const std::wstring& mountPoint) {
    if (holders.empty()) return {};
    std::wstring text = L"These programs have files or folders open on drive " + mountPoint;
    const size_t named = std::min(holders.size(), kHoldersNamed);
    for (size_t i = 0; i < named; ++i)
        text += L"\n" + holders[i].imageName + L" (" + std::to_wstring(holders[i].processId) + L")";
    if (holders.size() > named)
        text += L"\nand " + std::to_wstring(holders.size() - named) + L" more";
    return text;
}
