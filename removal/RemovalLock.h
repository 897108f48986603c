// One removal or scan at a time on the whole machine, whichever program runs
// it: the window's Scan and Remove Devices and the console program's remove
// and scan each hold this lock while they work. A named mutex, so a program
// that ends or crashes while holding it frees it (abandoned) for the next.
#pragma once

#include "platform/Owners.h"
#include "platform/Platform.h"

// Global: the window may run elevated in one session and a scheduled console
// removal as another account in another.
inline constexpr wchar_t kRemovalLockName[] = L"Global\\Quenwell Trayhop Removal";

// A named mutex every account on the machine may open (a present but null
// DACL), or null with the last error set.
HANDLE CreateMutexForEveryone(Platform& platform, const wchar_t* name);

enum class LockWait {
    Acquired,  // held until the RemovalLock goes
    TimedOut,  // another removal or scan held it for the whole wait
    Failed,    // the lock could not be made or waited on (error())
};

class RemovalLock {
public:
    explicit RemovalLock(Platform& platform) : platform_(platform), mutex_(platform) {}
    RemovalLock(const RemovalLock&) = delete;
    RemovalLock& operator=(const RemovalLock&) = delete;
    ~RemovalLock();

    // Waits up to `milliseconds` for the other holder to finish.
    LockWait Acquire(DWORD milliseconds);
    DWORD Error() const { return error_; }

private:
    Platform& platform_;
    UniqueHandle mutex_;
    bool held_ = false;
    DWORD error_ = 0;

    bool Open();
};
