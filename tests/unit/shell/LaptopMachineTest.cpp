// tests/machines/laptop.json, the machine of today's laptop a user opens with
// scripts/run: each kind of drive it holds is listed and removed as it should
// be, and the disk plugged in after the start reaches the list by itself.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"
#include "tests/unit/support/MachineFiles.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(LaptopMachine, EveryDriveIsListedAndRemovedAsItsKindAsks) {
    SimMachine sim;
    std::string error;
    ASSERT_TRUE(LoadSimMachineFromFile(sim, MachineFile("laptop.json"), error)) << error;
    CTrayhop32App app{sim};
    FakeMainView view;
    CTrayhop32Dlg dlg{app, view};
    view.Connect(dlg);
    sim.deviceChangeTarget = [&](UINT event) { dlg.OnDeviceChange(event, 0); };
    dlg.WatchDeviceInterfaces(reinterpret_cast<HWND>(0x20000));
    dlg.InitDriveTable();
    dlg.InitDriveList();
    auto mountPoints = [&] {
        std::vector<std::wstring> texts;
        for (const auto& row : view.rows) texts.push_back(row.text[2]);
        return texts;
    };
    // The SSD in the dock is held by a virtual machine and still listed;
    // the folder mount and the spanned volume show where they are.
    EXPECT_EQ(mountPoints(), (std::vector<std::wstring>{L"C:", L"E:, F:", L"G:", L"H:", L"V:",
                                                        L"C:\\Backup\\", L"S:", L"S:", L"None",
                                                        L"W:"}));
    EXPECT_EQ(view.rows[0].text[0].rfind(L"(Boot) ", 0), 0u);

    // The new disk has no partition, so no volume broadcast: only the
    // window's interface registration brings it in.
    ASSERT_EQ(sim.AttachDueDevices(5000), 1);
    sim.PumpMessages();
    ASSERT_EQ(view.rows.size(), 11u);
    EXPECT_NE(view.rows[9].text[0].find(L"Seagate"), std::wstring::npos);

    for (size_t row = 1; row < view.rows.size(); ++row)
        view.SetItemChecked(static_cast<int>(row), true);
    // E: stays held by the indexer and Explorer: go on anyway.
    sim.messageBoxAnswers = {IDCONTINUE};
    dlg.OnRemoveDevices();

    ASSERT_GE(sim.messageBoxes.size(), 2u);
    const std::wstring& question = sim.messageBoxes[0].text;
    EXPECT_EQ(question.rfind(L"Files are in use on drive E:", 0), 0u)
        << "G: lets go while it is retried, H: is locked by BitLocker: no question for them";
    EXPECT_NE(question.find(L"SearchIndexer.exe (3120, service WSearch)"), std::wstring::npos);
    const std::wstring& summary = sim.messageBoxes.back().text;
    EXPECT_EQ(summary.find(L"Samsung PSSD T7"), std::wstring::npos) << "held: a restart is asked";
    EXPECT_NE(summary.find(L"The following virtual disks were detached from their image files:"
                           L"\n\nMsft Virtual Disk (build.vhdx)\nMsft Virtual DVD-ROM "
                           L"(ubuntu-24.04-desktop-amd64.iso)"),
              std::wstring::npos);
    const size_t safe = summary.find(L"It is safe to power them down");
    ASSERT_NE(safe, std::wstring::npos);
    for (const wchar_t* removed : {L"SDXC Card", L"SanDisk Ultra", L"WD Elements", L"TOSHIBA",
                                   L"KINGSTON", L"Seagate"})
        EXPECT_LT(summary.find(removed), safe) << removed;
    EXPECT_GT(summary.find(L"Msft Virtual Disk"), safe) << "an image is never safe to pull";
    EXPECT_EQ(mountPoints(), (std::vector<std::wstring>{L"C:", L"E:, F:"}));
    dlg.StopWatchingDeviceInterfaces();
    EXPECT_EQ(sim.LeakReport(), "");
    EXPECT_TRUE(sim.ProgramErrors().empty());
}

}  // namespace
