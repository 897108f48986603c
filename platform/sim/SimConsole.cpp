// The simulated machine's side of the console program: standard handles that
// are a console or a file, the owners of named mutexes (the lock the window
// and the console program share), and the Administrators check.
#include "platform/sim/SimInternal.h"

#include <chrono>
#include <mutex>
#if defined(_GLIBCXX_HAS_GTHREADS)
#include <condition_variable>
#endif

using sim::FromPtr;

namespace {

constexpr std::uintptr_t kStdOutput = 0x7001;
constexpr std::uintptr_t kStdError = 0x7002;
// The owner of a mutex held by another process.
constexpr std::uintptr_t kElsewhere = 1;
// A blocking wait for INFINITE still ends: a test that never lets its
// waiters run fails instead of hanging.
constexpr DWORD kLongestBlockingWait = 60000;

std::string HandleText(HANDLE h) {
    return sim::Hex(reinterpret_cast<std::uintptr_t>(h));
}

#if defined(_GLIBCXX_HAS_GTHREADS)
using SimLock = std::mutex;
using SimCondition = std::condition_variable;
#else
// The win32 thread model's runtime (the demo exes) has no std::mutex; it
// never runs a second thread on the machine, so the lock is a formality.
struct SimLock {
    void lock() {}
    void unlock() {}
};
struct SimCondition {
    void notify_all() {}
};
#endif

// Holds a SimLock for the life of the guard.
class Guard {
public:
    explicit Guard(SimLock& lock) : lock_(lock) { lock_.lock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() { lock_.unlock(); }

private:
    SimLock& lock_;
};

struct SimSid {
    SID_IDENTIFIER_AUTHORITY authority{};
    std::vector<DWORD> subAuthorities;
    size_t madeByCall = 0;
};

}  // namespace

struct SimMachine::ConsoleState {
    struct Owner {
        std::uintptr_t handle = 0;  // 0: free
        int count = 0;              // recursive acquisitions
        bool abandoned = false;
    };
    // Guards `owners`, `blocked` and `waitersMayRun`: a blocked waiter reads
    // them from its own thread.
    mutable SimLock lock;
    SimCondition changed;
    std::map<std::wstring, Owner> owners;
    size_t blocked = 0;
    bool waitersMayRun = false;
    std::map<const void*, std::unique_ptr<SimSid>> sids;
};

SimMachine::ConsoleState& SimMachine::Console() const {
    if (!console_) const_cast<SimMachine*>(this)->console_ = std::make_shared<ConsoleState>();
    return *console_;
}

void SimMachine::HoldMutexElsewhere(const std::wstring& name) {
    ConsoleState& c = Console();
    Guard guard(c.lock);
    c.owners[name] = ConsoleState::Owner{kElsewhere, 1, false};
    state_->mutexes[name] += 1;
}

void SimMachine::ReleaseMutexElsewhere(const std::wstring& name) {
    ConsoleState& c = Console();
    {
        Guard guard(c.lock);
        auto it = c.owners.find(name);
        if (it == c.owners.end() || it->second.handle != kElsewhere) return;
        it->second = ConsoleState::Owner{};
    }
    c.changed.notify_all();
    auto m = state_->mutexes.find(name);
    if (m != state_->mutexes.end() && --m->second <= 0) state_->mutexes.erase(m);
}

bool SimMachine::MutexOwned(const std::wstring& name) const {
    ConsoleState& c = Console();
    Guard guard(c.lock);
    auto it = c.owners.find(name);
    return it != c.owners.end() && it->second.handle != 0;
}

void SimMachine::LetWaitersRun() {
    ConsoleState& c = Console();
    {
        Guard guard(c.lock);
        c.waitersMayRun = true;
    }
    c.changed.notify_all();
}

size_t SimMachine::BlockedWaiters() const {
    ConsoleState& c = Console();
    Guard guard(c.lock);
    return c.blocked;
}

DWORD SimMachine::WaitForMutex(std::uintptr_t handle, const std::wstring& name,
                               DWORD milliseconds) {
    ConsoleState& c = Console();
    auto take = [&](ConsoleState::Owner& owner) {
        const bool abandoned = owner.abandoned;
        owner = ConsoleState::Owner{handle, 1, false};
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    };
    std::uintptr_t ownerHandle = 0;
    {
        Guard guard(c.lock);
        ConsoleState::Owner& owner = c.owners[name];
        if (owner.handle == 0) return take(owner);
        if (owner.handle == handle) {
            ++owner.count;
            return WAIT_OBJECT_0;
        }
        ownerHandle = owner.handle;
    }
    if (mutexWaitHook) {
        mutexWaitHook(name);
        Guard guard(c.lock);
        ConsoleState::Owner& owner = c.owners[name];
        if (owner.handle == 0) return take(owner);
    }
#if defined(_GLIBCXX_HAS_GTHREADS)
    if (mutexWaitsBlock && ownerHandle != kElsewhere) {
        std::unique_lock guard(c.lock);
        ++c.blocked;
        c.changed.notify_all();
        const DWORD limit =
            milliseconds < kLongestBlockingWait ? milliseconds : kLongestBlockingWait;
        const bool free = c.changed.wait_for(guard, std::chrono::milliseconds(limit), [&] {
            return c.waitersMayRun && c.owners[name].handle == 0;
        });
        --c.blocked;
        if (free) return take(c.owners[name]);
        return WAIT_TIMEOUT;
    }
#else
    (void)ownerHandle;
#endif
    if (milliseconds != INFINITE) tickCount += milliseconds;
    return WAIT_TIMEOUT;
}

void SimMachine::MutexHandleClosed(std::uintptr_t handle) {
    if (!console_) return;
    ConsoleState& c = *console_;
    {
        Guard guard(c.lock);
        for (auto& [name, owner] : c.owners)
            if (owner.handle == handle) owner = ConsoleState::Owner{0, 0, true};
    }
    c.changed.notify_all();
}

std::string SimMachine::ConsoleLeaks() const {
    std::string report;
    if (!console_) return report;
    for (const auto& [sid, record] : console_->sids)
        report += "SID made by call " + std::to_string(record->madeByCall) + "\n";
    return report;
}

HANDLE SimMachine::GetStdHandle(DWORD nStdHandle) {
    if (auto e = State::Enter(*this, "GetStdHandle", [&] { return sim::Hex(nStdHandle); })) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    if (nStdHandle == STD_OUTPUT_HANDLE) return reinterpret_cast<HANDLE>(kStdOutput);
    if (nStdHandle == STD_ERROR_HANDLE) return reinterpret_cast<HANDLE>(kStdError);
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
}

namespace {

SimMachine::StdStream* StreamOf(SimMachine& m, HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == kStdOutput) return &m.standardOutput;
    if (value == kStdError) return &m.standardError;
    return nullptr;
}

}  // namespace

