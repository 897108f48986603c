// The About box (template 109): the icon, the name and version, and OK.
#pragma once

#include "platform/Platform.h"

class CAboutDlg {
public:
    // Runs the box modally, owned by and centred over the given window; the
    // platform tells its display scale.
    static INT_PTR DoModal(HINSTANCE instance, HWND owner, Platform& platform);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};
