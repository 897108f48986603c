// Drives another program's windows from outside, as a user would, and prints
// what it sees as lines a test script can match:
//
//   e2edriver wait     --title T [--class C]      the window exists and is visible
//   e2edriver controls --title T                  one line per child control
//   e2edriver text     --title T --id N           one control's text
//   e2edriver listview --title T --id N           columns, widths, rows, ticks
//   e2edriver checkbox --title T --id N           a check box's state
//   e2edriver tick     --title T --id N --row R --state 0|1
//   e2edriver select   --title T --id N --row R
//   e2edriver click    --title T --id N           presses a button
//   e2edriver press    --title T --id N           presses a button and returns once its
//                                                 command has run (one that opens no box)
//   e2edriver key      --title T [--id N] --vk KEY
//   e2edriver msgbox   [--title T]                waits for a message box, prints its
//                                                 text, buttons and foreground=0|1
//   e2edriver answer   [--title T] --button ID    presses a message box button
//   e2edriver close    --title T                  asks the window to close, waits
//   e2edriver gone     --title T                  waits until no such window is left
//   e2edriver window   --title T [--class C]      frame, size, owner and state
//   e2edriver dlu      --rects "x,y,w,h;..."      dialog units in pixels for the
//                                                 "MS Shell Dlg" 8 point font
//   e2edriver dblclick --title T --id N --row R   double-clicks a list row
//   e2edriver syscommand --title T --command N [--lparam L]
//   e2edriver mnemonic --title T --char C         Alt and a letter
//   e2edriver menu                                waits for an open popup menu
//   e2edriver count    --title T [--class C]      how many such windows are visible
//   e2edriver process  --title T                  the window's process: id, handle
//                                                 count, private and working-set bytes
//   e2edriver devicechange --title T --event N    sends WM_DEVICECHANGE (wParam N,
//                                                 lParam 0) as the system broadcasts it
//   e2edriver focus    --title T                  the control that has the keyboard
//                                                 focus in that window's thread, and
//                                                 the thread's active window
//   e2edriver layout   --title T [--dpi N]        controls outside the window, over
//                                                 one another, or too small for their
//                                                 text in the program's font at N DPI
//   e2edriver dpichanged --title T --dpi N        sends WM_DPICHANGED as Windows does
//                                                 when the window moves to a monitor
//                                                 of N DPI: the suggested rectangle
//                                                 is the window's, scaled about its
//                                                 centre
//   e2edriver columnwidth --title T --id N --column C --width W
//                                                 drags a column to W pixels (sets it)
//
// "key" takes --char 0 to post the key without its character (inside a menu
// the character would reach the window behind it).
//
// Every command takes --timeout MS (default 10000). Exit code 0 on success,
// 1 with an "error:" line when the window or control is not there, 2 on
// wrong usage. The driver and its target must have the same bitness: list
// view and header records are read through the target's own memory.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr UINT kMessageTimeoutMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                        size, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                        size);
    return out;
}

// Texts are printed in double quotes with C escapes, so a line break in a
// message box stays on one output line.
std::string Quoted(const std::wstring& text) {
    std::string out = "\"";
    for (char c : Utf8(text)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out + "\"";
}

void Say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
    Say("error: " + why);
    std::exit(1);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, static_cast<int>(sizeof(name) / sizeof(name[0])));
    return name;
}

// WM_GETTEXT is marshalled across processes by the system, with a timeout so
// a hung target cannot hang the test.
std::wstring TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &length))
        return {};
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied);
    buffer.back() = L'\0';
    return buffer.data();
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &result))
        Fail("the window did not answer message " + std::to_string(message));
    return static_cast<LRESULT>(result);
}

bool IsMessageBox(HWND hwnd) {
    if (ClassOf(hwnd) != L"#32770") return false;
    HWND text = GetDlgItem(hwnd, kMessageBoxTextId);
    return text != nullptr && ClassOf(text) == L"Static";
}

struct Search {
    std::wstring title;
    std::wstring className;
    bool messageBox = false;
    bool anyTitle = false;
    HWND found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lparam) {
    auto* search = reinterpret_cast<Search*>(lparam);
    if (!IsWindowVisible(hwnd)) return TRUE;
    if (!search->anyTitle && TextOf(hwnd) != search->title) return TRUE;
    if (!search->className.empty() && ClassOf(hwnd) != search->className) return TRUE;
    // A message box may carry its owner's caption: the two are told apart by
    // the box's text control, and the owner is disabled while the box is up.
    if (IsMessageBox(hwnd) != search->messageBox) return TRUE;
    if (search->messageBox && !IsWindowEnabled(hwnd)) return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND FindTopLevel(Search search, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        search.found = nullptr;
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(100);
    }
}