BOOL SimMachine::GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    if (auto e =
            State::Enter(*this, "GetConsoleMode", [&] { return HandleText(hConsoleHandle); })) {
        SetLastError(*e);
        return FALSE;
    }
    StdStream* stream = StreamOf(*this, hConsoleHandle);
    if (stream == nullptr || !stream->console || lpMode == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpMode = 3;  // ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT
    return TRUE;
}

BOOL SimMachine::WriteConsoleW(HANDLE hConsoleOutput, const VOID* lpBuffer,
                               DWORD nNumberOfCharsToWrite, LPDWORD lpNumberOfCharsWritten,
                               LPVOID lpReserved) {
    (void)lpReserved;
    if (auto e = State::Enter(*this, "WriteConsoleW", [&] {
            return HandleText(hConsoleOutput) + " " + std::to_string(nNumberOfCharsToWrite);
        })) {
        SetLastError(*e);
        return FALSE;
    }
    StdStream* stream = StreamOf(*this, hConsoleOutput);
    if (stream == nullptr || !stream->console) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    stream->text.append(static_cast<const WCHAR*>(lpBuffer), nNumberOfCharsToWrite);
    if (lpNumberOfCharsWritten) *lpNumberOfCharsWritten = nNumberOfCharsToWrite;
    return TRUE;
}

