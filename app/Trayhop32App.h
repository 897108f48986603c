// The application object: one per process, created before start-up runs. It
// holds the drive table and the refresh guard, takes the one-instance mutex,
// refuses 64-bit systems and read-only registries, and runs the main window.
#pragma once

#include "app/UserInterface.h"
#include "inventory/DriveTable.h"
#include "platform/Owners.h"
#include "platform/Platform.h"

#include <string>

class CTrayhop32App;

// Supplies the main window to start-up. The real program runs its dialog;
// tests run a fake. While the window exists the runner keeps the
// application's m_hMainWnd set to it, so program message boxes are owned by it.
class MainWindowRunner {
public:
    virtual ~MainWindowRunner() = default;
    // Constructs the main window and runs it modally until the user closes it.
    virtual void RunMainWindow(CTrayhop32App& app) = 0;
    // Destroys the main window object; called after the instance mutex is closed.
    virtual void DestroyMainWindow(CTrayhop32App& app) = 0;
};

class CTrayhop32App {
public:
    explicit CTrayhop32App(Platform& platform);
    CTrayhop32App(const CTrayhop32App&) = delete;
    CTrayhop32App& operator=(const CTrayhop32App&) = delete;

    Platform& GetPlatform() { return m_platform; }

    // The start-up sequence: the library search, common controls, instance
    // mutex (or activation of the running instance), the 64-bit and registry
    // checks, then the main window. Always returns false: the process ends
    // when it returns.
    bool InitInstance(MainWindowRunner& runner);

    // Takes the current folder out of the library search, and where Windows
    // allows it every folder but the system's.
    void RestrictLibrarySearch();
    // True when another instance is, or may be, running; false when this
    // process now holds the instance mutex. A second start whose first
    // instance has no window in this session is told it runs in another
    // user's session and ends.
    bool CreateInstanceMutex();
    // True when a running instance's window was found and brought forward.
    bool ActivateRunningInstance();
    bool IsWindows64();
    // True when a value can be written under the settings key of the current user.
    bool CanWriteUserKey();

    // Modal box captioned with the program's name, owned by the main window while it
    // exists; returns the button code.
    int ProgramMessageBox(const wchar_t* text, UINT flags);

    // The program's own path with its extension replaced by ".CHM".
    std::wstring HelpFilePath();

    bool HoldsInstanceMutex() const { return m_instanceMutex.Valid(); }

    // Clears and refills the drive table from the machine (inventory/InventoryBuild.cpp).
    int RebuildDriveTable();

    DriveTable m_driveTable;
    // The refresh guard: no build, fill or refresh runs while it is false.
    bool m_bRefreshAllowed = true;
    // A build asked for while one runs (a notification inside a message box
    // of the build) is remembered instead of started.
    bool m_bBuildInProgress = false;
    bool m_bRefreshPending = false;
    // Set for the console program's list --all: the build then applies
    // neither the bus nor the kind options (the window never sets it).
    bool m_bShowAllDrives = false;
    // The main window while it exists; owner of the program message boxes.
    HWND m_hMainWnd = nullptr;
    // The wait cursor of the main window; null before it exists.
    UserInterface* m_pUserInterface = nullptr;

private:
    Platform& m_platform;
    // Held for the whole run and closed after the main window; on the error
    // exits it goes with the process.
    UniqueHandle m_instanceMutex;
    // Set by CreateInstanceMutex when another process certainly holds the mutex.
    bool m_bInstanceMutexElsewhere = false;
};
