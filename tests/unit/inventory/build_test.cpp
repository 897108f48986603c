#include "app/Trayhop32App.h"
#include "app/UserInterface.h"
#include "inventory/Enumerate.h"
#include "tests/unit/inventory/InventoryMachines.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace inventory_test;

namespace {

class CountingCursor : public UserInterface {
public:
    void BeginWaitCursor() override { ++begun; }
    void EndWaitCursor() override { ++ended; }
    int begun = 0;
    int ended = 0;
};

bool CalledWith(const SimMachine& sim, const std::string& method, const std::string& text) {
    for (const SimCall& call : sim.Calls())
        if (call.method == method && call.args.find(text) != std::string::npos) return true;
    return false;
}

std::vector<std::wstring> BoxTexts(const SimMachine& sim) {
    std::vector<std::wstring> texts;
    for (const SimMessageBox& box : sim.messageBoxes) texts.push_back(box.text);
    return texts;
}

void ExpectNothingOpen(const SimMachine& sim) {
    EXPECT_EQ("", sim.LeakReport());
    EXPECT_TRUE(sim.ProgramErrors().empty()) << sim.ProgramErrors().front();
}

}  // namespace

TEST(InventoryBuild, WorkstationWithEveryKindShown) {
    SimMachine sim;
    BuildWorkstation(sim);
    ShowEverything(sim);
    CTrayhop32App app(sim);
    CountingCursor cursor;
    app.m_pUserInterface = &cursor;

    EXPECT_EQ(0, app.RebuildDriveTable());

    const DriveTable& table = app.m_driveTable;
    EXPECT_EQ(
        (std::vector<std::wstring>{ws::kBootDisk, ws::kDataDisk, ws::kUsbFlash, ws::kCardReader,
                                   ws::kFirewireDisk, ws::kDvdWithDisc, ws::kDvdEmpty, ws::kTape}),
        TableIds(table));
    EXPECT_EQ(L"C", LettersOf(table, ws::kBootDisk));
    EXPECT_EQ(L"DE", LettersOf(table, ws::kDataDisk));
    EXPECT_EQ(L"F", LettersOf(table, ws::kUsbFlash));
    EXPECT_EQ(L"G", LettersOf(table, ws::kCardReader));
    EXPECT_EQ(L"J", LettersOf(table, ws::kFirewireDisk));
    EXPECT_EQ(L"H", LettersOf(table, ws::kDvdWithDisc));
    EXPECT_EQ(L"I", LettersOf(table, ws::kDvdEmpty));
    EXPECT_EQ(L"", LettersOf(table, ws::kTape));
    EXPECT_EQ(L"None", RecordOf(table, ws::kTape)->MountPointText());

    const DriveRecord& boot = *RecordOf(table, ws::kBootDisk);
    EXPECT_TRUE(boot.isBootDrive);
    EXPECT_TRUE(boot.hasPageFile);
    EXPECT_EQ(L"WDC WD800JD-00LSA0", std::wstring(boot.deviceName));
    EXPECT_EQ(0, boot.deviceNumber);
    EXPECT_EQ(BusTypeAta, boot.busType);
    EXPECT_EQ(9726LL * 255 * 63 * 512, boot.capacity);
    EXPECT_EQ(FILE_DEVICE_DISK, boot.mediaDeviceType);
    EXPECT_EQ(FixedMedia, boot.mediaType);
    EXPECT_EQ(L"     WD-WMAM9AB12345", std::wstring(boot.serialNumber));
    for (int i = 1; i < table.Count(); ++i) {
        EXPECT_FALSE(table[i].isBootDrive) << i;
        EXPECT_FALSE(table[i].hasPageFile) << i;
    }

    // Extents give the length on the disk; letter-only volumes give 0.
    EXPECT_EQ(150ll * 1000 * 1000 * 1000, RecordOf(table, ws::kDataDisk)->volumeExtentLengths[1]);
    EXPECT_EQ(0, RecordOf(table, ws::kDvdWithDisc)->volumeExtentLengths[0]);

    const DriveRecord& flash = *RecordOf(table, ws::kUsbFlash);
    EXPECT_TRUE(flash.removableMedia);
    EXPECT_EQ(L"USBSTOR\\DISK&VEN_SANDISK_&PROD_CRUZER__________&REV_8.02\\",
              std::wstring(flash.storageId));

    const DriveRecord& reader = *RecordOf(table, ws::kCardReader);
    EXPECT_EQ(0, reader.capacity);
    EXPECT_EQ(FILE_DEVICE_UNKNOWN, reader.mediaDeviceType);
    EXPECT_EQ(0, reader.mediaType);

    const DriveRecord& dvd = *RecordOf(table, ws::kDvdWithDisc);
    EXPECT_EQ(2295LL * 64 * 32 * 2048, dvd.capacity);
    EXPECT_EQ(FILE_DEVICE_DVD, dvd.mediaDeviceType);
    EXPECT_EQ(5, dvd.scsiDeviceType);
    const DriveRecord& empty = *RecordOf(table, ws::kDvdEmpty);
    EXPECT_EQ(0, empty.capacity);
    EXPECT_EQ(0, empty.mediaType);
    EXPECT_EQ(0u, empty.mediaCharacteristics);

    const DriveRecord& tape = *RecordOf(table, ws::kTape);
    EXPECT_EQ(20ll * 1000 * 1000 * 1000, tape.capacity);
    EXPECT_EQ(FILE_DEVICE_TAPE, tape.mediaDeviceType);
    EXPECT_EQ(0x31, tape.mediaType);

    // Empty drives answer "not ready", which is expected and not shown.
    EXPECT_EQ(std::vector<std::wstring>{}, BoxTexts(sim));
    EXPECT_EQ(1, cursor.begun);
    EXPECT_EQ(1, cursor.ended);
    EXPECT_FALSE(app.m_bBuildInProgress);
    ExpectNothingOpen(sim);
}

