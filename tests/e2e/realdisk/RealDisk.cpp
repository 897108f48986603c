// Gives a Wine prefix disks that the real Trayhop32.exe can find, and takes
// them away again. A disk is what SetupAPI reads from the registry (the
// device's Enum key in the "DiskDrive" class and its linked disk interface)
// plus an NT symbolic link that makes the interface path open Wine's first
// hard disk. The link lives in the wineserver, so the server must outlive
// this program (`wineserver -p`); the registry entries stay until removed.
//
//   realdisk add    --id N --name NAME [--target NTPATH]
//                                        registers disk N and links its path
//                                        (to NTPATH: \Device\Null answers the
//                                        storage queries with access denied)
//   realdisk link   --id N [--target NTPATH]
//                                        links the path of a registered disk
//   realdisk remove --id N               deletes disk N's registry entries
//   realdisk check  --id N               what SetupAPI and CreateFileW say of it
//
// Disk numbers are 1 to 99. Exit code 0 on success, 1 with an "error:" line
// when a step failed, 2 on wrong usage.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kDiskClassGuid = L"{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr const wchar_t* kDiskInterfaceGuid = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr GUID kDiskInterface = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
constexpr const wchar_t* kDeviceKey = L"SCSI\\Disk&Ven_Trayhop&Prod_E2E_Disk";
constexpr const wchar_t* kEnumPath = L"System\\CurrentControlSet\\Enum\\";
constexpr const wchar_t* kClassesPath = L"System\\CurrentControlSet\\Control\\DeviceClasses\\";
constexpr const wchar_t* kLinkTarget = L"\\Device\\Harddisk0";

// ntdll's symbolic link call, which no SDK header of the cross compiler declares.
struct CountedString {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};
struct ObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    CountedString* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
using CreateSymbolicLinkFn = LONG(WINAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*, CountedString*);
constexpr ULONG kObjPermanent = 0x10;
constexpr ULONG kObjCaseInsensitive = 0x40;
constexpr ACCESS_MASK kSymbolicLinkAllAccess = 0xF0001;
constexpr LONG kStatusObjectNameCollision = static_cast<LONG>(0xC0000035);

[[noreturn]] void Fail(const std::string& what) {
    std::printf("error: %s\n", what.c_str());
    std::fflush(stdout);
    std::exit(1);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(const char* text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
    out.resize(std::wcslen(out.c_str()));
    return out;
}

// Everything that names one disk, derived from its number.
struct Disk {
    std::wstring instanceId;     // SCSI\Disk&Ven_Trayhop&Prod_E2E_Disk\5&E2E&0&0000NN
    std::wstring interfaceName;  // ##?#SCSI#Disk&...#5&E2E&0&0000NN#{interface}
    std::wstring devicePath;     // \\?\SCSI#Disk&...#5&E2E&0&0000NN#{interface}
};

Disk DiskNumber(int number) {
    wchar_t instance[16];
    std::swprintf(instance, 16, L"5&E2E&0&%06d", number);
    Disk disk;
    disk.instanceId = std::wstring(kDeviceKey) + L"\\" + instance;
    std::wstring hashed = disk.instanceId;
    for (wchar_t& c : hashed)
        if (c == L'\\') c = L'#';
    disk.interfaceName = L"##?#" + hashed + L"#" + kDiskInterfaceGuid;
    disk.devicePath = L"\\\\?\\" + hashed + L"#" + kDiskInterfaceGuid;
    return disk;
}

class Key {
public:
    Key(HKEY parent, const std::wstring& path) {
        const LONG rc = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                        nullptr, &key_, nullptr);
        if (rc != ERROR_SUCCESS)
            Fail("cannot create key " + Utf8(path) + ": " + std::to_string(rc));
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { RegCloseKey(key_); }
    HKEY Get() const { return key_; }

    void SetText(const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ) const {
        // A multi-string carries its own terminators; a string gets one here.
        const DWORD chars = static_cast<DWORD>(value.size()) + (type == REG_SZ ? 1 : 0);
        const LONG rc =
            RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(sizeof(WCHAR)) * chars);
        if (rc != ERROR_SUCCESS) Fail("cannot set " + Utf8(name) + ": " + std::to_string(rc));
    }
    void SetNumber(const wchar_t* name, DWORD value) const {
        const LONG rc = RegSetValueExW(key_, name, 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&value), sizeof(value));
        if (rc != ERROR_SUCCESS) Fail("cannot set " + Utf8(name) + ": " + std::to_string(rc));
    }

