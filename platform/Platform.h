// The seam between the program and Windows. One virtual method per Win32
// function the program calls, named and typed as that function, so the logic
// calls the seam exactly as it would call Windows: same buffers, same sizes,
// same error codes. Win32Platform passes each call through; SimMachine answers
// it from a machine held in memory.
#pragma once

#include "platform/Win32Types.h"

class Platform {
public:
    virtual ~Platform() = default;

    // Device installation services.
    virtual BOOL SetupDiClassGuidsFromNameExW(PCWSTR ClassName, LPGUID ClassGuidList,
                                              DWORD ClassGuidListSize, PDWORD RequiredSize,
                                              PCWSTR MachineName, PVOID Reserved) = 0;
    virtual BOOL SetupDiClassGuidsFromNameW(PCWSTR ClassName, LPGUID ClassGuidList,
                                            DWORD ClassGuidListSize, PDWORD RequiredSize) = 0;
    virtual HDEVINFO SetupDiGetClassDevsExW(const GUID* ClassGuid, PCWSTR Enumerator,
                                            HWND hwndParent, DWORD Flags, HDEVINFO DeviceInfoSet,
                                            PCWSTR MachineName, PVOID Reserved) = 0;
    virtual HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                          DWORD Flags) = 0;
    virtual HDEVINFO SetupDiCreateDeviceInfoListExW(const GUID* ClassGuid, HWND hwndParent,
                                                    PCWSTR MachineName, PVOID Reserved) = 0;
    virtual BOOL SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId,
                                        HWND hwndParent, DWORD OpenFlags,
                                        PSP_DEVINFO_DATA DeviceInfoData) = 0;
    virtual BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                       PSP_DEVINFO_DATA DeviceInfoData) = 0;
    virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet,
                                             PSP_DEVINFO_DATA DeviceInfoData,
                                             const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                             PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) = 0;
    virtual BOOL SetupDiGetDeviceInterfaceDetailW(
        HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
        PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
        DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
        PSP_DEVINFO_DATA DeviceInfoData) = 0;
    virtual BOOL SetupDiGetDeviceInfoListDetailW(
        HDEVINFO DeviceInfoSet, PSP_DEVINFO_LIST_DETAIL_DATA_W DeviceInfoSetDetailData) = 0;
    virtual BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet,
                                             PSP_DEVINFO_DATA DeviceInfoData,
                                             PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                             PDWORD RequiredSize) = 0;
    virtual BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                                   PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                                   PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                                   DWORD PropertyBufferSize,
                                                   PDWORD RequiredSize) = 0;
    virtual BOOL SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet,
                                               PSP_DEVINFO_DATA DeviceInfoData,
                                               PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                               DWORD ClassInstallParamsSize) = 0;
    virtual BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                           PSP_DEVINFO_DATA DeviceInfoData) = 0;
    virtual BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet,
                                                PSP_DEVINFO_DATA DeviceInfoData,
                                                PSP_DEVINSTALL_PARAMS_W DeviceInstallParams) = 0;
    virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) = 0;
    virtual CONFIGRET CM_Get_Device_ID_ExW(DEVINST dnDevInst, PWCHAR Buffer, ULONG BufferLen,
                                           ULONG ulFlags, HMACHINE hMachine) = 0;
    virtual CONFIGRET CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID,
                                         ULONG ulFlags) = 0;
    virtual CONFIGRET CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) = 0;

    // Files, volumes and storage control.
    virtual HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                               DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                               HANDLE hTemplateFile) = 0;
    virtual BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                 DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                 LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) = 0;
    virtual BOOL FlushFileBuffers(HANDLE hFile) = 0;
    virtual BOOL CloseHandle(HANDLE hObject) = 0;
    virtual DWORD GetLogicalDriveStringsW(DWORD nBufferLength, LPWSTR lpBuffer) = 0;
    virtual UINT GetDriveTypeW(LPCWSTR lpRootPathName) = 0;
    virtual BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR lpszVolumeMountPoint,
                                                   LPWSTR lpszVolumeName,
                                                   DWORD cchBufferLength) = 0;

    // Registry.
    virtual LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                  PHKEY phkResult) = 0;
    virtual LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                    DWORD dwOptions, REGSAM samDesired,
                                    const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                    PHKEY phkResult, LPDWORD lpdwDisposition) = 0;
    virtual LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                     LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) = 0;
    virtual LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                   const BYTE* lpData, DWORD cbData) = 0;
    virtual LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) = 0;
    virtual LSTATUS RegCloseKey(HKEY hKey) = 0;

    // Environment, text and diagnostics.
    virtual DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) = 0;
    virtual DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) = 0;
    // Only FORMAT_MESSAGE_FROM_SYSTEM without inserts is used, so no argument list.
    virtual DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                 DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize) = 0;
    virtual void OutputDebugStringW(LPCWSTR lpOutputString) = 0;
    virtual int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                    int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) = 0;
    virtual DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) = 0;
    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD dwErrCode) = 0;

    // Process objects and the windows of other processes.
    virtual BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                              DWORD dwRevision) = 0;
    virtual BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                           BOOL bDaclPresent, PACL pDacl, BOOL bDaclDefaulted) = 0;
    virtual HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                LPCWSTR lpName) = 0;
    virtual HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) = 0;
    virtual BOOL IsIconic(HWND hWnd) = 0;
    virtual BOOL ShowWindow(HWND hWnd, int nCmdShow) = 0;
    virtual HWND GetLastActivePopup(HWND hWnd) = 0;
    virtual BOOL BringWindowToTop(HWND hWnd) = 0;
    virtual BOOL SetForegroundWindow(HWND hWnd) = 0;
    virtual HMODULE GetModuleHandleW(LPCWSTR lpModuleName) = 0;
    virtual FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) = 0;
    // Calls the GetSystemWow64DirectoryW that GetProcAddress returned; the
    // program looks the function up because older systems lack it.
    virtual UINT GetSystemWow64DirectoryW(FARPROC procedure, LPWSTR lpBuffer, UINT uSize) = 0;
    virtual BOOL SetDllDirectoryW(LPCWSTR lpPathName) = 0;
    // Calls the SetDefaultDllDirectories that GetProcAddress returned; systems
    // before Windows 8 (and 7 without its update) lack it.
    virtual BOOL SetDefaultDllDirectories(FARPROC procedure, DWORD DirectoryFlags) = 0;
    virtual DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) = 0;
    virtual void InitCommonControls() = 0;

    // Other processes, their handles and the threads of this one (the search
    // for the programs that hold a volume).
    virtual DWORD GetCurrentProcessId() = 0;
    virtual HANDLE GetCurrentProcess() = 0;
    virtual HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) = 0;
    virtual BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                 HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                                 DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) = 0;
    virtual HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) = 0;
    virtual BOOL Process32FirstW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) = 0;
    virtual BOOL Process32NextW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) = 0;
    virtual DWORD GetFileType(HANDLE hFile) = 0;
    virtual BOOL GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer,
                                       DWORD nVolumeNameSize, LPDWORD lpVolumeSerialNumber,
                                       LPDWORD lpMaximumComponentLength, LPDWORD lpFileSystemFlags,
                                       LPWSTR lpFileSystemNameBuffer,
                                       DWORD nFileSystemNameSize) = 0;
    // ntdll's native calls, looked up with GetProcAddress like
    // GetSystemWow64DirectoryW. The information class is passed as the ULONG
    // it is on the wire: the SDK's enumeration lacks the extended handle table.
    virtual NTSTATUS NtQuerySystemInformation(FARPROC procedure, ULONG SystemInformationClass,
                                              PVOID SystemInformation,
                                              ULONG SystemInformationLength,
                                              PULONG ReturnLength) = 0;
    virtual NTSTATUS NtQueryVolumeInformationFile(FARPROC procedure, HANDLE FileHandle,
                                                  PIO_STATUS_BLOCK IoStatusBlock,
                                                  PVOID FsInformation, ULONG Length,
                                                  FS_INFORMATION_CLASS FsInformationClass) = 0;
    virtual DWORD GetTickCount() = 0;
    virtual HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                DWORD dwCreationFlags, LPDWORD lpThreadId) = 0;
    virtual DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) = 0;

    // User feedback and the shell.
    virtual int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) = 0;
    virtual BOOL MessageBeep(UINT uType) = 0;
    virtual void Sleep(DWORD dwMilliseconds) = 0;
    virtual void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) = 0;
    virtual HWND HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) = 0;

    // Device-interface notifications: arrivals and removals of devices
    // without a lettered volume reach only the windows registered for them.
    virtual HDEVNOTIFY RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter,
                                                   DWORD Flags) = 0;
    virtual BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle) = 0;
    // Naming every program that holds a volume: the debug privilege for the
    // search, the running services and their processes, the modules a process
    // has mapped, the volume's mount paths, and the final path of a handle.
    virtual BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                                  PHANDLE TokenHandle) = 0;
    virtual BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid) = 0;
    virtual BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                       PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                       PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) = 0;
    virtual SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName,
                                     DWORD dwDesiredAccess) = 0;
    virtual BOOL EnumServicesStatusExW(SC_HANDLE hSCManager, SC_ENUM_TYPE InfoLevel,
                                       DWORD dwServiceType, DWORD dwServiceState, LPBYTE lpServices,
                                       DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                       LPDWORD lpServicesReturned, LPDWORD lpResumeHandle,
                                       LPCWSTR pszGroupName) = 0;
    virtual BOOL CloseServiceHandle(SC_HANDLE hSCObject) = 0;
    virtual BOOL Module32FirstW(HANDLE hSnapshot, LPMODULEENTRY32W lpme) = 0;
    virtual BOOL Module32NextW(HANDLE hSnapshot, LPMODULEENTRY32W lpme) = 0;
    virtual BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR lpszVolumeName,
                                                  LPWSTR lpszVolumePathNames, DWORD cchBufferLength,
                                                  PDWORD lpcchReturnLength) = 0;
    // Calls the GetFinalPathNameByHandleW that GetProcAddress returned
    // (Vista and later).
    virtual DWORD GetFinalPathNameByHandleW(FARPROC procedure, HANDLE hFile, LPWSTR lpszFilePath,
                                            DWORD cchFilePath, DWORD dwFlags) = 0;
    // Libraries newer than XP, loaded by full path from the system folder,
    // and the virtual disk service's calls (virtdisk.dll, Windows 7 on),
    // looked up with GetProcAddress and called through the procedure it
    // returned, as GetSystemWow64DirectoryW is. Each answers an error code.
    virtual UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) = 0;
    virtual HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) = 0;
    virtual BOOL FreeLibrary(HMODULE hLibModule) = 0;
    virtual DWORD GetStorageDependencyInformation(FARPROC procedure, HANDLE ObjectHandle,
                                                  GET_STORAGE_DEPENDENCY_FLAG Flags,
                                                  ULONG StorageDependencyInfoSize,
                                                  PSTORAGE_DEPENDENCY_INFO StorageDependencyInfo,
                                                  PULONG SizeUsed) = 0;
    virtual DWORD OpenVirtualDisk(FARPROC procedure, PVIRTUAL_STORAGE_TYPE VirtualStorageType,
                                  PCWSTR Path, VIRTUAL_DISK_ACCESS_MASK VirtualDiskAccessMask,
                                  OPEN_VIRTUAL_DISK_FLAG Flags,
                                  POPEN_VIRTUAL_DISK_PARAMETERS Parameters, HANDLE* Handle) = 0;
    virtual DWORD DetachVirtualDisk(FARPROC procedure, HANDLE VirtualDiskHandle,
                                    DETACH_VIRTUAL_DISK_FLAG Flags,
                                    ULONG ProviderSpecificFlags) = 0;
    // The console program: its standard handles, the machine-wide lock it
    // shares with the window's Scan and Remove Devices, and whether it runs
    // with administrator rights.
    virtual HANDLE GetStdHandle(DWORD nStdHandle) = 0;
    virtual BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) = 0;
    virtual BOOL WriteConsoleW(HANDLE hConsoleOutput, const VOID* lpBuffer,
                               DWORD nNumberOfCharsToWrite, LPDWORD lpNumberOfCharsWritten,
                               LPVOID lpReserved) = 0;
    virtual BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                           LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) = 0;
    virtual BOOL ReleaseMutex(HANDLE hMutex) = 0;
    virtual BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                          BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                          DWORD nSubAuthority1, DWORD nSubAuthority2,
                                          DWORD nSubAuthority3, DWORD nSubAuthority4,
                                          DWORD nSubAuthority5, DWORD nSubAuthority6,
                                          DWORD nSubAuthority7, PSID* pSid) = 0;
    virtual BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) = 0;
    virtual PVOID FreeSid(PSID pSid) = 0;
    // The volumes themselves, lettered or not, and where each is mounted
    // (all on XP). A volume search is ended with FindVolumeClose, never
    // CloseHandle.
    virtual HANDLE FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength) = 0;
    virtual BOOL FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName,
                                 DWORD cchBufferLength) = 0;
    virtual BOOL FindVolumeClose(HANDLE hFindVolume) = 0;
    virtual DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) = 0;
    // The display scale (DPI) the windows are drawn at. The screen's device
    // context answers the system DPI on every Windows. The calls that take a
    // procedure are user32's from Windows 10 (1607) on and are looked up with
    // GetProcAddress, as GetSystemWow64DirectoryW is.
    virtual HDC GetDC(HWND hWnd) = 0;
    virtual int ReleaseDC(HWND hWnd, HDC hDC) = 0;
    virtual int GetDeviceCaps(HDC hdc, int index) = 0;
    virtual int GetSystemMetrics(int nIndex) = 0;
    virtual UINT GetDpiForWindow(FARPROC procedure, HWND hwnd) = 0;
    virtual int GetSystemMetricsForDpi(FARPROC procedure, int nIndex, UINT dpi) = 0;
    virtual DPI_AWARENESS_CONTEXT GetWindowDpiAwarenessContext(FARPROC procedure, HWND hwnd) = 0;
    virtual BOOL AreDpiAwarenessContextsEqual(FARPROC procedure, DPI_AWARENESS_CONTEXT dpiContextA,
                                              DPI_AWARENESS_CONTEXT dpiContextB) = 0;
};