// A block of memory inside the target process, for the control messages whose
// records carry pointers (list-view items, header items): the control reads
// and writes them in its own address space.
class RemoteBuffer {
public:
    RemoteBuffer(HWND owner, SIZE_T size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(owner, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                   PROCESS_QUERY_INFORMATION,
                               FALSE, pid);
        if (!process_) Fail("cannot open the target process");
        base_ = static_cast<BYTE*>(
            VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (!base_) {
            CloseHandle(process_);
            Fail("cannot allocate memory in the target process");
        }
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    ~RemoteBuffer() {
        VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
        CloseHandle(process_);
    }

    BYTE* At(SIZE_T offset) const { return base_ + offset; }
    void Write(SIZE_T offset, const void* data, SIZE_T size) const {
        if (offset + size > size_ || !WriteProcessMemory(process_, base_ + offset, data, size, nullptr))
            Fail("cannot write the target's memory");
    }
    void Read(SIZE_T offset, void* data, SIZE_T size) const {
        if (offset + size > size_ || !ReadProcessMemory(process_, base_ + offset, data, size, nullptr))
            Fail("cannot read the target's memory");
    }

private:
    HANDLE process_ = nullptr;
    BYTE* base_ = nullptr;
    SIZE_T size_;
};

constexpr SIZE_T kRecordOffset = 0;
constexpr SIZE_T kTextOffset = 1024;
constexpr int kTextChars = 1024;
constexpr SIZE_T kRemoteSize = kTextOffset + sizeof(wchar_t) * kTextChars;

std::wstring ReadRemoteText(const RemoteBuffer& remote) {
    std::vector<wchar_t> text(kTextChars, L'\0');
    remote.Read(kTextOffset, text.data(), sizeof(wchar_t) * kTextChars);
    text.back() = L'\0';
    return text.data();
}

std::wstring ListItemText(HWND list, const RemoteBuffer& remote, int row, int column) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<LPWSTR>(remote.At(kTextOffset));
    item.cchTextMax = kTextChars;
    const wchar_t empty = L'\0';
    remote.Write(kTextOffset, &empty, sizeof(empty));
    remote.Write(kRecordOffset, &item, sizeof(item));
    Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
         reinterpret_cast<LPARAM>(remote.At(kRecordOffset)));
    return ReadRemoteText(remote);
}

std::wstring HeaderText(HWND header, const RemoteBuffer& remote, int column) {
    HDITEMW item = {};
    item.mask = HDI_TEXT;
    item.pszText = reinterpret_cast<LPWSTR>(remote.At(kTextOffset));
    item.cchTextMax = kTextChars;
    const wchar_t empty = L'\0';
    remote.Write(kTextOffset, &empty, sizeof(empty));
    remote.Write(kRecordOffset, &item, sizeof(item));
    Send(header, HDM_GETITEMW, static_cast<WPARAM>(column),
         reinterpret_cast<LPARAM>(remote.At(kRecordOffset)));
    return ReadRemoteText(remote);
}

void SetListItemState(HWND list, int row, UINT state, UINT mask) {
    RemoteBuffer remote(list, kRemoteSize);
    LVITEMW item = {};
    item.state = state;
    item.stateMask = mask;
    remote.Write(kRecordOffset, &item, sizeof(item));
    if (!Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
              reinterpret_cast<LPARAM>(remote.At(kRecordOffset))))
        Fail("the list view refused the new state of row " + std::to_string(row));
}

struct Args {
    std::string command;
    std::map<std::string, std::string> options;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Get(const std::string& name) const {
        auto it = options.find(name);
        if (it == options.end()) {
            Say("usage: option --" + name + " is required for " + command);
            std::exit(2);
        }
        return it->second;
    }
    long Number(const std::string& name) const {
        std::string text = Get(name);
        char* end = nullptr;
        long value = std::strtol(text.c_str(), &end, 0);
        if (text.empty() || *end != '\0') {
            Say("usage: --" + name + " takes a number, not " + text);
            std::exit(2);
        }
        return value;
    }
    long Number(const std::string& name, long fallback) const {
        return Has(name) ? Number(name) : fallback;
    }
};

Args Parse(int argc, char** argv) {
    Args args;
    if (argc < 2) {
        Say("usage: e2edriver COMMAND [--option value]... (see the source for the commands)");
        std::exit(2);
    }
    args.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string name = argv[i];
        if (name.rfind("--", 0) != 0 || i + 1 >= argc) {
            Say("usage: expected --option value, got " + name);
            std::exit(2);
        }
        args.options[name.substr(2)] = argv[++i];
    }
    return args;
}

DWORD Timeout(const Args& args) { return static_cast<DWORD>(args.Number("timeout", 10000)); }

