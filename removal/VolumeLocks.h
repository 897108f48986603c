// The checks made on a drive's volumes just before it is removed: whether
// each can be locked exclusively (nothing has files open on it), and writing
// out what is cached for each.
#pragma once

#include "inventory/DriveRecord.h"
#include "platform/Platform.h"

#include <set>
#include <string>

enum class LockTestOutcome {
    Free,          // every volume was locked (or there are none)
    InUse,         // a volume refused the lock, or could not be opened
    AccessDenied,  // opening a volume was refused for lack of rights
};

struct LockTestResult {
    LockTestOutcome outcome = LockTestOutcome::Free;
    int volume = -1;  // the record's volume that failed, by index
};

// Locks and at once unlocks each volume of the record, in order, and stops at
// the first that fails. Volumes named in `tested` (a spanned volume already
// tested with another of its devices) are passed over. A volume without
// media, locked by BitLocker or already gone (not ready, no media, locked,
// not found, not connected) has nothing open on it and passes. Nothing stays
// locked or open.
LockTestResult TestVolumeLocks(Platform& platform, const DriveRecord& record,
                               const std::set<std::wstring>* tested = nullptr);

// Opens each volume of the record exclusively and flushes its buffers; goes
// on past failures. True when any volume failed to open or to flush.
bool FlushVolumes(Platform& platform, const DriveRecord& record);
