// The main window's behaviour, apart from the real window: initialisation
// beyond the window plumbing, the refresh key, the drive list and its ticks,
// and the routing targets of the commands. The Win32 dialog implements
// MainView over the real controls and forwards its messages here; tests drive
// the same class over a fake view.
#pragma once

#include "app/DisplayScale.h"
#include "app/MainView.h"
#include "platform/Owners.h"
#include "platform/Win32Types.h"

#include <memory>
#include <span>
#include <vector>

class CTrayhop32App;
class ConfigDialogRunner;
class RemovalLock;
struct DriveRecord;

// Template numbers of the program's dialogs; each dialog's help context is
// 0x20000 plus its template number.
inline constexpr UINT kMainDialogTemplate = 102;
inline constexpr UINT kAboutDialogTemplate = 109;
inline constexpr UINT kConfigDialogTemplate = 2426;
inline constexpr DWORD kHelpContextBase = 0x20000;

// Command numbers the main window routes.
inline constexpr UINT kCmdRemoveDevices = 2002;
inline constexpr UINT kCmdScanForDevices = 2003;
inline constexpr UINT kCmdConfigure = 2004;
inline constexpr UINT kCmdAbout = 2010;
inline constexpr UINT kCmdRefresh = 32771;
inline constexpr UINT kCmdHelp = 57670;
inline constexpr UINT kSysCmdAbout = 0x0010;

inline constexpr DWORD HelpContextForTemplate(UINT templateId) {
    return kHelpContextBase + templateId;
}

// The context Help opens at. focusChain lists, from the focused window up
// through its parents and owners, the template number of each window that is
// one of the program's dialogs and 0 for any other window (controls do not
// answer). The first dialog in the chain decides; failing that the dialog
// last active over the main window (0 for none); failing that the main window.
DWORD ChooseHelpContext(std::span<const UINT> focusChain, UINT lastActiveTemplate);

class CTrayhop32Dlg {
public:
    CTrayhop32Dlg(CTrayhop32App& app, MainView& view);
    CTrayhop32Dlg(const CTrayhop32Dlg&) = delete;
    CTrayhop32Dlg& operator=(const CTrayhop32Dlg&) = delete;
    // Frees every saved tick still held.
    ~CTrayhop32Dlg();

    // The steps of the window's initialisation that are not window plumbing.
    // The Win32 side calls InitDriveTable (allow refreshes, build the drive
    // table) before it turns the list into a report view with its columns,
    // and InitDriveList (fill the list) after.
    void InitDriveTable();
    void InitDriveList();

    // Command 32771 (F5).
    void OnRefreshKey();

    // The drive list.
    void FillDriveList();
    void SaveTickedDrives();
    void RestoreTickedDrives();
    void RefreshDriveList();
    // Notification handlers of the list; each returns the notification's result.
    LRESULT OnListItemChanged(int changedItem);
    // Asked by the list before a row's tick changes. A user's tick is refused
    // while the window is busy; the program's own ticks always pass.
    bool AllowTickChange() const;
    LRESULT OnListDblClk();
    LRESULT OnListColumnClick(int column);

    // Help command 57670: opens the help file beside the program at the
    // given context, or says it could not.
    void OnHelp(DWORD helpContext);

    // Defined with the commands they belong to.
    void OnScanForDevices();
    int ReenumerateDevices();
    void OnRemoveDevices();
    BOOL OnDeviceChange(UINT eventType, DWORD_PTR eventData);
    // Windows broadcasts arrivals and removals to top-level windows only for
    // lettered volumes: a new disk without partitions, a tape, or a volume
    // mounted in a folder would never refresh the list. The window registers
    // for the disk, CD-ROM and tape interfaces when it opens, and lets go
    // when it closes.
    void WatchDeviceInterfaces(HWND window);
    void StopWatchingDeviceInterfaces();
    void OnConfigure();

    // The Configuration dialog OnConfigure runs; without one the command does
    // nothing. The Win32 window supplies the real dialog, tests a scripted one.
    void SetConfigDialogRunner(ConfigDialogRunner* runner) { m_pConfigDialogRunner = runner; }

    // True while a build, a refresh or a command runs, or refreshes are held
    // back: the rows may point at records that are gone or about to go.
    bool IsBusy() const;

    // The display scale (app/DisplayScale.cpp). InitDisplayScale reads the
    // window's DPI, gives the window its icons at that scale and adds the
    // list's columns; the Win32 side calls it once the list is a report view.
    // OnDpiChanged follows WM_DPICHANGED (the window moved to a monitor of
    // another scale, or the scale was changed): the window takes the
    // suggested rectangle and the columns keep their proportions.
    void InitDisplayScale();
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    UINT Dpi() const { return m_dpi; }

    CTrayhop32App& App() { return m_app; }
    MainView& View() { return m_view; }
    // Saved copies waiting for RestoreTickedDrives, in row order.
    const std::vector<std::unique_ptr<DriveRecord>>& GetSavedTicks() const { return SavedTicks; }

private:
    CTrayhop32App& m_app;
    MainView& m_view;
    UserInterface* m_previousUserInterface;
    // Copies of the ticked records across a rebuild. Unbounded: a fixed number
    // of slots would silently drop ticks beyond it.
    std::vector<std::unique_ptr<DriveRecord>> SavedTicks;
    // True while RefreshDriveList runs its steps.
    bool m_bRefreshInProgress = false;
    // While the program itself fills the list or restores ticks, row changes
    // are only counted; the button and status line are set once afterwards.
    bool m_bRowsChanging = false;
    int m_deferredRowChanges = 0;
    // True while Scan, Remove Devices, Configure or the refresh key runs.
    bool m_bCommandInProgress = false;
    // True while the program itself ticks rows.
    bool m_bProgramTicking = false;
    ConfigDialogRunner* m_pConfigDialogRunner = nullptr;
    std::vector<UniqueDevNotify> m_deviceInterfaceNotifications;
    // The window's DPI now and when it opened, the scale its layout opened
    // at (LayoutDpi), and the columns' widths through changes of scale.
    UINT m_dpi = kDefaultDpi;
    UINT m_openingDpi = kDefaultDpi;
    UINT m_openingLayoutDpi = kDefaultDpi;
    ColumnWidths m_columnWidths;
    // The scale the columns are drawn at while the window is at dpi.
    UINT ColumnDpi(UINT dpi) const;

    // Runs the refresh a device change asked for while refreshes were held back.
    void CatchUpWithDeviceChanges();
    // Fills the list and restores the saved ticks with drawing paused.
    void FillAndRestoreTicks();
    // A command asked for while the window is busy is not run, now or later:
    // true, with the beep of a click on a window disabled by a modal box.
    bool RefuseWhileBusy();
    // Takes the machine-wide lock of removals and scans, waiting for a
    // console program's to end while the window keeps painting and answering
    // as behind a box. False when the window was closed meanwhile: the
    // command then does nothing. A lock that cannot be made is gone without.
    bool TakeMachineLock(RemovalLock& lock);
    void SetTickByProgram(int row, bool checked);
};
