// A simulated Windows machine held in memory. It answers every call of the
// platform seam the way Windows does (return values, last errors, buffer
// protocols, structure layouts), so the program's logic can run and be tested
// without Windows and without real disks.
//
// Build a machine in code by filling the public structs and adding them with
// the Add* helpers, or load one from a JSON machine file (see the bottom of
// this header). Then hand the machine to the code under test as a Platform&.
//
//     SimMachine sim;
//     SimDevice& disk = sim.AddDevice(SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_X\\1", L"X Stick",
//     1, BusTypeUsb)); sim.AddVolume(SimMachine::MakeVolume(L'E', 1, 1000000));
//     ... run the logic against sim ...
//     EXPECT_EQ("", sim.LeakReport());
//
// Behaviour worth knowing:
// - Every handle, device information set and registry key handed out is
//   counted until released; LeakReport() names what is still open. Releasing
//   an unknown or already released one fails with ERROR_INVALID_HANDLE and is
//   recorded as a program error (ProgramErrors()).
// - Every seam call except GetLastError/SetLastError is counted and logged
//   (Calls()). FailCall/FailMethod make a chosen call fail the way that
//   function fails.
// - Device-change notifications (DBT_*) raised by removals and
//   re-enumerations are queued like window messages and reach the
//   notification target when the program pumps messages: inside MessageBoxW
//   (before the box is answered) or when a test calls PumpMessages(). Set
//   deliverDeviceChangesAtOnce to hand them over inside the call instead.
// - A removal whose device (or one of its volumes) still has a handle open in
//   the program, or a volume with filesOpen, cannot stop the device: Windows
//   then asks for a reboot, and so does the sim (the device stays present).
// - Other processes (AddProcess) hold files, folders and pipes open; a file
//   or folder on a volume makes its lock fail and its device stay, as
//   filesOpen does. They are seen through the system handle table, process
//   handles, handle duplication and the process snapshot. The program's own
//   process is ownProcessId ("Trayhop32.exe"); its open handles are in the
//   table too.
// - A device with a virtualDisk is a mounted image's disk: the virtual disk
//   service (virtdisk.dll, loaded only by its full path in systemDirectory;
//   any other LoadLibraryExW is a program error) detaches it for good, while
//   uninstalling it brings it back at the next re-enumeration.
// - Processes may host services (the service manager lists them), be
//   protected or need SeDebugPrivilege (the program's token holds it,
//   disabled), and run images or DLLs from a volume (their module snapshot
//   lists them; they are not in the handle table).
// - CreateThread runs the thread to its end before it returns; waiting for
//   the thread then succeeds at once. A question about a file that stalls
//   leaves its thread blocked for good instead: waiting on it times out and
//   lets the clock run by the wait. GetTickCount reads a clock that moves
//   by tickCountStep at each call and by the time slept or waited (or the
//   real one, realClock).
#pragma once

#include "platform/Platform.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// What a device's storage driver answers.
struct SimGeometry {
    LONGLONG cylinders = 0;
    DWORD mediaType = FixedMedia;  // MEDIA_TYPE: RemovableMedia 11, FixedMedia 12, ...
    DWORD tracksPerCylinder = 255;
    DWORD sectorsPerTrack = 63;
    DWORD bytesPerSector = 512;
};

struct SimMediaInfo {
    DWORD mediaType = FixedMedia;  // DiskInfo.MediaType, or TapeInfo.MediaType for tapes
    DWORD characteristics = 0;     // MediaCharacteristics
};

struct SimStorage {
    // STORAGE_DEVICE_DESCRIPTOR. An absent string (nullopt) has offset 0; the
    // strings are single-byte (ANSI) and stored after the fixed part.
    BYTE deviceType = 0;  // SCSI peripheral type: 0 disk, 1 tape, 5 CD-ROM, 14 RBC
    BYTE deviceTypeModifier = 0;
    bool removableMedia = false;
    DWORD busType = BusTypeAta;
    std::optional<std::string> vendor;
    std::optional<std::string> product;
    std::optional<std::string> revision;
    std::optional<std::string> serial;
    bool serialOffsetAllOnes = false;  // an absent serial reported as 0xFFFFFFFF instead of 0
    // When set, the descriptor query answers exactly these bytes (hostile
    // devices: any Size, any offsets); the fields above are then ignored.
    std::optional<std::vector<BYTE>> rawDescriptor;

    // Answer to IOCTL_DISK_GET_DRIVE_GEOMETRY and IOCTL_CDROM_GET_DRIVE_GEOMETRY.
    SimGeometry geometry;
    // IOCTL_STORAGE_GET_MEDIA_TYPES_EX: the device type and its media entries
    // (an empty list answers MediaInfoCount 0).
    DWORD mediaDeviceType = FILE_DEVICE_DISK;
    std::vector<SimMediaInfo> media = {SimMediaInfo{}};
    // IOCTL_TAPE_GET_MEDIA_PARAMS: Capacity (and Remaining).
    LONGLONG tapeCapacity = 0;
    // IOCTL_STORAGE_GET_DEVICE_NUMBER; for disks also the N of "\\.\PhysicalDriveN".
    DWORD deviceNumber = 0;

