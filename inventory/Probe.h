// Attaching volumes and drive letters to the devices of the drive table, and
// the two routines the device enumeration shares with it: the storage
// descriptor query and the report of a system error.
#pragma once

#include "inventory/DriveTable.h"
#include "platform/Platform.h"

#include <cstring>
#include <string>
#include <vector>

inline constexpr int kDescriptorTextChars = 100;

// What a storage device says about itself. `header` is the fixed part of the
// STORAGE_DEVICE_DESCRIPTOR as the second query returned it (all zero when it
// failed); the four strings are taken from inside the returned bytes only and
// converted from the ANSI code page, cut to 99 characters.
struct StorageDescriptor {
    STORAGE_DEVICE_DESCRIPTOR header{};
    WCHAR vendorId[kDescriptorTextChars] = {};
    WCHAR productId[kDescriptorTextChars] = {};
    WCHAR productRevision[kDescriptorTextChars] = {};
    WCHAR serialNumber[kDescriptorTextChars] = {};
};

// A driver may fill an enum field with any 32 bits: the field is read as the
// DWORD it holds, never as the enum, which cannot hold values beyond its names.
template <typename Enum>
DWORD RawEnumValue(const Enum& field) {
    static_assert(sizeof(Enum) == sizeof(DWORD));
    DWORD value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// Asks an open storage device for its descriptor: a fixed-size query to learn
// the size, then the whole descriptor. Failures are shown with
// ReportSystemError; a failed query leaves the descriptor empty (bus type 0,
// SCSI device type 0). True when the full descriptor was read.
bool QueryStorageDescriptor(Platform& platform, HANDLE device, StorageDescriptor& descriptor);

// Shows the system's text for an error code in an error box, after writing it
// to the debugger output. Codes 1, 21 and 50 are expected answers of devices
// without media or without the request, and stay silent.
void ReportSystemError(Platform& platform, DWORD code);

// What a volume is mounted as: its drive letter (0 for none) and the folders
// it is mounted in ("C:\\Backup\\").
struct VolumeMounts {
    WCHAR letter = 0;
    std::vector<std::wstring> folders;
};

// Attaches a volume to the records of the physical drives it lies on, or, for
// a volume without disk extents, to the record of the device the volume names
// or with the same storage identifier. `volumeName` is the volume's GUID path
// without its trailing backslash. A volume whose device is not in the table
// is dropped without a message.
void ProbeVolume(Platform& platform, DriveTable& table, const VolumeMounts& mounts,
                 const WCHAR* volumeName);
// The same for the volume of one drive letter: `root` is the drive's root
// path ("E:\"), its first character the letter.
void ProbeVolume(Platform& platform, DriveTable& table, const WCHAR* root, const WCHAR* volumeName);
