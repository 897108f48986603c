// The console program over the simulated machine: every exit code, each
// selector form, the list as text and as JSON (parsed back), and what
// reaches a console and a redirected file.
#include <gtest/gtest.h>

#include "app/ProgramName.h"
#include "console/ConsoleOutput.h"
#include "console/ConsoleProgram.h"
#include "removal/RemovalFlow.h"
#include "platform/Text.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/MachineFiles.h"
#include "removal/RemovalLock.h"
#include "tests/unit/inventory/InventoryMachines.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using inventory_test::SetOption;
using inventory_test::SetPagingFiles;

const wchar_t* const kBootId = L"IDE\\DISKBOOT\\5&1";
const wchar_t* const kDataId = L"IDE\\DISKDATA\\5&2";
const wchar_t* const kStickAId = L"USBSTOR\\DISK&VEN_A\\1";
const wchar_t* const kStickBId = L"USBSTOR\\DISK&VEN_B\\2";
// A name a JSON writer must escape.
const wchar_t* const kOddName = L"Odd \"Q\" \\ Disk \x00e9";
const wchar_t* const kOddId = L"SCSI\\DISK&VEN_ODD\\7";

// A machine that answers GetVolumeNameForVolumeMountPointW for one folder too.
class FolderMountMachine : public ConsoleBoxes<SimMachine> {
public:
    std::wstring folder = L"C:\\MOUNT\\BACKUP\\";
    std::wstring volume;
    BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR point, LPWSTR name, DWORD chars) override {
        if (point != nullptr && CompareTextNoCase(point, folder.c_str()) == 0 &&
            volume.size() < chars) {
            std::copy(volume.c_str(), volume.c_str() + volume.size() + 1, name);
            return TRUE;
        }
        return ConsoleBoxes<SimMachine>::GetVolumeNameForVolumeMountPointW(point, name, chars);
    }
    // Called after each pause, as if time had passed for the other programs.
    std::function<void()> onSleep;
    void Sleep(DWORD milliseconds) override {
        ConsoleBoxes<SimMachine>::Sleep(milliseconds);
        if (onSleep) onSleep();
    }
};

// The boot disk C: (a page file there too), a data disk D: with a page file,
// stick A (E:, label BACKUP), stick B (F: and G:, G: labelled backup) and an
// oddly named disk H:.
struct ConsoleWorld {
    FolderMountMachine sim;

    ConsoleWorld() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        SetPagingFiles(sim, {L"D:\\pagefile.sys 512 1024"});
        sim.AddDevice(SimMachine::MakeDisk(kBootId, L"Boot Disk", 0));
        sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 40000000000LL));
        sim.AddDevice(SimMachine::MakeDisk(kDataId, L"Data Disk", 1));
        sim.AddVolume(SimMachine::MakeVolume(L'D', 1, 40000000000LL));
        sim.AddDevice(SimMachine::MakeDisk(kStickAId, L"Stick A", 2, BusTypeUsb, 2000000000ULL));
        sim.AddVolume(SimMachine::MakeVolume(L'E', 2, 2000000000LL, DRIVE_REMOVABLE));
        sim.FindVolume(L'E')->label = L"BACKUP";
        sim.AddDevice(SimMachine::MakeDisk(kStickBId, L"Stick B", 3, BusTypeUsb, 4000000000ULL));
        sim.AddVolume(SimMachine::MakeVolume(L'F', 3, 2000000000LL, DRIVE_REMOVABLE));
        sim.AddVolume(SimMachine::MakeVolume(L'G', 3, 2000000000LL, DRIVE_REMOVABLE));
        sim.FindVolume(L'G')->label = L"backup";
        sim.AddDevice(SimMachine::MakeDisk(kOddId, kOddName, 4, BusTypeScsi));
        sim.AddVolume(SimMachine::MakeVolume(L'H', 4, 1000000000LL));
        sim.volume = sim.FindVolume(L'F')->guidPath;
    }
    // Nothing left open, nothing misused, the lock let go on every path.
    void Check() {
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_TRUE(sim.ProgramErrors().empty());
        EXPECT_FALSE(sim.MutexOwned(kRemovalLockName));
    }
    int Command(std::vector<std::wstring> args) {
        sim.standardOutput.text.clear();
        sim.standardOutput.bytes.clear();
        sim.standardError.text.clear();
        sim.standardError.bytes.clear();
        return RunConsoleProgram(sim, args, L"Trayhop32Cmd");
    }
    const std::wstring& Out() const { return sim.standardOutput.text; }
    const std::wstring& Err() const { return sim.standardError.text; }
    bool Present(const wchar_t* id) { return sim.FindDevice(id) != nullptr; }
};