HWND MainWindow(const Args& args) {
    Search search;
    search.title = Wide(args.Get("title"));
    if (args.Has("class")) search.className = Wide(args.Get("class"));
    HWND hwnd = FindTopLevel(search, Timeout(args));
    if (!hwnd) Fail("no visible window titled " + Quoted(search.title));
    return hwnd;
}

HWND MessageBoxWindow(const Args& args) {
    Search search;
    search.messageBox = true;
    search.anyTitle = !args.Has("title");
    if (!search.anyTitle) search.title = Wide(args.Get("title"));
    HWND hwnd = FindTopLevel(search, Timeout(args));
    if (!hwnd) Fail("no message box is open");
    return hwnd;
}

HWND Control(HWND parent, const Args& args) {
    const long id = args.Number("id");
    HWND control = GetDlgItem(parent, static_cast<int>(id));
    if (!control) Fail("window has no control with id " + std::to_string(id));
    return control;
}

std::string RectText(const RECT& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
           std::to_string(rect.right - rect.left) + "," + std::to_string(rect.bottom - rect.top);
}

// The rectangle is in the parent's client coordinates, as the dialog
// template places it; "default=1" marks the default push button, "checked="
// follows for check boxes and radio buttons.
// Only the window's own controls: the list's header is the list's business.
BOOL CALLBACK PrintControl(HWND hwnd, LPARAM parent) {
    if (GetParent(hwnd) != reinterpret_cast<HWND>(parent)) return TRUE;
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&rect), 2);
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    std::string line = "control id=";
    line += std::to_string(GetDlgCtrlID(hwnd));
    line += " class=" + Quoted(ClassOf(hwnd));
    line += " text=" + Quoted(TextOf(hwnd));
    line += " visible=";
    line += IsWindowVisible(hwnd) ? '1' : '0';
    line += " enabled=";
    line += IsWindowEnabled(hwnd) ? '1' : '0';
    line += " rect=" + RectText(rect);
    if (ClassOf(hwnd) == L"Button") {
        const LONG type = style & BS_TYPEMASK;
        line += " default=";
        line += type == BS_DEFPUSHBUTTON ? '1' : '0';
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
            type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
            line += " checked=" + std::to_string(Send(hwnd, BM_GETCHECK, 0, 0));
    }
    Say(line);
    return TRUE;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct Counter {
    std::wstring title, className;
    int count = 0;
};

BOOL CALLBACK CountWindow(HWND hwnd, LPARAM lparam) {
    auto* c = reinterpret_cast<Counter*>(lparam);
    if (IsWindowVisible(hwnd) && TextOf(hwnd) == c->title &&
        (c->className.empty() || ClassOf(hwnd) == c->className))
        ++c->count;
    return TRUE;
}

// A hidden dialog with the program's font ("MS Shell Dlg" 8 point), built
// from a template as the program's are; destroy it after use.
HWND CreateFontDialog() {
    alignas(4) BYTE templ[256] = {};
    BYTE* p = templ;
    auto word = [&p](WORD value) { std::memcpy(p, &value, sizeof(value)); p += sizeof(value); };
    auto dword = [&p](DWORD value) { std::memcpy(p, &value, sizeof(value)); p += sizeof(value); };
    word(1);       // dlgVer
    word(0xFFFF);  // signature: DLGTEMPLATEEX
    dword(0);      // helpID
    dword(0);      // exStyle
    dword(DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    word(0);  // no controls
    word(0); word(0); word(100); word(100);
    word(0);  // no menu
    word(0);  // the dialog class
    word(0);  // no title
    word(8);  // point size
    word(0);  // weight
    *p++ = 0;  // italic
    *p++ = 1;  // charset
    for (const wchar_t* face = L"MS Shell Dlg"; *face; ++face) word(static_cast<WORD>(*face));
    word(0);
    HWND dialog = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(templ), nullptr,
        QuietDialogProc, 0);
    if (!dialog) Fail("cannot create a dialog with the program's font");
    return dialog;
}

// Dialog units of a template with the program's font, mapped as the dialog
// manager maps each field of a control's place: a throwaway hidden dialog
// built from such a template answers MapDialogRect.
void PrintDialogUnits(const std::string& rects) {
    HWND dialog = CreateFontDialog();
    size_t start = 0;
    while (start < rects.size()) {
        size_t end = rects.find(';', start);
        if (end == std::string::npos) end = rects.size();
        const std::string one = rects.substr(start, end - start);
        start = end + 1;
        long v[4] = {};
        if (std::sscanf(one.c_str(), "%ld,%ld,%ld,%ld", &v[0], &v[1], &v[2], &v[3]) != 4) {
            DestroyWindow(dialog);
            Say("usage: --rects takes x,y,w,h;... not " + one);
            std::exit(2);
        }
        // Each field on its own, as a control's x, y, cx and cy are.
        RECT mapped = {v[0], v[1], v[2], v[3]};
        MapDialogRect(dialog, &mapped);
        Say("dlu " + one + " px " + std::to_string(mapped.left) + "," + std::to_string(mapped.top) +
            "," + std::to_string(mapped.right) + "," + std::to_string(mapped.bottom));
    }
    DestroyWindow(dialog);
}

