// Remove Devices over volumes that have no drive letter or lie on two disks:
// a folder-mounted volume is lock-tested, named by its folder, searched for
// holders and announced by its folder; a volume spread over a ticked and an
// unticked disk asks before half of it goes, and is lock-tested once.
#include <gtest/gtest.h>

#include "app/Trayhop32App.h"
#include "app/Trayhop32Dlg.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/FakeMainView.h"

#include <optional>
#include <string>
#include <vector>

namespace {

const wchar_t* const kBackupId = L"USBSTOR\\DISK&VEN_BACKUP\\1";
const wchar_t* const kPhotoId = L"USBSTOR\\DISK&VEN_PHOTO\\2";
const wchar_t* const kSpanAId = L"USBSTOR\\DISK&VEN_SPAN&PROD_A\\3";
const wchar_t* const kSpanBId = L"USBSTOR\\DISK&VEN_SPAN&PROD_B\\4";

std::wstring GuidPath(int n) {
    return L"\\\\?\\Volume{00000000-0000-0000-0000-0000000000" + std::to_wstring(10 + n) + L"}\\";
}

struct MountedVolumesTest : ::testing::Test {
    SimMachine sim;
    CTrayhop32App app{sim};
    FakeMainView view;
    std::optional<CTrayhop32Dlg> dlg;
    SimVolume* nowhere = nullptr;  // Backup Disk's volume mounted nowhere

    // The boot disk C:; Backup Disk with a volume mounted only in the folder
    // Backup of C: and one mounted nowhere; Photo Disk with E:, also mounted
    // in the folder Photos of C:; and a volume S: spanned over Span A and B.
    MountedVolumesTest() {
        sim.SetEnvironmentVariable(L"SystemDrive", L"C:");
        sim.AddDevice(SimMachine::MakeDisk(L"IDE\\DISKBOOT\\1", L"Boot Disk", 0));
        sim.AddVolume(SimMachine::MakeVolume(L'C', 0, 40000000000LL));
        AddDisk(kBackupId, L"Backup Disk", 1);
        AddVolumeOn(0, 1, {L"C:\\Backup\\"});
        nowhere = &AddVolumeOn(0, 1, {});
        AddDisk(kPhotoId, L"Photo Disk", 2);
        AddVolumeOn(L'E', 2, {L"C:\\Photos\\"});
        AddDisk(kSpanAId, L"Span A", 3);
        AddDisk(kSpanBId, L"Span B", 4);
        SimVolume& spanned = AddVolumeOn(L'S', 3, {});
        spanned.extents.push_back(SimExtent{4, 32256, 3000000000LL});
    }
    void AddDisk(const wchar_t* id, const wchar_t* name, DWORD number) {
        sim.AddDevice(SimMachine::MakeDisk(id, name, number, BusTypeUsb, 8000000000ULL));
    }
    SimVolume& AddVolumeOn(wchar_t letter, DWORD disk, std::vector<std::wstring> folders) {
        SimVolume v = SimMachine::MakeVolume(letter, disk, 3000000000LL, DRIVE_REMOVABLE);
        v.guidPath = GuidPath(static_cast<int>(sim.Volumes().size()));
        v.mountFolders = std::move(folders);
        return sim.AddVolume(v);
    }
    void Open() {
        dlg.emplace(app, view);
        view.Connect(*dlg);
        dlg->InitDriveTable();
        dlg->InitDriveList();
    }
    void TearDown() override {
        EXPECT_EQ("", sim.LeakReport());
        EXPECT_TRUE(sim.ProgramErrors().empty()) << sim.ProgramErrors().front();
        EXPECT_TRUE(app.m_bRefreshAllowed);
    }
    int RowOf(const std::wstring& name) {
        for (int i = 0; i < view.GetItemCount(); ++i)
            if (view.Text(i, 0) == name) return i;
        ADD_FAILURE() << "no row for the device";
        return -1;
    }
    void Tick(const std::wstring& name) { view.SetItemChecked(RowOf(name), true); }
    bool Gone(const std::wstring& id) { return sim.FindDevice(id) == nullptr; }
    std::vector<std::pair<LONG, std::wstring>> Notices() const {
        std::vector<std::pair<LONG, std::wstring>> notices;
        for (const SimShellNotice& n : sim.shellNotices) notices.emplace_back(n.eventId, n.path);
        return notices;
    }
    // Lock-test opens of a volume: read access, sharing reads and writes.
    size_t LockOpens(const std::wstring& guidPath) const {
        const std::string bare(guidPath.begin(), guidPath.end() - 1);
        size_t opens = 0;
        for (const SimCall& call : sim.Calls())
            if (call.method == "CreateFileW" &&
                call.args == "\"" + bare + "\" access 0x80000000 share 3")
                ++opens;
        return opens;
    }
};

std::wstring FilesInUseOn(const std::wstring& mountPoint, const std::wstring& name) {
    return L"Files are in use on drive " + mountPoint + L" of device:\n\n" + name +
           L"\n\nMake sure Explorer is not open to a folder on drive " + mountPoint +
           L",\nclose files in other applications that may be open on drive " + mountPoint +
           L",\nthen press the 'Try Again' button.  To ignore this error and\ntry to remove "
           L"this device anyway, press the 'Continue' button,     \nor press the 'Cancel' "
           L"button to stop trying to remove devices.\n\n";
}

// A volume without a letter is lock-tested like any other; the question
// names its folder (or, mounted nowhere, its GUID path) where it names a
// letter, and the programs under it are the ones holding that volume.
TEST_F(MountedVolumesTest, AVolumeWithoutALetterThatIsInUseIsAskedAboutByItsFolder) {
    sim.AddProcess({2000, L"backup.exe", {{L'C', L"\\Backup\\set1.bak", false, false}}, false});
    sim.AddProcess({3000, L"notepad.exe", {{L'C', L"\\notes.txt", false, false}}, false});
    Open();
    Tick(L"Backup Disk");
    sim.messageBoxAnswers = {IDCANCEL};
    dlg->OnRemoveDevices();
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text,
              FilesInUseOn(L"C:\\Backup\\", L"Backup Disk") +
                  L"These programs have files or folders open on drive C:\\Backup\\\nbackup.exe "
                  L"(2000): C:\\Backup\\set1.bak");
    EXPECT_FALSE(Gone(kBackupId));

