#include "platform/win32/Win32Platform.h"

#include <commctrl.h>

#include <string>

Win32Platform::~Win32Platform() {
    if (htmlHelpModule_) ::FreeLibrary(htmlHelpModule_);
}

BOOL Win32Platform::SetupDiClassGuidsFromNameExW(PCWSTR ClassName, LPGUID ClassGuidList,
                                                 DWORD ClassGuidListSize, PDWORD RequiredSize,
                                                 PCWSTR MachineName, PVOID Reserved) {
    return ::SetupDiClassGuidsFromNameExW(ClassName, ClassGuidList, ClassGuidListSize, RequiredSize,
                                          MachineName, Reserved);
}

BOOL Win32Platform::SetupDiClassGuidsFromNameW(PCWSTR ClassName, LPGUID ClassGuidList,
                                               DWORD ClassGuidListSize, PDWORD RequiredSize) {
    return ::SetupDiClassGuidsFromNameW(ClassName, ClassGuidList, ClassGuidListSize, RequiredSize);
}

HDEVINFO Win32Platform::SetupDiGetClassDevsExW(const GUID* ClassGuid, PCWSTR Enumerator,
                                               HWND hwndParent, DWORD Flags, HDEVINFO DeviceInfoSet,
                                               PCWSTR MachineName, PVOID Reserved) {
    return ::SetupDiGetClassDevsExW(ClassGuid, Enumerator, hwndParent, Flags, DeviceInfoSet,
                                    MachineName, Reserved);
}

HDEVINFO Win32Platform::SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator,
                                             HWND hwndParent, DWORD Flags) {
    return ::SetupDiGetClassDevsW(ClassGuid, Enumerator, hwndParent, Flags);
}

HDEVINFO Win32Platform::SetupDiCreateDeviceInfoListExW(const GUID* ClassGuid, HWND hwndParent,
                                                       PCWSTR MachineName, PVOID Reserved) {
    return ::SetupDiCreateDeviceInfoListExW(ClassGuid, hwndParent, MachineName, Reserved);
}

BOOL Win32Platform::SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId,
                                           HWND hwndParent, DWORD OpenFlags,
                                           PSP_DEVINFO_DATA DeviceInfoData) {
    return ::SetupDiOpenDeviceInfoW(DeviceInfoSet, DeviceInstanceId, hwndParent, OpenFlags,
                                    DeviceInfoData);
}

BOOL Win32Platform::SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                          PSP_DEVINFO_DATA DeviceInfoData) {
    return ::SetupDiEnumDeviceInfo(DeviceInfoSet, MemberIndex, DeviceInfoData);
}

BOOL Win32Platform::SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet,
                                                PSP_DEVINFO_DATA DeviceInfoData,
                                                const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                                PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    return ::SetupDiEnumDeviceInterfaces(DeviceInfoSet, DeviceInfoData, InterfaceClassGuid,
                                         MemberIndex, DeviceInterfaceData);
}

BOOL Win32Platform::SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
    return ::SetupDiGetDeviceInterfaceDetailW(
        DeviceInfoSet, DeviceInterfaceData, DeviceInterfaceDetailData,
        DeviceInterfaceDetailDataSize, RequiredSize, DeviceInfoData);
}

BOOL Win32Platform::SetupDiGetDeviceInfoListDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_LIST_DETAIL_DATA_W DeviceInfoSetDetailData) {
    return ::SetupDiGetDeviceInfoListDetailW(DeviceInfoSet, DeviceInfoSetDetailData);
}

BOOL Win32Platform::SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet,
                                                PSP_DEVINFO_DATA DeviceInfoData,
                                                PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                                PDWORD RequiredSize) {
    return ::SetupDiGetDeviceInstanceIdW(DeviceInfoSet, DeviceInfoData, DeviceInstanceId,
                                         DeviceInstanceIdSize, RequiredSize);
}

BOOL Win32Platform::SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                                      PSP_DEVINFO_DATA DeviceInfoData,
                                                      DWORD Property, PDWORD PropertyRegDataType,
                                                      PBYTE PropertyBuffer,
                                                      DWORD PropertyBufferSize,
                                                      PDWORD RequiredSize) {
    return ::SetupDiGetDeviceRegistryPropertyW(DeviceInfoSet, DeviceInfoData, Property,
                                               PropertyRegDataType, PropertyBuffer,
                                               PropertyBufferSize, RequiredSize);
}