private:
    HKEY key_ = nullptr;
};

void Register(const Disk& disk, const std::wstring& name) {
    {
        Key device(HKEY_LOCAL_MACHINE, kEnumPath + disk.instanceId);
        device.SetText(L"ClassGUID", kDiskClassGuid);
        device.SetText(L"Class", L"DiskDrive");
        device.SetText(L"FriendlyName", name);
        device.SetText(L"DeviceDesc", L"Disk drive");
        device.SetText(L"Mfg", L"(Standard disk drives)");
        // Two strings and the empty one that ends the list.
        device.SetText(
            L"HardwareID",
            std::wstring(L"SCSI\\DiskTrayhop_E2E_Disk") + L'\0' + L"GenDisk" + L'\0' + L'\0',
            REG_MULTI_SZ);
    }
    const std::wstring interfacePath =
        kClassesPath + std::wstring(kDiskInterfaceGuid) + L"\\" + disk.interfaceName;
    {
        Key iface(HKEY_LOCAL_MACHINE, interfacePath);
        iface.SetText(L"DeviceInstance", disk.instanceId);
    }
    {
        Key reference(HKEY_LOCAL_MACHINE, interfacePath + L"\\#");
        reference.SetText(L"SymbolicLink", disk.devicePath);
    }
    {
        // Only a linked interface counts as present.
        Key control(HKEY_LOCAL_MACHINE, interfacePath + L"\\#\\Control");
        control.SetNumber(L"Linked", 1);
    }
    std::printf("registered %s\n", Utf8(disk.instanceId).c_str());
}

void Link(const Disk& disk, const wchar_t* linkTarget) {
    const auto create = reinterpret_cast<CreateSymbolicLinkFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateSymbolicLinkObject")));
    if (create == nullptr) Fail("ntdll has no NtCreateSymbolicLinkObject");

    // \\?\ in a Win32 path is \??\ in the object namespace.
    std::wstring name = L"\\??\\" + disk.devicePath.substr(4);
    std::wstring target = linkTarget;
    CountedString nameString = {static_cast<USHORT>(sizeof(WCHAR) * name.size()),
                                static_cast<USHORT>(sizeof(WCHAR) * name.size()), name.data()};
    CountedString targetString = {static_cast<USHORT>(sizeof(WCHAR) * target.size()),
                                  static_cast<USHORT>(sizeof(WCHAR) * target.size()),
                                  target.data()};
    ObjectAttributes attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &nameString;
    // Permanent: the link must outlive this program, for as long as the server runs.
    attributes.Attributes = kObjPermanent | kObjCaseInsensitive;

    HANDLE link = nullptr;
    const LONG status = create(&link, kSymbolicLinkAllAccess, &attributes, &targetString);
    if (status == kStatusObjectNameCollision) {
        std::printf("linked already %s\n", Utf8(disk.devicePath).c_str());
        return;
    }
    if (status < 0) {
        char code[16];
        std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(status));
        Fail("NtCreateSymbolicLinkObject failed with " + std::string(code));
    }
    CloseHandle(link);
    std::printf("linked %s -> %s\n", Utf8(disk.devicePath).c_str(), Utf8(target).c_str());
}

// Deletes a key with everything below it; a missing key is not an error.
void DeleteTree(const std::wstring& path) {
    const LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    if (rc == ERROR_SUCCESS) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        std::printf("deleted %s\n", Utf8(path).c_str());
    } else if (rc != ERROR_FILE_NOT_FOUND) {
        Fail("cannot delete " + Utf8(path) + ": " + std::to_string(rc));
    }
}