    // Mounted nowhere, it is named by its GUID path.
    sim.EndProcess(2000);
    sim.messageBoxes.clear();
    nowhere->filesOpen = true;
    Tick(L"Backup Disk");
    sim.messageBoxAnswers = {IDCANCEL};
    dlg->OnRemoveDevices();
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    const std::wstring nowhere = GuidPath(2);
    EXPECT_EQ(sim.messageBoxes[0].text,
              FilesInUseOn(nowhere.substr(0, nowhere.size() - 1), L"Backup Disk"));
}

TEST_F(MountedVolumesTest, TheShellIsToldOfLettersAndOfTheFoldersOfVolumesWithoutOne) {
    Open();
    Tick(L"Backup Disk");
    Tick(L"Photo Disk");
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(kBackupId));
    EXPECT_TRUE(Gone(kPhotoId));
    EXPECT_EQ(Notices(), (std::vector<std::pair<LONG, std::wstring>>{
                             {SHCNE_UPDATEDIR, L"C:\\Backup\\"}, {SHCNE_DRIVEREMOVED, L"E:\\"}}));
    // Its three volumes were lock-tested and flushed.
    for (int v = 1; v <= 3; ++v) EXPECT_EQ(LockOpens(GuidPath(v)), 1u) << v;
    EXPECT_EQ(sim.CallCount("FlushFileBuffers"), 3u);
}

const wchar_t* const kSharedQuestion =
    L"The volume on drive S: of device:\n\nSpan A\n\nalso lies on device:\n\nSpan B\n\nwhich is "
    L"not selected for removal. Removing\nthis device takes the whole volume away\nfrom both of "
    L"them.\n\nPress the 'Yes' button to remove this device\nanyway, the 'No' button to skip "
    L"removing it,\nor the 'Cancel' button to stop this action\nand not remove any devices.     ";

struct SharedCase {
    const char* name;
    std::optional<int> answer;  // none: the user presses Enter
    bool removed;
    size_t boxes;  // the question, and the report when one is given
    size_t beeps;  // nothing left to remove is answered with a beep
};

class SharedVolumeAnswers : public MountedVolumesTest,
                            public ::testing::WithParamInterface<SharedCase> {};