BOOL Win32Platform::SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet,
                                                  PSP_DEVINFO_DATA DeviceInfoData,
                                                  PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                                  DWORD ClassInstallParamsSize) {
    return ::SetupDiSetClassInstallParamsW(DeviceInfoSet, DeviceInfoData, ClassInstallParams,
                                           ClassInstallParamsSize);
}

BOOL Win32Platform::SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData) {
    return ::SetupDiCallClassInstaller(InstallFunction, DeviceInfoSet, DeviceInfoData);
}

BOOL Win32Platform::SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet,
                                                   PSP_DEVINFO_DATA DeviceInfoData,
                                                   PSP_DEVINSTALL_PARAMS_W DeviceInstallParams) {
    return ::SetupDiGetDeviceInstallParamsW(DeviceInfoSet, DeviceInfoData, DeviceInstallParams);
}

BOOL Win32Platform::SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    return ::SetupDiDestroyDeviceInfoList(DeviceInfoSet);
}

CONFIGRET Win32Platform::CM_Get_Device_ID_ExW(DEVINST dnDevInst, PWCHAR Buffer, ULONG BufferLen,
                                              ULONG ulFlags, HMACHINE hMachine) {
    return ::CM_Get_Device_ID_ExW(dnDevInst, Buffer, BufferLen, ulFlags, hMachine);
}

CONFIGRET Win32Platform::CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID,
                                            ULONG ulFlags) {
    return ::CM_Locate_DevNodeW(pdnDevInst, pDeviceID, ulFlags);
}

CONFIGRET Win32Platform::CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
    return ::CM_Reenumerate_DevNode(dnDevInst, ulFlags);
}

HANDLE Win32Platform::CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                  LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                  DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                  HANDLE hTemplateFile) {
    return ::CreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                         dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL Win32Platform::DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                    DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                    LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    return ::DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                             nOutBufferSize, lpBytesReturned, lpOverlapped);
}

BOOL Win32Platform::FlushFileBuffers(HANDLE hFile) {
    return ::FlushFileBuffers(hFile);
}

BOOL Win32Platform::CloseHandle(HANDLE hObject) {
    return ::CloseHandle(hObject);
}

DWORD Win32Platform::GetLogicalDriveStringsW(DWORD nBufferLength, LPWSTR lpBuffer) {
    return ::GetLogicalDriveStringsW(nBufferLength, lpBuffer);
}

UINT Win32Platform::GetDriveTypeW(LPCWSTR lpRootPathName) {
    return ::GetDriveTypeW(lpRootPathName);
}

BOOL Win32Platform::GetVolumeNameForVolumeMountPointW(LPCWSTR lpszVolumeMountPoint,
                                                      LPWSTR lpszVolumeName,
                                                      DWORD cchBufferLength) {
    return ::GetVolumeNameForVolumeMountPointW(lpszVolumeMountPoint, lpszVolumeName,
                                               cchBufferLength);
}

LSTATUS Win32Platform::RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                                     REGSAM samDesired, PHKEY phkResult) {
    return ::RegOpenKeyExW(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LSTATUS Win32Platform::RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                       DWORD dwOptions, REGSAM samDesired,
                                       const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                       PHKEY phkResult, LPDWORD lpdwDisposition) {
    // The SDK declares the attributes non-const although the call only reads them.
    return ::RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                             const_cast<LPSECURITY_ATTRIBUTES>(lpSecurityAttributes), phkResult,
                             lpdwDisposition);
}

LSTATUS Win32Platform::RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                        LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return ::RegQueryValueExW(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS Win32Platform::RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                      const BYTE* lpData, DWORD cbData) {
    return ::RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LSTATUS Win32Platform::RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return ::RegDeleteValueW(hKey, lpValueName);
}

LSTATUS Win32Platform::RegCloseKey(HKEY hKey) {
    return ::RegCloseKey(hKey);
}

DWORD Win32Platform::ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
    return ::ExpandEnvironmentStringsW(lpSrc, lpDst, nSize);
}

DWORD Win32Platform::GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
    return ::GetEnvironmentVariableW(lpName, lpBuffer, nSize);
}

