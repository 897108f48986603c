// The real platform: each method calls the Win32 function of the same name
// with the same arguments. Nothing else lives here; the program's behaviour
// is in the logic above the seam, where the simulated machine can test it.
#pragma once

#include "platform/Platform.h"

class Win32Platform : public Platform {
public:
    Win32Platform() = default;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;
    ~Win32Platform() override;

    BOOL SetupDiClassGuidsFromNameExW(PCWSTR ClassName, LPGUID ClassGuidList,
                                      DWORD ClassGuidListSize, PDWORD RequiredSize,
                                      PCWSTR MachineName, PVOID Reserved) override;
    BOOL SetupDiClassGuidsFromNameW(PCWSTR ClassName, LPGUID ClassGuidList, DWORD ClassGuidListSize,
                                    PDWORD RequiredSize) override;
    HDEVINFO SetupDiGetClassDevsExW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                    DWORD Flags, HDEVINFO DeviceInfoSet, PCWSTR MachineName,
                                    PVOID Reserved) override;
    HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                  DWORD Flags) override;
    HDEVINFO SetupDiCreateDeviceInfoListExW(const GUID* ClassGuid, HWND hwndParent,
                                            PCWSTR MachineName, PVOID Reserved) override;
    BOOL SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId, HWND hwndParent,
                                DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData) override;
    BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                               PSP_DEVINFO_DATA DeviceInfoData) override;
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                     const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                     PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) override;
    BOOL SetupDiGetDeviceInterfaceDetailW(
        HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
        PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
        DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
        PSP_DEVINFO_DATA DeviceInfoData) override;
    BOOL SetupDiGetDeviceInfoListDetailW(
        HDEVINFO DeviceInfoSet, PSP_DEVINFO_LIST_DETAIL_DATA_W DeviceInfoSetDetailData) override;
    BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                     PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                     PDWORD RequiredSize) override;
    BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           DWORD Property, PDWORD PropertyRegDataType,
                                           PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                           PDWORD RequiredSize) override;
    BOOL SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                       DWORD ClassInstallParamsSize) override;
    BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                   PSP_DEVINFO_DATA DeviceInfoData) override;
    BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSP_DEVINSTALL_PARAMS_W DeviceInstallParams) override;
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) override;
    CONFIGRET CM_Get_Device_ID_ExW(DEVINST dnDevInst, PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags,
                                   HMACHINE hMachine) override;
    CONFIGRET CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID,
                                 ULONG ulFlags) override;
    CONFIGRET CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) override;
    HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                       LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                       DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) override;
    BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                         DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                         LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) override;
    BOOL FlushFileBuffers(HANDLE hFile) override;
    BOOL CloseHandle(HANDLE hObject) override;
    DWORD GetLogicalDriveStringsW(DWORD nBufferLength, LPWSTR lpBuffer) override;
    UINT GetDriveTypeW(LPCWSTR lpRootPathName) override;
    BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR lpszVolumeMountPoint, LPWSTR lpszVolumeName,
                                           DWORD cchBufferLength) override;
    LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) override;
    LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) override;
    LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) override;
    LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) override;
    LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) override;
    LSTATUS RegCloseKey(HKEY hKey) override;
    DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) override;
    DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) override;
    DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                         LPWSTR lpBuffer, DWORD nSize) override;
    void OutputDebugStringW(LPCWSTR lpOutputString) override;
    int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                            LPWSTR lpWideCharStr, int cchWideChar) override;
    DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) override;
    DWORD GetLastError() override;
    void SetLastError(DWORD dwErrCode) override;
    BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                      DWORD dwRevision) override;
    BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                   PACL pDacl, BOOL bDaclDefaulted) override;
    HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                        LPCWSTR lpName) override;
    HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) override;
    BOOL IsIconic(HWND hWnd) override;
    BOOL ShowWindow(HWND hWnd, int nCmdShow) override;
    HWND GetLastActivePopup(HWND hWnd) override;
    BOOL BringWindowToTop(HWND hWnd) override;
    BOOL SetForegroundWindow(HWND hWnd) override;
    HMODULE GetModuleHandleW(LPCWSTR lpModuleName) override;
    FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) override;
    UINT GetSystemWow64DirectoryW(FARPROC procedure, LPWSTR lpBuffer, UINT uSize) override;
    BOOL SetDllDirectoryW(LPCWSTR lpPathName) override;
    BOOL SetDefaultDllDirectories(FARPROC procedure, DWORD DirectoryFlags) override;
    DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) override;
    void InitCommonControls() override;
    DWORD GetCurrentProcessId() override;
    HANDLE GetCurrentProcess() override;
    HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) override;
    BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                         HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                         DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) override;
    HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) override;
    BOOL Process32FirstW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) override;
    BOOL Process32NextW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) override;
    DWORD GetFileType(HANDLE hFile) override;
    BOOL GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer,
                               DWORD nVolumeNameSize, LPDWORD lpVolumeSerialNumber,
                               LPDWORD lpMaximumComponentLength, LPDWORD lpFileSystemFlags,
                               LPWSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) override;
    NTSTATUS NtQuerySystemInformation(FARPROC procedure, ULONG SystemInformationClass,
                                      PVOID SystemInformation, ULONG SystemInformationLength,
                                      PULONG ReturnLength) override;
    NTSTATUS NtQueryVolumeInformationFile(FARPROC procedure, HANDLE FileHandle,
                                          PIO_STATUS_BLOCK IoStatusBlock, PVOID FsInformation,
                                          ULONG Length,
                                          FS_INFORMATION_CLASS FsInformationClass) override;
    DWORD GetTickCount() override;
    HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                        LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                        DWORD dwCreationFlags, LPDWORD lpThreadId) override;
    DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) override;
    int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) override;
    BOOL MessageBeep(UINT uType) override;
    void Sleep(DWORD dwMilliseconds) override;
    void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) override;
    HWND HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) override;

    HDEVNOTIFY RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter,
                                           DWORD Flags) override;
    BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle) override;
    // Naming every program that holds a volume.
    BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) override;
    BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid) override;
    BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                               PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                               PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) override;
    SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName,
                             DWORD dwDesiredAccess) override;
    BOOL EnumServicesStatusExW(SC_HANDLE hSCManager, SC_ENUM_TYPE InfoLevel, DWORD dwServiceType,
                               DWORD dwServiceState, LPBYTE lpServices, DWORD cbBufSize,
                               LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned,
                               LPDWORD lpResumeHandle, LPCWSTR pszGroupName) override;
    BOOL CloseServiceHandle(SC_HANDLE hSCObject) override;
    BOOL Module32FirstW(HANDLE hSnapshot, LPMODULEENTRY32W lpme) override;
    BOOL Module32NextW(HANDLE hSnapshot, LPMODULEENTRY32W lpme) override;
    BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR lpszVolumeName, LPWSTR lpszVolumePathNames,
                                          DWORD cchBufferLength, PDWORD lpcchReturnLength) override;
    DWORD GetFinalPathNameByHandleW(FARPROC procedure, HANDLE hFile, LPWSTR lpszFilePath,
                                    DWORD cchFilePath, DWORD dwFlags) override;
    // Libraries by full path and the virtual disk service.
    UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) override;
    HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) override;
    BOOL FreeLibrary(HMODULE hLibModule) override;
    DWORD GetStorageDependencyInformation(FARPROC procedure, HANDLE ObjectHandle,
                                          GET_STORAGE_DEPENDENCY_FLAG Flags,
                                          ULONG StorageDependencyInfoSize,
                                          PSTORAGE_DEPENDENCY_INFO StorageDependencyInfo,
                                          PULONG SizeUsed) override;
    DWORD OpenVirtualDisk(FARPROC procedure, PVIRTUAL_STORAGE_TYPE VirtualStorageType,
                          PCWSTR Path, VIRTUAL_DISK_ACCESS_MASK VirtualDiskAccessMask,
                          OPEN_VIRTUAL_DISK_FLAG Flags, POPEN_VIRTUAL_DISK_PARAMETERS Parameters,
                          HANDLE* Handle) override;
    DWORD DetachVirtualDisk(FARPROC procedure, HANDLE VirtualDiskHandle,
                            DETACH_VIRTUAL_DISK_FLAG Flags, ULONG ProviderSpecificFlags) override;
    // The console program.
    HANDLE GetStdHandle(DWORD nStdHandle) override;
    BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) override;
    BOOL WriteConsoleW(HANDLE hConsoleOutput, const VOID* lpBuffer, DWORD nNumberOfCharsToWrite,
                       LPDWORD lpNumberOfCharsWritten, LPVOID lpReserved) override;
    BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                   LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) override;
    BOOL ReleaseMutex(HANDLE hMutex) override;
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                  BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                  DWORD nSubAuthority1, DWORD nSubAuthority2, DWORD nSubAuthority3,
                                  DWORD nSubAuthority4, DWORD nSubAuthority5, DWORD nSubAuthority6,
                                  DWORD nSubAuthority7, PSID* pSid) override;
    BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) override;
    PVOID FreeSid(PSID pSid) override;
    // The volumes themselves and their mount points.
    HANDLE FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength) override;
    BOOL FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength) override;
    BOOL FindVolumeClose(HANDLE hFindVolume) override;
    DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) override;
    // The display scale.
    HDC GetDC(HWND hWnd) override;
    int ReleaseDC(HWND hWnd, HDC hDC) override;
    int GetDeviceCaps(HDC hdc, int index) override;
    int GetSystemMetrics(int nIndex) override;
    UINT GetDpiForWindow(FARPROC procedure, HWND hwnd) override;
    int GetSystemMetricsForDpi(FARPROC procedure, int nIndex, UINT dpi) override;
    DPI_AWARENESS_CONTEXT GetWindowDpiAwarenessContext(FARPROC procedure, HWND hwnd) override;
    BOOL AreDpiAwarenessContextsEqual(FARPROC procedure, DPI_AWARENESS_CONTEXT dpiContextA,
                                      DPI_AWARENESS_CONTEXT dpiContextB) override;

private:
    // hhctrl.ocx, loaded from the system folder on the first HtmlHelpW call:
    // it has no import library in MinGW, and most runs never open Help.
    HMODULE htmlHelpModule_ = nullptr;
};
