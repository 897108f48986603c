// The Win32 types, constants and structures the program exchanges with the
// system. The Windows build takes them from the SDK headers; the host build
// declares the same subset here so the logic compiles and runs without
// <windows.h>. On the host wchar_t is 4 bytes: byte counts of text are always
// written as sizeof(WCHAR) * characters, never with a literal 2.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <cfgmgr32.h>
#include <dbt.h>
#include <setupapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winioctl.h>
#include <winternl.h>

// Built for Windows XP: no later API is declared, and structures keep the
// sizes XP accepts.
static_assert(_WIN32_WINNT == 0x0501 && WINVER == 0x0501, "the build targets Windows XP");

#ifndef HH_HELP_CONTEXT
#define HH_HELP_CONTEXT 0x000F
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
// The CD-ROM and tape control codes live in driver headers of their own.
#ifndef IOCTL_CDROM_GET_DRIVE_GEOMETRY
#define IOCTL_CDROM_GET_DRIVE_GEOMETRY 0x0002404C
#endif
#ifndef IOCTL_TAPE_GET_MEDIA_PARAMS
#define IOCTL_TAPE_GET_MEDIA_PARAMS 0x001F401C
#endif

// The display scale. Windows 8.1 sends WM_DPICHANGED to per-monitor aware
// windows; the SDK declares it only for later targets.
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef USER_DEFAULT_SCREEN_DPI
#define USER_DEFAULT_SCREEN_DPI 96
#endif

#else  // host build

using BYTE = std::uint8_t;
using UCHAR = std::uint8_t;
using BOOLEAN = std::uint8_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using BOOL = int;
using CHAR = char;
using WCHAR = wchar_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using NTSTATUS = LONG;
using UINT_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LSTATUS = LONG;
using REGSAM = DWORD;
using DEVINST = DWORD;
using PDEVINST = DEVINST*;
using CONFIGRET = DWORD;
using DI_FUNCTION = UINT;

using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using PBYTE = BYTE*;
using LPBYTE = BYTE*;
using PDWORD = DWORD*;
using PULONG = ULONG*;
using LPDWORD = DWORD*;
using LPSTR = CHAR*;
using LPCSTR = const CHAR*;
using PCSTR = const CHAR*;
using LPWSTR = WCHAR*;
using PWSTR = WCHAR*;
using PWCHAR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PCWSTR = const WCHAR*;
using DEVINSTID_W = WCHAR*;

using HANDLE = void*;
using LPHANDLE = HANDLE*;
using HDEVINFO = void*;
using HMACHINE = HANDLE;
using HSPFILEQ = void*;
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using FARPROC = LONG_PTR (*)();
struct ACL;
using PACL = ACL*;
using PSID = void*;
using PSECURITY_DESCRIPTOR = void*;

#define WINAPI

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using LPGUID = GUID*;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};

struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID lpThreadParameter);

// Process snapshots (tlhelp32.h).
struct PROCESSENTRY32W {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    WCHAR szExeFile[260];  // MAX_PATH
};
using LPPROCESSENTRY32W = PROCESSENTRY32W*;

// Native calls (winternl.h).
struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;
enum FS_INFORMATION_CLASS : int { FileFsVolumeInformation = 1, FileFsDeviceInformation = 4 };
struct FILE_FS_VOLUME_INFORMATION {
    LARGE_INTEGER VolumeCreationTime;
    ULONG VolumeSerialNumber;
    ULONG VolumeLabelLength;
    BOOLEAN SupportsObjects;
    WCHAR VolumeLabel[1];
};

// SetupAPI records. The 32-bit SDK packs them to 1 byte, the 64-bit one to 8;
// on the host they keep the natural layout, so only pointer-free sizes agree.
#define SP_MAX_MACHINENAME_LENGTH (260 + 3)
#define MAX_PATH 260

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_W = SP_DEVICE_INTERFACE_DETAIL_DATA_W*;