TEST(InventoryBuild, WorkstationWithoutOptionsShowsDisksOnly) {
    SimMachine sim;
    BuildWorkstation(sim);
    CTrayhop32App app(sim);
    app.RebuildDriveTable();

    EXPECT_EQ((std::vector<std::wstring>{ws::kBootDisk, ws::kDataDisk, ws::kUsbFlash,
                                         ws::kCardReader, ws::kFirewireDisk}),
              TableIds(app.m_driveTable));
    // CD/DVD letters are not even asked for their volume.
    EXPECT_FALSE(CalledWith(sim, "GetVolumeNameForVolumeMountPointW", "H:"));
    EXPECT_FALSE(CalledWith(sim, "GetVolumeNameForVolumeMountPointW", "I:"));
    EXPECT_FALSE(CalledWith(sim, "SetupDiClassGuidsFromNameExW", "CDROM"));
    EXPECT_FALSE(CalledWith(sim, "SetupDiClassGuidsFromNameExW", "TapeDrive"));
    ExpectNothingOpen(sim);
}

TEST(InventoryBuild, ServerSpannedFragmentedAndSkippedLetters) {
    SimMachine sim;
    BuildServer(sim);
    ShowEverything(sim);
    CTrayhop32App app(sim);
    app.RebuildDriveTable();

    const DriveTable& table = app.m_driveTable;
    EXPECT_EQ(
        (std::vector<std::wstring>{srv::kRaidDisk, srv::kSasDisk1, srv::kSasDisk2, srv::kSasDisk3}),
        TableIds(table));
    EXPECT_EQ(L"C", LettersOf(table, srv::kRaidDisk));
    // The spanned volume is on both disks, with each disk's own share.
    EXPECT_EQ(L"S", LettersOf(table, srv::kSasDisk1));
    EXPECT_EQ(L"S", LettersOf(table, srv::kSasDisk2));
    EXPECT_EQ(200ll * 1000 * 1000 * 1000, RecordOf(table, srv::kSasDisk2)->volumeExtentLengths[0]);
    // 28 extents do not fit the buffer: the system's text is shown and T: is left out.
    EXPECT_EQ(L"", LettersOf(table, srv::kSasDisk3));
    EXPECT_EQ(std::vector<std::wstring>{L"More data is available.\r\n"}, BoxTexts(sim));
    EXPECT_EQ(10, RecordOf(table, srv::kSasDisk3)->busType);

    // Network, RAM disk and SUBST letters never reach the probe.
    EXPECT_FALSE(CalledWith(sim, "GetVolumeNameForVolumeMountPointW", "N:"));
    EXPECT_FALSE(CalledWith(sim, "GetVolumeNameForVolumeMountPointW", "R:"));
    EXPECT_TRUE(CalledWith(sim, "GetVolumeNameForVolumeMountPointW", "P:"));
    EXPECT_FALSE(CalledWith(sim, "CreateFileW", "Volume{5e1d0c50"));

    // A page file on the spanned S: marks only the first disk holding it.
    EXPECT_TRUE(RecordOf(table, srv::kRaidDisk)->isBootDrive);
    EXPECT_TRUE(RecordOf(table, srv::kRaidDisk)->hasPageFile);
    EXPECT_TRUE(RecordOf(table, srv::kSasDisk1)->hasPageFile);
    EXPECT_FALSE(RecordOf(table, srv::kSasDisk2)->hasPageFile);
    ExpectNothingOpen(sim);
}

