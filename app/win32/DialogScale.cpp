#include "app/win32/DialogScale.h"

#include "app/DisplayScale.h"

namespace {
constexpr UINT kPointsPerInch = 72;
}  // namespace

DialogScale::~DialogScale() {
    if (m_font != nullptr) ::DeleteObject(m_font);
}

void DialogScale::OnInitDialog(HWND dialog, Platform& platform) {
    m_dpi = DisplayScale(platform).WindowDpi(dialog);
}

void DialogScale::OnDpiChanged(HWND dialog, Platform& platform, WPARAM wParam, LPARAM lParam) {
    const UINT dpi = LOWORD(wParam);
    if (dpi == 0 || lParam == 0) return;
    const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
    ::SetWindowPos(dialog, nullptr, suggested.left, suggested.top,
                   suggested.right - suggested.left, suggested.bottom - suggested.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (!DisplayScale(platform).WindowsRescalesDialog(dialog)) RescaleControls(dialog, m_dpi, dpi);
    m_dpi = dpi;
}

void DialogScale::RescaleControls(HWND dialog, UINT fromDpi, UINT toDpi) {
    if (fromDpi == 0 || toDpi == 0 || fromDpi == toDpi) return;

    if (m_baseDpi == 0) {
        HFONT own = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
        if (own != nullptr && ::GetObjectW(own, sizeof(m_baseFont), &m_baseFont) != 0)
            m_baseDpi = fromDpi;
    }
    HFONT font = nullptr;
    if (m_baseDpi != 0) {
        LOGFONTW scaled = m_baseFont;
        if (m_baseFont.lfHeight < 0) {
            // As Windows makes a dialog's font: from its size in points,
            // not from the pixels it was rounded to at the old scale.
            const int points = ScaleBetweenDpi(-m_baseFont.lfHeight, m_baseDpi, kPointsPerInch);
            scaled.lfHeight = -ScaleBetweenDpi(points, kPointsPerInch, toDpi);
        } else {
            scaled.lfHeight = ScaleBetweenDpi(m_baseFont.lfHeight, m_baseDpi, toDpi);
        }
        scaled.lfWidth = ScaleBetweenDpi(m_baseFont.lfWidth, m_baseDpi, toDpi);
        font = ::CreateFontIndirectW(&scaled);
    }

    // Edges, not sizes, are scaled: controls that touch keep touching and
    // none grows into its neighbour.
    auto scale = [fromDpi, toDpi](LONG value) { return ScaleBetweenDpi(value, fromDpi, toDpi); };
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT place;
        if (!::GetWindowRect(child, &place)) continue;
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        const int left = scale(place.left), top = scale(place.top);
        ::SetWindowPos(child, nullptr, left, top, scale(place.right) - left,
                       scale(place.bottom) - top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (font != nullptr) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    // The dialog keeps the font it was made with (the dialog manager frees
    // that one); the controls now use the new one, so the last goes.
    if (font != nullptr) {
        if (m_font != nullptr) ::DeleteObject(m_font);
        m_font = font;
    }
    // Group boxes draw no background: what they framed before would stay.
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}