struct SP_DEVINFO_LIST_DETAIL_DATA_W {
    DWORD cbSize;
    GUID ClassGuid;
    HANDLE RemoteMachineHandle;
    WCHAR RemoteMachineName[SP_MAX_MACHINENAME_LENGTH];
};
using PSP_DEVINFO_LIST_DETAIL_DATA_W = SP_DEVINFO_LIST_DETAIL_DATA_W*;

struct SP_CLASSINSTALL_HEADER {
    DWORD cbSize;
    DI_FUNCTION InstallFunction;
};
using PSP_CLASSINSTALL_HEADER = SP_CLASSINSTALL_HEADER*;

struct SP_REMOVEDEVICE_PARAMS {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    DWORD Scope;
    DWORD HwProfile;
};

struct SP_DEVINSTALL_PARAMS_W {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    PVOID InstallMsgHandler;
    PVOID InstallMsgHandlerContext;
    HSPFILEQ FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    WCHAR DriverPath[MAX_PATH];
};
using PSP_DEVINSTALL_PARAMS_W = SP_DEVINSTALL_PARAMS_W*;

// Storage and volume control records.
enum STORAGE_PROPERTY_ID { StorageDeviceProperty = 0 };
enum STORAGE_QUERY_TYPE { PropertyStandardQuery = 0 };
enum STORAGE_BUS_TYPE {
    BusTypeUnknown = 0,
    BusTypeScsi,
    BusTypeAtapi,
    BusTypeAta,
    BusType1394,
    BusTypeSsa,
    BusTypeFibre,
    BusTypeUsb,
    BusTypeRAID,
};
enum MEDIA_TYPE { Unknown = 0, RemovableMedia = 11, FixedMedia = 12 };
using STORAGE_MEDIA_TYPE = DWORD;
using DEVICE_TYPE = DWORD;

struct STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    BYTE AdditionalParameters[1];
};

struct STORAGE_DEVICE_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    BYTE DeviceType;
    BYTE DeviceTypeModifier;
    BOOLEAN RemovableMedia;
    BOOLEAN CommandQueueing;
    DWORD VendorIdOffset;
    DWORD ProductIdOffset;
    DWORD ProductRevisionOffset;
    DWORD SerialNumberOffset;
    STORAGE_BUS_TYPE BusType;
    DWORD RawPropertiesLength;
    BYTE RawDeviceProperties[1];
};

struct DISK_GEOMETRY {
    LARGE_INTEGER Cylinders;
    MEDIA_TYPE MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
};

struct DISK_EXTENT {
    DWORD DiskNumber;
    LARGE_INTEGER StartingOffset;
    LARGE_INTEGER ExtentLength;
};

struct VOLUME_DISK_EXTENTS {
    DWORD NumberOfDiskExtents;
    DISK_EXTENT Extents[1];
};

struct STORAGE_DEVICE_NUMBER {
    DEVICE_TYPE DeviceType;
    DWORD DeviceNumber;
    DWORD PartitionNumber;
};

struct TAPE_GET_MEDIA_PARAMETERS {
    LARGE_INTEGER Capacity;
    LARGE_INTEGER Remaining;
    DWORD BlockSize;
    DWORD PartitionCount;
    BOOLEAN WriteProtected;
};

struct DEVICE_MEDIA_INFO {
    union {
        struct {
            LARGE_INTEGER Cylinders;
            STORAGE_MEDIA_TYPE MediaType;
            DWORD TracksPerCylinder;
            DWORD SectorsPerTrack;
            DWORD BytesPerSector;
            DWORD NumberMediaSides;
            DWORD MediaCharacteristics;
        } DiskInfo;
        struct {
            LARGE_INTEGER Cylinders;
            STORAGE_MEDIA_TYPE MediaType;
            DWORD TracksPerCylinder;
            DWORD SectorsPerTrack;
            DWORD BytesPerSector;
            DWORD NumberMediaSides;
            DWORD MediaCharacteristics;
        } RemovableDiskInfo;
        struct {
            STORAGE_MEDIA_TYPE MediaType;
            DWORD MediaCharacteristics;
            DWORD CurrentBlockSize;
            STORAGE_BUS_TYPE BusType;
            union {
                struct {
                    BYTE MediumType;
                    BYTE DensityCode;
                } ScsiInformation;
            } BusSpecificData;
        } TapeInfo;
    } DeviceSpecific;
};