struct Placed {
    HWND hwnd;
    int id;
    std::wstring className;
    LONG style;
    RECT rect;  // in the window's client area
};

bool IsGroupBox(const Placed& control) {
    return control.className == L"Button" && (control.style & BS_TYPEMASK) == BS_GROUPBOX;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// The width and height of the ink of a control's text in the DC's font,
// its "&" taken as a mnemonic unless the control shows it: what must not be
// cut. (A font's advance widths may run past its last glyph by a few pixels;
// the control clips pixels, not advances.)
SIZE TextNeeds(HDC dc, const std::wstring& text, bool prefix) {
    const UINT format = DT_SINGLELINE | DT_EXPANDTABS | (prefix ? 0 : DT_NOPREFIX);
    RECT box = {0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format | DT_CALCRECT);
    const int width = box.right + 8, height = box.bottom + 8;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (canvas == nullptr || bits == nullptr) return {box.right, box.bottom};
    HGDIOBJ previous = SelectObject(dc, canvas);
    std::memset(bits, 0xFF, static_cast<size_t>(width) * height * 4);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    RECT where = {0, 0, width, height};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &where, format);
    GdiFlush();
    SIZE ink = {0, 0};
    const auto* pixel = static_cast<const DWORD*>(bits);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((pixel[y * width + x] & 0xFFFFFF) != 0xFFFFFF) {
                ink.cx = std::max<LONG>(ink.cx, x + 1);
                ink.cy = std::max<LONG>(ink.cy, y + 1);
            }
    SelectObject(dc, previous);
    DeleteObject(canvas);
    return ink;
}

// Checks the window's own controls as laid out: each inside the client
// area, none over another (a group box holds what lies wholly in it), and
// each push button, check box and text showing its whole text in the
// program's font at fontDpi (0: this process's DPI, the program's own at
// start). One line per problem, then a summary line.
int PrintLayout(HWND window, UINT fontDpi) {
    std::vector<Placed> controls;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        Placed placed{child, GetDlgCtrlID(child), ClassOf(child), GetWindowLongW(child, GWL_STYLE), {}};
        GetWindowRect(child, &placed.rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed.rect), 2);
        controls.push_back(placed);
    }
    RECT client = {};
    GetClientRect(window, &client);
    int problems = 0;
    for (const Placed& control : controls)
        if (!Inside(control.rect, client)) {
            Say("outside id=" + std::to_string(control.id) + " rect=" + RectText(control.rect));
            ++problems;
        }
    for (size_t a = 0; a < controls.size(); ++a)
        for (size_t b = a + 1; b < controls.size(); ++b) {
            RECT common;
            if (!IntersectRect(&common, &controls[a].rect, &controls[b].rect)) continue;
            if ((IsGroupBox(controls[a]) && Inside(controls[b].rect, controls[a].rect)) ||
                (IsGroupBox(controls[b]) && Inside(controls[a].rect, controls[b].rect)))
                continue;
            Say("overlap id=" + std::to_string(controls[a].id) + " id=" +
                std::to_string(controls[b].id));
            ++problems;
        }

    HWND fontDialog = CreateFontDialog();
    LOGFONTW logFont = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(fontDialog, WM_GETFONT, 0, 0)),
               sizeof(logFont), &logFont);
    DestroyWindow(fontDialog);
    HDC dc = CreateCompatibleDC(nullptr);
    const int ownDpi = GetDeviceCaps(dc, LOGPIXELSY);
    // A dialog's font at another DPI, made as Windows makes it: from points.
    if (fontDpi != 0)
        logFont.lfHeight = -MulDiv(MulDiv(-logFont.lfHeight, 72, ownDpi), static_cast<int>(fontDpi), 72);
    HFONT font = CreateFontIndirectW(&logFont);
    HGDIOBJ previous = SelectObject(dc, font);
    // A check box's box and the gap after it: drawn at the system's scale.
    const int box = GetSystemMetrics(SM_CXMENUCHECK) + 4;
    int texts = 0;
    for (const Placed& control : controls) {
        const LONG type = control.style & BS_TYPEMASK;
        int room = 0;
        bool prefix = true;
        if (control.className == L"Button" &&
            (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)) {
            room = control.rect.right - control.rect.left - 6;  // the bevel and focus frame
        } else if (control.className == L"Button" &&
                   (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX)) {
            room = control.rect.right - control.rect.left - box;
        } else if (control.className == L"Static" && (control.style & SS_TYPEMASK) <= SS_RIGHT) {
            RECT inner = {};
            GetClientRect(control.hwnd, &inner);
            room = inner.right;
            prefix = (control.style & SS_NOPREFIX) == 0;
        } else {
            continue;
        }
        ++texts;
        const std::wstring text = TextOf(control.hwnd);
        const SIZE needs = TextNeeds(dc, text, prefix);
        const int height = control.rect.bottom - control.rect.top;
        if (needs.cx > room || needs.cy > height) {
            Say("cut id=" + std::to_string(control.id) + " text=" + Quoted(text) + " needs=" +
                std::to_string(needs.cx) + "x" + std::to_string(needs.cy) + " room=" +
                std::to_string(room) + "x" + std::to_string(height));
            ++problems;
        }
    }
    SelectObject(dc, previous);
    DeleteObject(font);
    DeleteDC(dc);
    Say("layout controls=" + std::to_string(controls.size()) + " texts=" + std::to_string(texts) +
        " problems=" + std::to_string(problems));
    return 0;
}

