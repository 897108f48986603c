// A dialog through changes of its display scale (WM_DPICHANGED). Windows 10
// (1703 on) moves, sizes and re-fonts the controls of a per-monitor v2
// dialog itself; the per-monitor v1 windows of Windows 8.1 and the first
// Windows 10 only get a suggested rectangle, so there the controls are moved
// and sized in proportion and the dialog's font is made anew at the new
// scale, as Windows would have done.
#pragma once

#include "platform/Platform.h"

class DialogScale {
public:
    DialogScale() = default;
    DialogScale(const DialogScale&) = delete;
    DialogScale& operator=(const DialogScale&) = delete;
    // The font it made; the dialog is gone by then.
    ~DialogScale();

    // For the About box and the Configuration dialog. From WM_INITDIALOG:
    // the DPI the dialog opens at.
    void OnInitDialog(HWND dialog, Platform& platform);
    // WM_DPICHANGED: the dialog takes the suggested rectangle and, where
    // Windows does not, its controls follow. The dialog procedure then
    // returns FALSE, so that Windows' dialog manager does its part.
    void OnDpiChanged(HWND dialog, Platform& platform, WPARAM wParam, LPARAM lParam);

    // The controls moved, sized and given the dialog font at toDpi.
    void RescaleControls(HWND dialog, UINT fromDpi, UINT toDpi);

private:
    UINT m_dpi = 0;
    // The dialog's own font and the DPI it was made for: each new font is
    // scaled from it, not from the last one.
    LOGFONTW m_baseFont = {};
    UINT m_baseDpi = 0;
    HFONT m_font = nullptr;
};