struct GET_MEDIA_TYPES {
    DWORD DeviceType;
    DWORD MediaInfoCount;
    DEVICE_MEDIA_INFO MediaInfo[1];
};

// Predefined keys and handles.
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

#define TRUE 1
#define FALSE 0

// Error codes.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_READY 21L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_BAD_LENGTH 24L
#define ERROR_CRC 23L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_NOT_LOCKED 158L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_NOACCESS 998L
#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_IO_DEVICE 1117L
#define ERROR_NO_MEDIA_IN_DRIVE 1112L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NOT_FOUND 1168L
#define ERROR_INVALID_CLASS 0xE0000209L
#define ERROR_NO_SUCH_DEVINST 0xE000020BL
#define ERROR_INVALID_DEVINST_NAME 0xE0000205L
#define ERROR_NO_SUCH_INTERFACE_DEVICE 0xE0000217L
#define ERROR_INVALID_CLASS_INSTALLER 0xE000020DL
#define ERROR_DI_DO_DEFAULT 0xE000020EL

// Registry.
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

// Files and volumes.
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
#define FILE_TYPE_PIPE 0x0003
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define OPEN_EXISTING 3
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

// Processes, threads and waits.
#define PROCESS_DUP_HANDLE 0x0040
#define PROCESS_QUERY_INFORMATION 0x0400
#define DUPLICATE_CLOSE_SOURCE 0x00000001
#define DUPLICATE_SAME_ACCESS 0x00000002
#define TH32CS_SNAPPROCESS 0x00000002
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

// Device types (FILE_DEVICE_*).
#define FILE_DEVICE_CD_ROM 0x00000002
#define FILE_DEVICE_DISK 0x00000007
#define FILE_DEVICE_TAPE 0x0000001f
#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_DEVICE_VIRTUAL_DISK 0x00000024
#define FILE_DEVICE_MASS_STORAGE 0x0000002d
#define FILE_DEVICE_CHANGER 0x00000030
#define FILE_DEVICE_SMARTCARD 0x00000031
#define FILE_DEVICE_DVD 0x00000033

// Control codes.
#define IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS 0x00560000
#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400
#define IOCTL_STORAGE_GET_DEVICE_NUMBER 0x002D1080
#define IOCTL_STORAGE_GET_MEDIA_TYPES_EX 0x002D0C04
#define IOCTL_DISK_GET_DRIVE_GEOMETRY 0x00070000
#define IOCTL_CDROM_GET_DRIVE_GEOMETRY 0x0002404C
#define IOCTL_TAPE_GET_MEDIA_PARAMS 0x001F401C
#define FSCTL_LOCK_VOLUME 0x00090018
#define FSCTL_UNLOCK_VOLUME 0x0009001C

// SetupAPI and the configuration manager.
#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010
#define SPINT_ACTIVE 0x00000001
#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_FRIENDLYNAME 0x0000000C
#define DIF_REMOVE 0x00000005
#define DI_REMOVEDEVICE_GLOBAL 0x00000001
#define DI_NEEDRESTART 0x00000080
#define DI_NEEDREBOOT 0x00000100
#define CR_SUCCESS 0x00000000
#define CR_OUT_OF_MEMORY 0x00000002
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_FAILURE 0x00000013
#define CR_BUFFER_SMALL 0x0000001A
#define CR_ACCESS_DENIED 0x00000033
#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_REENUMERATE_SYNCHRONOUS 0x00000001

// Library search.
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000

// Security descriptors.
#define SECURITY_DESCRIPTOR_REVISION 1
#define SE_DACL_PRESENT 0x0004

// Messages and message boxes.
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_CANCELTRYCONTINUE 0x00000006L
#define MB_ICONERROR 0x00000010L
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
#define MB_TYPEMASK 0x0000000FL
#define MB_DEFBUTTON2 0x00000100L
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDTRYAGAIN 10
#define IDCONTINUE 11
#define SW_RESTORE 9
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define CP_ACP 0

