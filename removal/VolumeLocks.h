// The checks made on a drive's volumes just before it is removed: whether
// each can be locked exclusively (nothing has files open on it), and writing
// out what is cached for each.
#pragma once

#include "inventory/DriveRecord.h"
#include "platform/Platform.h"

// Locks and at once unlocks each volume of the record, in order, and stops at
// the first that fails. Returns 0 when every volume was locked (or there are
// none); the upper-case drive letter of a volume that refused the lock or
// could not be opened; or that letter in lower case when opening it was
// refused for lack of rights. A volume without media, locked by BitLocker or
// already gone (not ready, no media, locked, not found, not connected) has
// nothing open on it and passes. Nothing stays locked or open.
WCHAR TestVolumeLocks(Platform& platform, const DriveRecord& record);

// Opens each volume of the record exclusively and flushes its buffers; goes
// on past failures. True when any volume failed to open or to flush.
bool FlushVolumes(Platform& platform, const DriveRecord& record);
