// The search for the programs that hold a volume, over the simulated
// machine: who is named for which drive, with its services and what it
// holds, what is counted instead of named, and that any doubt hides a holder
// but never names a wrong one.
#include "removal/VolumeHolders.h"

#include "platform/sim/SimMachine.h"
#include "tests/bench/BenchMachine.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// E: held by a document, a folder window and a program with two files; F:
// held by a fourth program; G: free; a pipe of a fifth program on no drive.
SimMachine Workstation() {
    SimMachine sim;
    sim.AddDevice(SimMachine::MakeDisk(L"USBSTOR\\DISK&VEN_Q\\1", L"Quen Stick", 1, BusTypeUsb));
    for (WCHAR letter : {L'E', L'F', L'G'})
        sim.AddVolume(SimMachine::MakeVolume(letter, 1, 1000000, DRIVE_REMOVABLE));
    sim.AddProcess({2000, L"notepad.exe", {{L'E', L"\\May.txt"}}});
    sim.AddProcess(
        {3000, L"explorer.exe", {{L'C', L"\\WINDOWS", true}, {L'E', L"\\Photos", true}}});
    sim.AddProcess({4000, L"WINWORD.EXE", {{L'F', L"\\Report.doc"}}});
    sim.AddProcess({5000, L"Acme.exe", {{L'E', L"\\a.dat"}, {L'E', L"\\b.dat"}}});
    sim.AddProcess({6000, L"cmd.exe", {{0, L"\\build", false, true}}});
    return sim;
}

// The volume as the drive record names it: no trailing backslash.
std::wstring VolumeOf(SimMachine& sim, WCHAR letter) {
    const std::wstring& guid = sim.FindVolume(letter)->guidPath;
    return guid.substr(0, guid.size() - 1);
}

std::wstring Lines(const VolumeHolders& found) {
    std::wstring text;
    for (const auto& line : VolumeHolderLines(found)) text += (text.empty() ? L"" : L" | ") + line;
    return text;
}

SimOpenFile Mapped(WCHAR letter, const wchar_t* path) {
    SimOpenFile f{letter, path};
    f.mapped = true;
    return f;
}

SimOpenFile Stalling(WCHAR letter, const wchar_t* path) {
    SimOpenFile f{letter, path};
    f.stalls = true;
    return f;
}

SimProcess Service(DWORD pid, const wchar_t* image, std::vector<std::wstring> services,
                   std::vector<SimOpenFile> files) {
    SimProcess p{pid, image, std::move(files)};
    p.services = std::move(services);
    p.needsDebugPrivilege = true;
    return p;
}

struct SearchCase {
    const char* situation;
    std::function<void(SimMachine&)> change;
    WCHAR letter;
    std::wstring lines;  // what VolumeHolderLines gives, joined by " | "
};

class VolumeHolderSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(VolumeHolderSearch, NamesWhatHoldsThatVolumeOnly) {
    const SearchCase& c = GetParam();
    SimMachine sim = Workstation();
    if (c.change) c.change(sim);

    EXPECT_EQ(Lines(FindVolumeHolders(sim, VolumeOf(sim, c.letter).c_str())), c.lines);
    EXPECT_EQ(sim.LeakReport(), "");
    EXPECT_FALSE(sim.debugPrivilegeEnabled);
    EXPECT_TRUE(sim.ProgramErrors().empty()) << sim.ProgramErrors().front();
}

const wchar_t* const kHeldE =
    L"Acme.exe (5000): E:\\a.dat | explorer.exe (3000): E:\\Photos | notepad.exe (2000): "
    L"E:\\May.txt";

