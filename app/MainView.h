// The main window as the commands see it: the drive list's rows, the Remove
// Devices button, the status line and the wait cursor. The Win32 side wraps
// the real controls; tests use a fake that behaves like the list control (a
// tick change raises the item-changed notification).
#pragma once

#include "app/UserInterface.h"
#include "platform/Win32Types.h"

struct DriveRecord;

class MainView : public UserInterface {
public:
    // Rows of the list (control 2001).
    virtual int GetItemCount() = 0;
    virtual void DeleteAllItems() = 0;
    // Inserts a row with its text and row data; the new row's index, or -1.
    virtual int InsertItem(int index, const wchar_t* text, DriveRecord* data) = 0;
    virtual void SetItemText(int index, int column, const wchar_t* text) = 0;
    virtual DriveRecord* GetItemData(int index) = 0;
    virtual bool IsItemChecked(int index) = 0;
    // Like the control, a change of the tick raises the item-changed notification.
    virtual void SetItemChecked(int index, bool checked) = 0;
    virtual bool IsItemSelected(int index) = 0;
    // The row that is both focused and selected, or -1.
    virtual int GetFocusedSelectedItem() = 0;

    // The Remove Devices button (control 2002) and the status line (control 2008).
    virtual void EnableRemoveButton(bool enable) = 0;
    virtual void SetStatusText(const wchar_t* text) = 0;

    // While the rows are replaced the list is not drawn; it is drawn once
    // when the outermost update ends. Use ListUpdate rather than the pair.
    virtual void BeginListUpdate() = 0;
    virtual void EndListUpdate() = 0;

    // Keeps the window answering for `milliseconds` while a command waits:
    // it repaints, and refuses commands as it does behind a message box.
    // False when the window was closed meanwhile.
    virtual bool PumpMessagesFor(DWORD milliseconds) = 0;
    // The window at its display scale (app/DisplayScale.h); sizes in pixels.
    virtual void InsertColumn(int index, const wchar_t* header, int width) = 0;
    // A column's width, or -1 when the list cannot say.
    virtual int GetColumnWidth(int index) = 0;
    virtual void SetColumnWidth(int index, int width) = 0;
    // The program icon loaded at these sizes as the window's big and small icon.
    virtual void SetWindowIcons(int bigSize, int smallSize) = 0;
    // Moves and sizes the window to a rectangle of the screen.
    virtual void SetWindowRect(const RECT& rect) = 0;
    // Moves, sizes and re-fonts the controls for a new DPI, where Windows
    // does not do it itself.
    virtual void RescaleControls(UINT fromDpi, UINT toDpi) = 0;
    // Horizontal dialog units of the window in pixels; 0 when unknown.
    virtual int DialogUnitsToPixels(int units) = 0;
};

// Pauses the list's drawing for the life of the guard, on every path out.
class ListUpdate {
public:
    explicit ListUpdate(MainView& view) : view_(view) { view_.BeginListUpdate(); }
    ListUpdate(const ListUpdate&) = delete;
    ListUpdate& operator=(const ListUpdate&) = delete;
    ~ListUpdate() { view_.EndListUpdate(); }

private:
    MainView& view_;
};
