// Cases that hold the simulated machine and real Windows to one contract:
// the registry, environment, mutex and drive-letter behaviour the program
// relies on. They are written against Platform& only, so the same cases run
// against SimMachine on the host and against the real backend under Wine.
//
// Instantiate with a type that makes a platform:
//     struct MyFactory { static std::unique_ptr<Platform> Make(); };
//     INSTANTIATE_TYPED_TEST_SUITE_P(Mine, PlatformContract, MyFactory);
// The platform must have at least one drive letter. Each case cleans up what
// it writes (values under HKCU\Software\TrayhopTest\Contract).
#pragma once

#include "platform/Owners.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include <memory>
#include <string>
#include <vector>

template <typename Factory>
class PlatformContract : public ::testing::Test {
protected:
    void SetUp() override { platform_ = Factory::Make(); }
    Platform& P() { return *platform_; }

    // The test key, created for writing; the values a case sets are deleted by it.
    UniqueKey TestKey() {
        HKEY key = nullptr;
        DWORD disposition = 0;
        LSTATUS status = P().RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TrayhopTest\\Contract",
                                             0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_READ | KEY_WRITE, nullptr, &key, &disposition);
        EXPECT_EQ(ERROR_SUCCESS, status);
        return UniqueKey(P(), key);
    }

    std::unique_ptr<Platform> platform_;
};

TYPED_TEST_SUITE_P(PlatformContract);

TYPED_TEST_P(PlatformContract, StringValueSizeCountsTheTerminatorAndShortBufferGetsMoreData) {
    Platform& p = this->P();
    UniqueKey key = this->TestKey();
    ASSERT_TRUE(key);
    const std::wstring text = L"Trayhop";
    const DWORD bytes = static_cast<DWORD>(sizeof(WCHAR) * (text.size() + 1));
    ASSERT_EQ(ERROR_SUCCESS, p.RegSetValueExW(key.Get(), L"Text", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(text.c_str()), bytes));

    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              p.RegQueryValueExW(key.Get(), L"Text", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(bytes, size);

    WCHAR small[3] = {};
    size = sizeof small;
    EXPECT_EQ(ERROR_MORE_DATA, p.RegQueryValueExW(key.Get(), L"Text", nullptr, &type,
                                                  reinterpret_cast<BYTE*>(small), &size));
    EXPECT_EQ(bytes, size);

    std::vector<WCHAR> exact(text.size() + 1, L'?');
    size = bytes;
    EXPECT_EQ(ERROR_SUCCESS, p.RegQueryValueExW(key.Get(), L"Text", nullptr, &type,
                                                reinterpret_cast<BYTE*>(exact.data()), &size));
    EXPECT_EQ(bytes, size);
    EXPECT_EQ(text, std::wstring(exact.data()));

    EXPECT_EQ(ERROR_SUCCESS, p.RegDeleteValueW(key.Get(), L"Text"));
}

TYPED_TEST_P(PlatformContract, MissingValuesAndKeysAreFileNotFound) {
    Platform& p = this->P();
    UniqueKey key = this->TestKey();
    ASSERT_TRUE(key);
    DWORD size = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              p.RegQueryValueExW(key.Get(), L"NoSuchValue", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, p.RegDeleteValueW(key.Get(), L"NoSuchValue"));

    HKEY missing = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              p.RegOpenKeyExW(key.Get(), L"NoSuchSubkey", 0, KEY_READ, &missing));
    EXPECT_EQ(nullptr, missing);
}

