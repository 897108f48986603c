// The volume walk of the inventory build: every volume is attached to its
// devices with its letter and the folders it is mounted in, lettered or not,
// each probed once; what the volume search cannot tell leaves only folders out.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/inventory/InventoryMachines.h"

#include <functional>
#include <string>

namespace {

using inventory_test::RecordOf;
using inventory_test::SetOption;

const wchar_t* const kArchiveId = L"USBSTOR\\DISK&VEN_ARCHIVE\\1";
const wchar_t* const kSpanId = L"USBSTOR\\DISK&VEN_SPAN\\2";
const wchar_t* const kArchiveVolume = L"\\\\?\\Volume{0000000a-0000-0000-0000-000000000001}\\";
const wchar_t* const kCdVolume = L"\\\\?\\Volume{0000000c-0000-0000-0000-000000000001}\\";

// The boot disk C:; Archive Disk (1) with a volume mounted only at
// C:\Archive\ and one with F: also mounted at C:\Mirror\; a volume G:
// spanned over Archive Disk and Span Disk (2); a DVD drive's volume without
// a letter.
void BuildMachine(SimMachine& sim) {
    sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISKBOOT\\1", L"Boot Disk", 0));
    sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 40000000000LL));
    sim.AddDevice(SimMachine::MakeDisk(kArchiveId, L"Archive Disk", 1, BusTypeUsb));
    sim.AddDevice(SimMachine::MakeDisk(kSpanId, L"Span Disk", 2, BusTypeUsb));
    sim.AddDevice(SimMachine::MakeCdrom(L"IDE\\CDROM\\3", L"DVD Drive", 0));
    SimVolume archive = SimMachine::MakeVolume(0, 1, 1000);
    archive.guidPath = kArchiveVolume;
    archive.mountFolders = {L"C:\\Archive\\"};
    sim.AddVolume(archive);
    SimVolume mirror = SimMachine::MakeVolume(L'F', 1, 2000);
    mirror.mountFolders = {L"C:\\Mirror\\"};
    sim.AddVolume(mirror);
    SimVolume spanned = SimMachine::MakeVolume(L'G', 1, 3000);
    spanned.extents.push_back(SimExtent{2, 0, 4000});
    sim.AddVolume(spanned);
    SimVolume cd = SimMachine::MakeVolume(0, 0, 0, DRIVE_CDROM);
    cd.guidPath = kCdVolume;
    cd.extents.clear();
    cd.extentsError = ERROR_INVALID_FUNCTION;
    cd.deviceInstanceId = L"IDE\\CDROM\\3";
    sim.AddVolume(cd);
}

size_t Probes(const SimMachine& sim, const std::wstring& guidPath) {
    const std::string bare(guidPath.begin(), guidPath.end() - 1);
    size_t probes = 0;
    for (const SimCall& call : sim.Calls())
        if (call.method == "CreateFileW" && call.args == "\"" + bare + "\" access 0x0 share 1")
            ++probes;
    return probes;
}

struct WalkCase {
    const char* situation;
    std::function<void(SimMachine&)> change;
    const wchar_t* archiveMounts;
    LONG archiveVolumes;
    size_t cdProbes;
};

TEST(VolumeWalk, EveryVolumeIsAttachedOnceWithItsLetterAndFolders) {
    const WalkCase cases[] = {
        {"every volume", nullptr, L"F:, G:, C:\\Mirror\\, C:\\Archive\\", 3, 0},
        {"DVD drives shown", [](SimMachine& m) { SetOption(m, L"IgnoreCDROM", L"0"); },
         L"F:, G:, C:\\Mirror\\, C:\\Archive\\", 3, 1},
        // Then only the drive letters are known, as before.
        {"the volume search fails",
         [](SimMachine& m) { m.FailMethod("FindFirstVolumeW", 1, ERROR_NOT_ENOUGH_MEMORY); },
         L"F:, G:", 2, 0},
        {"the search ends early",
         [](SimMachine& m) { m.FailMethod("FindNextVolumeW", 2, ERROR_FILENAME_EXCED_RANGE); },
         L"F:, G:, C:\\Archive\\", 3, 0},
        {"a volume's mount points cannot be read",
         [](SimMachine& m) {
             m.FailMethod("GetVolumePathNamesForVolumeNameW", 2, ERROR_FILE_NOT_FOUND);
         },
         L"F:, G:, C:\\Mirror\\", 3, 0},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.situation);
        SimMachine sim;
        BuildMachine(sim);
        if (c.change) c.change(sim);
        CTrayhop32App app(sim);
        app.RebuildDriveTable();

        const DriveRecord* archive = RecordOf(app.m_driveTable, kArchiveId);
        const DriveRecord* span = RecordOf(app.m_driveTable, kSpanId);
        ASSERT_TRUE(archive != nullptr && span != nullptr);
        EXPECT_EQ(archive->MountPointText(), c.archiveMounts);
        EXPECT_EQ(archive->volumeCount, c.archiveVolumes);
        EXPECT_EQ(archive->LetterText(), L"FG");
        EXPECT_EQ(span->MountPointText(), L"G:");
        // G: lies on both disks, each of which knows it.
        EXPECT_EQ(archive->volumeDiskCounts[1], 2);
        EXPECT_EQ(span->volumeDiskCounts[0], 2);
        EXPECT_EQ(archive->volumeDiskCounts[0], 1);
        EXPECT_LE(Probes(sim, kArchiveVolume), 1u);
        EXPECT_EQ(Probes(sim, kCdVolume), c.cdProbes);
        EXPECT_EQ(Probes(sim, sim.FindVolume(L'F')->guidPath), 1u);
        EXPECT_EQ(RecordOf(app.m_driveTable, L"IDE\\DISKBOOT\\1")->MountPointText(), L"C:");
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_TRUE(sim.ProgramErrors().empty());
    }
}

// A list of mount points longer than the first buffer is asked for again
// with the size the system gives.
TEST(VolumeWalk, ALongListOfFoldersIsReadWhole) {
    SimMachine sim;
    BuildMachine(sim);
    std::wstring expected = L"F:, G:, C:\\Mirror\\, C:\\Archive\\";
    SimVolume many = SimMachine::MakeVolume(0, 1, 5000);
    many.guidPath = L"\\\\?\\Volume{0000000f-0000-0000-0000-000000000001}\\";
    for (int i = 0; i < 40; ++i) {
        many.mountFolders.push_back(L"C:\\Projects\\Customer " + std::to_wstring(i) + L"\\");
        expected += L", " + many.mountFolders.back();
    }
    sim.AddVolume(many);
    CTrayhop32App app(sim);
    app.RebuildDriveTable();
    const DriveRecord* archive = RecordOf(app.m_driveTable, kArchiveId);
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->MountPointText(), expected);
    EXPECT_EQ("", sim.LeakReport());
}

}  // namespace
