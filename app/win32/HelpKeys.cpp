#include "app/win32/HelpKeys.h"

#include "app/Trayhop32Dlg.h"

#include <vector>

namespace {
// A window property: cheap to set, and gone with the window.
constexpr wchar_t kTemplateProperty[] = L"Trayhop32.HelpTemplate";
}  // namespace

void SetDialogHelpTemplate(HWND dialog, UINT templateId) {
    ::SetPropW(dialog, kTemplateProperty,
               reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(templateId)));
}

UINT GetDialogHelpTemplate(HWND window) {
    if (window == nullptr) return 0;
    return static_cast<UINT>(reinterpret_cast<ULONG_PTR>(::GetPropW(window, kTemplateProperty)));
}

DWORD FindHelpContext(HWND mainWindow) {
    std::vector<UINT> chain;
    // GetParent answers the owner for a top-level window, so one walk covers
    // a control inside the About box up to the box and on to the main window.
    // The walk is bounded against a cycle of owners.
    for (HWND window = ::GetFocus(); window != nullptr && chain.size() < 64;
         window = ::GetParent(window))
        chain.push_back(GetDialogHelpTemplate(window));

    UINT lastActive = 0;
    if (mainWindow != nullptr) {
        HWND popup = ::GetLastActivePopup(mainWindow);
        if (popup != mainWindow) lastActive = GetDialogHelpTemplate(popup);
    }
    return ChooseHelpContext(chain, lastActive);
}

bool IsPlainHelpKey(UINT message, WPARAM key, bool shift, bool ctrl, bool alt) {
    return message == WM_KEYDOWN && key == VK_F1 && !shift && !ctrl && !alt;
}

bool IsPlainHelpKey(const MSG& msg) {
    auto down = [](int key) { return (::GetKeyState(key) & 0x8000) != 0; };
    return IsPlainHelpKey(msg.message, msg.wParam, down(VK_SHIFT), down(VK_CONTROL),
                          down(VK_MENU));
}

HelpKeyFilter* HelpKeyFilter::s_current = nullptr;

HelpKeyFilter::HelpKeyFilter(HWND mainWindow)
    : m_hook(::SetWindowsHookExW(WH_MSGFILTER, &HelpKeyFilter::FilterProc, nullptr,
                                 ::GetCurrentThreadId())),
      m_mainWindow(mainWindow),
      m_previous(s_current) {
    s_current = this;
}

HelpKeyFilter::~HelpKeyFilter() {
    if (m_hook != nullptr) ::UnhookWindowsHookEx(m_hook);
    s_current = m_previous;
}

LRESULT CALLBACK HelpKeyFilter::FilterProc(int code, WPARAM wParam, LPARAM lParam) {
    HelpKeyFilter* self = s_current;
    if (code >= 0 && self != nullptr && lParam != 0 &&
        (code == MSGF_DIALOGBOX || code == MSGF_MESSAGEBOX)) {
        const MSG& msg = *reinterpret_cast<const MSG*>(lParam);
        if (IsPlainHelpKey(msg) && ::IsWindow(self->m_mainWindow)) {
            ::SendMessageW(self->m_mainWindow, WM_COMMAND, MAKEWPARAM(kCmdHelp, 0), 0);
            return TRUE;  // consumed: the dialog does not see the key
        }
    }
    return ::CallNextHookEx(self != nullptr ? self->m_hook : nullptr, code, wParam, lParam);
}