void Win32Platform::OutputDebugStringW(LPCWSTR lpOutputString) {
    ::OutputDebugStringW(lpOutputString);
}

int Win32Platform::MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                       int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    return ::MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr,
                                 cchWideChar);
}

DWORD Win32Platform::CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) {
    return ::CharUpperBuffW(lpsz, cchLength);
}

BOOL Win32Platform::InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                 DWORD dwRevision) {
    return ::InitializeSecurityDescriptor(pSecurityDescriptor, dwRevision);
}

BOOL Win32Platform::SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                              BOOL bDaclPresent, PACL pDacl, BOOL bDaclDefaulted) {
    return ::SetSecurityDescriptorDacl(pSecurityDescriptor, bDaclPresent, pDacl, bDaclDefaulted);
}

HANDLE Win32Platform::CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                   LPCWSTR lpName) {
    return ::CreateMutexW(lpMutexAttributes, bInitialOwner, lpName);
}

HWND Win32Platform::FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    return ::FindWindowW(lpClassName, lpWindowName);
}

BOOL Win32Platform::IsIconic(HWND hWnd) {
    return ::IsIconic(hWnd);
}

BOOL Win32Platform::ShowWindow(HWND hWnd, int nCmdShow) {
    return ::ShowWindow(hWnd, nCmdShow);
}

HWND Win32Platform::GetLastActivePopup(HWND hWnd) {
    return ::GetLastActivePopup(hWnd);
}

BOOL Win32Platform::BringWindowToTop(HWND hWnd) {
    return ::BringWindowToTop(hWnd);
}

BOOL Win32Platform::SetForegroundWindow(HWND hWnd) {
    return ::SetForegroundWindow(hWnd);
}

HMODULE Win32Platform::GetModuleHandleW(LPCWSTR lpModuleName) {
    return ::GetModuleHandleW(lpModuleName);
}

FARPROC Win32Platform::GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    return ::GetProcAddress(hModule, lpProcName);
}

DWORD Win32Platform::GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    return ::GetModuleFileNameW(hModule, lpFilename, nSize);
}

void Win32Platform::InitCommonControls() {
    ::InitCommonControls();
}

int Win32Platform::MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    return ::MessageBoxW(hWnd, lpText, lpCaption, uType);
}

BOOL Win32Platform::MessageBeep(UINT uType) {
    return ::MessageBeep(uType);
}

void Win32Platform::Sleep(DWORD dwMilliseconds) {
    ::Sleep(dwMilliseconds);
}

void Win32Platform::SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) {
    ::SHChangeNotify(wEventId, uFlags, dwItem1, dwItem2);
}

DWORD Win32Platform::FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                    DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize) {
    return ::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize, nullptr);
}

DWORD Win32Platform::GetLastError() {
    return ::GetLastError();
}

void Win32Platform::SetLastError(DWORD dwErrCode) {
    ::SetLastError(dwErrCode);
}

UINT Win32Platform::GetSystemWow64DirectoryW(FARPROC procedure, LPWSTR lpBuffer, UINT uSize) {
    using Procedure = UINT(WINAPI*)(LPWSTR, UINT);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(lpBuffer, uSize);
}

BOOL Win32Platform::SetDllDirectoryW(LPCWSTR lpPathName) {
    return ::SetDllDirectoryW(lpPathName);
}

BOOL Win32Platform::SetDefaultDllDirectories(FARPROC procedure, DWORD DirectoryFlags) {
    using Procedure = BOOL(WINAPI*)(DWORD);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(DirectoryFlags);
}

namespace {

// The help library's full path in the system folder, or empty. The program
// runs elevated: loaded by its bare name, a hhctrl.ocx planted beside the exe
// or in the current folder would run with administrator rights.
std::wstring SystemHelpLibraryPath() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring path(folder, length);
    if (path.back() != L'\\') path += L'\\';
    return path + L"hhctrl.ocx";
}

}  // namespace

HWND Win32Platform::HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) {
    using Procedure = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
    if (!htmlHelpModule_) {
        const std::wstring library = SystemHelpLibraryPath();
        if (library.empty()) return nullptr;
        htmlHelpModule_ = ::LoadLibraryW(library.c_str());
    }
    if (!htmlHelpModule_) return nullptr;
    FARPROC procedure = ::GetProcAddress(htmlHelpModule_, "HtmlHelpW");
    if (!procedure) return nullptr;
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(hwndCaller, pszFile,
                                                                           uCommand, dwData);
}

