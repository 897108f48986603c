// Results of CTrayhop32Dlg::ReenumerateDevices.
#pragma once

enum ScanResult : int {
    ScanOk = 0,
    // Locating the root or re-enumerating failed for a reason other than rights.
    ScanFailed = 2,
    // The configuration manager answered CR_ACCESS_DENIED.
    ScanAccessDenied = 4,
};