TEST(InventoryBuild, ServerWithoutOptionsHidesRaidAndItsMarks) {
    SimMachine sim;
    BuildServer(sim);
    CTrayhop32App app(sim);
    app.RebuildDriveTable();

    EXPECT_EQ((std::vector<std::wstring>{srv::kSasDisk1, srv::kSasDisk2, srv::kSasDisk3}),
              TableIds(app.m_driveTable));
    for (int i = 0; i < app.m_driveTable.Count(); ++i)
        EXPECT_FALSE(app.m_driveTable[i].isBootDrive);
    EXPECT_EQ(nullptr, app.m_driveTable.FindByLetter(L'C'));
    ExpectNothingOpen(sim);
}

// Windows numbers disks, CD-ROM drives and tape drives separately. With the
// RAID disk 0 hidden, its C: must not land on CdRom0 or Tape0.
TEST(InventoryBuild, DeviceNumbersCountPerDeviceType) {
    SimMachine sim;
    BuildServer(sim);
    const std::wstring dvd = L"IDE\\CDROMSIM\\0", tape = L"SCSI\\SEQUENTIALSIM\\0";
    sim.AddDevice(SimMachine::MakeCdrom(dvd, L"DVD Drive", 0));
    sim.AddDevice(SimMachine::MakeTape(tape, L"Tape Drive", 0));
    sim.AddVolume(LetterOnlyVolume(L'H', DRIVE_CDROM, dvd, ERROR_INVALID_FUNCTION));
    SetOption(sim, L"IgnoreCDROM", L"0");
    SetOption(sim, L"IgnoreTape", L"0");
    CTrayhop32App app(sim);
    app.RebuildDriveTable();

    EXPECT_EQ(L"H", LettersOf(app.m_driveTable, dvd));
    EXPECT_EQ(L"", LettersOf(app.m_driveTable, tape));
    EXPECT_EQ(nullptr, app.m_driveTable.FindByLetter(L'C'));
    for (int i = 0; i < app.m_driveTable.Count(); ++i) {
        EXPECT_FALSE(app.m_driveTable[i].isBootDrive);
        EXPECT_FALSE(app.m_driveTable[i].hasPageFile && app.m_driveTable[i].letterCount == 0);
    }
    ExpectNothingOpen(sim);
}

// On XP, removable volumes refuse the extents request; two identical sticks
// without serial numbers share one storage identifier, so only the volume's
// own device number tells their letters apart.
TEST(InventoryBuild, IdenticalSticksWithoutExtentsKeepTheirOwnLetters) {
    SimMachine sim;
    sim.removableVolumesWithoutExtents = true;
    const std::wstring first = L"USBSTOR\\DISK&VEN_SAME\\1", second = L"USBSTOR\\DISK&VEN_SAME\\2";
    for (DWORD n = 1; n <= 2; ++n) {
        SimDevice stick = SimMachine::MakeDisk(n == 1 ? first : second, L"Same Stick", n,
                                               BusTypeUsb, 2ull * 1000 * 1000 * 1000);
        stick.storage.serial = std::nullopt;
        sim.AddDevice(stick);
        sim.AddVolume(SimMachine::MakeVolume(static_cast<WCHAR>(L'D' + n), n, 1000000,
                                             DRIVE_REMOVABLE));
    }
    CTrayhop32App app(sim);
    app.RebuildDriveTable();

    EXPECT_EQ(L"E", LettersOf(app.m_driveTable, first));
    EXPECT_EQ(L"F", LettersOf(app.m_driveTable, second));
    EXPECT_TRUE(sim.messageBoxes.empty());
    ExpectNothingOpen(sim);
}