void Remove(const Disk& disk) {
    DeleteTree(kClassesPath + std::wstring(kDiskInterfaceGuid) + L"\\" + disk.interfaceName);
    DeleteTree(kEnumPath + disk.instanceId);
    // The device key goes with its last instance.
    HKEY device = nullptr;
    const std::wstring devicePath = kEnumPath + std::wstring(kDeviceKey);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, devicePath.c_str(), 0, KEY_READ, &device) ==
        ERROR_SUCCESS) {
        DWORD subkeys = 0;
        RegQueryInfoKeyW(device, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(device);
        if (subkeys == 0) RegDeleteKeyW(HKEY_LOCAL_MACHINE, devicePath.c_str());
    }
}

// Whether SetupAPI lists the disk among the present "DiskDrive" devices and
// among the present disk interfaces, and whether its interface path opens.
void Check(const Disk& disk) {
    GUID diskClass{};
    DWORD required = 0;
    bool listed = false;
    if (SetupDiClassGuidsFromNameW(L"DiskDrive", &diskClass, 1, &required)) {
        HDEVINFO set = SetupDiGetClassDevsW(&diskClass, nullptr, nullptr, DIGCF_PRESENT);
        if (set != INVALID_HANDLE_VALUE) {
            SP_DEVINFO_DATA device = {};
            device.cbSize = sizeof(device);
            for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
                WCHAR id[201] = {};
                if (SetupDiGetDeviceInstanceIdW(set, &device, id, 201, nullptr) &&
                    lstrcmpiW(id, disk.instanceId.c_str()) == 0)
                    listed = true;
            }
            SetupDiDestroyDeviceInfoList(set);
        }
    }
    bool hasInterface = false;
    HDEVINFO set = SetupDiGetClassDevsW(&kDiskInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof(data);
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kDiskInterface, i, &data);
             ++i) {
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
            if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
            std::vector<BYTE> buffer(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr) &&
                lstrcmpiW(detail->DevicePath, disk.devicePath.c_str()) == 0)
                hasInterface = true;
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    HANDLE handle = CreateFileW(disk.devicePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    const DWORD openError = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    // What the storage driver behind the path says of itself.
    int busType = -1;
    int deviceType = -1;
    if (handle != INVALID_HANDLE_VALUE) {
        STORAGE_PROPERTY_QUERY query = {};
        query.PropertyId = StorageDeviceProperty;
        query.QueryType = PropertyStandardQuery;
        STORAGE_DEVICE_DESCRIPTOR descriptor = {};
        DWORD returned = 0;
        if (DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                            &descriptor, sizeof(descriptor), &returned, nullptr) ||
            GetLastError() == ERROR_MORE_DATA) {
            busType = static_cast<int>(descriptor.BusType);
            deviceType = descriptor.DeviceType;
        }
        CloseHandle(handle);
    }
    std::printf("check %s listed=%d interface=%d opens=%d", Utf8(disk.instanceId).c_str(),
                listed ? 1 : 0, hasInterface ? 1 : 0, openError == 0 ? 1 : 0);
    if (openError != 0)
        std::printf(" error=%lu", static_cast<unsigned long>(openError));
    else
        std::printf(" bus=%d type=%d", busType, deviceType);
    std::printf("\n");
}

const char* Option(int argc, char** argv, const char* name) {
    for (int i = 2; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return nullptr;
}

int Usage() {
    std::printf("usage: realdisk add|link|remove|check --id N [--name NAME] [--target NTPATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc % 2 != 0) return Usage();
    const std::string command = argv[1];
    const char* idText = Option(argc, argv, "--id");
    const int id = idText != nullptr ? std::atoi(idText) : 0;
    if (id < 1 || id > 99) return Usage();
    const Disk disk = DiskNumber(id);
    const char* targetText = Option(argc, argv, "--target");
    const std::wstring target = targetText != nullptr ? Wide(targetText) : kLinkTarget;

    if (command == "add") {
        const char* name = Option(argc, argv, "--name");
        if (name == nullptr || *name == '\0') return Usage();
        Register(disk, Wide(name));
        Link(disk, target.c_str());
    } else if (command == "link") {
        Link(disk, target.c_str());
    } else if (command == "remove") {
        Remove(disk);
    } else if (command == "check") {
        Check(disk);
    } else {
        return Usage();
    }
    std::fflush(stdout);
    return 0;
}
