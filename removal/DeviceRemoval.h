// Removal of devices through the device installer's remove function
// (DIF_REMOVE, for all hardware profiles), and the pattern that chooses them.
//
// Pattern forms, by the first character:
//   "=Class"        every present device of that setup class
//   "*"             every present device
//   "@id"           the device with that instance identifier, present or not
//   "@id*with*stars" every present device whose instance identifier matches
//   "@'id"          the device whose instance identifier is id, taken literally
//   anything else   every present device with a hardware or compatible
//                   identifier that matches
// "*" stands for any run of characters; every comparison ignores case.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum RemoveResult : int {
    RemoveOk = 0,            // removed, no restart asked for
    RemoveRebootNeeded = 1,  // removed, and some removed device wants a restart
    RemoveFailed = 2,        // the walk was not possible; nothing was touched
    RemoveNothing = 3,       // the walk completed but no device was removed
};

// What RemoveOneDevice achieved over one RemoveDevice call.
struct RemovalTally {
    std::int32_t removedCount = 0;
    bool rebootNeeded = false;
};

// One parsed pattern. The pointers point into the caller's text.
struct DevicePattern {
    const WCHAR* text = nullptr;      // past the "@" and "'" prefixes
    const WCHAR* wildcard = nullptr;  // first "*" in text, or null
    bool isInstanceId = false;
};

// Device identifiers hold at most 200 characters.
inline constexpr DWORD kDeviceIdChars = 201;

// Removes every device the pattern selects. RemoveNothing when none was
// removed: no device matched, or the installer declined each of them.
RemoveResult RemoveDevice(Platform& platform, const WCHAR* pattern);

// Walks the devices the pattern selects and hands each to RemoveOneDevice.
// RemoveOk once the walk completed, RemoveFailed when it was not possible.
RemoveResult RemoveMatchingDevices(Platform& platform, const WCHAR* pattern, RemovalTally& tally);

// Removes one device of the set; counts it in the tally only when the class
// installer removed it. Failures are silent so the walk goes on.
void RemoveOneDevice(Platform& platform, HDEVINFO set, SP_DEVINFO_DATA& device,
                     RemovalTally& tally);

DevicePattern ParseDevicePattern(const WCHAR* text);
bool MatchDevicePattern(const DevicePattern& pattern, const WCHAR* id);

// True when any identifier of the list matches; false for a missing list.
bool MatchAnyId(const std::optional<std::vector<std::wstring>>& list, const DevicePattern& pattern);
