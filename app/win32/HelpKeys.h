// Help from any of the program's windows: which dialog's context F1 and
// "&Help..." open, and the F1 key inside dialogs and message boxes that run
// their own modal loops.
#pragma once

#include "platform/Win32Types.h"

// Marks a dialog window as one of the program's dialogs, answering for help
// with its template number. Each dialog calls it from WM_INITDIALOG.
void SetDialogHelpTemplate(HWND dialog, UINT templateId);
// The template number a window answers with, or 0 (controls, other windows).
UINT GetDialogHelpTemplate(HWND window);

// The help context for the Help command of the main window: the focused
// window's chain of parents and owners first, then the dialog last active
// over the main window, then the main window itself.
DWORD FindHelpContext(HWND mainWindow);

// True for the F1 key pressed without Shift, Ctrl or Alt. The modifier
// states are passed in so that the decision does not depend on the live
// keyboard.
bool IsPlainHelpKey(UINT message, WPARAM key, bool shift, bool ctrl, bool alt);
// The same for a message taken from the queue, with the keyboard's state now.
bool IsPlainHelpKey(const MSG& msg);

// While it lives, F1 pressed in any dialog box or message box of this thread
// sends the Help command to the main window (the modal loops of DialogBox and
// MessageBox never show their keys to the main window's loop).
class HelpKeyFilter {
public:
    explicit HelpKeyFilter(HWND mainWindow);
    HelpKeyFilter(const HelpKeyFilter&) = delete;
    HelpKeyFilter& operator=(const HelpKeyFilter&) = delete;
    ~HelpKeyFilter();

private:
    static LRESULT CALLBACK FilterProc(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hook;
    HWND m_mainWindow;
    HelpKeyFilter* m_previous;
    static HelpKeyFilter* s_current;
};
