// The yardstick for the drive list: the smallest program that shows the same
// list (control 2001, report view with check boxes and the same six columns
// and extended styles) in a dialog titled "BenchList", filled with ROWS rows
// at start-up and rebuilt on every DBT_DEVICEARRIVAL the usual way: drawing
// paused while the rows go in, one redraw after. Built like the product
// (static, its manifest, common controls version 6).
//   bench_min_list.exe ROWS
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

constexpr int kListId = 2001;
int g_rows = 0;

struct Column {
    const wchar_t* header;
    int width;
};
constexpr Column kColumns[] = {
    {L"Device Name", 210}, {L"Type", 95},     {L"Mount Points", 80},
    {L"I/O Bus", 55},      {L"Capacity", 70}, {L"Media Type", 75},
};

void Fill(HWND list) {
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    wchar_t name[64];
    for (int row = 0; row < g_rows; ++row) {
        std::swprintf(name, 64, L"SIM Bench Stick %d USB Device", row);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = row;
        item.pszText = name;
        item.lParam = row;
        const int index = static_cast<int>(
            ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        const wchar_t* cells[] = {L"Removable Disk", L"None", L"USB", L"1.86 GB", L"Removable"};
        for (int column = 1; column < 6; ++column) {
            LVITEMW text{};
            text.iSubItem = column;
            text.pszText = const_cast<wchar_t*>(cells[column - 1]);
            ::SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&text));
        }
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            RECT client;
            ::GetClientRect(window, &client);
            HWND list = ::CreateWindowExW(
                WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, 8, 8,
                client.right - 16, client.bottom - 16, window,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), nullptr, nullptr);
            ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0x10474, 0x10474);
            int index = 0;
            for (const Column& column : kColumns) {
                LVCOLUMNW lvc{};
                lvc.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
                lvc.cx = column.width;
                lvc.pszText = const_cast<wchar_t*>(column.header);
                lvc.iSubItem = index;
                ::SendMessageW(list, LVM_INSERTCOLUMNW, index++, reinterpret_cast<LPARAM>(&lvc));
            }
            Fill(list);
            return TRUE;
        }
        case WM_DEVICECHANGE:
            if (wParam == DBT_DEVICEARRIVAL) Fill(::GetDlgItem(window, kListId));
            ::SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_CLOSE:
            ::EndDialog(window, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

// A DLGTEMPLATE followed by its menu, class, title and font; the list is
// created at initialisation.
struct alignas(4) Template {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WCHAR title[10];
    WORD pointSize;
    WCHAR font[13];
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    g_rows = argc > 1 ? _wtoi(argv[argc - 1]) : 0;
    ::LocalFree(argv);
    ::InitCommonControls();

    Template dialog{};
    dialog.header.style =
        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_CENTER | DS_SETFONT | DS_MODALFRAME;
    dialog.header.cx = 402;
    dialog.header.cy = 193;
    const WCHAR title[] = L"BenchList";
    for (int i = 0; i < 10; ++i) dialog.title[i] = title[i];
    dialog.pointSize = 8;
    const WCHAR font[] = L"MS Shell Dlg";
    for (int i = 0; i < 13; ++i) dialog.font[i] = font[i];
    ::DialogBoxIndirectParamW(instance, &dialog.header, nullptr, DialogProc, 0);
    return 0;
}
