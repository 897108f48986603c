#include "app/win32/MainDialog.h"

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "app/win32/AboutDialog.h"
#include "app/win32/HelpKeys.h"
#include "app/win32/resources/Resource.h"

#include <commctrl.h>

#include <cwchar>

namespace {

// Keyboard messages offered to the accelerators: WM_KEYDOWN to WM_KEYLAST
// (WM_UNICHAR included), whatever the SDK's WM_KEYLAST says.
constexpr UINT kFirstKeyMessage = 0x0100;
constexpr UINT kLastKeyMessage = 0x0109;

// LVS_EX_CHECKBOXES, HEADERDRAGDROP, FULLROWSELECT, ONECLICKACTIVATE,
// INFOTIP and DOUBLEBUFFER.
constexpr DWORD kListExtendedStyles = 0x10474;

// The system cursors, named without depending on the UNICODE setting of the
// SDK macros.
const LPCWSTR kWaitCursor = MAKEINTRESOURCEW(32514);   // IDC_WAIT
const LPCWSTR kArrowCursor = MAKEINTRESOURCEW(32512);  // IDC_ARROW

// State images of the check boxes: 1 unticked, 2 ticked.
constexpr UINT kStateImageShift = 12;
constexpr UINT kUnticked = 1u << kStateImageShift;
constexpr UINT kTicked = 2u << kStateImageShift;

}  // namespace

MainDialog::MainDialog(HINSTANCE instance, CTrayhop32App& app)
    : m_instance(instance),
      m_app(app),
      m_logic(std::make_unique<CTrayhop32Dlg>(app, *this)) {}

MainDialog::~MainDialog() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
    // The logic goes first: it hands the wait cursor back to the application.
    m_logic.reset();
    if (m_hSmallIcon != nullptr) ::DestroyIcon(m_hSmallIcon);
    if (m_hIcon != nullptr) ::DestroyIcon(m_hIcon);
}

