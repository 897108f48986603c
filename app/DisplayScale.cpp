#include "app/DisplayScale.h"

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/Owners.h"

int ScaleBetweenDpi(int pixels, UINT fromDpi, UINT toDpi) {
    if (fromDpi == 0 || fromDpi == toDpi) return pixels;
    const long long product = static_cast<long long>(pixels) * toDpi;
    const long long half = fromDpi / 2;
    return static_cast<int>(product >= 0 ? (product + half) / fromDpi
                                         : -((-product + half) / fromDpi));
}

UINT LayoutDpi(int baseUnit, UINT dpi) {
    if (baseUnit <= 0) return dpi;
    return static_cast<UINT>(ScaleBetweenDpi(static_cast<int>(kDefaultDpi), kBaseUnitAt96, baseUnit));
}

DisplayScale::DisplayScale(Platform& platform) : platform_(platform) {
    HMODULE user32 = platform_.GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return;
    getDpiForWindow_ = platform_.GetProcAddress(user32, "GetDpiForWindow");
    getSystemMetricsForDpi_ = platform_.GetProcAddress(user32, "GetSystemMetricsForDpi");
    getWindowDpiAwarenessContext_ =
        platform_.GetProcAddress(user32, "GetWindowDpiAwarenessContext");
    areDpiAwarenessContextsEqual_ =
        platform_.GetProcAddress(user32, "AreDpiAwarenessContextsEqual");
}

UINT DisplayScale::SystemDpi() {
    UniqueScreenDC screen(platform_, platform_.GetDC(nullptr));
    if (!screen) return kDefaultDpi;
    const int dpi = platform_.GetDeviceCaps(screen.Get(), LOGPIXELSX);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

UINT DisplayScale::WindowDpi(HWND window) {
    if (getDpiForWindow_ != nullptr && window != nullptr) {
        if (const UINT dpi = platform_.GetDpiForWindow(getDpiForWindow_, window); dpi != 0)
            return dpi;
    }
    return SystemDpi();
}

int DisplayScale::SystemMetric(int index, UINT dpi) {
    if (getSystemMetricsForDpi_ != nullptr) {
        if (const int value = platform_.GetSystemMetricsForDpi(getSystemMetricsForDpi_, index, dpi);
            value > 0)
            return value;
    }
    const int value = platform_.GetSystemMetrics(index);
    return value > 0 ? ScaleBetweenDpi(value, SystemDpi(), dpi) : 0;
}

IconSizes DisplayScale::WindowIcons(UINT dpi) {
    // The sizes of 100 % stand in where the system cannot say.
    IconSizes sizes{SystemMetric(SM_CXICON, dpi), SystemMetric(SM_CXSMICON, dpi)};
    if (sizes.big <= 0) sizes.big = ScaleBetweenDpi(32, kDefaultDpi, dpi);
    if (sizes.small <= 0) sizes.small = ScaleBetweenDpi(16, kDefaultDpi, dpi);
    return sizes;
}

bool DisplayScale::WindowsRescalesDialog(HWND window) {
    if (getWindowDpiAwarenessContext_ == nullptr || areDpiAwarenessContextsEqual_ == nullptr ||
        window == nullptr)
        return false;
    // A window's context is not the pseudo-handle itself; only the
    // comparison tells them apart.
    DPI_AWARENESS_CONTEXT context =
        platform_.GetWindowDpiAwarenessContext(getWindowDpiAwarenessContext_, window);
    return context != nullptr &&
           platform_.AreDpiAwarenessContextsEqual(areDpiAwarenessContextsEqual_, context,
                                                  DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

ColumnWidths::ColumnWidths() {
    for (int column = 0; column < kListColumnCount; ++column)
        widths_[column] = {kListColumns[column].width, kDefaultDpi};
}

int ColumnWidths::At(int column, UINT dpi) const {
    const Width& width = widths_[column];
    return ScaleBetweenDpi(width.pixels, width.dpi, dpi);
}

void ColumnWidths::TakeShown(int column, int shown, UINT dpi) {
    if (shown >= 0 && shown != At(column, dpi)) widths_[column] = {shown, dpi};
}

// ---- The main window at its scale -------------------------------------------

void CTrayhop32Dlg::InitDisplayScale() {
    DisplayScale scale(m_app.GetPlatform());
    m_dpi = m_openingDpi = scale.WindowDpi(m_app.m_hMainWnd);
    m_openingLayoutDpi = LayoutDpi(m_view.DialogUnitsToPixels(4), m_dpi);
    const IconSizes icons = scale.WindowIcons(m_dpi);
    m_view.SetWindowIcons(icons.big, icons.small);
    for (int column = 0; column < kListColumnCount; ++column)
        m_view.InsertColumn(column, kListColumns[column].header,
                            m_columnWidths.At(column, ColumnDpi(m_dpi)));
}

UINT CTrayhop32Dlg::ColumnDpi(UINT dpi) const {
    // Windows and the v1 rescale both scale the layout by the ratio of the
    // DPIs; reckoned from the opening scale, round trips do not drift.
    return static_cast<UINT>(
        ScaleBetweenDpi(static_cast<int>(m_openingLayoutDpi), m_openingDpi, dpi));
}

void CTrayhop32Dlg::OnDpiChanged(UINT dpi, const RECT& suggested) {
    if (dpi == 0) return;
    for (int column = 0; column < kListColumnCount; ++column)
        m_columnWidths.TakeShown(column, m_view.GetColumnWidth(column), ColumnDpi(m_dpi));
    DisplayScale scale(m_app.GetPlatform());
    m_view.SetWindowRect(suggested);
    if (!scale.WindowsRescalesDialog(m_app.m_hMainWnd)) m_view.RescaleControls(m_dpi, dpi);
    for (int column = 0; column < kListColumnCount; ++column)
        m_view.SetColumnWidth(column, m_columnWidths.At(column, ColumnDpi(dpi)));
    const IconSizes icons = scale.WindowIcons(dpi);
    m_view.SetWindowIcons(icons.big, icons.small);
    m_dpi = dpi;
}