// Shell and device-change notifications.
#define SHCNE_DRIVEREMOVED 0x00000080L
#define SHCNE_UPDATEDIR 0x00001000L
#define SHCNF_PATHW 0x0005
#define DBT_DEVNODES_CHANGED 0x0007
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEQUERYREMOVE 0x8001
#define DBT_DEVICEREMOVECOMPLETE 0x8004
#define WM_DEVICECHANGE 0x0219
#define DBT_DEVTYP_VOLUME 0x00000002
#define DBT_DEVTYP_DEVICEINTERFACE 0x00000005
#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000
using HDEVNOTIFY = PVOID;
struct DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
};
struct DEV_BROADCAST_VOLUME {
    DWORD dbcv_size;
    DWORD dbcv_devicetype;
    DWORD dbcv_reserved;
    DWORD dbcv_unitmask;
    WORD dbcv_flags;
};
struct DEV_BROADCAST_DEVICEINTERFACE_W {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    GUID dbcc_classguid;
    WCHAR dbcc_name[1];
};

// Help.
#define HH_HELP_CONTEXT 0x000F

// The console program: standard handles, the shared lock, the rights check.
using VOID = void;
using PBOOL = BOOL*;
struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;
#define SECURITY_NT_AUTHORITY {0, 0, 0, 0, 0, 5}
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))
#define WAIT_ABANDONED 0x00000080u
#define ERROR_NOT_OWNER 288L
#define ERROR_NO_DATA 232L

// The display scale: device contexts, system metrics, the per-monitor
// awareness of a window (Windows 10's handles; -4 is per-monitor v2).
struct HDC__;
using HDC = HDC__*;
struct DPI_AWARENESS_CONTEXT__;
using DPI_AWARENESS_CONTEXT = DPI_AWARENESS_CONTEXT__*;
#define DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 ((DPI_AWARENESS_CONTEXT)-4)
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXSMICON 49
#define SM_CYSMICON 50
#define WM_DPICHANGED 0x02E0
#define USER_DEFAULT_SCREEN_DPI 96
#define ERROR_INVALID_WINDOW_HANDLE 1400L

#endif  // _WIN32

// The system handle table as ntdll's NtQuerySystemInformation answers it:
// SystemHandleInformation (16, every NT) with 16-bit process ids and handle
// values, and SystemExtendedHandleInformation (64, XP and later) with
// full-width ones. Neither is in the SDK headers.
inline constexpr ULONG kSystemHandleInformation = 16;
inline constexpr ULONG kSystemExtendedHandleInformation = 64;
struct SYSTEM_HANDLE_TABLE_ENTRY_INFO {
    USHORT UniqueProcessId;
    USHORT CreatorBackTraceIndex;
    UCHAR ObjectTypeIndex;
    UCHAR HandleAttributes;
    USHORT HandleValue;
    PVOID Object;
    ULONG GrantedAccess;
};
struct SYSTEM_HANDLE_TABLE_INFORMATION {
    ULONG NumberOfHandles;
    SYSTEM_HANDLE_TABLE_ENTRY_INFO Handles[1];
};
struct SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX {
    PVOID Object;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR HandleValue;
    ULONG GrantedAccess;
    USHORT CreatorBackTraceIndex;
    USHORT ObjectTypeIndex;
    ULONG HandleAttributes;
    ULONG Reserved;
};
struct SYSTEM_HANDLE_INFORMATION_EX {
    ULONG_PTR NumberOfHandles;
    ULONG_PTR Reserved;
    SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX Handles[1];
};
inline constexpr NTSTATUS kStatusSuccess = 0;
inline constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004u);
inline constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003u);
inline constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002u);
inline constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022u);
inline constexpr NTSTATUS kStatusInvalidHandle = static_cast<NTSTATUS>(0xC0000008u);
inline constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005u);