DWORD Win32Platform::GetCurrentProcessId() {
    return ::GetCurrentProcessId();
}

HANDLE Win32Platform::GetCurrentProcess() {
    return ::GetCurrentProcess();
}

HANDLE Win32Platform::OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    return ::OpenProcess(dwDesiredAccess, bInheritHandle, dwProcessId);
}

BOOL Win32Platform::DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                    HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                                    DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) {
    return ::DuplicateHandle(hSourceProcessHandle, hSourceHandle, hTargetProcessHandle,
                             lpTargetHandle, dwDesiredAccess, bInheritHandle, dwOptions);
}

HANDLE Win32Platform::CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) {
    return ::CreateToolhelp32Snapshot(dwFlags, th32ProcessID);
}

BOOL Win32Platform::Process32FirstW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) {
    return ::Process32FirstW(hSnapshot, lppe);
}

BOOL Win32Platform::Process32NextW(HANDLE hSnapshot, LPPROCESSENTRY32W lppe) {
    return ::Process32NextW(hSnapshot, lppe);
}

DWORD Win32Platform::GetFileType(HANDLE hFile) {
    return ::GetFileType(hFile);
}

BOOL Win32Platform::GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer,
                                          DWORD nVolumeNameSize, LPDWORD lpVolumeSerialNumber,
                                          LPDWORD lpMaximumComponentLength,
                                          LPDWORD lpFileSystemFlags, LPWSTR lpFileSystemNameBuffer,
                                          DWORD nFileSystemNameSize) {
    return ::GetVolumeInformationW(lpRootPathName, lpVolumeNameBuffer, nVolumeNameSize,
                                   lpVolumeSerialNumber, lpMaximumComponentLength,
                                   lpFileSystemFlags, lpFileSystemNameBuffer, nFileSystemNameSize);
}

NTSTATUS Win32Platform::NtQuerySystemInformation(FARPROC procedure, ULONG SystemInformationClass,
                                                 PVOID SystemInformation,
                                                 ULONG SystemInformationLength,
                                                 PULONG ReturnLength) {
    using Procedure = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(
        SystemInformationClass, SystemInformation, SystemInformationLength, ReturnLength);
}

NTSTATUS Win32Platform::NtQueryVolumeInformationFile(FARPROC procedure, HANDLE FileHandle,
                                                     PIO_STATUS_BLOCK IoStatusBlock,
                                                     PVOID FsInformation, ULONG Length,
                                                     FS_INFORMATION_CLASS FsInformationClass) {
    using Procedure =
        NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FS_INFORMATION_CLASS);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(
        FileHandle, IoStatusBlock, FsInformation, Length, FsInformationClass);
}

DWORD Win32Platform::GetTickCount() {
    return ::GetTickCount();
}

HANDLE Win32Platform::CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                   LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                   DWORD dwCreationFlags, LPDWORD lpThreadId) {
    return ::CreateThread(lpThreadAttributes, dwStackSize, lpStartAddress, lpParameter,
                          dwCreationFlags, lpThreadId);
}

DWORD Win32Platform::WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return ::WaitForSingleObject(hHandle, dwMilliseconds);
}

HDEVNOTIFY Win32Platform::RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter,
                                                      DWORD Flags) {
    return ::RegisterDeviceNotificationW(hRecipient, NotificationFilter, Flags);
}

BOOL Win32Platform::UnregisterDeviceNotification(HDEVNOTIFY Handle) {
    return ::UnregisterDeviceNotification(Handle);
}

// ---- Naming every program that holds a volume ------------------------------

BOOL Win32Platform::OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                                     PHANDLE TokenHandle) {
    return ::OpenProcessToken(ProcessHandle, DesiredAccess, TokenHandle);
}

BOOL Win32Platform::LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid) {
    return ::LookupPrivilegeValueW(lpSystemName, lpName, lpLuid);
}

BOOL Win32Platform::AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                          PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                          PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
    return ::AdjustTokenPrivileges(TokenHandle, DisableAllPrivileges, NewState, BufferLength,
                                   PreviousState, ReturnLength);
}

SC_HANDLE Win32Platform::OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName,
                                        DWORD dwDesiredAccess) {
    return ::OpenSCManagerW(lpMachineName, lpDatabaseName, dwDesiredAccess);
}

