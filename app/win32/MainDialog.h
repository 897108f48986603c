// The real main window: dialog template 102 run as a modeless dialog with a
// message loop of its own, so that keys reach the accelerator table and F1
// before the dialog's keyboard handling. It implements MainView over the
// real list (2001), Remove Devices button (2002) and status line (2008), and
// forwards messages and commands to CTrayhop32Dlg, where the behaviour lives.
#pragma once

#include "app/MainView.h"
#include "app/win32/DialogScale.h"
#include "platform/Win32Types.h"

#include <functional>
#include <memory>

class CTrayhop32App;
class CTrayhop32Dlg;
class ConfigDialogRunner;

class MainDialog : public MainView {
public:
    MainDialog(HINSTANCE instance, CTrayhop32App& app);
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;
    ~MainDialog() override;

    // Creates the window, shows it and pumps messages until it closes.
    // idle runs before each wait for a message (the demo delivers its
    // simulated device changes there); may be empty.
    void RunModal(const std::function<void()>& idle);

    // The Configuration dialog's runner; null leaves "&Configure..." inert.
    void SetConfigDialogRunner(ConfigDialogRunner* runner) { m_configRunner = runner; }

    HWND Window() const { return m_hWnd; }

    // MainView over the real controls.
    int GetItemCount() override;
    void DeleteAllItems() override;
    int InsertItem(int index, const wchar_t* text, DriveRecord* data) override;
    void SetItemText(int index, int column, const wchar_t* text) override;
    DriveRecord* GetItemData(int index) override;
    bool IsItemChecked(int index) override;
    void SetItemChecked(int index, bool checked) override;
    bool IsItemSelected(int index) override;
    int GetFocusedSelectedItem() override;
    void EnableRemoveButton(bool enable) override;
    void SetStatusText(const wchar_t* text) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void BeginListUpdate() override;
    void EndListUpdate() override;
    bool PumpMessagesFor(DWORD milliseconds) override;
    void InsertColumn(int index, const wchar_t* header, int width) override;
    int GetColumnWidth(int index) override;
    void SetColumnWidth(int index, int width) override;
    void SetWindowIcons(int bigSize, int smallSize) override;
    void SetWindowRect(const RECT& rect) override;
    void RescaleControls(UINT fromDpi, UINT toDpi) override;
    int DialogUnitsToPixels(int units) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void InitListControl();
    bool OnCommand(UINT id);
    bool OnNotify(const NMHDR& header, LRESULT& result);
    bool OnPaint();
    void ShowAbout();
    // True when a window this one owns (a box, a dialog, the help viewer)
    // has just given the activation back; the list then takes the keyboard.
    bool ReturnFocusToList(WPARAM wParam, LPARAM lParam);
    void EndDialog(int result);
    // Offers a queued message to the accelerators, F1 and the dialog's
    // keyboard handling; true when one of them consumed it.
    bool PreTranslateMessage(MSG& msg);

    HINSTANCE m_instance;
    CTrayhop32App& m_app;
    std::unique_ptr<CTrayhop32Dlg> m_logic;
    ConfigDialogRunner* m_configRunner = nullptr;
    HWND m_hWnd = nullptr;
    HWND m_list = nullptr;
    HWND m_status = nullptr;
    // The window's icons at its scale: the big one (also painted while
    // minimised and dragged) and the small one of the caption, each loaded
    // from the image of its size.
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    int m_iconSize = 0;
    DialogScale m_scale;
    HACCEL m_hAccel = nullptr;
    bool m_ended = false;
    int m_waitDepth = 0;
    int m_listUpdateDepth = 0;
    HCURSOR m_restoreCursor = nullptr;
};