// Interface classes of the storage devices, the same on every build.
inline constexpr GUID kGuidDevInterfaceDisk = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID kGuidDevInterfaceCdrom = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID kGuidDevInterfaceTape = {
    0x53F5630B, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

inline bool SameGuid(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

// Sizes the program relies on: the extents buffer holds the header and 27
// extents, and the descriptor's fixed part is what the first query asks for.
inline constexpr DWORD kExtentsBufferSize = 656;
inline constexpr DWORD kExtentsBufferCapacity = 27;
static_assert(sizeof(DISK_EXTENT) == 24, "DISK_EXTENT layout");
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == 8, "extents header");
static_assert(8 + kExtentsBufferCapacity * sizeof(DISK_EXTENT) == kExtentsBufferSize,
              "extents buffer");
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "STORAGE_PROPERTY_QUERY layout");
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40, "STORAGE_DEVICE_DESCRIPTOR layout");
static_assert(sizeof(DISK_GEOMETRY) == 24, "DISK_GEOMETRY layout");
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12, "STORAGE_DEVICE_NUMBER layout");
static_assert(sizeof(TAPE_GET_MEDIA_PARAMETERS) == 32, "TAPE_GET_MEDIA_PARAMETERS layout");
static_assert(sizeof(DEVICE_MEDIA_INFO) == 32, "DEVICE_MEDIA_INFO layout");
static_assert(offsetof(GET_MEDIA_TYPES, MediaInfo) == 8, "media types header");
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == 8, "SP_CLASSINSTALL_HEADER layout");
static_assert(sizeof(SP_REMOVEDEVICE_PARAMS) == 16, "SP_REMOVEDEVICE_PARAMS layout");
// The handle table records differ between the 32-bit and 64-bit editions;
// the search reads them at these offsets.
static_assert(sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO) == 8 + 2 * sizeof(void*), "handle entry");
static_assert(offsetof(SYSTEM_HANDLE_TABLE_INFORMATION, Handles) == sizeof(void*), "handle table");
static_assert(sizeof(SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX) == 3 * sizeof(void*) + 16,
              "handle entry ex");
static_assert(offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles) == 2 * sizeof(void*),
              "handle table ex");
static_assert(offsetof(FILE_FS_VOLUME_INFORMATION, VolumeSerialNumber) == 8, "volume information");
// The records with pointers differ between the two Windows builds: the 32-bit
// SDK packs SetupAPI's records to 1 byte, the 64-bit one to 8, and cbSize
// must be the size of the build's own record (SetupAPI refuses any other).
// The header of the interface detail is what cbSize holds for it: 6 and 8.
#if defined(_WIN64)
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "interface detail header");
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4,
              "interface detail path");
static_assert(sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W) == 560, "SP_DEVINFO_LIST_DETAIL_DATA_W layout");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_W) == 584, "SP_DEVINSTALL_PARAMS_W layout");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24, "SECURITY_ATTRIBUTES layout");
static_assert(sizeof(SECURITY_DESCRIPTOR) == 40, "SECURITY_DESCRIPTOR layout");
static_assert(sizeof(PROCESSENTRY32W) == 568, "PROCESSENTRY32W layout");
#elif defined(_WIN32)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6, "interface detail header");
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4,
              "interface detail path");