void MainDialog::RunModal(const std::function<void()>& idle) {
    m_ended = false;
    if (::CreateDialogParamW(m_instance, MAKEINTRESOURCEW(IDD_TRAYHOP32_DIALOG), nullptr,
                             &MainDialog::DialogProc, reinterpret_cast<LPARAM>(this)) == nullptr)
        return;
    // The window has no owner, so there is none to disable while it runs.
    HelpKeyFilter helpKeys(m_hWnd);
    if (!m_ended) {
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
        ::UpdateWindow(m_hWnd);
    }

    while (!m_ended) {
        if (idle) idle();
        if (m_ended) break;
        MSG msg;
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // Leave WM_QUIT for whoever runs the loop outside ours.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1) break;
        if (!PreTranslateMessage(msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
}

bool MainDialog::PreTranslateMessage(MSG& msg) {
    if (m_hWnd == nullptr) return false;
    const bool ours = msg.hwnd == m_hWnd || ::IsChild(m_hWnd, msg.hwnd);
    if (ours && msg.message >= kFirstKeyMessage && msg.message <= kLastKeyMessage) {
        if (m_hAccel != nullptr && ::TranslateAcceleratorW(m_hWnd, m_hAccel, &msg)) return true;
        if (IsPlainHelpKey(msg)) {
            ::SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0);
            return true;
        }
    }
    return ::IsDialogMessageW(m_hWnd, &msg) != FALSE;
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MainDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<MainDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<MainDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (self == nullptr) return FALSE;
    return self->OnMessage(message, wParam, lParam);
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_DPICHANGED:
            if (lParam != 0)
                m_logic->OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            // Windows' dialog manager rescales a per-monitor v2 dialog after this.
            return FALSE;
        case WM_ACTIVATE:
            return ReturnFocusToList(wParam, lParam) ? TRUE : FALSE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                ShowAbout();
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            return OnPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_hIcon);
        case WM_SETCURSOR:
            if (m_waitDepth > 0) {
                ::SetCursor(::LoadCursorW(nullptr, kWaitCursor));
                ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_DEVICECHANGE: {
            const BOOL result =
                m_logic->OnDeviceChange(static_cast<UINT>(wParam), static_cast<DWORD_PTR>(lParam));
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
        case WM_COMMAND:
            // Buttons, the accelerator (1) and menus (0); other control
            // notifications are not commands.
            if (lParam != 0 && HIWORD(wParam) != BN_CLICKED) return FALSE;
            return OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
        case WM_NOTIFY: {
            LRESULT result = 0;
            if (lParam == 0 || !OnNotify(*reinterpret_cast<const NMHDR*>(lParam), result))
                return FALSE;
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
        case WM_DESTROY:
            // Rows are deleted after this; their notifications must not
            // reach the logic, and message boxes must not be owned any more.
            m_list = nullptr;
            m_status = nullptr;
            m_logic->StopWatchingDeviceInterfaces();
            if (m_app.m_hMainWnd == m_hWnd) m_app.m_hMainWnd = nullptr;
            return FALSE;
        case WM_NCDESTROY:
            ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
            m_hWnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

BOOL MainDialog::OnInitDialog() {
    BeginWaitCursor();
    m_app.m_hMainWnd = m_hWnd;
    m_list = ::GetDlgItem(m_hWnd, IDC_DRIVE_LIST);
    m_status = ::GetDlgItem(m_hWnd, IDC_STATUS);

    if (HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t text[128] = {};
        if (::LoadStringW(m_instance, IDS_ABOUTBOX, text, static_cast<int>(std::size(text))) > 0) {
            ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, text);
        }
    }

    m_hAccel = ::LoadAcceleratorsW(m_instance, MAKEINTRESOURCEW(IDR_ACCELERATOR));

    m_logic->SetConfigDialogRunner(m_configRunner);
    // Before the first build, so a disk that comes in the meantime is not missed.
    m_logic->WatchDeviceInterfaces(m_hWnd);
    m_logic->InitDriveTable();
    InitListControl();
    // The icons and the columns at the window's scale.
    m_logic->InitDisplayScale();
    m_logic->InitDriveList();

    EndWaitCursor();
    return TRUE;  // focus to the first tab stop, the drive list
}

void MainDialog::InitListControl() {
    if (m_list == nullptr) return;
    const LONG style = ::GetWindowLongW(m_list, GWL_STYLE);
    ::SetWindowLongW(m_list, GWL_STYLE, style | LVS_REPORT);
    ::SendMessageW(m_list, CCM_SETUNICODEFORMAT, TRUE, 0);
    if (HWND header = reinterpret_cast<HWND>(::SendMessageW(m_list, LVM_GETHEADER, 0, 0)))
        ::SendMessageW(header, CCM_SETUNICODEFORMAT, TRUE, 0);
    ::SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, kListExtendedStyles, kListExtendedStyles);
}

bool MainDialog::OnCommand(UINT id) {
    switch (id) {
        case IDC_SCAN_FOR_DEVICES:
            m_logic->OnScanForDevices();
            return true;
        case IDC_REMOVE_DEVICES:
            m_logic->OnRemoveDevices();
            return true;
        case IDC_CONFIGURE:
            m_logic->OnConfigure();
            return true;
        case IDC_ABOUT:
            ShowAbout();
            return true;
        case ID_REFRESH:
            m_logic->OnRefreshKey();
            return true;
        case ID_HELP:
            m_logic->OnHelp(FindHelpContext(m_hWnd));
            return true;
        case IDOK:
        case IDCANCEL:
            EndDialog(static_cast<int>(id));
            return true;
        default:
            return false;
    }
}

bool MainDialog::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.idFrom != IDC_DRIVE_LIST || m_list == nullptr) return false;
    switch (header.code) {
        case LVN_ITEMCHANGING: {
            // A tick is a change between the two images of the check box; a
            // row just inserted gets its first image (from none) unasked, and
            // a selection change may carry no image at all.
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            const UINT before = change.uOldState & LVIS_STATEIMAGEMASK;
            const UINT after = change.uNewState & LVIS_STATEIMAGEMASK;
            const bool tick =
                (change.uChanged & LVIF_STATE) != 0 && before != 0 && after != 0 && before != after;
            // TRUE keeps the row as it is.
            result = tick && !m_logic->AllowTickChange() ? TRUE : FALSE;
            return true;
        }
        case LVN_ITEMCHANGED:
            result = m_logic->OnListItemChanged(reinterpret_cast<const NMLISTVIEW&>(header).iItem);
            return true;
        case NM_DBLCLK:
            result = m_logic->OnListDblClk();
            return true;
        case LVN_COLUMNCLICK:
            result =
                m_logic->OnListColumnClick(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
            return true;
        default:
            return false;
    }
}

bool MainDialog::OnPaint() {
    if (!::IsIconic(m_hWnd)) return false;
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    // The big icon at the window's scale, centred.
    const int x = (client.right - client.left - m_iconSize + 1) / 2;
    const int y = (client.bottom - client.top - m_iconSize + 1) / 2;
    ::DrawIconEx(dc, x, y, m_hIcon, m_iconSize, m_iconSize, 0, nullptr, DI_NORMAL);
    ::EndPaint(m_hWnd, &paint);
    return true;
}

void MainDialog::ShowAbout() { CAboutDlg::DoModal(m_instance, m_hWnd, m_app.GetPlatform()); }

bool MainDialog::ReturnFocusToList(WPARAM wParam, LPARAM lParam) {
    // The dialog manager would give the focus back to the control that had
    // it, which may be a button the closed box's command has just disabled.
    if (LOWORD(wParam) == WA_INACTIVE || lParam == 0 || m_list == nullptr) return false;
    if (::GetWindow(reinterpret_cast<HWND>(lParam), GW_OWNER) != m_hWnd) return false;
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_list), TRUE);
    return true;
}

