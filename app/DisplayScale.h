// The display scale (DPI) the program's windows are drawn at, and what the
// program sizes in pixels by it: the drive list's columns and the window's
// icons. Layouts in dialog units follow the dialog font and need nothing here.
//
// The manifest declares the program per-monitor aware. Windows 10 (1607 on)
// tells a window's DPI and the system metrics at any DPI; earlier systems
// lack those calls, so they are looked up, and the system DPI of the screen's
// device context stands in (XP to 8 draw every window at it; 8.1 and the
// first Windows 10 move a window between scales by WM_DPICHANGED alone).
#pragma once

#include "listview/ListRows.h"
#include "platform/Platform.h"

// The scale pixel sizes are written at: 100 %.
inline constexpr UINT kDefaultDpi = USER_DEFAULT_SCREEN_DPI;

// A length of pixels at fromDpi, at toDpi: to the nearest pixel, halves away
// from zero as MulDiv rounds (font heights are negative).
int ScaleBetweenDpi(int pixels, UINT fromDpi, UINT toDpi);

// The horizontal dialog base unit (pixels per 4 dialog units) of the
// dialogs' font, MS Shell Dlg 8 pt, at 96 DPI.
inline constexpr int kBaseUnitAt96 = 6;
// The scale a dialog was laid out at, as a DPI: its font, made for the
// window's DPI, decides its size through the dialog base unit. Where font
// sizes round (at 120 DPI the unit is 7 pixels, not 7.5) the layout is a few
// per cent narrower than the DPI says, and what sits in it, the list's
// columns, follows the layout. The DPI itself stands in when the base unit
// is unknown (0).
UINT LayoutDpi(int baseUnit, UINT dpi);

struct IconSizes {
    int big;    // the window's big icon, Alt+Tab and the icon drawn while minimised
    int small;  // the caption and the taskbar
};

class DisplayScale {
public:
    // Looks up user32's DPI calls once.
    explicit DisplayScale(Platform& platform);

    // LOGPIXELSX of the screen; 96 when it cannot be read.
    UINT SystemDpi();
    // The DPI of the window's monitor where Windows can tell it, else the
    // system DPI.
    UINT WindowDpi(HWND window);
    // A system metric at a DPI: Windows' own value where it has the call,
    // else the system's value scaled from the system DPI; 0 when unknown.
    int SystemMetric(int index, UINT dpi);
    // The sizes Windows asks the window's icons to have at a DPI.
    IconSizes WindowIcons(UINT dpi);
    // True where Windows itself moves, sizes and re-fonts a dialog's controls
    // when its DPI changes: per-monitor v2 windows (Windows 10 1703 on). The
    // per-monitor v1 windows of 8.1 and the first Windows 10 get a new
    // suggested size and nothing else.
    bool WindowsRescalesDialog(HWND window);

private:
    Platform& platform_;
    FARPROC getDpiForWindow_ = nullptr;
    FARPROC getSystemMetricsForDpi_ = nullptr;
    FARPROC getWindowDpiAwarenessContext_ = nullptr;
    FARPROC areDpiAwarenessContextsEqual_ = nullptr;
};

// The widths of the list's columns through changes of scale. A column is as
// wide as the program made it, scaled to the DPI at hand, until the user
// drags it to another width; from then on the user's width is the one
// scaled. Each width is kept with the DPI it was chosen at, so moving back
// and forth between scales does not wear it down by rounding.
class ColumnWidths {
public:
    ColumnWidths();
    // The width of a column at a DPI.
    int At(int column, UINT dpi) const;
    // Before the scale changes: the widths the list shows at dpi now; one
    // that differs from what the program set is the user's.
    void TakeShown(int column, int shown, UINT dpi);

private:
    struct Width {
        int pixels;
        UINT dpi;
    };
    Width widths_[kListColumnCount];
};