    // Control code -> the error that request fails with.
    std::map<DWORD, DWORD> ioctlErrors;
    // Opening the device (interface path, PhysicalDriveN) fails with this error.
    DWORD openError = 0;
    // Another program holds the device open for reading and writing, sharing
    // reads only (Disk Management's service, a disk passed through to a
    // virtual machine): an open that asks for data access without sharing
    // writes fails with ERROR_SHARING_VIOLATION; an open without data access
    // still works.
    bool heldForWriting = false;
};

enum class SimRemovalOutcome {
    Removed,              // gone from the running system
    Declined,             // the class installer fails with removalError
    RemovedNeedsRestart,  // succeeds, install params carry DI_NEEDRESTART; device stays until
                          // restart
    RemovedNeedsReboot,   // succeeds, install params carry DI_NEEDREBOOT; device stays until reboot
};

// A mounted ISO, VHD or VHDX behind a device on the File Backed Virtual bus.
struct SimVirtualDisk {
    // The image file, e.g. L"D:\\VMs\\build.vhdx": the service names it by
    // the volume that holds it (the GUID path of D:) and the path below it.
    // Its extension gives the storage type: .iso, .vhd, else VHDX.
    std::wstring image;
    DWORD detachError = 0;  // DetachVirtualDisk fails with this error
    bool detached = false;  // set by the sim once detached (read-only for tests)
};

struct SimDevice {
    std::wstring instanceId;                 // e.g. L"IDE\\DISKX\\5&1", at most 200 characters
    std::wstring setupClass = L"DiskDrive";  // its class GUID comes from the class table
    bool present = true;                     // listed by DIGCF_PRESENT
    bool pending = false;  // attached but not yet enumerated: appears after re-enumeration
    std::optional<std::wstring> friendlyName;                // SPDRP_FRIENDLYNAME (REG_SZ)
    std::optional<std::wstring> deviceDesc;                  // SPDRP_DEVICEDESC (REG_SZ)
    std::optional<std::vector<std::wstring>> hardwareIds;    // SPDRP_HARDWAREID (REG_MULTI_SZ)
    std::optional<std::vector<std::wstring>> compatibleIds;  // SPDRP_COMPATIBLEIDS (REG_MULTI_SZ)
    // Device path of its interface; empty means the device has no interface.
    // The interface class follows the setup class: DiskDrive -> disk, CDROM ->
    // cdrom, TapeDrive -> tape, any other -> the device's own class GUID.
    std::wstring interfacePath;
    // Position in interface lists (lower first; ties keep device order), so a
    // test can make the interface order differ from the device order.
    int interfaceOrder = 0;
    SimStorage storage;
    SimRemovalOutcome removal = SimRemovalOutcome::Removed;
    DWORD removalError = ERROR_ACCESS_DENIED;  // with SimRemovalOutcome::Declined
    DWORD setClassInstallParamsError = 0;      // SetupDiSetClassInstallParamsW fails with this
    bool removed = false;  // set by the sim once the device has been removed (read-only for tests)
    // A pending device that Windows attaches by itself this long after the
    // machine was loaded, as if it were plugged in then (AttachDueDevices).
    std::optional<DWORD> arrivesAfterMs;
    // Backed by an image file: detaching it takes the device away for good;
    // uninstalling the device leaves the image attached, and the disk comes
    // back at the next re-enumeration.
    std::optional<SimVirtualDisk> virtualDisk;
};

struct SimExtent {
    DWORD diskNumber = 0;
    LONGLONG offset = 0;
    LONGLONG length = 0;
};