struct ConsoleProgramTest : ::testing::Test, ConsoleWorld {
    void TearDown() override { Check(); }
};

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(ConsoleExitCodes, EachCodeWhereTheIssueSaysIt) {
    struct Case {
        const char* situation;
        std::function<void(FolderMountMachine&)> arrange;
        std::vector<std::wstring> args;
        int code;
        std::vector<const wchar_t*> removed;
        const wchar_t* errSays;
    };
    const Case cases[] = {
        {"plain removal", nullptr, {L"remove", L"E:"}, kExitOk, {kStickAId}, L""},
        {"bad option", nullptr, {L"remove", L"E:", L"--now"}, kExitUsage, {}, L"Usage:"},
        {"a letter matching nothing",
         nullptr,
         {L"remove", L"E:", L"Z:"},
         kExitNoMatch,
         {},
         L"No listed device matches \"Z:\""},
        {"files in use",
         [](auto& m) { m.FindVolume(L'E')->filesOpen = true; },
         {L"remove", L"E:"},
         kExitRefused,
         {},
         L"Files are in use on drive E: of device Stick A"},
        {"the boot device, even forced",
         nullptr,
         {L"remove", L"C:", L"--force"},
         kExitRefused,
         {},
         L"current boot device: Boot Disk"},
        {"a page file, even forced and free",
         nullptr,
         {L"remove", L"D:", L"--force"},
         kExitRefused,
         {},
         L"active system page file: Data Disk"},
        {"no rights on a volume stops all",
         [](auto& m) { m.FindVolume(L'F')->openAccessDenied = true; },
         {L"remove", L"E:", L"F:"},
         kExitRefused,
         {},
         L"Access denied on drive F:"},
        {"the installer declines",
         [](auto& m) { m.FindDevice(kStickAId)->removal = SimRemovalOutcome::Declined; },
         {L"remove", L"E:"},
         kExitRemoveFailed,
         {},
         L"Unable to remove device Stick A"},
        {"a restart asked for",
         [](auto& m) { m.FindDevice(kStickAId)->removal = SimRemovalOutcome::RemovedNeedsReboot; },
         {L"remove", L"E:"},
         kExitRestart,
         {},
         L"reboot"},
        {"forced past files in use",
         [](auto& m) { m.FindVolume(L'E')->filesOpen = true; },
         {L"remove", L"E:", L"--force"},
         kExitRestart,
         {},
         L"Removing it anyway"},
        {"not elevated",
         [](auto& m) { m.runsElevated = false; },
         {L"remove", L"E:"},
         kExitNotElevated,
         {},
         L"elevated command prompt"},
        {"scan not elevated",
         [](auto& m) { m.runsElevated = false; },
         {L"scan"},
         kExitNotElevated,
         {},
         L"elevated"},
        {"busy for the whole wait",
         [](auto& m) { m.HoldMutexElsewhere(kRemovalLockName); },
         {L"remove", L"E:", L"--wait", L"3"},
         kExitBusy,
         {},
         L"after 3 s"},
        {"the registry refuses writes",
         [](auto& m) { m.SetRegKeyRefusesWrites(HKEY_CURRENT_USER, inventory_test::kOptionsKey); },
         {L"list"},
         kExitCannotRun,
         {},
         L"registry privileges"},
        {"the highest of several outcomes",
         [](auto& m) { m.FindDevice(kStickBId)->removal = SimRemovalOutcome::Declined; },
         {L"remove", L"C:", L"E:", L"F:"},
         kExitRemoveFailed,
         {kStickAId},
         L"boot device"},
        {"a spanned volume whose other device is left",
         [](auto& m) {
             m.FindVolume(L'E')->extents.push_back(SimExtent{3, 32256, 2000000000LL});
             m.FindVolume(L'F')->filesOpen = true;
         },
         {L"remove", L"E:"},
         kExitRefused,
         {},
         L"also lies on Stick B, which is left in the system"},
        {"the scan fails",
         [](auto& m) { m.reenumerateResult = CR_FAILURE; },
         {L"scan"},
         kExitRemoveFailed,
         {},
         L"re-enumerate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        ConsoleWorld world;
        if (c.arrange) c.arrange(world.sim);
        EXPECT_EQ(world.Command(c.args), c.code);
        EXPECT_NE(world.Err().find(c.errSays), std::wstring::npos) << Narrow(world.Err());
        for (const wchar_t* id : {kBootId, kDataId, kStickAId, kStickBId}) {
            const bool gone = std::find(c.removed.begin(), c.removed.end(), id) != c.removed.end();
            EXPECT_EQ(world.Present(id), !gone) << Narrow(id);
        }
        world.sim.ReleaseMutexElsewhere(kRemovalLockName);
        world.Check();
    }
}

TEST_F(ConsoleProgramTest, TheWrongEditionIsRefusedNamingTheOther) {
    sim.edition = SimEdition::Bits64;
    // Only the 32-bit program refuses; Trayhop64Cmd runs there.
    EXPECT_EQ(Command({L"list"}), kRefusesWindows64 ? kExitCannotRun : kExitOk);
    if (kRefusesWindows64) {
        EXPECT_NE(Err().find(L"Trayhop64Cmd.exe"), std::wstring::npos);
    }
}

TEST_F(ConsoleProgramTest, TheLockWaitsThirtySecondsWithoutWait) {
    sim.HoldMutexElsewhere(kRemovalLockName);
    const DWORD before = sim.tickCount;
    EXPECT_EQ(Command({L"scan"}), kExitBusy);
    EXPECT_EQ(sim.tickCount - before, 30000u);
    sim.ReleaseMutexElsewhere(kRemovalLockName);
}

TEST(ConsoleSelectors, EachFormNamesItsDeviceAndNoOther) {
    ConsoleWorld probe;
    const std::vector<std::wstring> forms = {L"f",
                                             L"F:",
                                             L"f:\\",
                                             L"C:\\Mount\\Backup",
                                             probe.sim.FindVolume(L'G')->guidPath,
                                             L"usbstor\\disk&ven_b\\2"};
    for (const std::wstring& form : forms) {
        SCOPED_TRACE(Narrow(form));
        ConsoleWorld world;
        EXPECT_EQ(world.Command({L"remove", form}), kExitOk) << Narrow(world.Err());
        EXPECT_FALSE(world.Present(kStickBId));
        EXPECT_TRUE(world.Present(kStickAId));
        EXPECT_TRUE(world.Present(kOddId));
        world.Check();
    }
}

TEST_F(ConsoleProgramTest, StrangeSelectorsRemoveNothing) {
    const std::wstring strange[] = {
        L"*",         L"USBSTOR\\*", L"E*", L"\\\\?\\Volume{*}\\", std::wstring(32000, L'E'),
        L"\\\\?\\E:", L"C:\\NoMount"};
    for (const std::wstring& selector : strange) {
        EXPECT_EQ(Command({L"remove", selector}), kExitNoMatch) << Narrow(selector.substr(0, 20));
        EXPECT_EQ(Command({L"remove", std::wstring(L"E:\0", 3)}), kExitUsage);
    }
    for (const wchar_t* id : {kBootId, kDataId, kStickAId, kStickBId, kOddId})
        EXPECT_TRUE(Present(id));
}

TEST_F(ConsoleProgramTest, OneLabelOnTwoDevicesRemovesBoth) {
    EXPECT_EQ(Command({L"remove", L"--label", L"Backup"}), kExitOk);
    EXPECT_FALSE(Present(kStickAId));
    EXPECT_FALSE(Present(kStickBId));
    EXPECT_NE(Out().find(L"Removed Stick A. It is safe"), std::wstring::npos);
    EXPECT_NE(Out().find(L"Removed Stick B. It is safe"), std::wstring::npos);
}

TEST_F(ConsoleProgramTest, ALetterOnAHiddenDeviceMatchesNothing) {
    SetOption(sim, L"HideBootDrive", L"1");
    EXPECT_EQ(Command({L"remove", L"C:"}), kExitNoMatch);
    EXPECT_NE(Err().find(L"hidden by the options"), std::wstring::npos);
    EXPECT_EQ(Command({L"list"}), kExitOk);
    EXPECT_EQ(Out().find(L"Boot Disk"), std::wstring::npos);
}

TEST_F(ConsoleProgramTest, WaitTriesTheLockAgainUntilTheFilesAreClosed) {
    // Without --wait, the flow's own retries (about 3 s, as in the window).
    sim.FindVolume(L'E')->filesOpen = true;
    EXPECT_EQ(Command({L"remove", L"E:", L"--wait", L"1"}), kExitRefused);
    DWORD waited = 0;
    for (DWORD pause : sim.sleeps) waited += pause;
    EXPECT_LE(waited, kLockRetryMilliseconds) << "a second of --wait adds nothing to them";

    // The backup program closes its files well after the flow's first retries.
    sim.sleeps.clear();
    sim.onSleep = [this] {
        if (sim.sleeps.size() == 25) sim.FindVolume(L'E')->filesOpen = false;
    };
    EXPECT_EQ(Command({L"remove", L"E:", L"--wait", L"60"}), kExitOk);
    EXPECT_EQ(sim.sleeps.size(), 25u);
    EXPECT_FALSE(Present(kStickAId));
}

TEST_F(ConsoleProgramTest, JsonListParsesBackWithTheIssuesKeys) {
    sim.standardOutput.console = false;
    ASSERT_EQ(Command({L"list", L"--json"}), kExitOk);
    const std::string& bytes = sim.standardOutput.bytes;
    ASSERT_FALSE(bytes.empty());
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
    const nlohmann::json list = nlohmann::json::parse(bytes);
    ASSERT_EQ(list.size(), 5u);
    const std::set<std::string> keys = {"name",     "type",          "mountPoints", "bus",
                                        "capacity", "capacityBytes", "mediaType",   "instanceId",
                                        "boot",     "pageFile"};
    for (const auto& device : list) {
        std::set<std::string> has;
        for (const auto& [key, value] : device.items()) has.insert(key);
        EXPECT_EQ(has, keys);
    }
    EXPECT_EQ(list[0]["name"], "Boot Disk");
    EXPECT_EQ(list[0]["boot"], true);
    EXPECT_EQ(list[0]["pageFile"], false);
    EXPECT_EQ(list[1]["pageFile"], true);
    EXPECT_EQ(list[3]["mountPoints"], nlohmann::json::array({"F:", "G:"}));
    EXPECT_EQ(list[3]["instanceId"], "USBSTOR\\DISK&VEN_B\\2");
    EXPECT_EQ(list[3]["bus"], "USB");
    EXPECT_GT(list[3]["capacityBytes"], 3900000000LL);
    EXPECT_EQ(list[3]["mediaType"], "Removable");
    EXPECT_EQ(list[4]["name"], "Odd \"Q\" \\ Disk \xC3\xA9");
}

TEST_F(ConsoleProgramTest, TextListHasTheWindowsColumnsAndAllIgnoresBusOptions) {
    SetOption(sim, L"IgnoreUSB", L"1");
    ASSERT_EQ(Command({L"list"}), kExitOk);
    EXPECT_EQ(Out().rfind(L"Device Name", 0), 0u);
    EXPECT_NE(Out().find(L"(Boot) Boot Disk"), std::wstring::npos);
    EXPECT_NE(Out().find(L"(Page) Data Disk"), std::wstring::npos);
    EXPECT_EQ(Out().find(L"Stick A"), std::wstring::npos) << "USB is hidden by the options";
    ASSERT_EQ(Command({L"list", L"--all"}), kExitOk);
    const size_t row = Out().find(L"Stick B");
    ASSERT_NE(row, std::wstring::npos);
    const std::wstring line = Out().substr(row, Out().find(L'\n', row) - row);
    for (const wchar_t* cell : {L"Disk", L"F:, G:", L"USB", L"3.72 GB", L"Removable"})
        EXPECT_NE(line.find(cell), std::wstring::npos) << Narrow(cell);
}

TEST_F(ConsoleProgramTest, ConsoleGetsUtf16AndAFileGetsUtf8WithCrLf) {
    ASSERT_EQ(Command({L"list"}), kExitOk);
    EXPECT_NE(Out().find(L"Disk \x00e9"), std::wstring::npos);
    EXPECT_TRUE(sim.standardOutput.bytes.empty());

    sim.standardOutput.console = false;
    ASSERT_EQ(Command({L"list"}), kExitOk);
    const std::string& bytes = sim.standardOutput.bytes;
    EXPECT_NE(bytes.find("Disk \xC3\xA9"), std::string::npos);
    EXPECT_NE(bytes.find("\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("\n\n"), std::string::npos);
    EXPECT_EQ(EncodeUtf8(std::wstring(L"a\xD800z")), "a\xEF\xBF\xBDz") << "a lone surrogate";
}

TEST_F(ConsoleProgramTest, QuietPrintsNothingButErrors) {
    sim.FindVolume(L'E')->filesOpen = true;
    EXPECT_EQ(Command({L"remove", L"E:", L"F:", L"--quiet"}), kExitRefused);
    EXPECT_TRUE(Out().empty());
    EXPECT_FALSE(Err().empty());
    EXPECT_FALSE(Present(kStickBId));
}

TEST_F(ConsoleProgramTest, FilesInUseNameTheProgramsOnStderr) {
    sim.AddProcess({2000, L"notepad.exe", {{L'E', L"\\May.txt", false, false}}, false});
    EXPECT_EQ(Command({L"remove", L"E:"}), kExitRefused);
    EXPECT_NE(Err().find(L"These programs have files or folders open on drive E:\nnotepad.exe "
                         L"(2000)"),
              std::wstring::npos)
        << Narrow(Err());
}

TEST_F(ConsoleProgramTest, BoxesOfTheInventoryGoToStderrNotToTheDesktop) {
    sim.FindDevice(kStickAId)->storage.ioctlErrors[IOCTL_STORAGE_QUERY_PROPERTY] =
        ERROR_ACCESS_DENIED;
    EXPECT_EQ(Command({L"list"}), kExitOk);
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_NE(Err().find(L"Trayhop"), std::wstring::npos);
}

TEST_F(ConsoleProgramTest, HelpDocumentsEveryExitCode) {
    EXPECT_EQ(Command({L"/?"}), kExitOk);
    for (int code = 0; code <= 8; ++code)
        EXPECT_NE(Out().find(L"\n  " + std::to_wstring(code) + L"  "), std::wstring::npos) << code;
    EXPECT_EQ(Command({L"--version"}), kExitOk);
    EXPECT_EQ(Out(), L"Trayhop32Cmd 1.3.7567.0\n");
}

}  // namespace

namespace {

// Every machine file the project keeps: list --json gives one object per row
// the window would show, and parses back.
TEST(ConsoleOverMachineFiles, ListJsonParsesOnEveryKeptMachine) {
    for (const auto& entry : std::filesystem::directory_iterator(MachinesFolder())) {
        if (entry.path().extension() != ".json") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ConsoleBoxes<SimMachine> sim;
        std::string error;
        if (!LoadSimMachineFromFile(sim, entry.path().string(), error))
            continue;  // a bad-file case
        sim.standardOutput.console = false;
        const int code = RunConsoleProgram(sim, {L"list", L"--json"}, L"Trayhop32Cmd");
        // The busy server is a 64-bit one whose registry refuses writes.
        if (code == kExitCannotRun) {
            EXPECT_FALSE(sim.standardError.bytes.empty() && sim.standardError.text.empty());
            continue;
        }
        ASSERT_EQ(code, kExitOk);
        const nlohmann::json list = nlohmann::json::parse(sim.standardOutput.bytes);
        EXPECT_TRUE(list.is_array());
        EXPECT_EQ("", sim.LeakReport());
    }
}

// The demo workstation: the held stick G: is refused naming its holders,
// forced it asks for a restart, the free stick F: goes.
TEST(ConsoleOverMachineFiles, DemoWorkstationAnswersAsTheReadmeShows) {
    struct Step {
        std::vector<std::wstring> args;
        int code;
        const wchar_t* says;
    };
    const Step steps[] = {
        {{L"remove", L"G:"}, kExitRefused, L"WINWORD.EXE (2316): G:\\Quarterly Report.doc"},
        {{L"remove", L"g", L"--force"}, kExitRestart, L"reboot"},
        {{L"remove", L"F:"}, kExitOk, L"Removed SanDisk Cruzer Micro USB Device."},
        {{L"remove", L"C:"}, kExitRefused, L"current boot device"},
        {{L"remove", L"J:"}, kExitOk, L"Removed Generic USB SD Reader USB Device."},
    };
    ConsoleBoxes<SimMachine> sim;
    std::string error;
    ASSERT_TRUE(
        LoadSimMachineFromFile(sim, (MachinesFolder() / "demo-workstation.json").string(), error))
        << error;
    for (const Step& step : steps) {
        SCOPED_TRACE(Narrow(step.args[1]));
        sim.standardOutput.text.clear();
        sim.standardError.text.clear();
        EXPECT_EQ(RunConsoleProgram(sim, step.args, L"Trayhop32Cmd"), step.code);
        const std::wstring all = sim.standardOutput.text + sim.standardError.text;
        EXPECT_NE(all.find(step.says), std::wstring::npos) << Narrow(all);
    }
    EXPECT_EQ("", sim.LeakReport());
}

}  // namespace
