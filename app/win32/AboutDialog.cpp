#include "app/win32/AboutDialog.h"

#include "app/win32/DialogScale.h"
#include "app/win32/HelpKeys.h"
#include "app/win32/resources/Resource.h"

namespace {

void CentreOver(HWND window, HWND owner) {
    RECT box, over;
    if (!::GetWindowRect(window, &box)) return;
    if (owner == nullptr || !::GetWindowRect(owner, &over) || ::IsIconic(owner))
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    const int width = box.right - box.left, height = box.bottom - box.top;
    int x = over.left + (over.right - over.left - width) / 2;
    int y = over.top + (over.bottom - over.top - height) / 2;
    // Keep the box on the work area when the owner sits near an edge.
    RECT work;
    if (::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        if (x + width > work.right) x = work.right - width;
        if (y + height > work.bottom) y = work.bottom - height;
        if (x < work.left) x = work.left;
        if (y < work.top) y = work.top;
    }
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// What the box's procedure needs while it runs.
struct AboutBox {
    Platform& platform;
    DialogScale scale;
};

}  // namespace

INT_PTR CAboutDlg::DoModal(HINSTANCE instance, HWND owner, Platform& platform) {
    AboutBox box{platform, {}};
    return ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner,
                             &CAboutDlg::DialogProc, reinterpret_cast<LPARAM>(&box));
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* box = reinterpret_cast<AboutBox*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetDialogHelpTemplate(dialog, IDD_ABOUTBOX);
            CentreOver(dialog, ::GetWindow(dialog, GW_OWNER));
            if (box != nullptr) box->scale.OnInitDialog(dialog, box->platform);
            return TRUE;  // focus to the default button
        case WM_DPICHANGED:
            if (box != nullptr) box->scale.OnDpiChanged(dialog, box->platform, wParam, lParam);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}