TYPED_TEST_P(PlatformContract, DwordValueRoundTripsAndReadOnlyKeyRefusesWrites) {
    Platform& p = this->P();
    {
        UniqueKey key = this->TestKey();
        ASSERT_TRUE(key);
        const DWORD value = 0x12345678;
        ASSERT_EQ(ERROR_SUCCESS,
                  p.RegSetValueExW(key.Get(), L"Number", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&value), sizeof value));
    }
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, p.RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\TrayhopTest\\Contract",
                                             0, KEY_READ, &raw));
    UniqueKey readOnly(p, raw);
    DWORD type = 0, read = 0, size = sizeof read;
    EXPECT_EQ(ERROR_SUCCESS, p.RegQueryValueExW(readOnly.Get(), L"Number", nullptr, &type,
                                                reinterpret_cast<BYTE*>(&read), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(0x12345678u, read);
    EXPECT_EQ(sizeof(DWORD), size);

    const DWORD other = 1;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              p.RegSetValueExW(readOnly.Get(), L"Number", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&other), sizeof other));
    UniqueKey key = this->TestKey();
    EXPECT_EQ(ERROR_SUCCESS, p.RegDeleteValueW(key.Get(), L"Number"));
}

TYPED_TEST_P(PlatformContract, EnvironmentLookupsReportRequiredSizes) {
    Platform& p = this->P();
    WCHAR drive[64] = {};
    DWORD length = p.GetEnvironmentVariableW(L"SystemDrive", drive, 64);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::wstring(drive).size(), length);
    // Too small: the size needed, terminator included, and nothing written.
    WCHAR one[1] = {L'#'};
    EXPECT_EQ(length + 1, p.GetEnvironmentVariableW(L"SystemDrive", one, 1));

    p.SetLastError(0xdeadbeef);
    EXPECT_EQ(0u, p.GetEnvironmentVariableW(L"TRAYHOP_NO_SUCH_VARIABLE", drive, 64));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), p.GetLastError());

    const std::wstring expected = std::wstring(drive) + L"\\x %TRAYHOP_NO_SUCH_VARIABLE%";
    WCHAR out[200] = {};
    DWORD chars =
        p.ExpandEnvironmentStringsW(L"%SystemDrive%\\x %TRAYHOP_NO_SUCH_VARIABLE%", out, 200);
    EXPECT_EQ(expected.size() + 1, chars);
    EXPECT_EQ(expected, std::wstring(out));
    WCHAR tiny[2] = {};
    EXPECT_EQ(expected.size() + 1,
              p.ExpandEnvironmentStringsW(L"%SystemDrive%\\x %TRAYHOP_NO_SUCH_VARIABLE%", tiny, 2));
}

TYPED_TEST_P(PlatformContract, SecondCreateOfANamedMutexReportsAlreadyExists) {
    Platform& p = this->P();
    SECURITY_DESCRIPTOR sd{};
    ASSERT_TRUE(p.InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(p.SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    const WCHAR* name = L"TrayhopTest Contract Mutex";

    p.SetLastError(0xdeadbeef);
    UniqueHandle first(p, p.CreateMutexW(&sa, FALSE, name));
    ASSERT_TRUE(first);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), p.GetLastError());

    p.SetLastError(0xdeadbeef);
    UniqueHandle second(p, p.CreateMutexW(&sa, FALSE, name));
    ASSERT_TRUE(second);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), p.GetLastError());
    EXPECT_NE(first.Get(), second.Get());

    // Once every handle is closed the name is free again.
    first.Reset();
    second.Reset();
    p.SetLastError(0xdeadbeef);
    UniqueHandle third(p, p.CreateMutexW(nullptr, FALSE, name));
    ASSERT_TRUE(third);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), p.GetLastError());
}