BOOL Win32Platform::EnumServicesStatusExW(SC_HANDLE hSCManager, SC_ENUM_TYPE InfoLevel,
                                          DWORD dwServiceType, DWORD dwServiceState,
                                          LPBYTE lpServices, DWORD cbBufSize,
                                          LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned,
                                          LPDWORD lpResumeHandle, LPCWSTR pszGroupName) {
    return ::EnumServicesStatusExW(hSCManager, InfoLevel, dwServiceType, dwServiceState, lpServices,
                                   cbBufSize, pcbBytesNeeded, lpServicesReturned, lpResumeHandle,
                                   pszGroupName);
}

BOOL Win32Platform::CloseServiceHandle(SC_HANDLE hSCObject) {
    return ::CloseServiceHandle(hSCObject);
}

BOOL Win32Platform::Module32FirstW(HANDLE hSnapshot, LPMODULEENTRY32W lpme) {
    return ::Module32FirstW(hSnapshot, lpme);
}

BOOL Win32Platform::Module32NextW(HANDLE hSnapshot, LPMODULEENTRY32W lpme) {
    return ::Module32NextW(hSnapshot, lpme);
}

BOOL Win32Platform::GetVolumePathNamesForVolumeNameW(LPCWSTR lpszVolumeName,
                                                     LPWSTR lpszVolumePathNames,
                                                     DWORD cchBufferLength,
                                                     PDWORD lpcchReturnLength) {
    return ::GetVolumePathNamesForVolumeNameW(lpszVolumeName, lpszVolumePathNames, cchBufferLength,
                                              lpcchReturnLength);
}

DWORD Win32Platform::GetFinalPathNameByHandleW(FARPROC procedure, HANDLE hFile, LPWSTR lpszFilePath,
                                               DWORD cchFilePath, DWORD dwFlags) {
    using Procedure = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(hFile, lpszFilePath,
                                                                           cchFilePath, dwFlags);
}

UINT Win32Platform::GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return ::GetSystemDirectoryW(lpBuffer, uSize);
}

HMODULE Win32Platform::LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    return ::LoadLibraryExW(lpLibFileName, hFile, dwFlags);
}

BOOL Win32Platform::FreeLibrary(HMODULE hLibModule) {
    return ::FreeLibrary(hLibModule);
}

DWORD Win32Platform::GetStorageDependencyInformation(FARPROC procedure, HANDLE ObjectHandle,
                                                     GET_STORAGE_DEPENDENCY_FLAG Flags,
                                                     ULONG StorageDependencyInfoSize,
                                                     PSTORAGE_DEPENDENCY_INFO StorageDependencyInfo,
                                                     PULONG SizeUsed) {
    using Procedure = DWORD(WINAPI*)(HANDLE, GET_STORAGE_DEPENDENCY_FLAG, ULONG,
                                     PSTORAGE_DEPENDENCY_INFO, PULONG);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(
        ObjectHandle, Flags, StorageDependencyInfoSize, StorageDependencyInfo, SizeUsed);
}

DWORD Win32Platform::OpenVirtualDisk(FARPROC procedure, PVIRTUAL_STORAGE_TYPE VirtualStorageType,
                                     PCWSTR Path, VIRTUAL_DISK_ACCESS_MASK VirtualDiskAccessMask,
                                     OPEN_VIRTUAL_DISK_FLAG Flags,
                                     POPEN_VIRTUAL_DISK_PARAMETERS Parameters, HANDLE* Handle) {
    using Procedure = DWORD(WINAPI*)(PVIRTUAL_STORAGE_TYPE, PCWSTR, VIRTUAL_DISK_ACCESS_MASK,
                                     OPEN_VIRTUAL_DISK_FLAG, POPEN_VIRTUAL_DISK_PARAMETERS,
                                     HANDLE*);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(
        VirtualStorageType, Path, VirtualDiskAccessMask, Flags, Parameters, Handle);
}

DWORD Win32Platform::DetachVirtualDisk(FARPROC procedure, HANDLE VirtualDiskHandle,
                                       DETACH_VIRTUAL_DISK_FLAG Flags,
                                       ULONG ProviderSpecificFlags) {
    using Procedure = DWORD(WINAPI*)(HANDLE, DETACH_VIRTUAL_DISK_FLAG, ULONG);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(
        VirtualDiskHandle, Flags, ProviderSpecificFlags);
}

