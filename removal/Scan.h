// Re-enumeration of the device tree, for the window's Scan for Devices and
// the console program's scan.
#pragma once

#include "app/ProgramName.h"
#include "platform/Platform.h"

enum ScanResult : int {
    ScanOk = 0,
    // Locating the root or re-enumerating failed for a reason other than rights.
    ScanFailed = 2,
    // The configuration manager answered CR_ACCESS_DENIED.
    ScanAccessDenied = 4,
};

// Asks the configuration manager to enumerate the whole device tree again
// and waits until it has: new devices are then present.
ScanResult ReenumerateDeviceTree(Platform& platform);

// What a user without the right to re-enumerate is told.
inline constexpr const wchar_t* kScanAccessDeniedMessage =
    L"" TRAYHOP_PROGRAM_NAME L" can not scan for new devices because your user account does\n"
    L"not have sufficient security privileges to uninstall or to change device\n"
    L"properties.  Please contact your site administrator and ask them to change\n"
    L"your security privileges, or logout of this account and logon back in using\n"
    L"an account that has administrator privileges.";