void PrintWindow(HWND hwnd) {
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(hwnd, GWL_EXSTYLE);
    Say("window title=" + Quoted(TextOf(hwnd)) + " class=" + Quoted(ClassOf(hwnd)));
    auto flag = [](const char* name, bool on) { return std::string(name) + (on ? "=1" : "=0"); };
    Say("frame " + flag("caption", (style & WS_CAPTION) == WS_CAPTION) + " " +
        flag("sysmenu", style & WS_SYSMENU) + " " + flag("minimizebox", style & WS_MINIMIZEBOX) +
        " " + flag("maximizebox", style & WS_MAXIMIZEBOX) + " " +
        flag("sizing", style & WS_THICKFRAME) + " " + flag("modalframe", exStyle & WS_EX_DLGMODALFRAME) +
        " " + flag("appwindow", exStyle & WS_EX_APPWINDOW));
    HWND owner = GetWindow(hwnd, GW_OWNER);
    Say("owner " + (owner ? Quoted(TextOf(owner)) : std::string("none")));
    RECT client = {}, frame = {};
    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &frame);
    Say("client " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    Say("rect " + RectText(frame));
    Say("screen " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
        std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    // Centred over the owner, or over the screen when there is none; a pixel
    // of rounding either way.
    RECT over = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (owner) GetWindowRect(owner, &over);
    const long dx = (frame.left + frame.right) - (over.left + over.right);
    const long dy = (frame.top + frame.bottom) - (over.top + over.bottom);
    Say(flag("centred", dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2) + " " +
        flag("iconic", IsIconic(hwnd)) + " " + flag("enabled", IsWindowEnabled(hwnd)) + " " +
        flag("foreground", GetForegroundWindow() == hwnd));
}

int PrintListView(HWND list) {
    RemoteBuffer remote(list, kRemoteSize);
    HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
    const int columns = header ? static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    Say("columns " + std::to_string(columns));
    for (int c = 0; header && c < columns; ++c) {
        const auto width = Send(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c), 0);
        Say("column " + std::to_string(c) + " width=" + std::to_string(width) +
            " text=" + Quoted(HeaderText(header, remote, c)));
    }
    RECT inside = {};
    GetClientRect(list, &inside);
    Say("list client " + std::to_string(inside.right) + "x" + std::to_string(inside.bottom));
    const int rows = static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
    Say("rows " + std::to_string(rows));
    for (int r = 0; r < rows; ++r) {
        const auto state = static_cast<UINT>(
            Send(list, LVM_GETITEMSTATE, static_cast<WPARAM>(r),
                 LVIS_STATEIMAGEMASK | LVIS_SELECTED | LVIS_FOCUSED));
        // State image 2 is the ticked box, 1 the empty one, 0 none.
        const UINT image = (state & LVIS_STATEIMAGEMASK) >> 12;
        // Appended piece by piece: GCC 12's -Wrestrict misfires at -O2 on a
        // long chain of string additions.
        std::string line = "row ";
        line += std::to_string(r);
        line += " checked=";
        line += (image == 2) ? '1' : '0';
        line += " selected=";
        line += (state & LVIS_SELECTED) ? '1' : '0';
        line += " focused=";
        line += (state & LVIS_FOCUSED) ? '1' : '0';
        for (int c = 0; c < columns; ++c) {
            line += ' ';
            line += Quoted(ListItemText(list, remote, r, c));
        }
        Say(line);
    }
    return 0;
}