BOOL SimMachine::WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                           LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    (void)lpOverlapped;
    if (auto e = State::Enter(*this, "WriteFile", [&] {
            return HandleText(hFile) + " " + std::to_string(nNumberOfBytesToWrite);
        })) {
        SetLastError(*e);
        return FALSE;
    }
    if (lpNumberOfBytesWritten == nullptr) {
        // Windows requires it when there is no overlapped structure.
        State::ProgramError(*this, "WriteFile without lpNumberOfBytesWritten");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    StdStream* stream = StreamOf(*this, hFile);
    if (stream == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    stream->bytes.append(static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

BOOL SimMachine::ReleaseMutex(HANDLE hMutex) {
    if (auto e = State::Enter(*this, "ReleaseMutex", [&] { return HandleText(hMutex); })) {
        SetLastError(*e);
        return FALSE;
    }
    auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(hMutex));
    if (it == state_->handles.end() || it->second.kind != State::Kind::Mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ConsoleState& c = Console();
    {
        Guard guard(c.lock);
        ConsoleState::Owner& owner = c.owners[it->second.what];
        if (owner.handle != it->first) {
            SetLastError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--owner.count > 0) return TRUE;
        owner = ConsoleState::Owner{};
    }
    c.changed.notify_all();
    return TRUE;
}

BOOL SimMachine::AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                          BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                          DWORD nSubAuthority1, DWORD nSubAuthority2,
                                          DWORD nSubAuthority3, DWORD nSubAuthority4,
                                          DWORD nSubAuthority5, DWORD nSubAuthority6,
                                          DWORD nSubAuthority7, PSID* pSid) {
    if (auto e = State::Enter(*this, "AllocateAndInitializeSid",
                              [&] { return std::to_string(nSubAuthorityCount); })) {
        SetLastError(*e);
        return FALSE;
    }
    if (pIdentifierAuthority == nullptr || pSid == nullptr || nSubAuthorityCount == 0 ||
        nSubAuthorityCount > 8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD all[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                          nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
    auto sid = std::make_unique<SimSid>();
    sid->authority = *pIdentifierAuthority;
    sid->subAuthorities.assign(all, all + nSubAuthorityCount);
    sid->madeByCall = callCount_;
    *pSid = sid.get();
    Console().sids[sid.get()] = std::move(sid);
    return TRUE;
}

BOOL SimMachine::CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
    if (auto e =
            State::Enter(*this, "CheckTokenMembership", [&] { return HandleText(TokenHandle); })) {
        SetLastError(*e);
        return FALSE;
    }
    auto it = Console().sids.find(SidToCheck);
    if (it == Console().sids.end() || IsMember == nullptr) {
        State::ProgramError(*this, "CheckTokenMembership with an unknown SID");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SimSid& sid = *it->second;
    const bool ntAuthority = sid.authority.Value[5] == 5 && sid.authority.Value[0] == 0;
    const bool administrators = ntAuthority && sid.subAuthorities.size() == 2 &&
                                sid.subAuthorities[0] == SECURITY_BUILTIN_DOMAIN_RID &&
                                sid.subAuthorities[1] == DOMAIN_ALIAS_RID_ADMINS;
    *IsMember = administrators && runsElevated ? TRUE : FALSE;
    return TRUE;
}

PVOID SimMachine::FreeSid(PSID pSid) {
    if (State::Enter(*this, "FreeSid", [&] { return std::string(); })) return pSid;
    if (Console().sids.erase(pSid) == 0) {
        State::ProgramError(*this, "FreeSid on an unknown or freed SID");
        return pSid;
    }
    return nullptr;
}