static_assert(sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W) == 550, "SP_DEVINFO_LIST_DETAIL_DATA_W layout");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_W) == 556, "SP_DEVINSTALL_PARAMS_W layout");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES layout");
static_assert(sizeof(SECURITY_DESCRIPTOR) == 20, "SECURITY_DESCRIPTOR layout");
static_assert(sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W layout");
#endif

// ---- Naming the programs that hold a volume ---------------------------------
// The token privilege, the service manager's list, module snapshots and the
// final path of a handle. XP has all but GetFinalPathNameByHandleW (Vista),
// which is looked up at run time; its flags are missing from the XP headers.
inline constexpr DWORD kFileNameNormalized = 0x0;  // FILE_NAME_NORMALIZED
inline constexpr DWORD kVolumeNameDos = 0x0;       // VOLUME_NAME_DOS
#ifdef _WIN32
#include <winsvc.h>
#ifndef TH32CS_SNAPMODULE32
#define TH32CS_SNAPMODULE32 0x00000010
#endif
#ifndef ERROR_PARTIAL_COPY
#define ERROR_PARTIAL_COPY 299L
#endif
#else
struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
using PLUID = LUID*;
struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
using PTOKEN_PRIVILEGES = TOKEN_PRIVILEGES*;
using PHANDLE = HANDLE*;
#define TOKEN_QUERY 0x0008
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define SE_PRIVILEGE_ENABLED 0x00000002L
#define SE_DEBUG_NAME L"SeDebugPrivilege"
#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_PARTIAL_COPY 299L

struct SC_HANDLE__;
using SC_HANDLE = SC_HANDLE__*;
enum SC_ENUM_TYPE : int { SC_ENUM_PROCESS_INFO = 0 };
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004
#define SERVICE_WIN32 0x00000030
#define SERVICE_ACTIVE 0x00000001
#define SERVICE_RUNNING 0x00000004
struct SERVICE_STATUS_PROCESS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
    DWORD dwProcessId;
    DWORD dwServiceFlags;
};
struct ENUM_SERVICE_STATUS_PROCESSW {
    LPWSTR lpServiceName;
    LPWSTR lpDisplayName;
    SERVICE_STATUS_PROCESS ServiceStatusProcess;
};

#define TH32CS_SNAPMODULE 0x00000008
#define TH32CS_SNAPMODULE32 0x00000010
struct MODULEENTRY32W {
    DWORD dwSize;
    DWORD th32ModuleID;
    DWORD th32ProcessID;
    DWORD GlblcntUsage;
    DWORD ProccntUsage;
    BYTE* modBaseAddr;
    DWORD modBaseSize;
    HMODULE hModule;
    WCHAR szModule[256];  // MAX_MODULE_NAME32 + 1
    WCHAR szExePath[260];
};
using LPMODULEENTRY32W = MODULEENTRY32W*;
#endif
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "TOKEN_PRIVILEGES layout");
static_assert(sizeof(SERVICE_STATUS_PROCESS) == 36, "SERVICE_STATUS_PROCESS layout");
static_assert(offsetof(ENUM_SERVICE_STATUS_PROCESSW, ServiceStatusProcess) == 2 * sizeof(void*),
              "ENUM_SERVICE_STATUS_PROCESSW layout");
#if defined(_WIN64)
static_assert(sizeof(ENUM_SERVICE_STATUS_PROCESSW) == 56, "ENUM_SERVICE_STATUS_PROCESSW size");
static_assert(sizeof(MODULEENTRY32W) == 1080, "MODULEENTRY32W layout");
#elif defined(_WIN32)
static_assert(sizeof(ENUM_SERVICE_STATUS_PROCESSW) == 44, "ENUM_SERVICE_STATUS_PROCESSW size");
static_assert(sizeof(MODULEENTRY32W) == 1064, "MODULEENTRY32W layout");
#endif
// BitLocker and virtual disks (Windows 7 on; none of it is in the XP headers,
// and virtdisk.dll is looked up at run time).
// FVE_E_LOCKED_VOLUME: the last error of an open that asks for access to a
// volume BitLocker has not unlocked.
inline constexpr DWORD kFveLockedVolume = 0x80310000u;

