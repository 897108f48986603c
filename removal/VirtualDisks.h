// Drives that are no devices to pull. A mounted ISO, VHD or VHDX (a Dev
// Drive too) is a disk or CD-ROM drive on the File Backed Virtual bus:
// uninstalling it would leave the image attached (the file cannot be moved or
// deleted) and bring the disk back at the next scan, so its image is detached
// instead. A Storage Spaces virtual disk sits on the Spaces bus and is left
// alone.
#pragma once

#include "inventory/DriveRecord.h"
#include "platform/Platform.h"

#include <string>

enum class VirtualKind {
    None,          // a device that can be pulled
    ImageFile,     // backed by an ISO, VHD or VHDX file
    StorageSpace,  // a Storage Spaces virtual disk
};

VirtualKind VirtualKindOf(const DriveRecord& record);

struct ImageDetach {
    bool detached = false;
    // Why not: the error of the call that failed; ERROR_MOD_NOT_FOUND or
    // ERROR_PROC_NOT_FOUND when Windows has no virtual disk service.
    DWORD error = ERROR_SUCCESS;
    // The image file as Windows names it (the volume that holds it and the
    // path below), once found.
    std::wstring image;
};

// True when the error says this Windows has no virtual disk service to call.
bool VirtualDiskServiceMissing(DWORD error);

// Detaches the image file behind a disk or CD-ROM drive on the File Backed
// Virtual bus, through the virtual disk service (virtdisk.dll, loaded from
// the system folder and looked up at run time: XP and Vista have none). The
// device goes with its image. Nothing stays open or loaded.
ImageDetach DetachDiskImage(Platform& platform, const DriveRecord& record);
