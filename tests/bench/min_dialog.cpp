// The smallest dialog program: one modal dialog from a template in memory,
// titled "BenchDialog", closed by WM_CLOSE. The yardstick for start-up.
// Built three times: bare; like the product with its manifest (common
// controls version 6) and the common controls initialised
// (BENCH_COMMON_CONTROLS); and besides importing the system libraries the
// product imports (BENCH_PRODUCT_IMPORTS), which tells the cost of loading
// them from the cost of the program's own start-up.
#include <windows.h>
#ifdef BENCH_COMMON_CONTROLS
#include <commctrl.h>
#endif
#ifdef BENCH_PRODUCT_IMPORTS
#include <cfgmgr32.h>
#include <setupapi.h>
#include <shlobj.h>
#endif

namespace {

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_CLOSE) {
        ::EndDialog(window, 0);
        return TRUE;
    }
    return FALSE;
}

// A DLGTEMPLATE followed by its menu, class and title arrays; no controls.
struct alignas(4) Template {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WCHAR title[12];
};

#ifdef BENCH_PRODUCT_IMPORTS
// Referenced, never called: the loader maps the libraries all the same.
void* volatile g_imports[] = {reinterpret_cast<void*>(&SetupDiGetClassDevsW),
                              reinterpret_cast<void*>(&CM_Get_Device_IDW),
                              reinterpret_cast<void*>(&SHChangeNotify)};
#endif

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
#ifdef BENCH_COMMON_CONTROLS
    ::InitCommonControls();
#endif
    Template dialog{};
    dialog.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_CENTER;
    dialog.header.cx = 200;
    dialog.header.cy = 100;
    const WCHAR title[] = L"BenchDialog";
    for (int i = 0; i < 12; ++i) dialog.title[i] = title[i];
    ::DialogBoxIndirectParamW(instance, &dialog.header, nullptr, DialogProc, 0);
    return 0;
}