struct SimVolume {
    WCHAR letter = 0;  // upper-case drive letter, or 0 for none
    UINT driveType = DRIVE_FIXED;
    std::wstring guidPath;      // L"\\\\?\\Volume{...}\\" with the trailing backslash
    DWORD mountPointError = 0;  // GetVolumeNameForVolumeMountPointW fails (e.g. a SUBST letter)
    std::vector<SimExtent> extents;
    DWORD extentsError = 0;  // 1 or 21: the volume has no disk extents
    // No medium in the drive (an empty card-reader slot or DVD drive): opens
    // that ask for access and the extents request fail with ERROR_NOT_READY;
    // an open without access and the device-number request still work.
    bool noMedia = false;
    // The device that answers storage requests on this volume's handle (and
    // on "\\?\X:"); empty means the disk holding the first extent.
    std::wstring deviceInstanceId;
    // FSCTL_LOCK_VOLUME fails with ERROR_ACCESS_DENIED: something the machine
    // does not name (the system, a service) holds it; files of SimProcesses do
    // the same and are named.
    bool filesOpen = false;
    DWORD serialNumber = 0;              // volume serial number; 0: made from the letter
    bool openAccessDenied = false;       // opens asking for access fail with ERROR_ACCESS_DENIED
    DWORD openError = 0;                 // every open fails with this error
    bool exclusiveOpenFails = false;     // an open with share mode 0 fails ERROR_SHARING_VIOLATION
    DWORD flushError = 0;                // FlushFileBuffers fails with this error
    std::map<DWORD, DWORD> ioctlErrors;  // volume requests (extents, lock, unlock) -> error
    bool present = true;
    bool pending = false;  // mounted by the next re-enumeration
    // FSCTL_LOCK_VOLUME fails with ERROR_ACCESS_DENIED this many more times
    // before it is granted: users such as the shell or an indexer close their
    // handles when a lock is asked for, a moment too late for the first one.
    DWORD lockRefusals = 0;
    // BitLocker has not unlocked it: opens asking for access and
    // GetVolumeInformationW fail with FVE_E_LOCKED_VOLUME; an open without
    // access, the extents and the device number still answer.
    bool bitLockerLocked = false;
    std::wstring label;    // GetVolumeInformationW's volume label
    // Folders the volume is mounted in, each with its trailing backslash
    // (L"C:\\Backup\\"); the volume may have them with or without a letter.
    // A file whose path lies under a folder is on this volume.
    std::vector<std::wstring> mountFolders;
    // What QueryDosDeviceW answers for its letter; empty: a hard disk volume
    // ("\\Device\\HarddiskVolumeN", N from its place). A floppy drive's is
    // "\\Device\\Floppy0".
    std::wstring ntDeviceName;
};

// A file, folder or pipe another process has open.
struct SimOpenFile {
    SimOpenFile() = default;
    SimOpenFile(WCHAR onLetter, std::wstring filePath, bool isDirectory = false,
                bool isPipe = false)
        : letter(onLetter), path(std::move(filePath)), directory(isDirectory), pipe(isPipe) {}

    // The drive of its path (ignored for a pipe): the file is on that
    // letter's volume, or on the volume mounted in a folder its path lies in.
    WCHAR letter = 0;
    std::wstring path;  // e.g. L"\\Reports\\May.doc"
    bool directory = false;
    bool pipe = false;  // not on a disk: GetFileType answers FILE_TYPE_PIPE
    // An image or DLL the process runs from the volume: in its module list,
    // not in the handle table (it holds the volume all the same).
    bool mapped = false;
    // Every question about a copy of this handle (its type, its volume, its
    // path) waits for good, as a file does whose owner is in the middle of a
    // synchronous read; asked on a thread, that thread never ends.
    bool stalls = false;
};

// Another process: its handle values are 4, 8, 12... for its files in order,
// then one event handle.
struct SimProcess {
    SimProcess() = default;
    SimProcess(DWORD id, std::wstring image, std::vector<SimOpenFile> openFiles = {},
               bool refusesAccess = false)
        : processId(id),
          imageName(std::move(image)),
          files(std::move(openFiles)),
          accessDenied(refusesAccess) {}

    DWORD processId = 0;
    std::wstring imageName;  // as the process snapshot gives it, e.g. L"notepad.exe"
    std::vector<SimOpenFile> files;
    bool accessDenied = false;           // OpenProcess fails with ERROR_ACCESS_DENIED
    std::vector<std::wstring> services;  // the services it hosts, e.g. L"WSearch"
    // A protected process (an antivirus engine): OpenProcess and its module
    // snapshot are refused whatever the program's rights.
    bool protectedProcess = false;
    // Runs under another account (a service): refused unless the program has
    // enabled SeDebugPrivilege.
    bool needsDebugPrivilege = false;
};

// How ntdll's NtQuerySystemInformation answers the handle table.
enum class SimHandleTable {
    Extended,  // classes 16 and 64
    Basic,     // class 16 only; 64 is STATUS_INVALID_INFO_CLASS (older systems)
    Growing,   // always STATUS_INFO_LENGTH_MISMATCH with a larger size (a busy system)
    Missing,   // GetProcAddress finds neither native call
};

struct SimRegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct SimWindow {
    std::wstring className;
    std::wstring title;
    bool iconic = false;
    bool visible = true;
    HWND lastActivePopup = nullptr;  // null: the window itself
    // The user session it belongs to; FindWindowW sees only the windows of
    // the caller's session (ownSessionId).
    DWORD sessionId = 1;
};

// One call on another process's window: "ShowWindow", "BringWindowToTop", ...
struct SimWindowAction {
    std::string call;
    HWND hwnd = nullptr;
    int arg = 0;
};

struct SimMessageBox {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT flags = 0;
};

struct SimShellNotice {
    LONG eventId = 0;
    UINT flags = 0;
    std::wstring path;  // dwItem1 read as a wide path (SHCNF_PATHW)
};

