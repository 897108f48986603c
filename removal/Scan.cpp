// "&Scan for Devices" and the device-change broadcasts: both bring newly
// attached drives into the list, and both respect the refresh guard.
#include "removal/Scan.h"

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "app/FlagScope.h"
#include "app/ProgramName.h"
#include "removal/RemovalLock.h"

namespace {

constexpr DWORD kSettleMilliseconds = 1000;

}  // namespace

ScanResult ReenumerateDeviceTree(Platform& platform) {
    DEVINST root = 0;
    CONFIGRET result = platform.CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL);
    // Synchronous, so the new devices are in the tree when the rebuild runs.
    if (result == CR_SUCCESS) result = platform.CM_Reenumerate_DevNode(root, CM_REENUMERATE_SYNCHRONOUS);

    if (result == CR_SUCCESS) return ScanOk;
    return result == CR_ACCESS_DENIED ? ScanAccessDenied : ScanFailed;
}

int CTrayhop32Dlg::ReenumerateDevices() {
    // The rebuild that follows fills the table again.
    m_app.m_driveTable.Clear();
    return ReenumerateDeviceTree(m_app.GetPlatform());
}

void CTrayhop32Dlg::OnScanForDevices() {
    if (RefuseWhileBusy()) return;
    FlagScope command(m_bCommandInProgress);
    WaitCursor wait(&m_view);
    RemovalLock machineLock(m_app.GetPlatform());
    if (!TakeMachineLock(machineLock)) return;
    m_view.SetStatusText(L"  Scanning for new devices, please wait...");

    m_app.m_bRefreshAllowed = false;
    SaveTickedDrives();
    const int result = ReenumerateDevices();
    m_app.m_bRefreshAllowed = true;

    {
        // From here until the list is filled again the rows still point into
        // the table the re-enumeration cleared, and the saved ticks wait for
        // this rebuild. A notification delivered inside the message box below
        // or inside one of the rebuild's own boxes is therefore only noted as
        // pending, as for a refresh already running, and run once afterwards.
        FlagScope inProgress(m_bRefreshInProgress);
        // Whatever was pending before is covered by this rebuild.
        m_app.m_bRefreshPending = false;

        if (result == ScanAccessDenied) m_app.ProgramMessageBox(kScanAccessDeniedMessage, MB_ICONERROR);

        // Rebuilt whatever the result, so a failed scan still shows the
        // current state.
        m_app.RebuildDriveTable();
        FillAndRestoreTicks();
    }
    if (m_app.m_bRefreshPending) RefreshDriveList();

    if (result != ScanAccessDenied) m_app.GetPlatform().Sleep(kSettleMilliseconds);
    m_view.SetStatusText(L" Ready...");
}

BOOL CTrayhop32Dlg::OnDeviceChange(UINT eventType, DWORD_PTR /*eventData*/) {
    // Every arrival and every completed removal counts alike, a volume's
    // broadcast or a registered interface's notification; what it carries is
    // not examined.
    // While a command holds refreshes back the change is noted, so a command
    // that ends without its own refresh still catches up with it.
    if ((eventType == DBT_DEVICEARRIVAL || eventType == DBT_DEVICEREMOVECOMPLETE) &&
        !m_app.m_bRefreshAllowed)
        m_app.m_bRefreshPending = true;
    if (eventType == DBT_DEVICEARRIVAL) {
        WaitCursor wait(&m_view);
        m_view.SetStatusText(L" Configuring a new device, please wait...");
        // With the guard cleared the command that holds it rebuilds when it
        // ends and writes its own status text.
        if (m_app.m_bRefreshAllowed) {
            RefreshDriveList();
            m_view.SetStatusText(L" Ready...");
        }
    } else if (eventType == DBT_DEVICEREMOVECOMPLETE) {
        if (m_app.m_bRefreshAllowed) {
            RefreshDriveList();
            m_view.SetStatusText(L" Ready...");
        }
    }
    // TRUE for every event: a query-remove is never vetoed.
    return TRUE;
}

void CTrayhop32Dlg::WatchDeviceInterfaces(HWND window) {
    StopWatchingDeviceInterfaces();
    Platform& platform = m_app.GetPlatform();
    for (const GUID& interfaceClass :
         {kGuidDevInterfaceDisk, kGuidDevInterfaceCdrom, kGuidDevInterfaceTape}) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interfaceClass;
        // Without it the list still follows lettered volumes, as before.
        UniqueDevNotify registration(
            platform,
            platform.RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
        if (registration) m_deviceInterfaceNotifications.push_back(std::move(registration));
    }
}

void CTrayhop32Dlg::StopWatchingDeviceInterfaces() { m_deviceInterfaceNotifications.clear(); }
