// Every platform call of four everyday flows made to fail, one at a time,
// with the error a real system gives there. Whatever fails, the program must
// not crash, must give back every handle, key and device information set,
// must leave the refresh guard set, and must never tell the user (summary
// box) or the shell (drive-removed notice) that a drive is gone which is
// still in the system.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "console/ConsoleProgram.h"
#include "removal/RemovalLock.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/inventory/InventoryMachines.h"
#include "tests/unit/support/FakeMainView.h"

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using inventory_test::BuildWorkstation;
using inventory_test::ShowEverything;

HWND const kMainWindow = reinterpret_cast<HWND>(0x4242);

// The errors a failing call of each function is given: what the real
// function answers in that place. Access denied is tried wherever rights
// decide the outcome.
std::vector<DWORD> ErrorsFor(const std::string& method) {
    static const std::map<std::string, std::vector<DWORD>> table = {
        {"SetupDiClassGuidsFromNameExW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiClassGuidsFromNameW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiGetClassDevsExW", {ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED}},
        {"SetupDiGetClassDevsW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiCreateDeviceInfoListExW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiOpenDeviceInfoW", {ERROR_NO_SUCH_DEVINST}},
        {"SetupDiEnumDeviceInfo", {ERROR_INVALID_PARAMETER}},
        {"SetupDiEnumDeviceInterfaces", {ERROR_INVALID_PARAMETER}},
        {"SetupDiGetDeviceInterfaceDetailW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiGetDeviceInfoListDetailW", {ERROR_INVALID_PARAMETER}},
        {"SetupDiGetDeviceInstanceIdW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiGetDeviceRegistryPropertyW", {ERROR_INVALID_DATA}},
        {"SetupDiSetClassInstallParamsW", {ERROR_INVALID_PARAMETER}},
        {"SetupDiCallClassInstaller", {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER}},
        {"SetupDiGetDeviceInstallParamsW", {ERROR_INVALID_PARAMETER}},
        {"SetupDiDestroyDeviceInfoList", {ERROR_INVALID_HANDLE}},
        {"CM_Get_Device_ID_ExW", {CR_FAILURE}},
        {"CM_Locate_DevNodeW", {CR_FAILURE, CR_ACCESS_DENIED}},
        {"CM_Reenumerate_DevNode", {CR_FAILURE, CR_ACCESS_DENIED}},
        {"CreateFileW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
        {"DeviceIoControl", {ERROR_ACCESS_DENIED, ERROR_IO_DEVICE}},
        {"FlushFileBuffers", {ERROR_ACCESS_DENIED, ERROR_IO_DEVICE}},
        {"CloseHandle", {ERROR_INVALID_HANDLE}},
        {"GetLogicalDriveStringsW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"GetVolumeNameForVolumeMountPointW", {ERROR_INVALID_PARAMETER, ERROR_FILE_NOT_FOUND}},
        {"RegOpenKeyExW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
        {"RegCreateKeyExW", {ERROR_ACCESS_DENIED}},
        {"RegQueryValueExW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
        {"RegSetValueExW", {ERROR_ACCESS_DENIED}},
        {"RegDeleteValueW", {ERROR_ACCESS_DENIED}},
        {"RegCloseKey", {ERROR_INVALID_HANDLE}},
        {"ExpandEnvironmentStringsW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"GetEnvironmentVariableW", {ERROR_ENVVAR_NOT_FOUND}},
        {"FormatMessageW", {ERROR_MR_MID_NOT_FOUND}},
        {"MultiByteToWideChar", {ERROR_INSUFFICIENT_BUFFER}},
        {"CreateMutexW", {ERROR_ACCESS_DENIED}},
        {"FindWindowW", {ERROR_FILE_NOT_FOUND}},
        {"GetModuleHandleW", {ERROR_MOD_NOT_FOUND}},
        {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
        {"GetSystemWow64DirectoryW", {ERROR_ACCESS_DENIED}},
        {"MessageBoxW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"OpenProcess", {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER}},
        {"DuplicateHandle", {ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED}},
        {"CreateToolhelp32Snapshot", {ERROR_NOT_ENOUGH_MEMORY}},
        {"Process32FirstW", {ERROR_NO_MORE_FILES}},
        {"Process32NextW", {ERROR_NO_MORE_FILES}},
        {"GetVolumeInformationW", {ERROR_NOT_READY}},
        {"NtQuerySystemInformation", {0xC0000022 /* access denied */, 0xC0000017 /* no memory */}},
        {"NtQueryVolumeInformationFile", {0xC0000008 /* invalid handle */}},
        {"CreateThread", {ERROR_NOT_ENOUGH_MEMORY}},
        {"WaitForSingleObject", {ERROR_INVALID_HANDLE}},
        {"OpenProcessToken", {ERROR_ACCESS_DENIED}},
        {"LookupPrivilegeValueW", {ERROR_NO_SUCH_PRIVILEGE}},
        {"AdjustTokenPrivileges", {ERROR_ACCESS_DENIED, ERROR_NOT_ALL_ASSIGNED}},
        {"OpenSCManagerW", {ERROR_ACCESS_DENIED}},
        {"EnumServicesStatusExW", {ERROR_ACCESS_DENIED, ERROR_MORE_DATA}},
        {"CloseServiceHandle", {ERROR_INVALID_HANDLE}},
        {"Module32FirstW", {ERROR_NO_MORE_FILES, ERROR_PARTIAL_COPY}},
        {"Module32NextW", {ERROR_NO_MORE_FILES}},
        {"GetVolumePathNamesForVolumeNameW", {ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA}},
        {"GetFinalPathNameByHandleW", {ERROR_INVALID_HANDLE, ERROR_NOT_ENOUGH_MEMORY}},
        {"GetSystemDirectoryW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"LoadLibraryExW", {ERROR_MOD_NOT_FOUND, ERROR_ACCESS_DENIED}},
        {"FreeLibrary", {ERROR_INVALID_HANDLE}},
        {"GetStorageDependencyInformation", {ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER}},
        {"OpenVirtualDisk", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
        {"DetachVirtualDisk", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
        {"GetStdHandle", {ERROR_INVALID_HANDLE}},
        {"GetConsoleMode", {ERROR_INVALID_HANDLE}},
        {"WriteConsoleW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"WriteFile", {ERROR_NO_DATA}},
        {"ReleaseMutex", {ERROR_NOT_OWNER}},
        {"AllocateAndInitializeSid", {ERROR_NOT_ENOUGH_MEMORY}},
        {"CheckTokenMembership", {ERROR_ACCESS_DENIED}},
        {"FindFirstVolumeW", {ERROR_NOT_ENOUGH_MEMORY, ERROR_NO_MORE_FILES}},
        {"FindNextVolumeW", {ERROR_NO_MORE_FILES, ERROR_FILENAME_EXCED_RANGE}},
        {"FindVolumeClose", {ERROR_INVALID_HANDLE}},
        {"QueryDosDeviceW", {ERROR_INSUFFICIENT_BUFFER, ERROR_FILE_NOT_FOUND}},
    };
    auto it = table.find(method);
    return it != table.end() ? it->second : std::vector<DWORD>{ERROR_INVALID_PARAMETER};
}

// A failed release leaves its one object counted: a real system cannot close
// it either, and the program has no second way to.
bool IsRelease(const std::string& method) {
    return method == "CloseHandle" || method == "RegCloseKey" ||
           method == "SetupDiDestroyDeviceInfoList" || method == "CloseServiceHandle" ||
           method == "FreeLibrary" || method == "FreeSid" || method == "FindVolumeClose" ||
           method == "ReleaseDC";
}

size_t LineCount(const std::string& text) {
    size_t lines = 0;
    for (char c : text)
        if (c == '\n') ++lines;
    return lines;
}

// The names a removal summary calls safe to pull; none for any other text.
std::vector<std::wstring> NamesInSummary(const std::wstring& text) {
    static const std::wstring headings[] = {
        L"The following device was successfully removed:    \n\n",
        L"The following devices were successfully removed:    \n\n"};
    for (const std::wstring& heading : headings) {
        if (text.rfind(heading, 0) != 0) continue;
        const size_t end = text.find(L"\n\nIt is safe to power");
        std::vector<std::wstring> names;
        std::wstringstream lines(text.substr(heading.size(), end - heading.size()));
        for (std::wstring line; std::getline(lines, line);)
            if (!line.empty()) names.push_back(line);
        return names;
    }
    return {};
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The names listed under a heading of the removal box, up to the blank lines
// that end the list; none when the heading is not there.
std::vector<std::wstring> NamesUnder(const std::wstring& text, const std::wstring& heading) {
    const size_t at = text.find(heading);
    if (at == std::wstring::npos) return {};
    const size_t start = at + heading.size();
    const size_t end = text.find(L"\n\n", start);
    std::vector<std::wstring> names;
    std::wstringstream lines(text.substr(start, end - start));
    for (std::wstring line; std::getline(lines, line);)
        if (!line.empty()) names.push_back(line);
    return names;
}

// One flow over its own machine. Prepare is not swept; Act is.
class Flow {
public:
    virtual ~Flow() = default;
    virtual void Prepare() = 0;
    virtual void Act() = 0;
    // Ends the flow's objects that hold platform resources until destroyed.
    virtual void Finish() {}
    // Adds one line per broken promise of this flow.
    virtual void Check(std::vector<std::string>& problems) = 0;

    SimMachine sim;
    // Device names as the list shows them, drive letters and mount folders,
    // by instance id.
    std::map<std::wstring, std::wstring> idByName;
    std::map<wchar_t, std::wstring> idByLetter;
    std::map<std::wstring, std::wstring> idByFolder;

protected:
    // The system disk 0 with C:.
    void AddBootDisk() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISKBOOT\\5&1", L"Boot Disk", 0));
        sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 40000000000LL));
        idByLetter[L'C'] = L"IDE\\DISKBOOT\\5&1";
    }
    void AddRemovable(const std::wstring& id, const std::wstring& name, DWORD number,
                      std::vector<wchar_t> letters) {
        sim.AddDevice(SimMachine::MakeDisk(id, name, number, BusTypeUsb, 4000000000ULL));
        for (wchar_t letter : letters) {
            sim.AddVolume(SimMachine::MakeVolume(letter, number, 1000000000LL, DRIVE_REMOVABLE));
            idByLetter[letter] = id;
        }
        idByName[name] = id;
    }
    // Disk 0 holds C:, the system drive.
    bool Gone(const std::wstring& id) { return sim.FindDevice(id) == nullptr; }
    // Told removed (summary or shell) only when the machine no longer has it.
    void CheckHonestReport(std::vector<std::string>& problems) {
        for (const SimMessageBox& box : sim.messageBoxes)
            for (const std::wstring& name : NamesInSummary(box.text)) {
                auto it = idByName.find(name);
                if (it == idByName.end())
                    problems.push_back("summary names an unknown device " + Narrow(name));
                else if (!Gone(it->second))
                    problems.push_back("summary calls " + Narrow(name) + " removed; it is not");
            }
        for (const SimShellNotice& notice : sim.shellNotices) {
            if (notice.path.empty()) continue;
            const std::wstring* id = nullptr;
            if (notice.path.size() > 3) {
                if (auto it = idByFolder.find(notice.path); it != idByFolder.end())
                    id = &it->second;
            } else if (auto it = idByLetter.find(notice.path[0]); it != idByLetter.end()) {
                id = &it->second;
            }
            if (id == nullptr || !Gone(*id))
                problems.push_back("shell told " + Narrow(notice.path) +
                                   " is gone; its device is still there");
        }
    }
};

// The main window's logic over a fake list, wired like the real window:
// device changes reach it while message boxes are open.
class WindowFlow : public Flow {
public:
    CTrayhop32App app{sim};
    FakeMainView view;
    std::optional<CTrayhop32Dlg> dlg;

    void OpenWindow() {
        dlg.emplace(app, view);
        view.Connect(*dlg);
        sim.deviceChangeTarget = [this](UINT event) { dlg->OnDeviceChange(event, 0); };
        dlg->WatchDeviceInterfaces(kMainWindow);
        dlg->InitDriveTable();
        dlg->InitDriveList();
    }
    int RowOf(const std::wstring& name) const {
        for (int i = 0; i < static_cast<int>(view.rows.size()); ++i)
            if (view.rows[i].text[0].find(name) != std::wstring::npos) return i;
        return -1;
    }
    void Finish() override {
        sim.PumpMessages();
        dlg.reset();
    }
    void CheckWindow(std::vector<std::string>& problems, bool endsReady) {
        if (!app.m_bRefreshAllowed) problems.push_back("refresh guard left cleared");
        if (view.waitDepth != 0) problems.push_back("wait cursor left on");
        if (endsReady && view.Status() != L" Ready...")
            problems.push_back("status ends with '" + Narrow(view.Status()) + "'");
        CheckHonestReport(problems);
    }
};

// Start-up of a fresh process on a 32-bit workstation, up to the main window.
class StartupFlow : public Flow {
    class Runner : public MainWindowRunner {
    public:
        void RunMainWindow(CTrayhop32App& app) override {
            ran = true;
            app.m_hMainWnd = kMainWindow;
        }
        void DestroyMainWindow(CTrayhop32App& app) override { app.m_hMainWnd = nullptr; }
        bool ran = false;
    };

public:
    void Prepare() override {
        BuildWorkstation(sim);
        app = std::make_unique<CTrayhop32App>(sim);
    }
    void Act() override { app->InitInstance(runner); }
    // Its error exits keep the mutex until the process, here the object, ends.
    void Finish() override { app.reset(); }
    void Check(std::vector<std::string>& problems) override {
        // A start that neither shows the window nor says why looks like a crash.
        if (!runner.ran && sim.CallCount("MessageBoxW") == 0 && sim.windowActions.empty())
            problems.push_back("start-up ended without a window or a word");
        if (runner.ran && sim.CallCount("MessageBoxW") != 0)
            problems.push_back("the window ran after an error box");
    }

    std::unique_ptr<CTrayhop32App> app;
    Runner runner;
};

// The inventory build and the first fill of the list on a workstation with
// disks, card reader, 1394 disk, DVD drives and a tape drive, all shown.
class InventoryFlow : public WindowFlow {
public:
    void Prepare() override {
        BuildWorkstation(sim);
        ShowEverything(sim);
    }
    void Act() override { OpenWindow(); }
    void Check(std::vector<std::string>& problems) override {
        CheckWindow(problems, false);
        if (view.GetItemCount() > static_cast<int>(sim.Devices().size()))
            problems.push_back("more rows than devices");
        for (const auto& row : view.rows)
            if (row.data == nullptr) problems.push_back("a row without its record");
    }
};

// Three ticked sticks removed; the first has files open and the user answers
// Continue, so the installer can only stop it at the next reboot.
class RemovalFlow : public WindowFlow {
public:
    void Prepare() override {
        AddBootDisk();
        AddRemovable(L"USBSTOR\\DISK&VEN_A\\1", L"Stick A", 1, {L'E'});
        AddRemovable(L"USBSTOR\\DISK&VEN_B\\2", L"Stick B", 2, {L'F', L'G'});
        AddRemovable(L"USBSTOR\\DISK&VEN_C\\3", L"Stick C", 3, {L'H'});
        sim.FindVolume(L'E')->filesOpen = true;
        sim.AddProcess({2000, L"notepad.exe", {{L'E', L"\\May.txt", false, false}}, false});
        sim.AddProcess({3000, L"WINWORD.EXE", {{L'H', L"\\Report.doc", false, true}}, false});
        SimProcess indexer{3120, L"SearchIndexer.exe", {{L'E', L"\\Index.dat"}}};
        indexer.services = {L"WSearch"};
        indexer.needsDebugPrivilege = true;
        sim.AddProcess(indexer);
        SimProcess stick{4100, L"Stick.exe", {{L'E', L"\\Stick.exe"}}};
        stick.files[0].mapped = true;
        sim.AddProcess(stick);
        sim.messageBoxHook = [](const SimMessageBox& box) {
            return box.text.rfind(L"Files are in use", 0) == 0 ? IDCONTINUE : 0;
        };
        OpenWindow();
        for (const wchar_t* name : {L"Stick A", L"Stick B", L"Stick C"})
            if (int row = RowOf(name); row >= 0) view.SetItemChecked(row, true);
    }
    void Act() override { dlg->OnRemoveDevices(); }
    void Check(std::vector<std::string>& problems) override {
        CheckWindow(problems, true);
        // Failures may hide a holder, its service or what it holds, and then
        // say that the list may be incomplete; they never name another.
        const std::set<std::wstring> allowed = {
            L"These programs have files or folders open on drive E:",
            L"notepad.exe (2000)",
            L"notepad.exe (2000): E:\\May.txt",
            L"SearchIndexer.exe (3120, service WSearch)",
            L"SearchIndexer.exe (3120, service WSearch): E:\\Index.dat",
            L"SearchIndexer.exe (3120)",
            L"SearchIndexer.exe (3120): E:\\Index.dat",
            L"Stick.exe (4100): E:\\Stick.exe",
            L"1 other program could not be examined.",
            L"2 other programs could not be examined.",
            L"The list may be incomplete.",
        };
        const std::wstring question =
            L"press the 'Cancel' button to stop trying to remove devices.\n\n";
        for (const SimMessageBox& box : sim.messageBoxes) {
            const size_t at = box.text.find(question);
            if (at == std::wstring::npos) continue;
            std::wstringstream lines(box.text.substr(at + question.size()));
            for (std::wstring line; std::getline(lines, line);)
                if (allowed.count(line) == 0)
                    problems.push_back("the files-in-use box says " + Narrow(line));
        }
    }
};

// Today's machine: a stick whose volume refuses its lock twice, a stick
// BitLocker keeps locked, a mounted VHDX, an ISO's drive and a storage space,
// all ticked, and a second VHDX left alone.
class TodaysDevicesFlow : public WindowFlow {
public:
    void Prepare() override {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        sim.SetRegString(HKEY_CURRENT_USER, L"Software\\Quenwell\\Trayhop32\\1.3", L"IgnoreCDROM",
                         L"0");
        sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISKBOOT\\5&1", L"Boot Disk", 0));
        sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 40000000000LL));
        AddRemovable(L"USBSTOR\\DISK&VEN_A\\1", L"Stick A", 1, {L'E'});
        sim.FindVolume(L'E')->lockRefusals = 2;
        AddRemovable(L"USBSTOR\\DISK&VEN_L\\2", L"Locked Stick", 2, {L'F'});
        sim.FindVolume(L'F')->bitLockerLocked = true;
        AddImage(L"SCSI\\DISK&VEN_MSFT\\3", L"Msft Virtual Disk", 3, L'V', L"D:\\VMs\\build.vhdx");
        AddImage(L"SCSI\\DISK&VEN_MSFT\\4", L"Other Virtual Disk", 4, L'U', L"D:\\VMs\\keep.vhdx");
        SimDevice iso = SimMachine::MakeCdrom(L"SCSI\\CDROM&VEN_MSFT\\5", L"Msft Virtual DVD-ROM",
                                              0, kBusTypeFileBackedVirtual);
        iso.virtualDisk = SimVirtualDisk{L"D:\\setup.iso"};
        sim.AddDevice(iso);
        SimVolume isoVolume = SimMachine::MakeVolume(L'W', 0, 0, DRIVE_CDROM);
        isoVolume.extents.clear();
        isoVolume.deviceInstanceId = iso.instanceId;
        sim.AddVolume(isoVolume);
        idByLetter[L'W'] = iso.instanceId;
        idByName[L"Msft Virtual DVD-ROM (setup.iso)"] = iso.instanceId;
        sim.AddDevice(SimMachine::MakeDisk(L"STORAGE\\DISK\\6", L"Storage Space", 6, kBusTypeSpaces));
        sim.AddVolume(SimMachine::MakeVolume(L'S', 6, 1000000000LL));
        OpenWindow();
        for (const wchar_t* name : {L"Stick A", L"Locked Stick", L"Msft Virtual Disk",
                                    L"Msft Virtual DVD-ROM", L"Storage Space"})
            if (int row = RowOf(name); row >= 0) view.SetItemChecked(row, true);
    }
    void Act() override { dlg->OnRemoveDevices(); }
    void Check(std::vector<std::string>& problems) override {
        CheckWindow(problems, true);
        for (const SimMessageBox& box : sim.messageBoxes) {
            for (const std::wstring& name : NamesInSummary(box.text))
                if (virtualNames.count(name) != 0)
                    problems.push_back("summary calls the virtual disk " + Narrow(name) +
                                       " safe to pull");
            for (const std::wstring& name :
                 NamesUnder(box.text, L"detached from its image file:\n\n"))
                if (idByName.count(name) == 0 || !Gone(idByName[name]))
                    problems.push_back("box calls " + Narrow(name) + " detached; it is not");
        }
        for (const SimDevice& device : sim.Devices())
            if (device.instanceId == L"SCSI\\DISK&VEN_MSFT\\4" && device.virtualDisk->detached)
                problems.push_back("detached a virtual disk that was not ticked");
    }

private:
    std::set<std::wstring> virtualNames;
    void AddImage(const std::wstring& id, const std::wstring& name, DWORD number, wchar_t letter,
                  const std::wstring& image) {
        SimDevice disk = SimMachine::MakeDisk(id, name, number, kBusTypeFileBackedVirtual);
        disk.virtualDisk = SimVirtualDisk{image};
        sim.AddDevice(disk);
        sim.AddVolume(SimMachine::MakeVolume(letter, number, 1000000000LL));
        idByLetter[letter] = id;
        const std::wstring shown = name + L" (" + image.substr(image.rfind(L'\\') + 1) + L")";
        idByName[shown] = id;
        virtualNames.insert(name);
        virtualNames.insert(shown);
    }
};

// Four ticked disks whose volumes are mounted in a folder only, nowhere, with
// a letter and a folder, spread over a ticked and an unticked disk, or given
// B: beside a floppy drive. The folder's volume has a file open (Continue)
// and the spanned volume's question is answered Yes.
class MountedVolumesFlow : public WindowFlow {
public:
    void Prepare() override {
        AddBootDisk();
        AddRemovable(L"USBSTOR\\DISK&VEN_BACKUP\\1", L"Backup Disk", 1, {});
        AddVolume(0, 1, {L"C:\\Backup\\"});
        AddVolume(0, 1, {});
        AddRemovable(L"USBSTOR\\DISK&VEN_PHOTO\\2", L"Photo Disk", 2, {});
        AddVolume(L'E', 2, {L"C:\\Photos\\"});
        AddRemovable(L"USBSTOR\\DISK&VEN_SPAN&PROD_A\\3", L"Span A", 3, {});
        AddRemovable(L"USBSTOR\\DISK&VEN_SPAN&PROD_B\\4", L"Span B", 4, {});
        AddVolume(L'S', 3, {}).extents.push_back(SimExtent{4, 0, 1000000000LL});
        idByLetter[L'S'] = L"USBSTOR\\DISK&VEN_SPAN&PROD_A\\3";  // gone with its first disk
        SimVolume floppy = SimMachine::MakeVolume(L'A', 9, 0, DRIVE_REMOVABLE);
        floppy.extents.clear();
        floppy.noMedia = true;
        floppy.ntDeviceName = L"\\Device\\Floppy0";
        sim.AddVolume(floppy);
        AddRemovable(L"USBSTOR\\DISK&VEN_STICK\\5", L"Stick On B", 5, {L'B'});
        sim.AddProcess({2000, L"backup.exe", {{L'C', L"\\Backup\\set.bak", false, false}}, false});
        sim.messageBoxHook = [](const SimMessageBox& box) {
            if (box.text.rfind(L"Files are in use", 0) == 0) return IDCONTINUE;
            if (box.text.rfind(L"The volume on drive", 0) == 0) return IDYES;
            return 0;
        };
        OpenWindow();
        for (const wchar_t* name : {L"Backup Disk", L"Photo Disk", L"Span A", L"Stick On B"})
            if (int row = RowOf(name); row >= 0) view.SetItemChecked(row, true);
    }
    void Act() override { dlg->OnRemoveDevices(); }
    void Check(std::vector<std::string>& problems) override {
        CheckWindow(problems, true);
        const std::wstring holders =
            L"These programs have files or folders open on drive C:\\Backup\\";
        for (const SimMessageBox& box : sim.messageBoxes) {
            const size_t at = box.text.find(holders);
            if (at == std::wstring::npos) continue;
            // backup.exe alone, with what it holds; a failed call may hide it,
            // never name another.
            const std::wstring named = box.text.substr(at + holders.size());
            const bool onlyBackup =
                named.rfind(L"\nbackup.exe (2000)", 0) == 0 &&
                named.find(L".exe (", named.find(L".exe (") + 1) == std::wstring::npos;
            if (!onlyBackup) problems.push_back("the files-in-use box names " + Narrow(named));
        }
        if (!Gone(L"USBSTOR\\DISK&VEN_SPAN&PROD_B\\4")) return;
        problems.push_back("the unticked half of the spanned volume was removed");
    }

private:
    SimVolume& AddVolume(wchar_t letter, DWORD disk, std::vector<std::wstring> folders) {
        SimVolume volume = SimMachine::MakeVolume(letter, disk, 1000000000LL, DRIVE_REMOVABLE);
        volume.guidPath = L"\\\\?\\Volume{00000000-0000-0000-0000-0000000000" +
                          std::to_wstring(10 + sim.Volumes().size()) + L"}\\";
        volume.mountFolders = folders;
        const std::wstring id = sim.Devices()[disk].instanceId;
        if (letter != 0) idByLetter[letter] = id;
        for (const std::wstring& folder : folders) idByFolder[folder] = id;
        return sim.AddVolume(volume);
    }
};

// Scan for devices with a stick ticked and a new disk waiting to be found.
class ScanFlow : public WindowFlow {
public:
    void Prepare() override {
        AddBootDisk();
        AddRemovable(L"USBSTOR\\DISK&VEN_A\\1", L"Stick A", 1, {L'E'});
        SimDevice fresh = SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_N\\9", L"New Disk", 2,
                                               BusTypeUsb, 8000000000ULL);
        fresh.present = false;
        fresh.pending = true;
        sim.AddDevice(fresh);
        SimVolume volume = SimMachine::MakeVolume(L'K', 2, 8000000000LL, DRIVE_REMOVABLE);
        volume.present = false;
        volume.pending = true;
        sim.AddVolume(volume);
        OpenWindow();
        if (int row = RowOf(L"Stick A"); row >= 0) view.SetItemChecked(row, true);
    }
    void Act() override {
        dlg->OnScanForDevices();
        // The arrival the re-enumeration broadcast comes after the command.
        sim.PumpMessages();
    }
    void Check(std::vector<std::string>& problems) override { CheckWindow(problems, true); }
};

// The console program removing a held stick by its letter, forced, and two
// more by their label; its output goes to a redirected file.
class ConsoleFlow : public Flow {
public:
    void Prepare() override {
        AddBootDisk();
        AddRemovable(L"USBSTOR\\DISK&VEN_A\\1", L"Stick A", 1, {L'E'});
        AddRemovable(L"USBSTOR\\DISK&VEN_B\\2", L"Stick B", 2, {L'F'});
        AddRemovable(L"USBSTOR\\DISK&VEN_C\\3", L"Stick C", 3, {L'H'});
        sim.FindVolume(L'F')->label = L"BACKUP";
        sim.FindVolume(L'H')->label = L"BACKUP";
        sim.AddProcess({2000, L"notepad.exe", {{L'E', L"\\May.txt", false, false}}, false});
        sim.standardOutput.console = false;
    }
    void Act() override {
        code = RunConsoleProgram(sim, {L"remove", L"E:", L"--label", L"BACKUP", L"--force"},
                                 L"Trayhop32Cmd");
    }
    void Check(std::vector<std::string>& problems) override {
        if (code < 0 || code > 8) problems.push_back("exit code " + std::to_string(code));
        if (sim.MutexOwned(kRemovalLockName)) problems.push_back("the lock was kept");
        const std::string& out = sim.standardOutput.bytes;
        for (const auto& [name, id] : idByName) {
            const bool claimed = out.find("Removed " + Narrow(name) + ".") != std::string::npos;
            if (claimed && !Gone(id)) problems.push_back("stdout calls " + Narrow(name) + " removed");
            if (code == 0 && !Gone(id)) problems.push_back("code 0 with " + Narrow(name) + " there");
        }
        CheckHonestReport(problems);
    }

    int code = -1;
};

// The window opens on a monitor of 150 % beside the 100 % one and is moved
// to that one: its scale, icons and columns, whatever the display calls
// answer. On Windows 10 (1703 on) or, without its calls, as on 8.1, where
// the screen's DPI and the system's metrics stand in.
template <SimMachine::DpiCalls Calls>
class DisplayScaleFlow : public WindowFlow {
public:
    void Prepare() override {
        BuildWorkstation(sim);
        sim.dpiCalls = Calls;
        sim.systemDpi = 120;
        sim.windowDpi = 144;
        app.m_hMainWnd = kMainWindow;
        OpenWindow();
    }
    void Act() override {
        dlg->InitDisplayScale();
        dlg->OnDpiChanged(96, RECT{0, 0, 609, 339});
    }
    void Check(std::vector<std::string>& problems) override {
        CheckWindow(problems, false);
        if (view.columns.size() != 6) problems.push_back("the list has not its six columns");
        for (const auto& column : view.columns)
            if (column.width <= 0) problems.push_back("a column without width");
        for (const auto& [big, small] : view.iconSizes)
            if (big <= 0 || small <= 0) problems.push_back("an icon asked for without a size");
    }
};

struct SweepResult {
    size_t callsSwept = 0;
    size_t runs = 0;
};

// Runs the flow once to learn its calls, then once per call and error with
// that call failing; each run must keep every promise.
template <typename F>
SweepResult Sweep(const char* name) {
    SweepResult result;
    std::vector<std::string> methods;
    size_t mark = 0;
    {
        F flow;
        flow.Prepare();
        mark = flow.sim.CallCount();
        flow.Act();
        for (size_t i = mark; i < flow.sim.CallCount(); ++i)
            methods.push_back(flow.sim.Calls()[i].method);
        flow.Finish();
        std::vector<std::string> problems;
        flow.Check(problems);
        EXPECT_EQ("", flow.sim.LeakReport()) << name << " without failures";
        EXPECT_TRUE(problems.empty()) << name << " without failures: " << problems.front();
    }
    result.callsSwept = methods.size();

    for (size_t i = 0; i < methods.size(); ++i) {
        const size_t callNumber = mark + i + 1;
        for (DWORD error : ErrorsFor(methods[i])) {
            ++result.runs;
            F flow;
            flow.Prepare();
            if (flow.sim.CallCount() != mark) {
                ADD_FAILURE() << name << ": the preparation is not repeatable";
                return result;
            }
            flow.sim.FailCall(callNumber, error);
            flow.Act();
            flow.Finish();

            std::vector<std::string> problems;
            flow.Check(problems);
            const std::string leaks = flow.sim.LeakReport();
            const size_t allowed = IsRelease(methods[i]) ? 1 : 0;
            if (LineCount(leaks) > allowed) problems.push_back("left open:\n" + leaks);
            // Only a failed restore can leave the privilege on.
            if (flow.sim.debugPrivilegeEnabled && methods[i] != "AdjustTokenPrivileges")
                problems.push_back("SeDebugPrivilege left enabled");
            for (const std::string& misuse : flow.sim.ProgramErrors())
                problems.push_back("seam misused: " + misuse);
            for (const std::string& problem : problems)
                ADD_FAILURE() << name << ": call " << callNumber << " (" << methods[i]
                              << ") failing with " << error << ": " << problem;
        }
    }
    std::printf("sweep %s: %zu calls swept, %zu failing runs\n", name, result.callsSwept,
                result.runs);
    return result;
}

TEST(FailureSweep, StartUp) {
    EXPECT_GT(Sweep<StartupFlow>("start-up").callsSwept, 10u);
}

TEST(FailureSweep, InventoryBuildAndListFill) {
    EXPECT_GT(Sweep<InventoryFlow>("inventory").callsSwept, 100u);
}

TEST(FailureSweep, RemovalOfThreeDevices) {
    EXPECT_GT(Sweep<RemovalFlow>("removal").callsSwept, 50u);
}

TEST(FailureSweep, RemovalOfDisksWithMountedAndSpannedVolumes) {
    EXPECT_GT(Sweep<MountedVolumesFlow>("mounted volumes").callsSwept, 100u);
}
TEST(FailureSweep, ScanForDevices) {
    EXPECT_GT(Sweep<ScanFlow>("scan").callsSwept, 20u);
}
TEST(FailureSweep, RemovalOfTodaysDevices) {
    EXPECT_GT(Sweep<TodaysDevicesFlow>("today's devices").callsSwept, 50u);
}

TEST(FailureSweep, ConsoleRemoval) {
    EXPECT_GT(Sweep<ConsoleFlow>("console removal").callsSwept, 50u);
}

TEST(FailureSweep, DisplayScale) {
    using Calls = SimMachine::DpiCalls;
    EXPECT_GT(Sweep<DisplayScaleFlow<Calls::PerMonitorV2>>("display scale").callsSwept, 10u);
    EXPECT_GT(Sweep<DisplayScaleFlow<Calls::Missing>>("display scale before Windows 10")
                  .callsSwept,
              10u);
}

}  // namespace