struct SimHelpCall {
    HWND caller = nullptr;
    std::wstring file;
    UINT command = 0;
    DWORD_PTR data = 0;
};

struct SimMutexCreate {
    std::wstring name;
    BOOL initialOwner = FALSE;
    bool hadAttributes = false;
    bool nullDacl = false;  // attributes carried a descriptor with a present, null DACL
};

// A device-change notification as the main window receives it: a volume
// broadcast (to every top-level window, for volumes with drive letters) or a
// device-interface notification (only to windows registered for its class).
struct SimDeviceChange {
    UINT event = 0;                      // DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE
    DWORD deviceType = DBT_DEVTYP_VOLUME;  // or DBT_DEVTYP_DEVICEINTERFACE
    DWORD unitMask = 0;                  // a volume's drive letters, bit 0 for A:
    GUID interfaceClass{};               // an interface's class
    std::wstring name;                   // an interface's device path
};

// A window's registration for device-interface notifications.
struct SimNotificationRegistration {
    HANDLE recipient = nullptr;
    GUID interfaceClass{};
};

struct SimCall {
    std::string method;
    std::string args;  // short summary of the arguments
};

// How the 64-bit edition query behaves.
enum class SimEdition {
    Bits32,           // GetSystemWow64DirectoryW returns 0 with ERROR_CALL_NOT_IMPLEMENTED
    Bits64,           // it returns the length of wow64Directory
    FunctionMissing,  // GetProcAddress finds no GetSystemWow64DirectoryW
    QueryFails,       // it returns 0 with wow64Error
};

class SimMachine : public Platform {
public:
    SimMachine();
    ~SimMachine() override;
    SimMachine(SimMachine&&) noexcept;
    SimMachine& operator=(SimMachine&&) noexcept;
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    // ---- Building the machine ----------------------------------------------
    // References stay valid for the life of the machine.
    SimDevice& AddDevice(SimDevice device);
    SimVolume& AddVolume(SimVolume volume);
    SimProcess& AddProcess(SimProcess process);
    SimProcess* FindProcess(DWORD processId);  // null when unknown
    // Ends a process: its handles go with it.
    void EndProcess(DWORD processId);
    const std::deque<SimProcess>& Processes() const { return processes_; }
    // True when a process holds a file or folder on the volume with this letter.
    bool VolumeHeldByProcess(WCHAR letter) const;
    SimDevice* FindDevice(const std::wstring& instanceId);  // null when unknown
    SimVolume* FindVolume(WCHAR letter);                    // present volume with the letter
    const std::deque<SimDevice>& Devices() const { return devices_; }
    const std::deque<SimVolume>& Volumes() const { return volumes_; }

    // A disk / CD-ROM / tape drive with a friendly name, descriptor, geometry,
    // media entry and an interface path derived from the instance id.
    static SimDevice MakeDisk(const std::wstring& instanceId, const std::wstring& friendlyName,
                              DWORD deviceNumber, DWORD busType = BusTypeAta,
                              ULONGLONG capacityBytes = 80ull * 1000 * 1000 * 1000);
    static SimDevice MakeCdrom(const std::wstring& instanceId, const std::wstring& friendlyName,
                               DWORD deviceNumber, DWORD busType = BusTypeAtapi);
    static SimDevice MakeTape(const std::wstring& instanceId, const std::wstring& friendlyName,
                              DWORD deviceNumber, DWORD busType = BusTypeScsi);
    // A volume with one extent covering `length` bytes of disk `diskNumber`,
    // and a GUID path derived from the letter.
    static SimVolume MakeVolume(WCHAR letter, DWORD diskNumber, LONGLONG length,
                                UINT driveType = DRIVE_FIXED);
    // The device path an interface of this device would have.
    static std::wstring InterfacePathFor(const std::wstring& instanceId,
                                         const GUID& interfaceClass);

    // Setup class name (compared without regard to case) -> its class GUIDs.
    // Preset: DiskDrive, CDROM, TapeDrive, Volume, USB, HIDClass, Net,
    // Display, Keyboard, Mouse, System. A name may have several GUIDs.
    void SetClassGuids(const std::wstring& className, std::vector<GUID> guids);
    // The class GUID of a setup class name: its first GUID, or a GUID made
    // from the name when the table does not know it.
    GUID ClassGuidOf(const std::wstring& className) const;