TEST_P(SharedVolumeAnswers, DecideTheDevice) {
    const SharedCase& c = GetParam();
    Open();
    Tick(L"Span A");
    if (c.answer) sim.messageBoxAnswers = {*c.answer};
    dlg->OnRemoveDevices();
    ASSERT_GE(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text, kSharedQuestion);
    EXPECT_EQ(sim.messageBoxes[0].flags,
              static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_EQ(Gone(kSpanAId), c.removed);
    EXPECT_FALSE(Gone(kSpanBId));
    EXPECT_EQ(LockOpens(GuidPath(4)), c.removed ? 1u : 0u) << "tested only when going on";
    EXPECT_EQ(sim.messageBoxes.size(), c.boxes);
    EXPECT_EQ(sim.beeps.size(), c.beeps);
}

INSTANTIATE_TEST_SUITE_P(
    RemoveCommand, SharedVolumeAnswers,
    ::testing::Values(SharedCase{"YesRemovesIt", IDYES, true, 2, 0},
                      // Skipped, nothing is left to remove: the beep, no report.
                      SharedCase{"NoSkipsIt", IDNO, false, 1, 1},
                      SharedCase{"EnterSkipsIt", std::nullopt, false, 1, 1},
                      SharedCase{"CancelStops", IDCANCEL, false, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MountedVolumesTest, ASpannedVolumeOfTwoTickedDisksIsTestedOnceWithoutAQuestion) {
    Open();
    Tick(L"Span A");
    Tick(L"Span B");
    dlg->OnRemoveDevices();
    EXPECT_TRUE(Gone(kSpanAId));
    EXPECT_TRUE(Gone(kSpanBId));
    EXPECT_EQ(LockOpens(GuidPath(4)), 1u);
    ASSERT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(sim.messageBoxes[0].text.rfind(L"The following devices were successfully", 0), 0u);
}

// Span B is ticked with Span A but then skipped (its other volume U: also lies
// on Span C, not ticked): Span A, which came through first, would still take
// half of S: away, so it is asked about, naming Span B as left in place.
struct HalfLeftCase {
    const char* name;
    int answer;
    bool removed;
};

class HalfLeftBehind : public MountedVolumesTest,
                       public ::testing::WithParamInterface<HalfLeftCase> {};

TEST_P(HalfLeftBehind, IsAskedAboutOnceTheOtherDeviceIsSkipped) {
    AddDisk(L"USBSTOR\\DISK&VEN_SPAN&PROD_C\\5", L"Span C", 5);
    AddVolumeOn(L'U', 4, {}).extents.push_back(SimExtent{5, 32256, 3000000000LL});
    Open();
    Tick(L"Span A");
    Tick(L"Span B");
    sim.messageBoxAnswers = {IDNO, GetParam().answer};
    dlg->OnRemoveDevices();
    ASSERT_GE(sim.messageBoxes.size(), 2u);
    std::wstring expected = kSharedQuestion;
    expected.replace(expected.find(L"not selected for removal"), 24, L"being left in the system");
    EXPECT_EQ(sim.messageBoxes[1].text, expected);
    EXPECT_EQ(Gone(kSpanAId), GetParam().removed);
    EXPECT_FALSE(Gone(kSpanBId));
}

INSTANTIATE_TEST_SUITE_P(RemoveCommand, HalfLeftBehind,
                         ::testing::Values(HalfLeftCase{"YesRemovesIt", IDYES, true},
                                           HalfLeftCase{"NoKeepsTheVolumeWhole", IDNO, false},
                                           HalfLeftCase{"CancelStops", IDCANCEL, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The other disk is on a bus the options leave out of the list: it is named
// as such, and skipping keeps the volume whole.
TEST_F(MountedVolumesTest, TheOtherDiskOfASpannedVolumeMayBeOneTheListLeavesOut) {
    sim.FindDevice(kSpanBId)->storage.busType = BusTypeRAID;
    Open();
    ASSERT_EQ(view.GetItemCount(), 4);
    Tick(L"Span A");
    sim.messageBoxAnswers = {IDNO};
    dlg->OnRemoveDevices();
    ASSERT_GE(sim.messageBoxes.size(), 1u);
    std::wstring expected = kSharedQuestion;
    expected.replace(expected.find(L"Span B"), 6, L"a disk that is not in the list");
    EXPECT_EQ(sim.messageBoxes[0].text, expected);
    EXPECT_FALSE(Gone(kSpanAId));
}

}  // namespace