// A floppy drive spins up when asked about its volume: A: and B: are passed
// over when they are floppy drives, and only then.
TEST(InventoryBuild, FloppyDrivesAreNeverProbedOtherDrivesOnAOrBAre) {
    struct Case {
        const char* situation;
        void (*change)(SimMachine&);
        const wchar_t* stickLetters;
        bool floppyProbed;
    };
    const Case cases[] = {
        {"a stick given B: beside the floppy drive A:", nullptr, L"B", false},
        {"B: is a second floppy drive",
         [](SimMachine& m) { m.FindVolume(L'B')->ntDeviceName = L"\\Device\\Floppy1"; }, L"",
         false},
        {"the device behind B: cannot be told",
         [](SimMachine& m) { m.FailMethod("QueryDosDeviceW", 2, ERROR_INSUFFICIENT_BUFFER); }, L"",
         false},
        {"a USB floppy drive",
         [](SimMachine& m) { m.FindVolume(L'A')->ntDeviceName = L"\\Device\\FLOPPY2"; }, L"B",
         false},
        {"A: is a disk volume", [](SimMachine& m) { m.FindVolume(L'A')->ntDeviceName.clear(); },
         L"B", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        SimMachine sim;
        BuildFloppyAndStickOnB(sim);
        if (c.change != nullptr) c.change(sim);
        CTrayhop32App app(sim);
        app.RebuildDriveTable();

        EXPECT_EQ((std::vector<std::wstring>{fl::kBootDisk, fl::kUsbStick}),
                  TableIds(app.m_driveTable));
        EXPECT_EQ(L"C", LettersOf(app.m_driveTable, fl::kBootDisk));
        EXPECT_EQ(c.stickLetters, LettersOf(app.m_driveTable, fl::kUsbStick));
        EXPECT_EQ(c.floppyProbed, CalledWith(sim, "GetDriveTypeW", "A:"));
        EXPECT_EQ(c.floppyProbed, CalledWith(sim, "CreateFileW", "Volume{5e1d0c41"));
        ExpectNothingOpen(sim);
    }
}

namespace {

struct KindCase {
    const char* name;
    const wchar_t* cdrom;  // null: absent; L"?": unreadable
    const wchar_t* tape;
    bool cdromShown;
    bool tapeShown;
};

void ApplyOption(SimMachine& sim, const wchar_t* name, const wchar_t* value) {
    if (value == nullptr) return;
    if (std::wstring(value) == L"?")
        SetUnreadableOption(sim, name);
    else
        SetOption(sim, name, value);
}

}  // namespace

TEST(InventoryBuild, KindOptionsDecideCdromAndTapeRecordsAndLetters) {
    const std::vector<KindCase> cases = {
        {"both absent", nullptr, nullptr, false, false},
        {"both 0", L"0", L"0", true, true},
        {"both 1", L"1", L"1", false, false},
        {"both unreadable", L"?", L"?", false, false},
        {"cdrom 0, tape absent", L"0", nullptr, true, false},
        {"cdrom unreadable, tape 0", L"?", L"0", false, true},
        {"cdrom 1, tape 0", L"1", L"0", false, true},
        {"cdrom 0, tape 1", L"0", L"1", true, false},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimMachine sim;
        BuildWorkstation(sim);
        ApplyOption(sim, L"IgnoreCDROM", c.cdrom);
        ApplyOption(sim, L"IgnoreTape", c.tape);
        CTrayhop32App app(sim);
        app.RebuildDriveTable();
        const DriveTable& table = app.m_driveTable;
        EXPECT_EQ(c.cdromShown, RecordOf(table, ws::kDvdWithDisc) != nullptr);
        EXPECT_EQ(c.cdromShown, RecordOf(table, ws::kDvdEmpty) != nullptr);
        EXPECT_EQ(c.cdromShown, table.FindByLetter(L'H') != nullptr);
        EXPECT_EQ(c.cdromShown, CalledWith(sim, "GetVolumeNameForVolumeMountPointW", "H:"));
        EXPECT_EQ(c.tapeShown, RecordOf(table, ws::kTape) != nullptr);
        EXPECT_EQ(5 + (c.cdromShown ? 2 : 0) + (c.tapeShown ? 1 : 0), table.Count());
        ExpectNothingOpen(sim);
    }
}

namespace {

// One disk on each bus the options know, plus one on the unknown bus and one
// on a bus newer than the program; disk N holds the letter 'D' + N.
void BuildOneDiskPerBus(SimMachine& sim) {
    // 10 is SAS, 11 SATA, 17 NVMe.
    const DWORD buses[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 17};
    for (DWORD n = 0; n < 12; ++n) {
        sim.AddDevice(SimMachine::MakeDisk(
            L"BUS" + std::to_wstring(buses[n]) + L"\\DISK\\" + std::to_wstring(n),
            L"Disk on bus " + std::to_wstring(buses[n]), n, buses[n]));
        sim.AddVolume(SimMachine::MakeVolume(static_cast<WCHAR>(L'D' + n), n, 1000000));
    }
}

}  // namespace

TEST(InventoryBuild, BusOptionsMatrixDecidesRecordsAndLetters) {
    const wchar_t* const options[] = {L"IgnoreSCSI", L"IgnoreATAPI", L"IgnoreIDE", L"Ignore1394",
                                      L"IgnoreSSA",  L"IgnoreFibre", L"IgnoreUSB", L"IgnoreRAID"};
    const wchar_t* const states[] = {nullptr, L"0", L"1", L"?"};
    for (int bus = 1; bus <= 8; ++bus) {
        for (const wchar_t* state : states) {
            SCOPED_TRACE(testing::Message()
                         << "bus " << bus << " state " << (state ? state : L"absent"));
            SimMachine sim;
            BuildOneDiskPerBus(sim);
            for (int other = 1; other <= 8; ++other)
                if (other != bus) SetOption(sim, options[other - 1], L"0");
            ApplyOption(sim, options[bus - 1], state);
            CTrayhop32App app(sim);
            app.RebuildDriveTable();

            const bool unreadable = state == nullptr || std::wstring(state) == L"?";
            const bool hiddenWhenUnreadable = bus == BusTypeSsa || bus == BusTypeRAID;
            const bool shown = unreadable ? !hiddenWhenUnreadable : std::wstring(state) != L"1";
            const WCHAR letter = static_cast<WCHAR>(L'D' + bus);
            const DriveRecord* holder = app.m_driveTable.FindByLetter(letter);
            EXPECT_EQ(shown, holder != nullptr);
            if (holder) {
                EXPECT_EQ(bus, holder->busType);
            }
            // SATA (N:) follows the option labelled "SATA & SCSI"; every other
            // disk, the unknown, SAS (M:) and NVMe (O:) buses included, is there.
            const bool sataShown = bus == BusTypeScsi ? shown : true;
            EXPECT_EQ(sataShown, app.m_driveTable.FindByLetter(L'N') != nullptr);
            EXPECT_EQ(12 - (shown ? 0 : 1) - (sataShown ? 0 : 1), app.m_driveTable.Count());
            EXPECT_NE(nullptr, app.m_driveTable.FindByLetter(L'D'));
            EXPECT_NE(nullptr, app.m_driveTable.FindByLetter(L'M'));
            EXPECT_NE(nullptr, app.m_driveTable.FindByLetter(L'O'));
            EXPECT_TRUE(sim.messageBoxes.empty());
            ExpectNothingOpen(sim);
        }
    }
}

TEST(InventoryBuild, RecordsPairWithTheirOwnInterfaceWhateverTheOrder) {
    SimMachine sim;
    const std::wstring ids[] = {L"IDE\\DISKA\\1", L"IDE\\DISKB\\2", L"USBSTOR\\DISKC\\3"};
    for (DWORD n = 0; n < 3; ++n) {
        SimDevice disk = SimMachine::MakeDisk(ids[n], L"Disk " + std::to_wstring(n), n,
                                              n == 2 ? BusTypeUsb : BusTypeAta);
        // The interface list runs in the opposite order of the device list.
        disk.interfaceOrder = 3 - static_cast<int>(n);
        sim.AddDevice(disk);
        sim.AddVolume(SimMachine::MakeVolume(static_cast<WCHAR>(L'C' + n), n, 1000));
    }
    CTrayhop32App app(sim);
    app.RebuildDriveTable();

    ASSERT_EQ(3, app.m_driveTable.Count());
    for (DWORD n = 0; n < 3; ++n) {
        const DriveRecord& record = app.m_driveTable[static_cast<int>(n)];
        EXPECT_EQ(ids[n], std::wstring(record.deviceInstanceId));
        EXPECT_EQ(static_cast<LONG>(n), record.deviceNumber);
        EXPECT_EQ(std::wstring(1, static_cast<WCHAR>(L'C' + n)), record.LetterText());
        EXPECT_EQ(n == 2 ? BusTypeUsb : BusTypeAta, record.busType);
    }
    ExpectNothingOpen(sim);
}

TEST(InventoryBuild, PlatformCallsGrowLinearlyWithTheDisks) {
    auto callsFor = [](DWORD disks) {
        SimMachine sim;
        for (DWORD n = 0; n < disks; ++n) {
            SimDevice disk = SimMachine::MakeDisk(L"IDE\\DISK\\" + std::to_wstring(n), L"Disk", n);
            disk.interfaceOrder = -static_cast<int>(n);
            sim.AddDevice(disk);
            sim.AddVolume(SimMachine::MakeVolume(static_cast<WCHAR>(L'C' + n), n, 1000));
        }
        CTrayhop32App app(sim);
        app.RebuildDriveTable();
        EXPECT_EQ(static_cast<int>(disks), app.m_driveTable.Count());
        EXPECT_EQ("", sim.LeakReport());
        return static_cast<long>(sim.CallCount());
    };
    const long c2 = callsFor(2), c4 = callsFor(4), c8 = callsFor(8), c16 = callsFor(16);
    EXPECT_EQ(c4 - c2, (c8 - c4) / 2);
    EXPECT_EQ(c8 - c4, (c16 - c8) / 2);
}

TEST(InventoryBuild, RefreshFromInsideABuildBoxIsDeferred) {
    SimMachine sim;
    BuildWorkstation(sim);
    ShowEverything(sim);
    // The data disk's geometry query fails, so the build shows a box while
    // only the boot disk's record exists.
    sim.FindDevice(ws::kDataDisk)->storage.ioctlErrors[IOCTL_DISK_GET_DRIVE_GEOMETRY] =
        ERROR_IO_DEVICE;
    CTrayhop32App app(sim);
    int nestedCalls = -1;
    bool pendingInsideBox = false;
    sim.messageBoxHook = [&](const SimMessageBox&) {
        // What a device-arrival notification's refresh does in the box's loop.
        const size_t before = sim.CallCount();
        EXPECT_EQ(0, app.RebuildDriveTable());
        nestedCalls = static_cast<int>(sim.CallCount() - before);
        pendingInsideBox = app.m_bRefreshPending;
        return 0;
    };
    app.RebuildDriveTable();

    EXPECT_EQ(0, nestedCalls);
    EXPECT_TRUE(pendingInsideBox);
    EXPECT_TRUE(app.m_bRefreshPending);
    EXPECT_FALSE(app.m_bBuildInProgress);
    ASSERT_EQ(1u, sim.messageBoxes.size());
    EXPECT_EQ(8, app.m_driveTable.Count());
    EXPECT_EQ(L"C", LettersOf(app.m_driveTable, ws::kBootDisk));
    EXPECT_EQ(L"DE", LettersOf(app.m_driveTable, ws::kDataDisk));
    EXPECT_TRUE(RecordOf(app.m_driveTable, ws::kBootDisk)->isBootDrive);
    ExpectNothingOpen(sim);

    // The deferred refresh then runs as a build of its own.
    sim.messageBoxHook = nullptr;
    app.RebuildDriveTable();
    EXPECT_FALSE(app.m_bRefreshPending);
    EXPECT_EQ(8, app.m_driveTable.Count());
    ExpectNothingOpen(sim);
}

TEST(InventoryBuild, GuardOffKeepsTheTableAndTouchesNothing) {
    SimMachine sim;
    BuildWorkstation(sim);
    CTrayhop32App app(sim);
    app.RebuildDriveTable();
    ASSERT_EQ(5, app.m_driveTable.Count());

    sim.FindDevice(ws::kUsbFlash)->present = false;
    app.m_bRefreshAllowed = false;
    const size_t before = sim.CallCount();
    EXPECT_EQ(0, app.RebuildDriveTable());
    EXPECT_EQ(before, sim.CallCount());
    EXPECT_EQ(5, app.m_driveTable.Count());

    app.m_bRefreshAllowed = true;
    app.RebuildDriveTable();
    EXPECT_EQ(4, app.m_driveTable.Count());
    ExpectNothingOpen(sim);
}

TEST(InventoryBuild, ExceptionFromABoxLeavesNothingOpen) {
    SimMachine sim;
    BuildWorkstation(sim);
    sim.FindDevice(ws::kDataDisk)->storage.ioctlErrors[IOCTL_STORAGE_GET_MEDIA_TYPES_EX] =
        ERROR_IO_DEVICE;
    sim.messageBoxHook = [](const SimMessageBox&) -> int { throw std::runtime_error("box"); };
    CTrayhop32App app(sim);
    CountingCursor cursor;
    app.m_pUserInterface = &cursor;

    EXPECT_THROW(app.RebuildDriveTable(), std::runtime_error);
    EXPECT_EQ(1, cursor.begun);
    EXPECT_EQ(1, cursor.ended);
    EXPECT_FALSE(app.m_bBuildInProgress);
    ExpectNothingOpen(sim);
}

TEST(InventoryBuild, BootAndPageFileMarks) {
    struct MarkCase {
        const char* name;
        const wchar_t* systemDrive;  // null: absent
        std::vector<std::wstring> pagingFiles;
        bool bootMarked;
        bool bootHasPageFile;
        bool dataHasPageFile;
    };
    const std::vector<MarkCase> cases = {
        {"usual", L"C:", {L"C:\\pagefile.sys 1536 3072"}, true, true, false},
        {"no SystemDrive", nullptr, {L"C:\\pagefile.sys 0 0"}, false, true, false},
        {"lower-case system drive", L"c:", {}, true, false, false},
        {"page files on D: and E: of one disk",
         L"C:",
         {L"d:\\p.sys 0 0", L"E:\\p.sys 0 0"},
         true,
         false,
         true},
        {"page file on a filtered-out disk", L"C:", {L"F:\\p.sys 0 0"}, true, false, false},
        // A page file Windows manages ("?") lives on the system drive.
        {"system-managed page file", L"C:", {L"?:\\pagefile.sys"}, true, true, false},
        {"system-managed, system drive D:", L"D:", {L"?:\\pagefile.sys"}, false, false, true},
        {"system-managed without SystemDrive", nullptr, {L"?:\\pagefile.sys"}, false, false,
         false},
    };
    for (const MarkCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimMachine sim;
        BuildWorkstation(sim);
        SetOption(sim, L"IgnoreUSB", L"1");
        if (c.systemDrive)
            sim.SetEnvironmentVariable(L"SystemDrive", c.systemDrive);
        else
            sim.ClearEnvironmentVariable(L"SystemDrive");
        if (c.pagingFiles.empty())
            sim.DeleteRegValue(HKEY_LOCAL_MACHINE, kMemoryManagementKey, L"PagingFiles");
        else
            SetPagingFiles(sim, c.pagingFiles);
        CTrayhop32App app(sim);
        app.RebuildDriveTable();

        const DriveTable& table = app.m_driveTable;
        EXPECT_EQ(c.bootMarked, RecordOf(table, ws::kBootDisk)->isBootDrive);
        EXPECT_EQ(c.bootHasPageFile, RecordOf(table, ws::kBootDisk)->hasPageFile);
        EXPECT_EQ(c.dataHasPageFile, RecordOf(table, ws::kDataDisk)->hasPageFile);
        EXPECT_EQ(nullptr, RecordOf(table, ws::kUsbFlash));
        for (int i = 2; i < table.Count(); ++i) {
            EXPECT_FALSE(table[i].isBootDrive);
            EXPECT_FALSE(table[i].hasPageFile);
        }
        ExpectNothingOpen(sim);
    }
}