// ---- The console program ---------------------------------------------------------------

HANDLE Win32Platform::GetStdHandle(DWORD nStdHandle) {
    return ::GetStdHandle(nStdHandle);
}

BOOL Win32Platform::GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    return ::GetConsoleMode(hConsoleHandle, lpMode);
}

BOOL Win32Platform::WriteConsoleW(HANDLE hConsoleOutput, const VOID* lpBuffer,
                                  DWORD nNumberOfCharsToWrite, LPDWORD lpNumberOfCharsWritten,
                                  LPVOID lpReserved) {
    return ::WriteConsoleW(hConsoleOutput, lpBuffer, nNumberOfCharsToWrite,
                           lpNumberOfCharsWritten, lpReserved);
}

BOOL Win32Platform::WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                              LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    return ::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                       lpOverlapped);
}

BOOL Win32Platform::ReleaseMutex(HANDLE hMutex) {
    return ::ReleaseMutex(hMutex);
}

BOOL Win32Platform::AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                             BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                             DWORD nSubAuthority1, DWORD nSubAuthority2,
                                             DWORD nSubAuthority3, DWORD nSubAuthority4,
                                             DWORD nSubAuthority5, DWORD nSubAuthority6,
                                             DWORD nSubAuthority7, PSID* pSid) {
    return ::AllocateAndInitializeSid(pIdentifierAuthority, nSubAuthorityCount, nSubAuthority0,
                                      nSubAuthority1, nSubAuthority2, nSubAuthority3,
                                      nSubAuthority4, nSubAuthority5, nSubAuthority6,
                                      nSubAuthority7, pSid);
}

BOOL Win32Platform::CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
    return ::CheckTokenMembership(TokenHandle, SidToCheck, IsMember);
}

PVOID Win32Platform::FreeSid(PSID pSid) {
    return ::FreeSid(pSid);
}

// ---- The volumes themselves and their mount points ----------------------------------

HANDLE Win32Platform::FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength) {
    return ::FindFirstVolumeW(lpszVolumeName, cchBufferLength);
}

BOOL Win32Platform::FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName,
                                    DWORD cchBufferLength) {
    return ::FindNextVolumeW(hFindVolume, lpszVolumeName, cchBufferLength);
}

BOOL Win32Platform::FindVolumeClose(HANDLE hFindVolume) {
    return ::FindVolumeClose(hFindVolume);
}

DWORD Win32Platform::QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) {
    return ::QueryDosDeviceW(lpDeviceName, lpTargetPath, ucchMax);
}

// ---- The display scale --------------------------------------------------------

HDC Win32Platform::GetDC(HWND hWnd) {
    return ::GetDC(hWnd);
}

int Win32Platform::ReleaseDC(HWND hWnd, HDC hDC) {
    return ::ReleaseDC(hWnd, hDC);
}

int Win32Platform::GetDeviceCaps(HDC hdc, int index) {
    return ::GetDeviceCaps(hdc, index);
}

int Win32Platform::GetSystemMetrics(int nIndex) {
    return ::GetSystemMetrics(nIndex);
}

UINT Win32Platform::GetDpiForWindow(FARPROC procedure, HWND hwnd) {
    using Procedure = UINT(WINAPI*)(HWND);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(hwnd);
}

int Win32Platform::GetSystemMetricsForDpi(FARPROC procedure, int nIndex, UINT dpi) {
    using Procedure = int(WINAPI*)(int, UINT);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(nIndex, dpi);
}

DPI_AWARENESS_CONTEXT Win32Platform::GetWindowDpiAwarenessContext(FARPROC procedure, HWND hwnd) {
    using Procedure = DPI_AWARENESS_CONTEXT(WINAPI*)(HWND);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(hwnd);
}

BOOL Win32Platform::AreDpiAwarenessContextsEqual(FARPROC procedure,
                                                 DPI_AWARENESS_CONTEXT dpiContextA,
                                                 DPI_AWARENESS_CONTEXT dpiContextB) {
    using Procedure = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);
    return reinterpret_cast<Procedure>(reinterpret_cast<void*>(procedure))(dpiContextA,
                                                                           dpiContextB);
}
