// tests/machines/mounted-images.json, the machine a user opens with
// scripts/run to see today's drives: everything but the system disk ticked
// and removed in one go ends in one box that calls only the two sticks safe.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"
#include "tests/unit/support/MachineFiles.h"

#include <filesystem>
#include <string>

namespace {

TEST(MountedImagesMachine, RemovingEverythingButTheSystemDiskReportsEachKindApart) {
    SimMachine sim;
    std::string error;
    ASSERT_TRUE(LoadSimMachineFromFile(sim, MachineFile("mounted-images.json"), error)) << error;
    CTrayhop32App app{sim};
    FakeMainView view;
    CTrayhop32Dlg dlg{app, view};
    view.Connect(dlg);
    dlg.InitDriveTable();
    dlg.InitDriveList();
    ASSERT_EQ(view.rows.size(), 7u);
    for (size_t row = 0; row < view.rows.size(); ++row)
        if (view.rows[row].text[2] != L"C:, D:") view.SetItemChecked(static_cast<int>(row), true);

    dlg.OnRemoveDevices();

    ASSERT_EQ(sim.messageBoxes.size(), 1u) << "no question: E: lets go, F: is locked";
    EXPECT_EQ(sim.messageBoxes[0].text,
              L"The following devices were successfully removed:    \n\n"
              L"Kingston DataTraveler 3.0 USB Device\nSanDisk Ultra USB Device\n\n\n"
              L"It is safe to power them down and remove them.\n\n\n"
              L"The following virtual disks were detached from their image files:\n\n"
              L"Msft Virtual Disk (build.vhdx)\nMsft Virtual DVD-ROM "
              L"(Win10_22H2_English_x32.iso)\n\n"
              L"They are not devices to unplug; their image files are no longer in use.\n\n\n"
              L"The following virtual disk could not be detached:\n\n"
              L"Msft Virtual Disk (source.vhdx): The process cannot access the file because it "
              L"is being used by another process.\n\n"
              L"It is still attached. Eject it in Explorer or detach it in Disk Management.\n\n\n"
              L"The following Storage Spaces virtual disk was left in place:\n\n"
              L"Microsoft Storage Space Device\n\n"
              L"A storage space is not a device to unplug. Take it offline in Storage Spaces "
              L"before you remove the drives of its pool.");
    std::vector<std::wstring> left;
    for (const auto& row : view.rows) left.push_back(row.text[2]);
    EXPECT_EQ(left, (std::vector<std::wstring>{L"C:, D:", L"X:", L"S:"}));
    EXPECT_EQ(sim.LeakReport(), "");
    EXPECT_TRUE(sim.ProgramErrors().empty());
}

}  // namespace