INSTANTIATE_TEST_SUITE_P(
    Cases, VolumeHolderSearch,
    testing::Values(
        SearchCase{"HeldE", nullptr, L'E', kHeldE},
        SearchCase{"HeldF", nullptr, L'F', L"WINWORD.EXE (4000): F:\\Report.doc"},
        SearchCase{"FreeG", nullptr, L'G', L""},
        SearchCase{"IndexerNamedWithItsService",
                   [](SimMachine& m) {
                       m.AddProcess(Service(3120, L"SearchIndexer.exe", {L"WSearch"},
                                            {{L'F', L"\\System Volume Information", true}}));
                   },
                   L'F',
                   L"SearchIndexer.exe (3120, service WSearch): F:\\System Volume Information | "
                   L"WINWORD.EXE (4000): F:\\Report.doc"},
        SearchCase{"SharedHostListsItsServices",
                   [](SimMachine& m) {
                       m.AddProcess(Service(1288, L"svchost.exe", {L"StorSvc", L"ShellHWDetection"},
                                            {{L'G', L"\\", true}}));
                   },
                   L'G', L"svchost.exe (1288, services ShellHWDetection, StorSvc): G:\\"},
        // Without the privilege (a token that lacks it) a service refuses
        // and is counted.
        SearchCase{"ServiceWithoutThePrivilege",
                   [](SimMachine& m) {
                       m.debugPrivilegeHeld = false;
                       m.AddProcess(Service(3120, L"SearchIndexer.exe", {L"WSearch"},
                                            {{L'G', L"\\x", false}}));
                   },
                   L'G', L"1 other program could not be examined."},
        SearchCase{"ProtectedAntivirusCounted",
                   [](SimMachine& m) {
                       SimProcess av{2600, L"MsMpEng.exe", {{L'E', L"\\a.dat"}}};
                       av.protectedProcess = true;
                       m.AddProcess(av);
                   },
                   L'E', std::wstring(kHeldE).append(L" | 1 other program could not be examined.")},
        SearchCase{"NoRightsToTwo",
                   [](SimMachine& m) {
                       m.FindProcess(3000)->accessDenied = true;
                       m.FindProcess(6000)->accessDenied = true;
                   },
                   L'E',
                   L"Acme.exe (5000): E:\\a.dat | notepad.exe (2000): E:\\May.txt | 2 other "
                   L"programs could not be examined."},
        // System and lsass.exe are counted with those that refused, never
        // opened; alone they say nothing.
        SearchCase{"SystemAndLsassCountedWhenOneRefused",
                   [](SimMachine& m) {
                       m.AddProcess({4, L"System", {{L'G', L"\\$Extend", true}}});
                       m.AddProcess({700, L"lsass.exe", {{L'G', L"\\secret"}}});
                       m.FindProcess(6000)->accessDenied = true;
                   },
                   L'G', L"3 other programs could not be examined."},
        SearchCase{"SystemAndLsassAloneSayNothing",
                   [](SimMachine& m) {
                       m.AddProcess({4, L"System", {{L'G', L"\\$Extend", true}}});
                       m.AddProcess({700, L"lsass.exe", {{L'G', L"\\secret"}}});
                   },
                   L'G', L""},
        SearchCase{
            "ProgramRunFromTheDrive",
            [](SimMachine& m) {
                m.AddProcess({4100, L"Stick.exe", {Mapped(L'G', L"\\Tools\\Stick.exe")}});
                m.AddProcess({4200, L"host.exe", {Mapped(L'G', L"\\Tools\\plugin.dll")}});
            },
            L'G',
            L"host.exe (4200): G:\\Tools\\plugin.dll | Stick.exe (4100): G:\\Tools\\Stick.exe"},
        // XP has no call for a handle's path: names only, but a module's
        // path is known all the same.
        SearchCase{"NoPathsBeforeVista",
                   [](SimMachine& m) {
                       m.finalPathMissing = true;
                       m.AddProcess({4100, L"Stick.exe", {Mapped(L'E', L"\\Stick.exe")}});
                   },
                   L'E',
                   L"Acme.exe (5000) | explorer.exe (3000) | notepad.exe (2000) | Stick.exe "
                   L"(4100): E:\\Stick.exe"},
        SearchCase{"LongPathShortened",
                   [](SimMachine& m) {
                       m.AddProcess({4300,
                                     L"WINWORD.EXE",
                                     {{L'G',
                                       L"\\Projects\\2024\\Quarterly\\Finance department "
                                       L"drafts\\Quarterly Report.doc"}}});
                   },
                   L'G',
                   L"WINWORD.EXE (4300): G:\\...\\Finance department drafts\\Quarterly Report.doc"},
        // Twenty files of one program leave the next one its path.
        SearchCase{"EachProgramGetsItsPath",
                   [](SimMachine& m) {
                       SimProcess many{4400, L"copier.exe"};
                       many.files.assign(20, SimOpenFile{L'G', L"\\part.bin"});
                       m.AddProcess(many);
                       m.AddProcess({4500, L"viewer.exe", {{L'G', L"\\a.jpg"}}});
                   },
                   L'G', L"copier.exe (4400): G:\\part.bin | viewer.exe (4500): G:\\a.jpg"},
        // Systems before the extended table: 16-bit ids and handle values.
        SearchCase{"OlderTable", [](SimMachine& m) { m.handleTable = SimHandleTable::Basic; }, L'E',
                   kHeldE},
        SearchCase{"OlderTableWithLongProcessIds",
                   [](SimMachine& m) {
                       m.handleTable = SimHandleTable::Basic;
                       m.AddProcess({0x12340, L"late.exe"});
                   },
                   L'E', L""},
        // Ended after the table was read: the system no longer knows its id.
        SearchCase{"OneEndsMidSearch",
                   [](SimMachine& m) { m.FailMethod("OpenProcess", 1, ERROR_INVALID_PARAMETER); },
                   L'E', L"Acme.exe (5000): E:\\a.dat | explorer.exe (3000): E:\\Photos"},
        // One of Acme's two files closed in between: the other still counts.
        SearchCase{"AHandleClosedMidSearch",
                   [](SimMachine& m) { m.FailMethod("DuplicateHandle", 5, ERROR_INVALID_HANDLE); },
                   L'E',
                   L"Acme.exe (5000): E:\\b.dat | explorer.exe (3000): E:\\Photos | "
                   L"notepad.exe (2000): E:\\May.txt"},
        // Without the handle table, programs run from the drive are still seen.
        SearchCase{"NoNativeCalls",
                   [](SimMachine& m) {
                       m.handleTable = SimHandleTable::Missing;
                       m.AddProcess({4100, L"Stick.exe", {Mapped(L'E', L"\\Stick.exe")}});
                   },
                   L'E', L"Stick.exe (4100): E:\\Stick.exe | The list may be incomplete."},
        SearchCase{"TableKeepsChanging",
                   [](SimMachine& m) { m.handleTable = SimHandleTable::Growing; }, L'E', L""},
        SearchCase{"TableRefused",
                   [](SimMachine& m) {
                       m.FailMethod("NtQuerySystemInformation", 1, 0xC0000022 /*access denied*/);
                   },
                   L'E', L""},
        SearchCase{"NoSnapshot",
                   [](SimMachine& m) {
                       m.FailMethod("CreateToolhelp32Snapshot", 1, ERROR_NOT_ENOUGH_MEMORY);
                   },
                   L'E', L""},
        SearchCase{"NoThread",
                   [](SimMachine& m) { m.FailMethod("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY); },
                   L'E', L""},
        SearchCase{
            "NoServiceList",
            [](SimMachine& m) {
                m.AddProcess(Service(3120, L"SearchIndexer.exe", {L"WSearch"}, {{L'G', L"\\x"}}));
                m.FailMethod("OpenSCManagerW", 1, ERROR_ACCESS_DENIED);
            },
            L'G', L"SearchIndexer.exe (3120): G:\\x"},
        // A handle whose questions never return is left with its thread;
        // the rest of the table is still asked.
        SearchCase{"OneStalledHandle",
                   [](SimMachine& m) {
                       m.FindProcess(2000)->files.insert(m.FindProcess(2000)->files.begin(),
                                                         Stalling(L'C', L"\\pipe-like"));
                   },
                   L'E', kHeldE},
        // Stalls past their own budget end the search; what was found stays.
        SearchCase{"ManyStalledHandles",
                   [](SimMachine& m) {
                       SimProcess stuck{5500, L"Stuck.exe"};
                       for (int i = 0; i < 6; ++i) stuck.files.push_back(Stalling(L'C', L"\\w"));
                       m.AddProcess(stuck);
                       m.AddProcess({5600, L"late.exe", {{L'E', L"\\late.txt"}}});
                   },
                   L'E', std::wstring(kHeldE).append(L" | The list may be incomplete.")},
        // The clock runs out while the first round is asked: its answers stay.
        SearchCase{"OutOfTime", [](SimMachine& m) { m.tickCountStep = 200; }, L'E',
                   std::wstring(kHeldE).append(L" | The list may be incomplete.")},
        SearchCase{"VolumeUnreadable",
                   [](SimMachine& m) { m.FindVolume(L'E')->openError = ERROR_NOT_READY; }, L'E',
                   L""}),
    [](const testing::TestParamInfo<SearchCase>& info) { return info.param.situation; });

TEST(VolumeHolderSearchPrivilege, EnabledForTheSearchAndDroppedAfterLsassNeverOpened) {
    SimMachine sim = Workstation();
    sim.AddProcess({700, L"lsass.exe", {{L'E', L"\\secret"}, Mapped(L'E', L"\\x.dll")}});
    sim.AddProcess(Service(3120, L"SearchIndexer.exe", {L"WSearch"}, {{L'E', L"\\i"}}));

    const VolumeHolders found = FindVolumeHolders(sim, VolumeOf(sim, L'E').c_str());

    ASSERT_EQ(found.programs.size(), 4u);
    EXPECT_EQ(found.programs[3].imageName, L"SearchIndexer.exe");
    std::vector<std::string> privilege;
    for (const SimCall& call : sim.Calls()) {
        if (call.method == "AdjustTokenPrivileges")
            privilege.push_back(call.args.substr(call.args.find(' ') + 1));
        EXPECT_FALSE(call.method == "OpenProcess" && call.args.rfind("700 ", 0) == 0);
        EXPECT_FALSE(call.method == "CreateToolhelp32Snapshot" &&
                     call.args.find("700") != std::string::npos);
    }
    EXPECT_EQ(privilege, (std::vector<std::string>{"enable", "disable"}));
    EXPECT_FALSE(sim.debugPrivilegeEnabled);

    // On already: left on, and not touched again.
    sim.debugPrivilegeEnabled = true;
    FindVolumeHolders(sim, VolumeOf(sim, L'E').c_str());
    EXPECT_TRUE(sim.debugPrivilegeEnabled);
    EXPECT_EQ(sim.LeakReport(), "");
}

TEST(VolumeHolderSearchScale, AQuarterMillionHandlesAreSearchedInFull) {
    SimMachine sim;
    const std::wstring volume = bench::BuildBusyHandleTable(sim);

    const VolumeHolders found = FindVolumeHolders(sim, volume.c_str());

    EXPECT_EQ(Lines(found), L"last.exe (20000): E:\\last.txt");
    EXPECT_EQ(sim.LeakReport(), "");
}

TEST(VolumeHolderText, HeadingThenOneProgramALineCutAtTenThenTheClosingLines) {
    VolumeHolders found;
    EXPECT_EQ(DescribeVolumeHolders(found, L"E:"), L"");
    found.incomplete = true;
    EXPECT_EQ(DescribeVolumeHolders(found, L"E:"), L"");
    found.incomplete = false;
    for (DWORD i = 1; i <= 12; ++i)
        found.programs.push_back({L"app" + std::to_wstring(i) + L".exe", i, {}, {}});

    VolumeHolders one;
    one.programs = {found.programs[0]};
    EXPECT_EQ(DescribeVolumeHolders(one, L"E:"),
              L"These programs have files or folders open on drive E:\napp1.exe (1)");
    const std::wstring twelve = DescribeVolumeHolders(found, L"K:");
    EXPECT_EQ(twelve.find(L"drive K:\napp1.exe (1)\n"), twelve.find(L"drive K:"));
    EXPECT_EQ(twelve.substr(twelve.rfind(L"app10")), L"app10.exe (10)\nand 2 more");

    // Nothing named but some refused: the count alone, without the heading.
    VolumeHolders refused;
    refused.notExamined = 2;
    refused.refused = true;
    refused.incomplete = true;
    EXPECT_EQ(DescribeVolumeHolders(refused, L"E:"),
              L"2 other programs could not be examined.\nThe list may be incomplete.");
}

TEST(VolumeHolderText, HeldPathsAreShortenedFromTheMiddle) {
    struct Case {
        const wchar_t* path;
        size_t limit;
        const wchar_t* shown;
    };
    for (const Case& c : {
             Case{L"G:\\Quarterly Report.doc", 60, L"G:\\Quarterly Report.doc"},
             Case{L"G:\\a\\b\\c\\report.doc", 17, L"G:\\...\\report.doc"},
             Case{L"G:\\aa\\bb\\c\\report.doc", 19, L"G:\\...\\c\\report.doc"},
             // The last component alone too long: its end.
             Case{L"G:\\a\\b\\c\\report.doc", 16, L"G:\\...report.doc"},
         })
        EXPECT_EQ(ShortenHeldPath(c.path, c.limit), c.shown) << c.path;
}

}  // namespace