TYPED_TEST_P(PlatformContract, LogicalDriveStringsFollowTheSizeProtocolInLetterOrder) {
    Platform& p = this->P();
    const DWORD required = p.GetLogicalDriveStringsW(0, nullptr);
    ASSERT_GE(required, 5u);  // at least "X:\" NUL plus the final NUL
    ASSERT_EQ(1u, required % 4);

    std::vector<WCHAR> small(required - 1, L'#');
    EXPECT_EQ(required, p.GetLogicalDriveStringsW(required - 1, small.data()));

    std::vector<WCHAR> block(required, L'#');
    EXPECT_EQ(required - 1, p.GetLogicalDriveStringsW(required, block.data()));
    EXPECT_EQ(L'\0', block[required - 1]);
    WCHAR previous = 0;
    for (const WCHAR* root = block.data(); *root; root += 4) {
        EXPECT_EQ(L':', root[1]);
        EXPECT_EQ(L'\\', root[2]);
        EXPECT_EQ(L'\0', root[3]);
        EXPECT_GT(root[0], previous) << "roots in ascending order";
        previous = root[0];
        EXPECT_NE(static_cast<UINT>(DRIVE_NO_ROOT_DIR), p.GetDriveTypeW(root));
        WCHAR volume[100] = {};
        if (p.GetVolumeNameForVolumeMountPointW(root, volume, 100)) {
            std::wstring name = volume;
            EXPECT_EQ(0u, name.rfind(L"\\\\?\\Volume{", 0)) << "volume name of a root";
            EXPECT_EQ(L'\\', name.back()) << "keeps the trailing backslash";
        }
    }
}

// The volume search lists GUID paths with their trailing backslash; each
// volume's mount points come as a list of paths ending in backslashes whose
// size a buffer too small learns with ERROR_MORE_DATA; the first drive
// letter's volume is listed with its root.
TYPED_TEST_P(PlatformContract, VolumesAreListedWithTheirMountPoints) {
    Platform& p = this->P();
    WCHAR roots[200] = {};
    ASSERT_GT(p.GetLogicalDriveStringsW(200, roots), 0u);
    WCHAR rootVolume[100] = {};
    const bool rootIsVolume = p.GetVolumeNameForVolumeMountPointW(roots, rootVolume, 100) != 0;

    std::vector<std::wstring> volumes;
    WCHAR name[100] = {};
    UniqueVolumeSearch search(p, p.FindFirstVolumeW(name, 100));
    ASSERT_TRUE(search);
    do {
        volumes.emplace_back(name);
    } while (p.FindNextVolumeW(search.Get(), name, 100));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), p.GetLastError());
    EXPECT_TRUE(p.FindVolumeClose(search.Detach()));

    bool rootListed = false;
    for (const std::wstring& volume : volumes) {
        EXPECT_EQ(0u, volume.rfind(L"\\\\?\\Volume{", 0));
        EXPECT_EQ(L'\\', volume.back());
        WCHAR none[1] = {L'#'};
        DWORD needed = 0;
        p.SetLastError(0xdeadbeef);
        EXPECT_FALSE(p.GetVolumePathNamesForVolumeNameW(volume.c_str(), none, 0, &needed));
        EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), p.GetLastError());
        ASSERT_GE(needed, 1u);
        std::vector<WCHAR> list(needed + 1, L'#');
        DWORD written = 0;
        ASSERT_TRUE(
            p.GetVolumePathNamesForVolumeNameW(volume.c_str(), list.data(), needed, &written));
        EXPECT_EQ(needed, written);
        EXPECT_EQ(L'\0', list[needed - 1]) << "the list ends inside the size given";
        for (const WCHAR* path = list.data(); *path != L'\0'; path += std::wcslen(path) + 1) {
            EXPECT_EQ(L'\\', path[std::wcslen(path) - 1]);
            if (rootIsVolume && volume == rootVolume && std::wcscmp(path, roots) == 0)
                rootListed = true;
        }
    }
    if (rootIsVolume) {
        EXPECT_TRUE(rootListed);
    }
}

// A drive letter names its device, one target followed by the empty string;
// a buffer too small is ERROR_INSUFFICIENT_BUFFER.
TYPED_TEST_P(PlatformContract, DosDeviceOfADriveLetterNamesItsDevice) {
    Platform& p = this->P();
    WCHAR roots[200] = {};
    ASSERT_GT(p.GetLogicalDriveStringsW(200, roots), 0u);
    const WCHAR letter[] = {roots[0], L':', L'\0'};
    std::vector<WCHAR> target(1024, L'#');
    const DWORD stored = p.QueryDosDeviceW(letter, target.data(), 1024);
    ASSERT_GT(stored, 2u);
    EXPECT_EQ(L'\\', target[0]);
    EXPECT_EQ(std::wcslen(target.data()) + 2, stored) << "one target and the list's end";
    EXPECT_EQ(L'\0', target[stored - 1]);
    WCHAR small[2] = {};
    p.SetLastError(0xdeadbeef);
    EXPECT_EQ(0u, p.QueryDosDeviceW(letter, small, 2));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), p.GetLastError());
}