    // Registry. Roots are HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE; paths are
    // "Software\\Maker\\Program" and compared without regard to case.
    void CreateRegKey(HKEY root, const std::wstring& path);
    bool RegKeyExists(HKEY root, const std::wstring& path) const;
    void DeleteRegKey(HKEY root, const std::wstring& path);  // and its subkeys
    void SetRegValue(HKEY root, const std::wstring& path, const std::wstring& name,
                     SimRegValue value);
    void SetRegString(HKEY root, const std::wstring& path, const std::wstring& name,
                      const std::wstring& text, DWORD type = REG_SZ);
    void SetRegMultiString(HKEY root, const std::wstring& path, const std::wstring& name,
                           const std::vector<std::wstring>& texts);
    void SetRegDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value);
    void DeleteRegValue(HKEY root, const std::wstring& path, const std::wstring& name);
    std::optional<SimRegValue> GetRegValue(HKEY root, const std::wstring& path,
                                           const std::wstring& name) const;
    // A REG_SZ/REG_EXPAND_SZ value's text up to its first NUL.
    std::optional<std::wstring> GetRegString(HKEY root, const std::wstring& path,
                                             const std::wstring& name) const;
    // The key (created if missing) refuses to be created, written or opened
    // for writing (ERROR_ACCESS_DENIED); so do keys created below it.
    void SetRegKeyRefusesWrites(HKEY root, const std::wstring& path, bool refuse = true);
    // Opening the key fails with this error (0 to allow again).
    void SetRegKeyOpenError(HKEY root, const std::wstring& path, DWORD error);

    // Environment (names compared without regard to case).
    void SetEnvironmentVariable(const std::wstring& name, const std::wstring& value);
    void ClearEnvironmentVariable(const std::wstring& name);

    // System message texts for FormatMessageW (common codes are preset).
    void SetMessageText(DWORD code, const std::wstring& text);

    // Windows of other processes; the returned handle is what FindWindowW finds.
    HWND AddWindow(SimWindow window);
    SimWindow* FindSimWindow(HWND hwnd);
    // A named mutex held by another process (e.g. a running instance).
    void AddExistingMutex(const std::wstring& name);
    bool MutexExists(const std::wstring& name) const;

    // ---- Behaviour knobs ---------------------------------------------------
    DWORD mutexCreateError = 0;  // CreateMutexW fails (returns null) with this error
    SimEdition edition = SimEdition::Bits32;
    DWORD wow64Error = ERROR_ACCESS_DENIED;  // with SimEdition::QueryFails
    std::wstring wow64Directory = L"C:\\WINDOWS\\SysWOW64";
    bool kernel32Missing = false;  // GetModuleHandleW(L"kernel32") fails with ERROR_MOD_NOT_FOUND
    // GetProcAddress finds no SetDefaultDllDirectories, as before Windows 8.
    bool defaultDllDirectoriesMissing = false;
    std::wstring modulePath = L"C:\\Program Files\\Quenwell\\Trayhop32\\Trayhop32.exe";
    CONFIGRET locateResult = CR_SUCCESS;       // CM_Locate_DevNodeW
    CONFIGRET reenumerateResult = CR_SUCCESS;  // CM_Reenumerate_DevNode
    bool htmlHelpFails = false;                // HtmlHelpW returns null
    // As on XP: volumes of removable disks answer the extents request with
    // ERROR_INVALID_FUNCTION (they still answer the device-number request).
    bool removableVolumesWithoutExtents = false;
    bool deliverDeviceChangesAtOnce = false;   // see the header comment
    DWORD ownProcessId = 1000;                 // GetCurrentProcessId
    DWORD ownSessionId = 1;                    // the session this program runs in
    SimHandleTable handleTable = SimHandleTable::Extended;
    DWORD tickCount = 5000;  // GetTickCount adds tickCountStep, then reads it
    DWORD tickCountStep = 0;
    // The system folder (GetSystemDirectoryW); LoadLibraryExW loads only
    // libraries given by their full path in it. virtdisk.dll is there unless
    // the service is missing, as before Windows 7.
    std::wstring systemDirectory = L"C:\\WINDOWS\\system32";
    bool virtualDiskServiceMissing = false;
    // Called inside CreateThread before the thread runs (a test can change
    // the machine as if it happened while the thread ran).
    std::function<void()> threadStartHook;

    // Message boxes: each box is recorded; its answer is, in order of
    // preference, a non-zero result of the hook (called while the box is
    // open, after queued device changes were delivered), the next queued
    // answer, or its default button (the first unless MB_DEFBUTTONn says another).
    std::deque<int> messageBoxAnswers;
    std::function<int(const SimMessageBox&)> messageBoxHook;

    // Device-change notifications (the main window's WM_DEVICECHANGE).
    std::function<void(UINT event)> deviceChangeTarget;
    void DeliverDeviceChange(UINT event);  // at once, to the target (a volume broadcast)
    void PumpMessages();                   // delivers what is queued, in order
    // The events queued or delivered so far, in order, and the whole notifications.
    std::vector<UINT> QueuedDeviceChanges() const;
    std::vector<UINT> DeliveredDeviceChanges() const;
    const std::vector<SimDeviceChange>& DeliveredDeviceChangeDetails() const {
        return deliveredDeviceChanges_;
    }
    // The registrations RegisterDeviceNotificationW holds, by handle.
    const std::map<std::uintptr_t, SimNotificationRegistration>& NotificationRegistrations() const {
        return notificationRegistrations_;
    }
    // Windows attaches a newly plugged-in device by itself: the pending device
    // and its pending volumes become present, with the notifications Windows
    // sends (a broadcast per lettered volume, the interface notification to
    // registered windows). False when no pending device has the identifier.
    bool AttachDevice(const std::wstring& instanceId);
    // Attaches every pending device whose arrivesAfterMs has passed; the
    // number attached.
    int AttachDueDevices(DWORD elapsedMs);
    // True while a pending device still waits for its arrivesAfterMs.
    bool ArrivalsWaiting() const;

    // The program's token: an elevated one holds SeDebugPrivilege, disabled;
    // debugPrivilegeEnabled is its state now (AdjustTokenPrivileges).
    bool debugPrivilegeHeld = true;
    bool debugPrivilegeEnabled = false;
    bool finalPathMissing = false;  // GetProcAddress finds no GetFinalPathNameByHandleW (XP)
    // GetTickCount reads the real clock (the benchmark's budgets are real).
    bool realClock = false;

    // ---- What the program did ----------------------------------------------
    std::vector<SimMessageBox> messageBoxes;
    std::vector<UINT> beeps;
    std::vector<DWORD> sleeps;
    std::vector<SimShellNotice> shellNotices;
    std::vector<SimHelpCall> helpCalls;
    std::vector<std::wstring> debugOutput;
    std::vector<SimWindowAction> windowActions;
    std::vector<SimMutexCreate> mutexCreates;
    int initCommonControlsCalls = 0;
    // The folders SetDllDirectoryW was given (nullopt for a null path), and
    // the flags of each SetDefaultDllDirectories call that took effect.
    std::vector<std::optional<std::wstring>> dllDirectories;
    std::vector<DWORD> defaultDllDirectories;
    int reenumerations = 0;  // successful CM_Reenumerate_DevNode calls

    // ---- Accounting ------------------------------------------------------------
    // Drops the call log and the records of what the program did (boxes,
    // beeps, notices...), keeping the per-method counts and everything that
    // is still open. For a long-running machine such as the demo's, whose
    // records would otherwise grow with every refresh. Call it only between
    // operations.
    void ForgetHistory();

    size_t OutstandingHandles() const;  // files, devices, volumes, mutexes
    size_t OutstandingDevInfoSets() const;
    size_t OutstandingKeys() const;
    // Empty when nothing is outstanding; otherwise one line per leak, e.g.
    // "handle 0x10008 (volume \\?\Volume{...}) opened by call 12".
    std::string LeakReport() const;
    // Misuse of the seam: releasing an unknown or released handle/key/set,
    // DeviceIoControl without lpBytesReturned, ...
    const std::vector<std::string>& ProgramErrors() const { return programErrors_; }

    // ---- Call log and fault injection ----------------------------------------
    // Every seam call since the machine was made, unless recordCalls is off
    // (then empty) or ForgetHistory dropped them; CallCount() counts on.
    const std::vector<SimCall>& Calls() const { return calls_; }
    size_t CallCount() const { return callCount_; }
    // Off, calls are counted but not logged: a machine built for speed (the
    // demo's) spends nothing on describing them.
    bool recordCalls = true;
    size_t CallCount(const std::string& method) const;
    // Seam call number n (counting from 1 since the machine was made, as in
    // Calls(): Calls()[n - 1] is that call) fails with `error`: the function
    // returns its failure value and sets the last error; registry functions
    // return the error; CM_* functions return `error` as their CONFIGRET
    // (e.g. CR_FAILURE, CR_ACCESS_DENIED). Functions without a failure value
    // (Sleep, OutputDebugStringW, SHChangeNotify, InitCommonControls) are
    // only skipped.
    void FailCall(size_t n, DWORD error);
    // The `occurrence`-th call (from 1, since the machine was made) of `method` fails.
    void FailMethod(const std::string& method, size_t occurrence, DWORD error);
    void ClearFailures();

    // ---- The seam ----------------------------------------------------------
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
    // Naming every program that holds a volume (SimHolders.cpp).
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
    // Libraries by full path and the virtual disk service (SimVirtualDisks.cpp).
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
    // ---- The console program (SimConsole.cpp) ----------------------------------
    // Standard output and error: a console, which takes UTF-16 text through
    // WriteConsoleW and answers GetConsoleMode, or a file or pipe, which
    // takes bytes through WriteFile and fails GetConsoleMode with
    // ERROR_INVALID_HANDLE, as Windows does for a redirected handle.
    struct StdStream {
        bool console = true;
        std::wstring text;   // what reached the console
        std::string bytes;   // what reached the file or pipe
    };
    StdStream standardOutput;
    StdStream standardError;
    // Whether the token holds the Administrators group enabled (an elevated
    // administrator, or any administrator on XP): CheckTokenMembership's answer.
    bool runsElevated = true;
    // Named mutexes have an owner. Each handle stands for a thread of its
    // own, so one test can play two programs on one machine; a mutex held
    // elsewhere is owned by another process until released. A wait on a
    // mutex owned by someone else first calls mutexWaitHook (a test may
    // release it there, as if the other program ended meanwhile), then times
    // out at once, moving the clock by the wait's time. With mutexWaitsBlock
    // set, a wait on a mutex owned through another handle blocks the calling
    // thread instead, until the mutex is free and LetWaitersRun was called
    // (or its time ran out): tests with two real threads let the first one
    // finish before the second goes on. Closing an owning handle abandons
    // the mutex: the next wait answers WAIT_ABANDONED and owns it.
    void HoldMutexElsewhere(const std::wstring& name);
    void ReleaseMutexElsewhere(const std::wstring& name);
    bool MutexOwned(const std::wstring& name) const;
    std::function<void(const std::wstring& name)> mutexWaitHook;
    bool mutexWaitsBlock = false;
    void LetWaitersRun();
    size_t BlockedWaiters() const;

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
    // The volumes themselves and their mount points (SimMountPoints.cpp).
    // The search lists every present volume but those whose letter is not a
    // mount point (mountPointError), in the order they were added; each name
    // and path ends in a backslash.
    HANDLE FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength) override;
    BOOL FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength) override;
    BOOL FindVolumeClose(HANDLE hFindVolume) override;
    DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) override;
    // ---- The display scale (platform/sim/SimDisplay.cpp) -----------------------
    // Which of Windows 10's DPI calls user32 offers: none before 1607 (XP to
    // 8.1 draw windows at the system DPI; 8.1 already moves per-monitor aware
    // windows between scales), those of 1607 (which knows per-monitor
    // awareness v1 only), or those of 1703 on, where the program's windows
    // are per-monitor v2 and Windows rescales their dialog layout itself.
    enum class DpiCalls { Missing, PerMonitor, PerMonitorV2 };
    DpiCalls dpiCalls = DpiCalls::PerMonitorV2;
    UINT systemDpi = 96;  // the screen's LOGPIXELSX
    UINT windowDpi = 0;   // GetDpiForWindow: the DPI of the window's monitor; 0 is systemDpi
    // Device contexts got and not released (LeakReport names them too).
    size_t OutstandingDeviceContexts() const;

    HDC GetDC(HWND hWnd) override;
    int ReleaseDC(HWND hWnd, HDC hDC) override;
    int GetDeviceCaps(HDC hdc, int index) override;
    int GetSystemMetrics(int nIndex) override;
    UINT GetDpiForWindow(FARPROC procedure, HWND hwnd) override;
    int GetSystemMetricsForDpi(FARPROC procedure, int nIndex, UINT dpi) override;
    DPI_AWARENESS_CONTEXT GetWindowDpiAwarenessContext(FARPROC procedure, HWND hwnd) override;
    BOOL AreDpiAwarenessContextsEqual(FARPROC procedure, DPI_AWARENESS_CONTEXT dpiContextA,
                                      DPI_AWARENESS_CONTEXT dpiContextB) override;

    struct State;  // the implementation's bookkeeping
    struct ConsoleState;  // mutex owners and SIDs (SimConsole.cpp)