// The virtual disk service (virtdisk.h). The flags and masks are passed as
// the 32-bit enumerations they are.
using GET_STORAGE_DEPENDENCY_FLAG = DWORD;
using VIRTUAL_DISK_ACCESS_MASK = DWORD;
using OPEN_VIRTUAL_DISK_FLAG = DWORD;
using DETACH_VIRTUAL_DISK_FLAG = DWORD;
inline constexpr DWORD GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES = 0x00000001;
inline constexpr DWORD GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE = 0x00000002;
inline constexpr ULONG STORAGE_DEPENDENCY_INFO_VERSION_2 = 2;
inline constexpr DWORD VIRTUAL_DISK_ACCESS_ATTACH_RO = 0x00010000;
inline constexpr DWORD VIRTUAL_DISK_ACCESS_ATTACH_RW = 0x00020000;
inline constexpr DWORD VIRTUAL_DISK_ACCESS_DETACH = 0x00040000;
inline constexpr DWORD VIRTUAL_DISK_ACCESS_GET_INFO = 0x00080000;
inline constexpr DWORD VIRTUAL_DISK_ACCESS_CREATE = 0x00100000;
inline constexpr DWORD VIRTUAL_DISK_ACCESS_METAOPS = 0x00200000;
inline constexpr DWORD VIRTUAL_DISK_ACCESS_READ = 0x000d0000;
inline constexpr DWORD OPEN_VIRTUAL_DISK_FLAG_NONE = 0;
inline constexpr ULONG OPEN_VIRTUAL_DISK_VERSION_1 = 1;
inline constexpr DWORD DETACH_VIRTUAL_DISK_FLAG_NONE = 0;
inline constexpr ULONG VIRTUAL_STORAGE_TYPE_DEVICE_UNKNOWN = 0;
inline constexpr ULONG VIRTUAL_STORAGE_TYPE_DEVICE_ISO = 1;
inline constexpr ULONG VIRTUAL_STORAGE_TYPE_DEVICE_VHD = 2;
inline constexpr ULONG VIRTUAL_STORAGE_TYPE_DEVICE_VHDX = 3;
inline constexpr GUID kVirtualStorageTypeVendorMicrosoft = {
    0xEC984AEC, 0xA0F9, 0x47E9, {0x90, 0x1F, 0x71, 0x41, 0x5A, 0x66, 0x34, 0x5B}};
// A File Backed Virtual disk is a mounted ISO, VHD or VHDX; a Spaces disk is
// a Storage Spaces virtual disk (STORAGE_BUS_TYPE 15 and 16).
inline constexpr DWORD kBusTypeFileBackedVirtual = 15;
inline constexpr DWORD kBusTypeSpaces = 16;
#ifndef LOAD_WITH_ALTERED_SEARCH_PATH
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#endif

struct VIRTUAL_STORAGE_TYPE {
    ULONG DeviceId;
    GUID VendorId;
};
using PVIRTUAL_STORAGE_TYPE = VIRTUAL_STORAGE_TYPE*;
struct STORAGE_DEPENDENCY_INFO_TYPE_2 {
    ULONG DependencyTypeFlags;
    ULONG ProviderSpecificFlags;
    VIRTUAL_STORAGE_TYPE VirtualStorageType;
    ULONG AncestorLevel;
    PWSTR DependencyDeviceName;
    PWSTR HostVolumeName;
    PWSTR DependentVolumeName;
    PWSTR DependentVolumeRelativePath;
};
// Version 2 only: the version 1 entries of the SDK's union are not used.
struct STORAGE_DEPENDENCY_INFO {
    ULONG Version;
    ULONG NumberEntries;
    STORAGE_DEPENDENCY_INFO_TYPE_2 Version2Entries[1];
};
using PSTORAGE_DEPENDENCY_INFO = STORAGE_DEPENDENCY_INFO*;
// Version 1 only; the program passes none and lets the service choose.
struct OPEN_VIRTUAL_DISK_PARAMETERS {
    ULONG Version;
    union {
        struct {
            ULONG RWDepth;
        } Version1;
    };
};
using POPEN_VIRTUAL_DISK_PARAMETERS = OPEN_VIRTUAL_DISK_PARAMETERS*;
static_assert(sizeof(VIRTUAL_STORAGE_TYPE) == 20, "VIRTUAL_STORAGE_TYPE layout");
static_assert(offsetof(STORAGE_DEPENDENCY_INFO_TYPE_2, DependencyDeviceName) == 32,
              "dependency entry strings");
static_assert(sizeof(STORAGE_DEPENDENCY_INFO_TYPE_2) == 32 + 4 * sizeof(void*),
              "STORAGE_DEPENDENCY_INFO_TYPE_2 layout: 48 and 64 bytes");
static_assert(offsetof(STORAGE_DEPENDENCY_INFO, Version2Entries) == 8, "dependency header");