UINT VirtualKey(const std::string& name) {
    static const std::map<std::string, UINT> kNames = {
        {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE}, {"SPACE", VK_SPACE},
        {"TAB", VK_TAB},       {"DELETE", VK_DELETE}, {"UP", VK_UP},
        {"DOWN", VK_DOWN},     {"HOME", VK_HOME},     {"END", VK_END},
        {"F1", VK_F1},         {"F5", VK_F5},         {"LEFT", VK_LEFT},
        {"RIGHT", VK_RIGHT},
    };
    auto it = kNames.find(name);
    if (it != kNames.end()) return it->second;
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return static_cast<UINT>(std::toupper(static_cast<unsigned char>(name[0])));
    char* end = nullptr;
    unsigned long code = std::strtoul(name.c_str(), &end, 0);
    if (name.empty() || *end != '\0' || code == 0 || code > 0xFE) {
        Say("usage: unknown key " + name);
        std::exit(2);
    }
    return static_cast<UINT>(code);
}

// Posted, not sent: a key or click that opens a modal box must not block the
// driver until the box is answered.
void PostKey(HWND target, UINT vk, bool withChar) {
    const UINT scan = MapVirtualKeyW(vk, 0);
    const LPARAM down = 1 | static_cast<LPARAM>(scan << 16);
    const LPARAM up = down | (1L << 30) | (1L << 31);
    PostMessageW(target, WM_KEYDOWN, vk, down);
    if (withChar && (vk == VK_SPACE || vk == VK_RETURN || vk == VK_ESCAPE))
        PostMessageW(target, WM_CHAR, vk == VK_SPACE ? L' ' : (vk == VK_RETURN ? L'\r' : 0x1B),
                     down);
    PostMessageW(target, WM_KEYUP, vk, up);
}

bool WaitGone(HWND hwnd, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(100);
    }
    return true;
}

// The handles of one process in the system's table (SystemHandleInformation,
// class 16): the count for systems whose GetProcessHandleCount answers 0.
bool SystemHandleCount(DWORD pid, DWORD& count) {
    struct Entry {
        ULONG processId;
        BYTE objectType;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG entries;
        Entry entry[1];
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return false;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<BYTE> buffer(1 << 16);
    LONG status;
    ULONG returned = 0;
    while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &returned)) ==
               kInfoLengthMismatch &&
           buffer.size() < (64u << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0) return false;
    ULONG entries = 0;
    std::memcpy(&entries, buffer.data(), sizeof(entries));
    const size_t first = offsetof(Table, entry);
    if (entries > (buffer.size() - first) / sizeof(Entry)) return false;
    count = 0;
    for (ULONG i = 0; i < entries; ++i) {
        Entry entry;
        std::memcpy(&entry, buffer.data() + first + i * sizeof(Entry), sizeof(entry));
        if (entry.processId == pid) ++count;
    }
    return true;
}