// What the holder search reads: the handle table grows its buffer by the
// size it reports, lists this process's own handles under its id with one
// type number for files and another for a mutex; the process snapshot lists
// this process.
TYPED_TEST_P(PlatformContract, HandleTableAndSnapshotShowThisProcess) {
    Platform& p = this->P();
    WCHAR roots[200] = {};
    ASSERT_GT(p.GetLogicalDriveStringsW(200, roots), 0u);
    const WCHAR device[] = {L'\\', L'\\', L'.', L'\\', roots[0], L':', L'\0'};
    DWORD serial = 0;
    EXPECT_TRUE(p.GetVolumeInformationW(roots, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));

    UniqueHandle first(p, p.CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    UniqueHandle second(p, p.CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    UniqueHandle mutex(p, p.CreateMutexW(nullptr, FALSE, nullptr));
    ASSERT_TRUE(first && second && mutex);

    FARPROC query = p.GetProcAddress(p.GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    ASSERT_NE(nullptr, query);
    ULONG_PTR small[4] = {};
    ULONG needed = 0;
    ASSERT_EQ(kStatusInfoLengthMismatch,
              p.NtQuerySystemInformation(query, kSystemExtendedHandleInformation, small,
                                         sizeof small, &needed));
    // The size needed is not always told (Wine answers 0 here): grow anyway.
    std::vector<ULONG_PTR> table(1024);
    NTSTATUS status = kStatusInfoLengthMismatch;
    for (int i = 0; i < 12 && status == kStatusInfoLengthMismatch; ++i) {
        table.assign(std::max<size_t>(needed / sizeof(ULONG_PTR) + 1024, 2 * table.size()), 0);
        status = p.NtQuerySystemInformation(query, kSystemExtendedHandleInformation, table.data(),
                                            static_cast<ULONG>(table.size() * sizeof(ULONG_PTR)),
                                            &needed);
    }
    ASSERT_EQ(kStatusSuccess, status);
    const auto* bytes = reinterpret_cast<const BYTE*>(table.data());
    const ULONG_PTR count = table[0];
    const ULONG_PTR self = p.GetCurrentProcessId();
    std::vector<int> types(3, -1);
    for (ULONG_PTR i = 0; i < count; ++i) {
        SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX e;
        std::memcpy(&e, bytes + offsetof(SYSTEM_HANDLE_INFORMATION_EX, Handles) + i * sizeof e,
                    sizeof e);
        if (e.UniqueProcessId != self) continue;
        const HANDLE mine[] = {first.Get(), second.Get(), mutex.Get()};
        for (int k = 0; k < 3; ++k)
            if (e.HandleValue == reinterpret_cast<ULONG_PTR>(mine[k])) types[k] = e.ObjectTypeIndex;
    }
    EXPECT_NE(-1, types[0]) << "this process's handle is listed under its id";
    EXPECT_EQ(types[0], types[1]) << "one type number for files";
    EXPECT_NE(types[0], types[2]) << "another for a mutex";

    UniqueHandle snapshot(p, p.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    ASSERT_TRUE(snapshot);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool listed = false;
    for (BOOL more = p.Process32FirstW(snapshot.Get(), &entry); more;
         more = p.Process32NextW(snapshot.Get(), &entry))
        listed = listed || entry.th32ProcessID == self;
    EXPECT_TRUE(listed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), p.GetLastError());
}

// The holder search names a volume as the drive record does: its GUID path.
// With a trailing backslash it answers for the volume's serial and mount
// paths (a short buffer gets ERROR_MORE_DATA and the length); without, it
// opens the volume. This process's module snapshot starts with its exe.
TYPED_TEST_P(PlatformContract, AVolumeIsReadByItsGuidPathAndModulesByTheirPaths) {
    Platform& p = this->P();
    WCHAR roots[200] = {};
    ASSERT_GT(p.GetLogicalDriveStringsW(200, roots), 0u);
    WCHAR volume[100] = {};
    ASSERT_TRUE(p.GetVolumeNameForVolumeMountPointW(roots, volume, 100));
    DWORD byRoot = 0, byName = 0;
    EXPECT_TRUE(p.GetVolumeInformationW(roots, nullptr, 0, &byRoot, nullptr, nullptr, nullptr, 0));
    EXPECT_TRUE(p.GetVolumeInformationW(volume, nullptr, 0, &byName, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(byRoot, byName);

    WCHAR tiny[2] = {};
    DWORD length = 0;
    EXPECT_FALSE(p.GetVolumePathNamesForVolumeNameW(volume, tiny, 2, &length));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), p.GetLastError());
    ASSERT_GT(length, 2u);
    std::vector<WCHAR> paths(length, L'#');
    ASSERT_TRUE(p.GetVolumePathNamesForVolumeNameW(volume, paths.data(), length, &length));
    bool listed = false;
    for (const WCHAR* path = paths.data(); *path; path += std::wcslen(path) + 1)
        listed = listed || CompareTextNoCase(path, roots) == 0;
    EXPECT_TRUE(listed) << "the root is one of the volume's paths";

    std::wstring device = volume;
    device.pop_back();
    UniqueHandle opened(p, p.CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(opened);

    WCHAR exe[MAX_PATH] = {};
    ASSERT_GT(p.GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    UniqueHandle snapshot(p, p.CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
    ASSERT_TRUE(snapshot);
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    ASSERT_TRUE(p.Module32FirstW(snapshot.Get(), &module));
    EXPECT_EQ(0, CompareTextNoCase(module.szExePath, exe));
}

// The virtual disk service (Windows 7 on; Wine has it too) is loaded by its
// full path in the system folder and has the three calls the removal uses.
TYPED_TEST_P(PlatformContract, VirtualDiskServiceLoadsByFullPathFromTheSystemFolder) {
    Platform& p = this->P();
    WCHAR folder[MAX_PATH + 1] = {};
    const UINT length = p.GetSystemDirectoryW(folder, MAX_PATH + 1);
    ASSERT_GT(length, 2u);
    ASSERT_LE(length, static_cast<UINT>(MAX_PATH));
    WCHAR tooSmall[2] = {};
    EXPECT_EQ(length + 1, p.GetSystemDirectoryW(tooSmall, 2)) << "the size needed, with its NUL";

    const std::wstring here(folder, length);
    UniqueModule service(p, p.LoadLibraryExW((here + L"\\virtdisk.dll").c_str(), nullptr,
                                              LOAD_WITH_ALTERED_SEARCH_PATH));
    ASSERT_TRUE(service);
    for (const char* name :
         {"GetStorageDependencyInformation", "OpenVirtualDisk", "DetachVirtualDisk"})
        EXPECT_NE(nullptr, p.GetProcAddress(service.Get(), name)) << name;
    p.SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, p.GetProcAddress(service.Get(), "NoSuchCall"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), p.GetLastError());

    p.SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, p.LoadLibraryExW((here + L"\\no-such-library.dll").c_str(), nullptr,
                                        LOAD_WITH_ALTERED_SEARCH_PATH));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), p.GetLastError());
}

// The removal lock's protocol: a wait takes a free mutex, the owner may take
// it again, and releasing more often than taken fails with ERROR_NOT_OWNER.
TYPED_TEST_P(PlatformContract, MutexIsOwnedByItsWaiterAndReleasedOnceEachTime) {
    Platform& p = this->P();
    UniqueHandle mutex(p, p.CreateMutexW(nullptr, FALSE, L"Trayhop contract lock"));
    ASSERT_TRUE(mutex);
    EXPECT_EQ(WAIT_OBJECT_0, p.WaitForSingleObject(mutex.Get(), 0));
    EXPECT_EQ(WAIT_OBJECT_0, p.WaitForSingleObject(mutex.Get(), 0));
    EXPECT_TRUE(p.ReleaseMutex(mutex.Get()));
    EXPECT_TRUE(p.ReleaseMutex(mutex.Get()));
    p.SetLastError(0xdeadbeef);
    EXPECT_FALSE(p.ReleaseMutex(mutex.Get()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), p.GetLastError());
}

// The Administrators check: the group's SID is made, asked about and freed.
TYPED_TEST_P(PlatformContract, AdministratorsSidIsMadeAskedAndFreed) {
    Platform& p = this->P();
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    ASSERT_TRUE(p.AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                           DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                           &administrators));
    BOOL member = 2;
    EXPECT_TRUE(p.CheckTokenMembership(nullptr, administrators, &member));
    EXPECT_TRUE(member == TRUE || member == FALSE);
    EXPECT_EQ(nullptr, p.FreeSid(administrators));
}

// What the display scale is read from: the screen's DPI on every Windows,
// and where user32 has them, Windows 10's per-window and per-DPI answers.
TYPED_TEST_P(PlatformContract, ScreenDpiAndIconMetricsAgreeAndNoWindowHasNoDpi) {
    Platform& p = this->P();
    int dpi = 0;
    {
        UniqueScreenDC screen(p, p.GetDC(nullptr));
        ASSERT_TRUE(screen);
        dpi = p.GetDeviceCaps(screen.Get(), LOGPIXELSX);
        EXPECT_EQ(dpi, p.GetDeviceCaps(screen.Get(), LOGPIXELSY));
    }
    ASSERT_GT(dpi, 0);
    EXPECT_EQ((32 * dpi + 48) / 96, p.GetSystemMetrics(SM_CXICON));
    EXPECT_EQ((16 * dpi + 48) / 96, p.GetSystemMetrics(SM_CXSMICON));

    HMODULE user32 = p.GetModuleHandleW(L"user32.dll");
    ASSERT_NE(nullptr, user32);
    FARPROC forWindow = p.GetProcAddress(user32, "GetDpiForWindow");
    FARPROC forDpi = p.GetProcAddress(user32, "GetSystemMetricsForDpi");
    if (forWindow == nullptr || forDpi == nullptr) return;  // before Windows 10 (1607)
    EXPECT_EQ(0u, p.GetDpiForWindow(forWindow, nullptr));
    EXPECT_EQ(48, p.GetSystemMetricsForDpi(forDpi, SM_CXICON, 144));
    EXPECT_EQ(24, p.GetSystemMetricsForDpi(forDpi, SM_CXSMICON, 144));
    EXPECT_EQ(64, p.GetSystemMetricsForDpi(forDpi, SM_CYICON, 192));
}

REGISTER_TYPED_TEST_SUITE_P(PlatformContract, HandleTableAndSnapshotShowThisProcess,
                            AVolumeIsReadByItsGuidPathAndModulesByTheirPaths,
                            MutexIsOwnedByItsWaiterAndReleasedOnceEachTime,
                            AdministratorsSidIsMadeAskedAndFreed,
                            ScreenDpiAndIconMetricsAgreeAndNoWindowHasNoDpi,
                            StringValueSizeCountsTheTerminatorAndShortBufferGetsMoreData,
                            MissingValuesAndKeysAreFileNotFound,
                            DwordValueRoundTripsAndReadOnlyKeyRefusesWrites,
                            EnvironmentLookupsReportRequiredSizes,
                            SecondCreateOfANamedMutexReportsAlreadyExists,
                            LogicalDriveStringsFollowTheSizeProtocolInLetterOrder,
                            VirtualDiskServiceLoadsByFullPathFromTheSystemFolder,
                            VolumesAreListedWithTheirMountPoints,
                            DosDeviceOfADriveLetterNamesItsDevice);
