// The search for the programs that hold a volume, over the simulated
// machine: who is named for which drive, what is passed over, and that any
// doubt (an unreadable table, a missing call, no thread, no time) names no one.
#include "removal/VolumeHolders.h"

#include "platform/sim/SimMachine.h"

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
    sim.AddProcess({2000, L"notepad.exe", {{L'E', L"\\May.txt", false, false}}, false});
    sim.AddProcess({3000,
                    L"explorer.exe",
                    {{L'C', L"\\WINDOWS", true, false}, {L'E', L"\\Photos", true, false}},
                    false});
    sim.AddProcess({4000, L"WINWORD.EXE", {{L'F', L"\\Report.doc", false, false}}, false});
    sim.AddProcess({5000,
                    L"Acme.exe",
                    {{L'E', L"\\a.dat", false, false}, {L'E', L"\\b.dat", false, false}},
                    false});
    sim.AddProcess({6000, L"cmd.exe", {{0, L"\\build", false, true}}, false});
    return sim;
}

std::wstring Names(const std::vector<VolumeHolder>& holders) {
    std::wstring text;
    for (const auto& h : holders) text += h.imageName + L"(" + std::to_wstring(h.processId) + L") ";
    return text;
}

struct SearchCase {
    const char* situation;
    std::function<void(SimMachine&)> change;
    WCHAR letter;
    const wchar_t* named;  // what Names() gives
};

class VolumeHolderSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(VolumeHolderSearch, NamesTheProgramsOnThatVolumeOnly) {
    const SearchCase& c = GetParam();
    SimMachine sim = Workstation();
    if (c.change) c.change(sim);

    EXPECT_EQ(Names(FindVolumeHolders(sim, c.letter)), c.named);
    EXPECT_EQ(sim.LeakReport(), "");
    EXPECT_TRUE(sim.ProgramErrors().empty()) << sim.ProgramErrors().front();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VolumeHolderSearch,
    testing::Values(
        SearchCase{"HeldE", nullptr, L'E', L"Acme.exe(5000) explorer.exe(3000) notepad.exe(2000) "},
        SearchCase{"HeldF", nullptr, L'F', L"WINWORD.EXE(4000) "},
        SearchCase{"FreeG", nullptr, L'G', L""},
        // Systems before the extended table: 16-bit ids and handle values.
        SearchCase{"OlderTable", [](SimMachine& m) { m.handleTable = SimHandleTable::Basic; }, L'E',
                   L"Acme.exe(5000) explorer.exe(3000) notepad.exe(2000) "},
        SearchCase{"OlderTableWithLongProcessIds",
                   [](SimMachine& m) {
                       m.handleTable = SimHandleTable::Basic;
                       m.AddProcess({0x12340, L"late.exe", {}, false});
                   },
                   L'E', L""},
        SearchCase{"NoRightsToOne", [](SimMachine& m) { m.FindProcess(3000)->accessDenied = true; },
                   L'E', L"Acme.exe(5000) notepad.exe(2000) "},
        // Ended after the table was read: the system no longer knows its id.
        SearchCase{"OneEndsMidSearch",
                   [](SimMachine& m) { m.FailMethod("OpenProcess", 1, ERROR_INVALID_PARAMETER); },
                   L'E', L"Acme.exe(5000) explorer.exe(3000) "},
        // One of Acme's two files closed in between: the other still counts.
        SearchCase{"AHandleClosedMidSearch",
                   [](SimMachine& m) { m.FailMethod("DuplicateHandle", 4, ERROR_INVALID_HANDLE); },
                   L'E', L"Acme.exe(5000) explorer.exe(3000) notepad.exe(2000) "},
        SearchCase{"NoNativeCalls", [](SimMachine& m) { m.handleTable = SimHandleTable::Missing; },
                   L'E', L""},
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
            "WaitFails",
            [](SimMachine& m) { m.FailMethod("WaitForSingleObject", 1, ERROR_INVALID_HANDLE); },
            L'E', L""},
        SearchCase{"OutOfTime", [](SimMachine& m) { m.tickCountStep = 200; }, L'E', L""},
        SearchCase{"VolumeUnreadable",
                   [](SimMachine& m) { m.FindVolume(L'E')->openError = ERROR_NOT_READY; }, L'E',
                   L""}),
    [](const testing::TestParamInfo<SearchCase>& info) { return info.param.situation; });

TEST(VolumeHolderText, HeadingThenOneProgramALineCutAtTen) {
    std::vector<VolumeHolder> holders;
    EXPECT_EQ(DescribeVolumeHolders(holders, L'E'), L"");
    for (DWORD i = 1; i <= 12; ++i) holders.push_back({L"app" + std::to_wstring(i) + L".exe", i});

    EXPECT_EQ(DescribeVolumeHolders({holders.begin(), holders.begin() + 1}, L'E'),
              L"These programs have files or folders open on drive E:\napp1.exe (1)");
    EXPECT_EQ(DescribeVolumeHolders({holders.begin(), holders.begin() + 10}, L'E'),
              L"These programs have files or folders open on drive E:\napp1.exe (1)\napp2.exe "
              L"(2)\napp3.exe (3)\napp4.exe (4)\napp5.exe (5)\napp6.exe (6)\napp7.exe "
              L"(7)\napp8.exe (8)\napp9.exe (9)\napp10.exe (10)");
    const std::wstring twelve = DescribeVolumeHolders(holders, L'K');
    EXPECT_EQ(twelve.find(L"drive K:\napp1.exe (1)\n"), twelve.find(L"drive K:"));
    EXPECT_EQ(twelve.substr(twelve.rfind(L"app10")), L"app10.exe (10)\nand 2 more");
}

}  // namespace
