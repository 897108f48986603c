// The walk over the machine's volumes that attaches each to its devices:
// every drive letter's volume, in letter order, and then the volumes that
// have no letter (mounted only in folders, or not at all). Each comes with
// the folders it is mounted in.
#pragma once

#include "inventory/DriveTable.h"
#include "platform/Platform.h"

// Volumes of CD/DVD drives are left out when `ignoreCdrom` is set, and so
// are network drives, RAM disks and letters that are not a volume's mount
// point (SUBST). A: and B: are passed over when they are floppy drives.
void AttachVolumes(Platform& platform, DriveTable& table, bool ignoreCdrom);