private:
    std::deque<SimDevice> devices_;
    std::deque<SimVolume> volumes_;
    std::deque<SimProcess> processes_;
    std::vector<std::string> programErrors_;
    std::vector<SimCall> calls_;
    size_t callCount_ = 0;
    std::vector<SimDeviceChange> queuedDeviceChanges_;
    std::vector<SimDeviceChange> deliveredDeviceChanges_;
    std::map<std::uintptr_t, SimNotificationRegistration> notificationRegistrations_;
    std::unique_ptr<State> state_;  // handles, sets, keys, registry, environment, windows, faults
    // Made on first use; shared so the machine stays movable with its lock inside.
    std::shared_ptr<ConsoleState> console_;
    ConsoleState& Console() const;
    // A mutex handle is closed: an ownership it held ends, abandoned.
    void MutexHandleClosed(std::uintptr_t handle);
    // WaitForSingleObject on a named mutex's handle.
    DWORD WaitForMutex(std::uintptr_t handle, const std::wstring& name, DWORD milliseconds);
    // Lines of LeakReport for SIDs never freed.
    std::string ConsoleLeaks() const;
};

// ---- Machine files ----------------------------------------------------------
// Builds `machine` from a JSON machine file. On any fault the machine is left
// as it was, false is returned and `error` names the file and the field, e.g.
// "machine.json: devices[2].storage.busType: expected a number".
//
// The file is one object; every member is optional; unknown members are
// rejected. Numbers may also be given as strings "0x..." (hex). A device's
// storage answers start as MakeDisk/MakeCdrom/MakeTape build them for its
// class; give null for an absent descriptor string. Its friendly name,
// description and identifier lists are absent unless given. A volume has no
// extents unless given, and no letter unless given; "mountFolders" are the
// folders it is mounted in ("X:\\...\\", each used by one volume only), and
// "ntDeviceName" what QueryDosDeviceW names for its letter ("\\Device\\...").
// {
//   "devices": [{ "instanceId": "IDE\\DISK\\1", "class": "DiskDrive",
//       "present": true, "pending": false, "friendlyName": "...", "deviceDesc": "...",
//       "hardwareIds": ["..."], "compatibleIds": ["..."],
//       "interfacePath": "auto" | "none" | "\\\\?\\...", "interfaceOrder": 0,
//       "removal": "removed" | "declined" | "needsRestart" | "needsReboot",
//       "removalError": 5, "setClassInstallParamsError": 0,
//       "virtualDisk": { "image": "D:\\VMs\\build.vhdx", "detachError": 0 },
//           (a mounted image: give the storage busType 15; the image's
//            extension gives its type: .iso, .vhd, else VHDX)
//       "storage": { "deviceType": 0, "deviceTypeModifier": 0, "removableMedia": false,
//           "busType": 3, "vendor": "...", "product": "...", "revision": "...",
//           "serial": "..." | null, "serialOffsetAllOnes": false, "rawDescriptor": [0, 1, ...],
//           "geometry": { "cylinders": 9729, "mediaType": 12, "tracksPerCylinder": 255,
//                         "sectorsPerTrack": 63, "bytesPerSector": 512 },
//           "capacity": 80000000000,   (sets the geometry's cylinders instead)
//           "mediaDeviceType": 7, "media": [{ "mediaType": 12, "characteristics": 0 }],
//           "tapeCapacity": 0, "deviceNumber": 0,
//           "ioctlErrors": { "0x002D0C04": 1117 }, "openError": 0, "heldForWriting": false },
//       "arrivesAfterMs": 3000   (pending; Windows attaches it by itself that long after
//                                  the load, as if it were plugged in then) }],
//   "volumes": [{ "letter": "C", "driveType": 3, "guidPath": "auto" | "\\\\?\\Volume{...}\\",
//       "mountPointError": 0, "extents": [{ "disk": 0, "offset": 32256, "length": 1000 }],
//       "extentsError": 0, "noMedia": false, "device": "instance id", "filesOpen": false,
//       "openAccessDenied": false, "openError": 0, "exclusiveOpenFails": false,
//       "flushError": 0, "ioctlErrors": {}, "present": true, "pending": false,
//       "serialNumber": "0x1DE50045", "label": "BACKUP",
//       "lockRefusals": 0   (refuses the lock this many times, then grants it),
//       "bitLockerLocked": false, "mountFolders": ["C:\\Backup\\"],
//       "ntDeviceName": "\\Device\\Floppy0" }],
//   "processes": [{ "processId": 1234, "imageName": "notepad.exe", "accessDenied": false,
//       "services": ["WSearch"], "protected": false, "needsDebugPrivilege": false,
//       "files": [{ "letter": "E", "path": "\\Reports\\May.txt", "directory": false,
//                   "pipe": false, "mapped": false, "stalls": false }] }],
//   "ownProcessId": 1000, "handleTable": "extended" | "basic" | "growing" | "missing",
//   "classes": { "MyClass": ["{4d36e967-e325-11ce-bfc1-08002be10318}"] },
//   "registry": [{ "root": "HKCU" | "HKLM", "key": "Software\\X", "refuseWrites": false,
//       "openError": 0, "values": [{ "name": "V", "type": "sz" | "expand_sz" | "multi_sz" |
//       "dword" | "binary", "data": "text" | ["a", "b"] | 1 | [1, 2, 3] }] }],
//   "environment": { "SystemDrive": "C:" },
//   "windows": [{ "className": "#32770", "title": "Trayhop32", "iconic": false,
//       "visible": true, "sessionId": 1 }], "ownSessionId": 1,
//   "mutexes": ["Global\\Quenwell Trayhop32"],
//   "edition": "32" | "64" | "missing" | "fails",
//   "locateResult": 0, "reenumerateResult": 0, "htmlHelpFails": false,
//   "removableVolumesWithoutExtents": false,
//   "virtualDiskServiceMissing": false,   (no virtdisk.dll, as before Windows 7)
//   "messageBoxAnswers": [1, 2]
// }
// A process's "services" are the services it hosts (the service manager
// lists them with its id); "protected" refuses it to the program always,
// "needsDebugPrivilege" unless SeDebugPrivilege is enabled. A file that is
// "mapped" is an image or DLL run from the volume (in the module list, not in
// the handle table); one that "stalls" never answers a question about it.
// The machine keeps its recordCalls setting.
bool LoadSimMachineFromJson(SimMachine& machine, const std::string& jsonText,
                            const std::string& fileName, std::string& error);
bool LoadSimMachineFromFile(SimMachine& machine, const std::string& path, std::string& error);
