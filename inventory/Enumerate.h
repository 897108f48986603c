// Walks the present devices of the storage setup classes, opens each through
// its own device interface, asks it who it is, filters it by the bus options
// and appends one record per accepted device to the drive table.
#pragma once

#include "inventory/DriveTable.h"
#include "platform/Platform.h"

#include <memory>

// Results of EnumerateStorageClasses.
inline constexpr int kEnumerateDone = 0;
inline constexpr int kEnumerateFailed = 2;
inline constexpr int kEnumerateNoClasses = 3;

// One walk over the storage classes: where the records go, and the record of
// the device being enumerated. The slot is empty before the first device and
// after a dropped one; after an accepted one it points to the appended record.
struct EnumerationContext {
    EnumerationContext(Platform& p, DriveTable& t) : platform(p), table(t) {}

    Platform& platform;
    DriveTable& table;
    // Owned while the device is being filled; handed to the table on accept.
    std::unique_ptr<DriveRecord> pending;
    DriveRecord* current = nullptr;
    // Off for a listing of every drive (the console program's list --all).
    bool applyBusOptions = true;
};

// Walks the present devices of each named setup class in order (absent or
// empty names are skipped) and appends the accepted ones to the table.
// kEnumerateDone when done, kEnumerateNoClasses for an empty list,
// kEnumerateFailed when a name could not be resolved or memory ran out (the
// names after it are not walked; what was appended stays). Without
// applyBusOptions every bus is accepted, whatever the options say.
int EnumerateStorageClasses(Platform& platform, DriveTable& table, const WCHAR* const* classNames,
                            int classCount, bool applyBusOptions = true);

// The per-device step: reads the name and instance identifier, creates the
// record, fills it through the device's interface, and keeps or drops it.
// The device's position in its class list plays no part: the interface is
// found by the device itself.
void EnumerateOneDevice(EnumerationContext& context, HDEVINFO set, SP_DEVINFO_DATA& device);

// Opens the device through the interface that belongs to it (listed by its
// instance identifier, which the record under construction holds, and
// checked against the device; without an identifier the whole interface
// class is searched) and fills that record. True when the device is
// accepted; false when it cannot be opened or read, or its bus is ignored.
bool FillFromInterface(EnumerationContext& context, SP_DEVINFO_DATA& device);