int Run(const Args& args) {
    const std::string& command = args.command;
    if (command == "wait") {
        HWND hwnd = MainWindow(args);
        Say("window title=" + Quoted(TextOf(hwnd)) + " class=" + Quoted(ClassOf(hwnd)));
        return 0;
    }
    if (command == "controls") {
        HWND hwnd = MainWindow(args);
        EnumChildWindows(hwnd, PrintControl, reinterpret_cast<LPARAM>(hwnd));
        return 0;
    }
    if (command == "text") {
        HWND control = Control(MainWindow(args), args);
        Say("text id=" + std::to_string(GetDlgCtrlID(control)) + " " + Quoted(TextOf(control)));
        return 0;
    }
    if (command == "listview") return PrintListView(Control(MainWindow(args), args));
    if (command == "checkbox") {
        HWND control = Control(MainWindow(args), args);
        Say("checkbox id=" + std::to_string(GetDlgCtrlID(control)) +
            " state=" + std::to_string(Send(control, BM_GETCHECK, 0, 0)));
        return 0;
    }
    if (command == "tick") {
        HWND list = Control(MainWindow(args), args);
        const long row = args.Number("row");
        const long state = args.Number("state");
        SetListItemState(list, static_cast<int>(row), INDEXTOSTATEIMAGEMASK(state ? 2 : 1),
                         LVIS_STATEIMAGEMASK);
        Say("ticked row=" + std::to_string(row) + " state=" + std::to_string(state ? 1 : 0));
        return 0;
    }
    if (command == "select") {
        HWND list = Control(MainWindow(args), args);
        const long row = args.Number("row");
        SetListItemState(list, static_cast<int>(row), LVIS_SELECTED | LVIS_FOCUSED,
                         LVIS_SELECTED | LVIS_FOCUSED);
        Say("selected row=" + std::to_string(row));
        return 0;
    }
    if (command == "click") {
        HWND control = Control(MainWindow(args), args);
        if (!IsWindowEnabled(control)) Fail("control " + args.Get("id") + " is disabled");
        PostMessageW(control, BM_CLICK, 0, 0);
        Say("clicked id=" + args.Get("id"));
        return 0;
    }
    if (command == "press") {
        HWND control = Control(MainWindow(args), args);
        if (!IsWindowEnabled(control)) Fail("control " + args.Get("id") + " is disabled");
        // Sent, so the driver waits for the command instead of guessing when
        // a posted click has been handled.
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, Timeout(args), &result))
            Fail("the click on " + args.Get("id") + " was not handled in time");
        Say("pressed id=" + args.Get("id"));
        return 0;
    }
    if (command == "key") {
        HWND hwnd = MainWindow(args);
        HWND target = args.Has("id") ? Control(hwnd, args) : hwnd;
        PostKey(target, VirtualKey(args.Get("vk")), args.Number("char", 1) != 0);
        Say("key " + args.Get("vk"));
        return 0;
    }
    if (command == "msgbox") {
        HWND box = MessageBoxWindow(args);
        Say("msgbox title=" + Quoted(TextOf(box)) +
            " text=" + Quoted(TextOf(GetDlgItem(box, kMessageBoxTextId))));
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (ClassOf(child) == L"Button")
                Say("button id=" + std::to_string(GetDlgCtrlID(child)) +
                    " text=" + Quoted(TextOf(child)));
        Say(std::string("foreground=") + (GetForegroundWindow() == box ? "1" : "0"));
        return 0;
    }
    if (command == "answer") {
        HWND box = MessageBoxWindow(args);
        const long id = args.Number("button");
        HWND button = GetDlgItem(box, static_cast<int>(id));
        if (!button) Fail("the message box has no button " + std::to_string(id));
        PostMessageW(button, BM_CLICK, 0, 0);
        if (!WaitGone(box, Timeout(args))) Fail("the message box stayed open");
        Say("answered button=" + std::to_string(id));
        return 0;
    }
    if (command == "close") {
        HWND hwnd = MainWindow(args);
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        if (!WaitGone(hwnd, Timeout(args))) Fail("the window did not close");
        Say("closed");
        return 0;
    }
    if (command == "window") {
        PrintWindow(MainWindow(args));
        return 0;
    }
    if (command == "dlu") {
        PrintDialogUnits(args.Get("rects"));
        return 0;
    }
    if (command == "dblclick") {
        HWND list = Control(MainWindow(args), args);
        const long row = args.Number("row");
        RemoteBuffer remote(list, kRemoteSize);
        RECT rect = {LVIR_LABEL, 0, 0, 0};
        remote.Write(kRecordOffset, &rect, sizeof(rect));
        if (!Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                  reinterpret_cast<LPARAM>(remote.At(kRecordOffset))))
            Fail("the list has no row " + std::to_string(row));
        remote.Read(kRecordOffset, &rect, sizeof(rect));
        const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        // The down/up pair first, as a real double-click brings, then the
        // double-click message itself.
        PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMessageW(list, WM_LBUTTONUP, 0, at);
        Say("double-clicked row=" + std::to_string(row));
        return 0;
    }
    if (command == "syscommand") {
        HWND hwnd = MainWindow(args);
        PostMessageW(hwnd, WM_SYSCOMMAND, static_cast<WPARAM>(args.Number("command")),
                     static_cast<LPARAM>(args.Number("lparam", 0)));
        Say("syscommand " + args.Get("command"));
        return 0;
    }
    if (command == "mnemonic") {
        HWND hwnd = MainWindow(args);
        const std::string letter = args.Get("char");
        if (letter.size() != 1) {
            Say("usage: --char takes one letter");
            return 2;
        }
        // Bit 29: the Alt key is down, as with a real Alt+letter.
        HWND focus = hwnd;
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        if (GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) && info.hwndFocus &&
            (info.hwndFocus == hwnd || IsChild(hwnd, info.hwndFocus)))
            focus = info.hwndFocus;
        PostMessageW(focus, WM_SYSCHAR, static_cast<WPARAM>(letter[0]), 1 | (1L << 29));
        Say("mnemonic " + letter);
        return 0;
    }
    if (command == "menu") {
        Search search;
        search.anyTitle = true;
        search.className = L"#32768";
        HWND menu = FindTopLevel(search, Timeout(args));
        if (!menu) Fail("no popup menu is open");
        RECT rect = {};
        GetWindowRect(menu, &rect);
        Say("menu open rect=" + RectText(rect));
        return 0;
    }
    if (command == "count") {
        Counter counter;
        counter.title = Wide(args.Get("title"));
        if (args.Has("class")) counter.className = Wide(args.Get("class"));
        EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&counter));
        Say("count " + std::to_string(counter.count));
        return 0;
    }
    if (command == "process") {
        DWORD pid = 0;
        GetWindowThreadProcessId(MainWindow(args), &pid);
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        if (!process) Fail("cannot open process " + std::to_string(pid));
        DWORD handles = 0;
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof(memory);
        const bool counted = GetProcessHandleCount(process, &handles) != FALSE;
        const bool measured =
            GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                 sizeof(memory)) != FALSE;
        const DWORD error = GetLastError();
        CloseHandle(process);
        if (!counted || !measured)
            Fail("cannot read the figures of process " + std::to_string(pid) + " (error " +
                 std::to_string(error) + ")");
        // Wine answers 0 for both; its system handle table and its commit
        // figure (PagefileUsage, the same number as PrivateUsage on Windows)
        // are filled. Where a figure comes from is printed with it.
        std::string handleSource = "GetProcessHandleCount";
        if (handles == 0) {
            if (!SystemHandleCount(pid, handles)) Fail("cannot read the system handle table");
            handleSource = "SystemHandleInformation";
        }
        SIZE_T privateBytes = memory.PrivateUsage;
        std::string privateSource = "PrivateUsage";
        if (privateBytes == 0) {
            privateBytes = memory.PagefileUsage;
            privateSource = "PagefileUsage";
        }
        Say("process pid=" + std::to_string(pid) + " handles=" + std::to_string(handles) +
            " private=" + std::to_string(privateBytes) +
            " workingset=" + std::to_string(memory.WorkingSetSize) + " handles-from=" +
            handleSource + " private-from=" + privateSource);
        return 0;
    }
    if (command == "devicechange") {
        HWND hwnd = MainWindow(args);
        // Sent, as the system's broadcast is: the handler (a whole rebuild of
        // the list) has run when this returns.
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(hwnd, WM_DEVICECHANGE, static_cast<WPARAM>(args.Number("event")),
                                 0, SMTO_NORMAL, Timeout(args), &result))
            Fail("the device change was not handled in time");
        Say("devicechange event=" + args.Get("event") + " result=" + std::to_string(result));
        return 0;
    }
    if (command == "layout") {
        return PrintLayout(MainWindow(args), static_cast<UINT>(args.Number("dpi", 0)));
    }
    if (command == "dpichanged") {
        HWND hwnd = MainWindow(args);
        const UINT from = GetDpiForWindow(hwnd);
        const UINT to = static_cast<UINT>(args.Number("dpi"));
        if (from == 0 || to == 0) Fail("no DPI to change from or to");
        RECT frame = {};
        GetWindowRect(hwnd, &frame);
        const int width = MulDiv(frame.right - frame.left, static_cast<int>(to), static_cast<int>(from));
        const int height = MulDiv(frame.bottom - frame.top, static_cast<int>(to), static_cast<int>(from));
        RECT suggested = {(frame.left + frame.right - width) / 2, (frame.top + frame.bottom - height) / 2, 0, 0};
        suggested.right = suggested.left + width;
        suggested.bottom = suggested.top + height;
        RemoteBuffer remote(hwnd, kRemoteSize);
        remote.Write(kRecordOffset, &suggested, sizeof(suggested));
        Send(hwnd, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(remote.At(kRecordOffset)));
        Say("dpichanged from=" + std::to_string(from) + " to=" + std::to_string(to) +
            " suggested=" + RectText(suggested));
        return 0;
    }
    if (command == "columnwidth") {
        HWND list = Control(MainWindow(args), args);
        const long column = args.Number("column");
        if (!Send(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column),
                  MAKELPARAM(args.Number("width"), 0)))
            Fail("the list refused the width of column " + std::to_string(column));
        Say("column " + std::to_string(column) + " set");
        return 0;
    }
    if (command == "focus") {
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(MainWindow(args), nullptr), &info))
            Fail("cannot read the window's thread");
        if (info.hwndFocus == nullptr) {
            Say("focus none");
        } else {
            HWND top = GetAncestor(info.hwndFocus, GA_ROOT);
            Say("focus id=" + std::to_string(info.hwndFocus == top ? 0 : GetDlgCtrlID(info.hwndFocus)) +
                " class=" + Quoted(ClassOf(info.hwndFocus)) + " in=" + Quoted(TextOf(top)));
        }
        Say("active " + (info.hwndActive ? Quoted(TextOf(info.hwndActive)) : std::string("none")));
        return 0;
    }
    if (command == "gone") {
        Search search;
        search.title = Wide(args.Get("title"));
        const DWORD timeout = Timeout(args);
        const DWORD start = GetTickCount();
        for (;;) {
            search.found = nullptr;
            EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
            if (!search.found) break;
            if (GetTickCount() - start >= timeout) Fail("the window is still there");
            Sleep(100);
        }
        Say("gone");
        return 0;
    }
    Say("usage: unknown command " + command);
    return 2;
}

}  // namespace

int main(int argc, char** argv) { return Run(Parse(argc, argv)); }