void MainDialog::EndDialog(int) {
    // Closing asks nothing and saves nothing; the loop in RunModal ends and
    // destroys the window.
    m_ended = true;
}

// ---- MainView over the real controls ----------------------------------------

int MainDialog::GetItemCount() {
    if (m_list == nullptr) return 0;
    return static_cast<int>(::SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0));
}

void MainDialog::DeleteAllItems() {
    if (m_list != nullptr) ::SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
}

int MainDialog::InsertItem(int index, const wchar_t* text, DriveRecord* data) {
    if (m_list == nullptr) return -1;
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(text);
    item.cchTextMax = static_cast<int>(std::wcslen(text));
    item.lParam = reinterpret_cast<LPARAM>(data);
    return static_cast<int>(::SendMessageW(m_list, LVM_INSERTITEMW, 0,
                                           reinterpret_cast<LPARAM>(&item)));
}

void MainDialog::SetItemText(int index, int column, const wchar_t* text) {
    if (m_list == nullptr) return;
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    ::SendMessageW(m_list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
}

DriveRecord* MainDialog::GetItemData(int index) {
    if (m_list == nullptr) return nullptr;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!::SendMessageW(m_list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
    return reinterpret_cast<DriveRecord*>(item.lParam);
}

bool MainDialog::IsItemChecked(int index) {
    if (m_list == nullptr) return false;
    const auto state = static_cast<UINT>(
        ::SendMessageW(m_list, LVM_GETITEMSTATE, index, LVIS_STATEIMAGEMASK));
    return (state & LVIS_STATEIMAGEMASK) == kTicked;
}

void MainDialog::SetItemChecked(int index, bool checked) {
    if (m_list == nullptr) return;
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = checked ? kTicked : kUnticked;
    ::SendMessageW(m_list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

bool MainDialog::IsItemSelected(int index) {
    if (m_list == nullptr) return false;
    return (::SendMessageW(m_list, LVM_GETITEMSTATE, index, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

int MainDialog::GetFocusedSelectedItem() {
    if (m_list == nullptr) return -1;
    return static_cast<int>(
        ::SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                       MAKELPARAM(LVNI_FOCUSED | LVNI_SELECTED, 0)));
}

void MainDialog::EnableRemoveButton(bool enable) {
    if (m_hWnd == nullptr) return;
    if (HWND button = ::GetDlgItem(m_hWnd, IDC_REMOVE_DEVICES))
        ::EnableWindow(button, enable ? TRUE : FALSE);
}

void MainDialog::SetStatusText(const wchar_t* text) {
    if (m_status != nullptr) ::SetWindowTextW(m_status, text);
}

void MainDialog::BeginListUpdate() {
    if (m_listUpdateDepth++ == 0 && m_list != nullptr)
        ::SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
}

void MainDialog::EndListUpdate() {
    if (m_listUpdateDepth == 0) return;
    if (--m_listUpdateDepth == 0 && m_list != nullptr) {
        ::SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
        // The rows, the header and the scroll bars as they are now.
        ::RedrawWindow(m_list, nullptr, nullptr,
                       RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
}

bool MainDialog::PumpMessagesFor(DWORD milliseconds) {
    const DWORD started = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (!m_ended && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Left for the loop that runs the window, which then ends.
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            if (!PreTranslateMessage(msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        if (m_ended || m_hWnd == nullptr) return false;
        const DWORD used = ::GetTickCount() - started;
        if (used >= milliseconds) return true;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - used, QS_ALLINPUT);
    }
}

void MainDialog::BeginWaitCursor() {
    HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, kWaitCursor));
    if (m_waitDepth++ == 0) m_restoreCursor = previous;
}

void MainDialog::EndWaitCursor() {
    if (m_waitDepth == 0) return;
    if (--m_waitDepth == 0)
        ::SetCursor(m_restoreCursor != nullptr ? m_restoreCursor
                                               : ::LoadCursorW(nullptr, kArrowCursor));
}

// ---- The window at its display scale -----------------------------------------

void MainDialog::InsertColumn(int index, const wchar_t* header, int width) {
    if (m_list == nullptr) return;
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(header);
    column.iSubItem = index;
    ::SendMessageW(m_list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

int MainDialog::GetColumnWidth(int index) {
    if (m_list == nullptr) return -1;
    return static_cast<int>(::SendMessageW(m_list, LVM_GETCOLUMNWIDTH, index, 0));
}

void MainDialog::SetColumnWidth(int index, int width) {
    if (m_list != nullptr) ::SendMessageW(m_list, LVM_SETCOLUMNWIDTH, index, MAKELPARAM(width, 0));
}

void MainDialog::SetWindowIcons(int bigSize, int smallSize) {
    // Each from the image drawn for its size, not one image stretched.
    auto load = [this](int size) {
        return static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                               IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    };
    HICON big = load(bigSize);
    HICON small = load(smallSize);
    if (big == nullptr) {
        if (small != nullptr) ::DestroyIcon(small);
        return;
    }
    if (m_hWnd != nullptr) {
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL,
                       reinterpret_cast<LPARAM>(small != nullptr ? small : big));
    }
    // The window no longer shows the icons it had.
    if (m_hSmallIcon != nullptr) ::DestroyIcon(m_hSmallIcon);
    if (m_hIcon != nullptr) ::DestroyIcon(m_hIcon);
    m_hIcon = big;
    m_hSmallIcon = small;
    m_iconSize = bigSize;
}

void MainDialog::SetWindowRect(const RECT& rect) {
    if (m_hWnd == nullptr) return;
    ::SetWindowPos(m_hWnd, nullptr, rect.left, rect.top, rect.right - rect.left,
                   rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainDialog::RescaleControls(UINT fromDpi, UINT toDpi) {
    if (m_hWnd != nullptr) m_scale.RescaleControls(m_hWnd, fromDpi, toDpi);
}

int MainDialog::DialogUnitsToPixels(int units) {
    RECT rect = {0, 0, units, 0};
    if (m_hWnd == nullptr || !::MapDialogRect(m_hWnd, &rect)) return 0;
    return rect.right;
}
