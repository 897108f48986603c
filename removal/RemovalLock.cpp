#include "removal/RemovalLock.h"

HANDLE CreateMutexForEveryone(Platform& platform, const wchar_t* name) {
    // A present but null DACL lets every account on the machine open it.
    SECURITY_DESCRIPTOR descriptor{};
    platform.InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    platform.SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);

    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;
    return platform.CreateMutexW(&attributes, FALSE, name);
}

RemovalLock::~RemovalLock() {
    if (held_) platform_.ReleaseMutex(mutex_.Get());
}

bool RemovalLock::Open() {
    if (mutex_.Valid()) return true;
    mutex_.Reset(CreateMutexForEveryone(platform_, kRemovalLockName));
    if (!mutex_.Valid()) error_ = platform_.GetLastError();
    return mutex_.Valid();
}

LockWait RemovalLock::Acquire(DWORD milliseconds) {
    if (held_) return LockWait::Acquired;
    if (!Open()) return LockWait::Failed;
    const DWORD result = platform_.WaitForSingleObject(mutex_.Get(), milliseconds);
    // Abandoned: the last holder ended without letting go; what it was doing
    // is over either way, and the lock is now ours.
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        held_ = true;
        return LockWait::Acquired;
    }
    if (result == WAIT_TIMEOUT) return LockWait::TimedOut;
    error_ = platform_.GetLastError();
    return LockWait::Failed;
}
